# zelqor.prover.definitional: clause form by naming subformulas.
file(GLOB DEFINITIONAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/prover/definitional/*.cpp)
zelqor_extension(zelqor_definitional zelqor/prover definitional src/binding/definitional_module.cpp ${DEFINITIONAL_SOURCES})
