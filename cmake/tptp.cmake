# zelqor.tptp._native: the TPTP reader and writer.
file(GLOB TPTP_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/tptp/native/*.cpp)
zelqor_extension(zelqor_tptp zelqor/tptp _native src/binding/tptp_module.cpp ${TPTP_SOURCES})
