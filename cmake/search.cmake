# zelqor.constructive._search: decision procedure for intuitionistic propositional logic.
file(GLOB SEARCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/zelqor/constructive/search/*.cpp)
zelqor_extension(zelqor_search zelqor/constructive _search src/binding/search_module.cpp ${SEARCH_SOURCES})
