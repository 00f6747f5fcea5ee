#include "zelqor/prover/clausifier/state.hpp"

#include "common/args.hpp"
#include "common/dict_watch.hpp"
#include "common/module_init.hpp"
#include "zelqor/prover/clausifier/steps.hpp"

namespace zelqor::clausifier {

State g;

PyObject *module_attr(PyObject *name) { return PyDict_GetItemWithError(g.dict, name); }

PyObject *raise_unbound(PyObject *name) {
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

PyObject *raise_value_error(const char *prefix, PyObject *obj) {
    return raise_with_type(PyExc_ValueError, prefix, obj);
}

namespace {

// Reads attribute `name`; true when it is still `original`.
bool snapshot(Ref &slot, PyObject *name, PyObject *original) {
    slot = Ref::borrow(module_attr(name));
    return slot.get() == original;
}

// The module dictionary, watched since the last snapshot that found every
// attribute to be the module's own.
struct ModuleDictTag;
using ModuleDict = DictWatch<ModuleDictTag, 1>;

}  // namespace

bool watch_module_dict() {
    PyObject *const dicts[1] = {g.dict};
    return ModuleDict::watch(dicts);
}

bool Ctx::load() {
    if (ModuleDict::unchanged()) {
        // Every attribute is still ours: the native path reads none of them.
        pure = own_subst = true;
        return true;
    }
    bool same = true;
    for (int k = 0; k < ast::kKindCount; ++k) {
        same &= snapshot(cls[k], g.node_names[k], reinterpret_cast<PyObject *>(g.api->types[k]));
    }
    same &= snapshot(free_variables, g.str_free_variables, g.free_variables);
    same &= snapshot(bound_variables, g.str_bound_variables, g.bound_variables);
    same &= snapshot(literal, g.str_literal, reinterpret_cast<PyObject *>(g.literal_type));
    same &= snapshot(clause, g.str_clause, reinterpret_cast<PyObject *>(g.clause_type));
    for (int i = 0; i < kOwnCount; ++i) same &= snapshot(own[i], g.own_names[i], g.own[i]);
    own_subst = snapshot(substitute_formula, g.str_substitute_formula, g.substitute_formula);
    pure = same;
    if (PyErr_Occurred()) return false;
    if (pure && own_subst) {
        ModuleDict::remember();
    } else {
        ModuleDict::forget();
    }
    return true;
}

int Ctx::classify(PyObject *f, std::initializer_list<Kind> order) const {
    if (pure) {
        int k = g.api->kind_of(f);
        for (Kind candidate : order) {
            if (static_cast<int>(candidate) == k) return k;
        }
        return -1;
    }
    for (Kind candidate : order) {
        int k = static_cast<int>(candidate);
        if (!cls[k]) {
            raise_unbound(g.node_names[k]);
            return -2;
        }
        int r = PyObject_IsInstance(f, cls[k].get());
        if (r < 0) return -2;
        if (r) return k;
    }
    return -1;
}

Ref Ctx::get(PyObject *f, int slot, PyObject *name) const {
    if (pure) return Ref::borrow(ast::field(f, slot));
    return Ref::steal(PyObject_GetAttr(f, name));
}

PyObject *Ctx::make(Kind k, std::initializer_list<PyObject *> fields) const {
    if (pure) return g.api->make(k, fields.begin());
    PyObject *callable = cls[static_cast<int>(k)].get();
    if (callable == nullptr) return raise_unbound(g.node_names[static_cast<int>(k)]);
    return PyObject_Vectorcall(callable, fields.begin(), fields.size(), nullptr);
}

namespace {

PyObject *call_by_name(const Ref &callable, Kind k, std::initializer_list<PyObject *> args, PyObject *kwnames) {
    if (!callable) return raise_unbound(g.node_names[static_cast<int>(k)]);
    return PyObject_Vectorcall(callable.get(), args.begin(), 0, kwnames);
}

}  // namespace

PyObject *Ctx::make_variable(PyObject *id, PyObject *sort, PyObject *kind) const {
    if (pure) return g.api->make(Kind::Variable, std::initializer_list<PyObject *>{sort, id, kind}.begin());
    return call_by_name(cls[static_cast<int>(Kind::Variable)], Kind::Variable, {id, sort, kind}, g.kw_variable);
}

PyObject *Ctx::make_constant(PyObject *name, PyObject *sort) const {
    if (pure) return g.api->make(Kind::Constant, std::initializer_list<PyObject *>{sort, name}.begin());
    return call_by_name(cls[static_cast<int>(Kind::Constant)], Kind::Constant, {name, sort}, g.kw_constant);
}

PyObject *Ctx::make_function(PyObject *func, PyObject *arity, PyObject *args, PyObject *return_sort) const {
    if (pure) {
        return g.api->make(Kind::FunctionApp,
                           std::initializer_list<PyObject *>{return_sort, func, arity, args, return_sort}.begin());
    }
    return call_by_name(cls[static_cast<int>(Kind::FunctionApp)], Kind::FunctionApp,
                        {func, arity, args, return_sort}, g.kw_function);
}

PyObject *Ctx::call_own(Own which, PyObject *f, PyObject *second) const {
    const Ref &fn = own[which];
    if (!pure && !fn) return raise_unbound(g.own_names[which]);
    if (pure || fn.get() == g.own[which]) {
        switch (which) {
        case kEliminate: return eliminate_implications(*this, f);
        case kToNnf: return to_nnf(*this, f);
        case kStandardize: return standardize_variables(*this, f);
        case kSkolemize: return skolemize(*this, f, second);
        case kDropUniversals: return drop_universals(*this, f);
        case kDistribute: return distribute_cnf(*this, f);
        case kToClauses: return formula_to_clauses(*this, f);
        case kToCnf: return to_cnf(*this, f, second);
        default: break;
        }
    }
    PyObject *args[2] = {f, second};
    return PyObject_Vectorcall(fn.get(), args, second != nullptr ? 2 : 1, nullptr);
}

PyObject *Ctx::substitute(PyObject *formula, PyObject *mapping) const {
    PyObject *fn = own_subst ? g.substitute_formula : substitute_formula.get();
    if (fn == nullptr) return raise_unbound(g.str_substitute_formula);
    PyObject *args[2] = {formula, mapping};
    return PyObject_Vectorcall(fn, args, 2, nullptr);
}

PyObject *draw(PyObject *counter_name) {
    Ref counter = Ref::borrow(module_attr(counter_name));
    if (!counter) return PyErr_Occurred() ? nullptr : raise_unbound(counter_name);
    return prover::next_of(counter.get());
}

bool init_state(PyObject *module) {
    g.module = new_ref(module);
    g.dict = PyModule_GetDict(module);
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    g.subst_api = subst::import_api();
    if (g.subst_api == nullptr) return false;
    const char *node_names[ast::kKindCount] = {"Variable", "Constant", "FunctionApp", "PredicateApp",
                                               "Equality", "Not",      "And",         "Or",
                                               "Implies",  "Iff",      "Forall",      "Exists"};
    for (int k = 0; k < ast::kKindCount; ++k) {
        g.node_names[k] = PyUnicode_InternFromString(node_names[k]);
        if (g.node_names[k] == nullptr) return false;
    }
    const char *own_names[kOwnCount] = {"eliminate_implications", "to_nnf",         "standardize_variables",
                                        "skolemize",              "drop_universals", "distribute_cnf",
                                        "formula_to_clauses",     "to_cnf"};
    for (int i = 0; i < kOwnCount; ++i) {
        g.own_names[i] = PyUnicode_InternFromString(own_names[i]);
        if (g.own_names[i] == nullptr) return false;
    }
    struct { PyObject **slot; const char *text; } names[] = {
        {&g.str_free_variables, "free_variables"}, {&g.str_bound_variables, "bound_variables"},
        {&g.str_substitute_formula, "substitute_formula"}, {&g.str_literal, "Literal"}, {&g.str_clause, "Clause"},
        {&g.str_itertools, "itertools"}, {&g.str_count, "count"}, {&g.str_operand, "operand"},
        {&g.str_left, "left"}, {&g.str_right, "right"}, {&g.str_variable, "variable"}, {&g.str_body, "body"},
        {&g.str_sort, "sort"}, {&g.str_id, "id"}, {&g.str_kind, "kind"}, {&g.str_atom, "atom"},
        {&g.str_positive, "positive"}, {&g.str_free_vars, "_free_vars"}, {&g.str_to_string, "to_string"},
        {&g.str_substitute, "substitute"}, {&g.str_is_tautology, "is_tautology"},
        {&g.str_register_constant, "register_constant"}, {&g.str_register_function, "register_function"},
        {&g.str_constant_counter, "_skolem_constant_counter"},
        {&g.str_function_counter, "_skolem_function_counter"},
        {&g.str_standardize_counter, "_standardize_var_counter"},
    };
    for (auto &n : names) {
        *n.slot = PyUnicode_InternFromString(n.text);
        if (*n.slot == nullptr) return false;
    }
    g.kw_constant = Py_BuildValue("(ss)", "name", "sort");
    g.kw_function = Py_BuildValue("(ssss)", "func", "arity", "args", "return_sort");
    g.kw_variable = Py_BuildValue("(sss)", "id", "sort", "kind");
    g.kw_literal = Py_BuildValue("(ss)", "atom", "positive");
    g.empty_frozenset = PyFrozenSet_New(nullptr);
    if (g.empty_frozenset != nullptr && PyObject_GC_IsTracked(g.empty_frozenset)) PyObject_GC_UnTrack(g.empty_frozenset);
    g.frozen_instance_error = import_attr("dataclasses", "FrozenInstanceError");
    g.free_variables = Py_XNewRef(module_attr(g.str_free_variables));
    g.bound_variables = Py_XNewRef(module_attr(g.str_bound_variables));
    g.substitute_formula = Py_XNewRef(module_attr(g.str_substitute_formula));
    return g.kw_constant && g.kw_function && g.kw_variable && g.kw_literal && g.empty_frozenset &&
           g.frozen_instance_error && g.free_variables && g.bound_variables && g.substitute_formula;
}

}  // namespace zelqor::clausifier
