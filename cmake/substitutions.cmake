file(GLOB SUBSTITUTION_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/core/substitutions/*.cpp)
zelqor_extension(zelqor_substitutions zelqor/core _substitutions src/binding/substitutions_module.cpp ${SUBSTITUTION_SOURCES})
