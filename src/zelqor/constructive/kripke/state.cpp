#include "zelqor/constructive/kripke/state.hpp"

#include "common/interned.hpp"
#include "common/module_init.hpp"

namespace zelqor::kripke {

State g;

namespace {

const char *const kImportedNames[kImportedCount] = {
    "Not", "And", "Or", "Implies", "Iff", "_is_falsum", "_is_verum", "_is_atomic", "to_string",
};

}  // namespace

bool init_state(PyObject *module) {
    g.api = ast::import_api();
    if (g.api == nullptr || !intern_names(g.imported_names, kImportedNames)) return false;
    for (int i = 0; i < kImportedCount; ++i) {
        g.imported[i] = PyObject_GetAttr(module, g.imported_names[i]);
        if (g.imported[i] == nullptr) return false;
    }
    Ref common = Ref::steal(PyImport_ImportModule("zelqor.constructive.common"));
    if (!common) return false;
    g.common_globals = new_ref(PyModule_GetDict(common.get()));
    return (g.frozen_instance_error = import_attr("dataclasses", "FrozenInstanceError")) &&
           (g.newobj = import_attr("copyreg", "__newobj__")) &&
           intern_names({{&g.str_add, "add"}, {&g.str_name, "name"}, {&g.str_falsum, "FALSUM"},
                         {&g.str_verum, "VERUM"}, {&g.str_predicate_app, "PredicateApp"}, {&g.str_left, "left"},
                         {&g.str_right, "right"}, {&g.str_operand, "operand"}, {&g.str_worlds, "worlds"},
                         {&g.str_relations, "relations"}, {&g.str_valuations, "valuations"},
                         {&g.str_add_world, "add_world"}, {&g.str_accessible_worlds, "accessible_worlds"},
                         {&g.str_evaluate, "evaluate"}, {&g.str_closure, "_compute_transitive_closure"},
                         {&g.str_monotonicity, "_enforce_monotonicity"}, {&g.str_to_string, "to_string"}});
}

Ref module_global(Imported which) {
    PyObject *name = g.imported_names[which];
    PyObject *value = PyDict_GetItemWithError(PyModule_GetDict(g.module), name);
    if (value == nullptr && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return Ref::borrow(value);
}

}  // namespace zelqor::kripke
