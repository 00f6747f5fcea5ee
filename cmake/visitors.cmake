file(GLOB VISITORS_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/core/visitors/*.cpp)
zelqor_extension(zelqor_visitors zelqor/core visitors src/binding/visitors_module.cpp ${VISITORS_SOURCES})
