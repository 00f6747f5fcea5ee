// Module `zelqor.constructive.kripke`: imports, then World and KripkeModel,
// then the export list.
#include "common/boundary.hpp"
#include "common/module_init.hpp"
#include "zelqor/constructive/kripke/model.hpp"
#include "zelqor/constructive/kripke/world.hpp"

namespace zelqor::kripke {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.constructive.kripke",
    "Finite Kripke models for intuitionistic propositional logic: worlds, a reflexive and transitive "
    "accessibility relation, persistent valuations, forcing, and rendering.",
    -1,
    nullptr,
    nullptr, nullptr, nullptr, nullptr,
};

bool set_exports(PyObject *module) {
    Ref all = Ref::steal(Py_BuildValue("[ss]", "World", "KripkeModel"));
    return all && PyModule_AddObjectRef(module, "__all__", all.get()) == 0;
}

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    PyObject *m = module.get();
    bool ok = import_names(m, "dataclasses", {"dataclass"}) &&
              import_names(m, "typing", {"List", "Optional", "Dict", "Any", "Set"}) &&
              import_names(m, "zelqor.core.ast", {"Formula", "PredicateApp", "Not", "And", "Or", "Implies", "Iff"}) &&
              import_names(m, "zelqor.core.parser", {"to_string"}) &&
              import_names(m, "zelqor.constructive.common", {"FALSUM", "VERUM", "_is_falsum", "_is_verum", "_is_atomic"}) &&
              init_state(m) && create_world_type(m) && create_model_type(m) && set_exports(m) &&
              watch_namespaces(m);
    if (!ok) return nullptr;
    g.module = new_ref(m);
    return module.release();
}

}  // namespace
}  // namespace zelqor::kripke

PyMODINIT_FUNC PyInit_kripke(void) {
    if (zelqor::kripke::g.module != nullptr) return zelqor::new_ref(zelqor::kripke::g.module);
    return zelqor::shield(zelqor::kripke::create_module);
}
