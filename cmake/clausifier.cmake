file(GLOB CLAUSIFIER_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/prover/clausifier/*.cpp)
zelqor_extension(zelqor_clausifier zelqor/prover clausifier src/binding/clausifier_module.cpp ${CLAUSIFIER_SOURCES})
