#include "zelqor/prover/definitional/state.hpp"

#include "common/args.hpp"
#include "common/module_init.hpp"
#include "zelqor/prover/skolem.hpp"

namespace zelqor::definitional {

State g;

namespace {

// next(counter) as the interpreter's next() does it, for a counter looked up
// in `dict` under `name`.
PyObject *draw_from(PyObject *dict, PyObject *name, const char *module_name) {
    Ref counter = Ref::borrow(PyDict_GetItemWithError(dict, name));
    if (!counter) {
        if (!PyErr_Occurred()) {
            PyErr_Format(PyExc_AttributeError, "module '%s' has no attribute '%U'", module_name, name);
        }
        return nullptr;
    }
    return prover::next_of(counter.get());
}

bool restart_definition_numbering() {
    Ref zero = Ref::steal(PyLong_FromLong(0));
    Ref counter = zero ? Ref::steal(PyObject_CallOneArg(g.count, zero.get())) : Ref();
    return counter && PyDict_SetItem(g.dict, g.str_definition_counter, counter.get()) == 0;
}

}  // namespace

PyObject *draw_clausifier_counter(PyObject *name) {
    return draw_from(g.clausifier_dict, name, "zelqor.prover.clausifier");
}

PyObject *draw_definition_number() {
    // A missing marker (a caller deleted it) counts as no reset.
    PyObject *epoch = PyDict_GetItemWithError(g.clausifier_dict, g.str_standardize_counter);
    if (epoch == nullptr && PyErr_Occurred()) return nullptr;
    if (epoch != nullptr && epoch != g.numbering_epoch) {
        if (!restart_definition_numbering()) return nullptr;
        Py_XSETREF(g.numbering_epoch, new_ref(epoch));
    }
    return draw_from(g.dict, g.str_definition_counter, "zelqor.prover.definitional");
}

bool init_state(PyObject *module) {
    g.module = new_ref(module);
    g.dict = PyModule_GetDict(module);
    // The clausifier loads the syntax tree and the substitution first.
    g.clausifier = PyImport_ImportModule("zelqor.prover.clausifier");
    if (g.clausifier == nullptr) return false;
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    g.subst_api = subst::import_api();
    if (g.subst_api == nullptr) return false;
    g.clausifier_dict = PyModule_GetDict(g.clausifier);
    g.literal_type = PyObject_GetAttrString(g.clausifier, "Literal");
    g.clause_type = PyObject_GetAttrString(g.clausifier, "Clause");
    g.count = import_attr("itertools", "count");
    if (!g.literal_type || !g.clause_type || !g.count) return false;
    struct { PyObject **slot; const char *text; } names[] = {
        {&g.str_constant_counter, "_skolem_constant_counter"},
        {&g.str_function_counter, "_skolem_function_counter"},
        {&g.str_standardize_counter, "_standardize_var_counter"},
        {&g.str_definition_counter, "_definition_counter"},
        {&g.str_register_constant, "register_constant"}, {&g.str_register_function, "register_function"},
        {&g.str_register_predicate, "register_predicate"}, {&g.str_constants, "constants"},
        {&g.str_functions, "functions"}, {&g.str_predicates, "predicates"}, {&g.str_pattern, "pattern"},
    };
    for (auto &n : names) {
        *n.slot = PyUnicode_InternFromString(n.text);
        if (*n.slot == nullptr) return false;
    }
    g.numbering_epoch = Py_XNewRef(PyDict_GetItemWithError(g.clausifier_dict, g.str_standardize_counter));
    return !PyErr_Occurred() && restart_definition_numbering();
}

}  // namespace zelqor::definitional
