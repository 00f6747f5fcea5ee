#include "zelqor/prover/definitional/state.hpp"

#include "common/interned.hpp"
#include "common/module_init.hpp"
#include "zelqor/prover/skolem.hpp"

namespace zelqor::definitional {

State g;

namespace {

bool restart_definition_numbering() {
    Ref zero = Ref::steal(PyLong_FromLong(0));
    Ref counter = zero ? Ref::steal(PyObject_CallOneArg(g.count, zero.get())) : Ref();
    return counter && g.own_globals.set(kDefinitionCounter, counter.get());
}

}  // namespace

PyObject *draw_clausifier_counter(ClausifierGlobal counter) {
    Ref current = g.clausifier_globals.get(counter);
    return current ? prover::next_of(current.get()) : nullptr;
}

PyObject *draw_definition_number() {
    // A missing marker (a caller deleted it) counts as no reset.
    Ref epoch = g.clausifier_globals.find(kStandardizeCounter);
    if (!epoch && PyErr_Occurred()) return nullptr;
    if (epoch && epoch.get() != g.numbering_epoch) {
        if (!restart_definition_numbering()) return nullptr;
        Py_XSETREF(g.numbering_epoch, epoch.release());
    }
    Ref counter = g.own_globals.get(kDefinitionCounter);
    return counter ? prover::next_of(counter.get()) : nullptr;
}

bool init_state(PyObject *module) {
    g.module = new_ref(module);
    // The clausifier loads the syntax tree and the substitution first.
    Ref clausifier = Ref::steal(PyImport_ImportModule("zelqor.prover.clausifier"));
    if (!clausifier) return false;
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    g.subst_api = subst::import_api();
    if (g.subst_api == nullptr) return false;
    g.literal_type = PyObject_GetAttrString(clausifier.get(), "Literal");
    g.clause_type = PyObject_GetAttrString(clausifier.get(), "Clause");
    g.count = import_attr("itertools", "count");
    if (!g.literal_type || !g.clause_type || !g.count) return false;
    static const char *const clausifier_names[kClausifierGlobalCount] = {
        "_skolem_constant_counter", "_skolem_function_counter", "_standardize_var_counter"};
    static const char *const own_names[kOwnGlobalCount] = {"_definition_counter"};
    if (!g.clausifier_globals.init(clausifier.get(), clausifier_names) || !g.own_globals.init(module, own_names) ||
        !intern_names({
            {&g.str_register_constant, "register_constant"}, {&g.str_register_function, "register_function"},
            {&g.str_register_predicate, "register_predicate"}, {&g.str_constants, "constants"},
            {&g.str_functions, "functions"}, {&g.str_predicates, "predicates"}, {&g.str_pattern, "pattern"},
        })) {
        return false;
    }
    g.numbering_epoch = g.clausifier_globals.find(kStandardizeCounter).release();
    return !PyErr_Occurred() && restart_definition_numbering();
}

}  // namespace zelqor::definitional
