#include "zelqor/prover/clausifier/state.hpp"

#include "common/args.hpp"
#include "common/dict_watch.hpp"
#include "common/frozen_record.hpp"
#include "common/interned.hpp"
#include "common/module_init.hpp"
#include "zelqor/prover/clausifier/steps.hpp"

namespace zelqor::clausifier {

State g;

PyObject *raise_value_error(const char *prefix, PyObject *obj) {
    Ref display = type_display(obj);
    if (display) PyErr_Format(PyExc_ValueError, "%s%U", prefix, display.get());
    return nullptr;
}

namespace {

// The module dictionary, watched since the last snapshot that found every
// attribute to be the module's own.
struct ModuleDictTag;
using ModuleDict = DictWatch<ModuleDictTag, 1>;

}  // namespace

bool watch_module_dict() {
    PyObject *const dicts[1] = {g.globals.dict()};
    return ModuleDict::watch(dicts);
}

bool Ctx::load() {
    if (ModuleDict::unchanged()) {
        // Every attribute is still ours: the native path reads none of them.
        pure = own_subst = true;
        return true;
    }
    bool same = true;
    for (int k = 0; k < ast::kKindCount; ++k) same &= g.globals.read(cls[k], k);
    same &= g.globals.read(free_variables, kFreeVariables);
    same &= g.globals.read(bound_variables, kBoundVariables);
    same &= g.globals.read(literal, kLiteral);
    same &= g.globals.read(clause, kClause);
    for (int i = 0; i < kOwnCount; ++i) same &= g.globals.read(own[i], own_global(static_cast<Own>(i)));
    own_subst = g.globals.read(substitute_formula, kSubstituteFormula);
    pure = same;
    if (PyErr_Occurred()) return false;
    if (pure && own_subst) {
        ModuleDict::remember();
    } else {
        ModuleDict::forget();
    }
    return true;
}

bool Ctx::classify(PyObject *f, Kind &kind, std::initializer_list<Kind> order) const {
    kind = kNoKind;
    if (pure) {
        int found = g.api->kind_of(f);
        for (Kind candidate : order) {
            if (ast::kind_index(candidate) == found) {
                kind = candidate;
                break;
            }
        }
        return true;
    }
    for (Kind candidate : order) {
        const Ref &current = cls[ast::kind_index(candidate)];
        if (!current) {
            g.globals.raise_unbound(class_global(candidate));
            return false;
        }
        int r = PyObject_IsInstance(f, current.get());
        if (r < 0) return false;
        if (r) {
            kind = candidate;
            return true;
        }
    }
    return true;
}

Ref Ctx::get(PyObject *f, int slot, PyObject *name) const {
    if (pure && g.api->is_exact(f)) return Ref::borrow(ast::field(f, slot));
    return Ref::steal(PyObject_GetAttr(f, name));
}

PyObject *Ctx::make(Kind k, std::initializer_list<PyObject *> fields) const {
    if (pure) return g.api->make(k, fields.begin());
    PyObject *callable = cls[ast::kind_index(k)].get();
    if (callable == nullptr) return g.globals.raise_unbound(class_global(k));
    return PyObject_Vectorcall(callable, fields.begin(), fields.size(), nullptr);
}

namespace {

PyObject *call_by_name(const Ref &callable, Kind k, std::initializer_list<PyObject *> args, PyObject *kwnames) {
    if (!callable) return g.globals.raise_unbound(class_global(k));
    return PyObject_Vectorcall(callable.get(), args.begin(), 0, kwnames);
}

}  // namespace

PyObject *Ctx::make_variable(PyObject *id, PyObject *sort, PyObject *kind) const {
    if (pure) return g.api->make(Kind::Variable, ast::variable_fields(id, kind, sort).data());
    return call_by_name(cls[ast::kind_index(Kind::Variable)], Kind::Variable, {id, sort, kind}, g.kw_variable);
}

PyObject *Ctx::make_constant(PyObject *name, PyObject *sort) const {
    if (pure) return g.api->make(Kind::Constant, ast::constant_fields(name, sort).data());
    return call_by_name(cls[ast::kind_index(Kind::Constant)], Kind::Constant, {name, sort}, g.kw_constant);
}

PyObject *Ctx::make_function(PyObject *func, PyObject *arity, PyObject *args, PyObject *return_sort) const {
    if (pure) return g.api->make(Kind::FunctionApp, ast::function_app_fields(func, arity, args, return_sort).data());
    return call_by_name(cls[ast::kind_index(Kind::FunctionApp)], Kind::FunctionApp,
                        {func, arity, args, return_sort}, g.kw_function);
}

PyObject *Ctx::call_own(Own which, PyObject *f, PyObject *second) const {
    const Ref &fn = own[which];
    if (!pure && !fn) return g.globals.raise_unbound(own_global(which));
    if (pure || fn.get() == g.globals.original(own_global(which))) {
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
    PyObject *fn = own_subst ? g.globals.original(kSubstituteFormula) : substitute_formula.get();
    if (fn == nullptr) return g.globals.raise_unbound(kSubstituteFormula);
    PyObject *args[2] = {formula, mapping};
    return PyObject_Vectorcall(fn, args, 2, nullptr);
}

PyObject *draw(Global counter_name) {
    Ref counter = g.globals.get(counter_name);
    if (!counter) return nullptr;
    if (!PyIter_Check(counter.get())) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is not an iterator", Py_TYPE(counter.get())->tp_name);
        return nullptr;
    }
    PyObject *value = (*Py_TYPE(counter.get())->tp_iternext)(counter.get());
    if (value == nullptr && !PyErr_Occurred()) PyErr_SetNone(PyExc_StopIteration);
    return value;
}

bool init_state(PyObject *module) {
    g.module = new_ref(module);
    g.api = ast::import_api();
    if (g.api == nullptr) return false;
    g.subst_api = subst::import_api();
    if (g.subst_api == nullptr) return false;
    static const char *const global_names[kGlobalCount] = {
        "Variable", "Constant", "FunctionApp", "PredicateApp", "Equality", "Not", "And", "Or", "Implies", "Iff",
        "Forall", "Exists", "free_variables", "bound_variables", "substitute_formula", "Literal", "Clause",
        "itertools", "_skolem_constant_counter", "_skolem_function_counter", "_standardize_var_counter",
        "eliminate_implications", "to_nnf", "standardize_variables", "skolemize", "drop_universals",
        "distribute_cnf", "formula_to_clauses", "to_cnf"};
    if (!g.globals.init(module, global_names) ||
        !intern_names({
            {&g.str_count, "count"}, {&g.str_operand, "operand"}, {&g.str_left, "left"},
            {&g.str_right, "right"}, {&g.str_variable, "variable"}, {&g.str_body, "body"}, {&g.str_sort, "sort"},
            {&g.str_id, "id"}, {&g.str_kind, "kind"}, {&g.str_atom, "atom"}, {&g.str_positive, "positive"},
            {&g.str_free_vars, "_free_vars"}, {&g.str_to_string, "to_string"}, {&g.str_substitute, "substitute"},
            {&g.str_is_tautology, "is_tautology"},
            {&g.str_register_constant, "register_constant"}, {&g.str_register_function, "register_function"},
        })) {
        return false;
    }
    for (int k = 0; k < ast::kKindCount; ++k) {
        g.globals.set_original(k, reinterpret_cast<PyObject *>(g.api->types[k]));
    }
    if (!(g.kw_constant = interned_tuple({"name", "sort"})) ||
        !(g.kw_function = interned_tuple({"func", "arity", "args", "return_sort"})) ||
        !(g.kw_variable = interned_tuple({"id", "sort", "kind"})) ||
        !(g.kw_literal = interned_tuple({"atom", "positive"})) || !(g.empty_frozenset = PyFrozenSet_New(nullptr)) ||
        !import_frozen_instance_error()) {
        return false;
    }
    if (PyObject_GC_IsTracked(g.empty_frozenset)) PyObject_GC_UnTrack(g.empty_frozenset);
    return g.globals.remember_original(kFreeVariables) && g.globals.remember_original(kBoundVariables) &&
           g.globals.remember_original(kSubstituteFormula);
}

bool register_symbol(PyObject *signature, PyObject *method, std::initializer_list<PyObject *> args) {
    Ref bound = Ref::steal(PyObject_GetAttr(signature, method));
    Ref result = bound ? Ref::steal(PyObject_Vectorcall(bound.get(), args.begin(), args.size(), nullptr)) : Ref();
    if (result) return true;
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    return true;
}

}  // namespace zelqor::clausifier
