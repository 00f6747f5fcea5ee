#include "zelqor/constructive/kripke/state.hpp"

#include "common/module_init.hpp"

namespace zelqor::kripke {

State g;

namespace {

const char *const kImportedNames[kImportedCount] = {
    "Not", "And", "Or", "Implies", "Iff", "_is_falsum", "_is_verum", "_is_atomic", "to_string",
};

bool intern(PyObject *&slot, const char *text) {
    slot = PyUnicode_InternFromString(text);
    return slot != nullptr;
}

}  // namespace

bool init_state(PyObject *module) {
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    for (int i = 0; i < kImportedCount; ++i) {
        if (!intern(g.imported_names[i], kImportedNames[i])) return false;
        g.imported[i] = PyObject_GetAttr(module, g.imported_names[i]);
        if (g.imported[i] == nullptr) return false;
    }
    Ref common = Ref::steal(PyImport_ImportModule("zelqor.constructive.common"));
    if (!common) return false;
    g.common_globals = new_ref(PyModule_GetDict(common.get()));
    g.frozen_instance_error = import_attr("dataclasses", "FrozenInstanceError");
    g.newobj = import_attr("copyreg", "__newobj__");
    return g.frozen_instance_error && g.newobj && intern(g.str_add, "add") && intern(g.str_name, "name") &&
           intern(g.str_falsum, "FALSUM") && intern(g.str_verum, "VERUM") &&
           intern(g.str_predicate_app, "PredicateApp") && intern(g.str_left, "left") &&
           intern(g.str_right, "right") && intern(g.str_operand, "operand") && intern(g.str_worlds, "worlds") &&
           intern(g.str_relations, "relations") && intern(g.str_valuations, "valuations") &&
           intern(g.str_add_world, "add_world") && intern(g.str_accessible_worlds, "accessible_worlds") &&
           intern(g.str_evaluate, "evaluate") && intern(g.str_closure, "_compute_transitive_closure") &&
           intern(g.str_monotonicity, "_enforce_monotonicity") && intern(g.str_to_string, "to_string");
}

Ref module_global(Imported which) {
    PyObject *name = g.imported_names[which];
    PyObject *value = PyDict_GetItemWithError(PyModule_GetDict(g.module), name);
    if (value == nullptr && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return Ref::borrow(value);
}

}  // namespace zelqor::kripke
