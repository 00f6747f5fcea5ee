# zelqor.constructive.kripke: Kripke models for intuitionistic propositional logic.
file(GLOB KRIPKE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/constructive/kripke/*.cpp)
zelqor_extension(zelqor_kripke zelqor/constructive kripke src/binding/kripke_module.cpp ${KRIPKE_SOURCES})
