// Module `zelqor.prover.clausifier`: its imports, the three Skolem counters,
// then reset_skolem_counters, Literal, Clause and the pipeline functions, in
// that order, as module attributes.
#include "common/args.hpp"
#include "common/module_init.hpp"
#include "zelqor/prover/clausifier/clause.hpp"
#include "zelqor/prover/clausifier/literal.hpp"
#include "zelqor/prover/clausifier/steps.hpp"

namespace zelqor::clausifier {
namespace {

// ---- argument binding --------------------------------------------------------------

template <PyObject *(*Impl)(const Ctx &, PyObject *), const char *Name>
PyObject *unary_function(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"formula"};
    static PyObject *const defaults[] = {nullptr};
    static const Signature sig{Name, 1, 1, names, defaults};
    PyObject *formula;
    if (nargs == 1 && kwnames == nullptr) {
        formula = args[0];
    } else if (!bind_vector(sig, args, nargs, kwnames, &formula)) {
        return nullptr;
    }
    Ctx c;
    if (!c.load()) return nullptr;
    return Impl(c, formula);
}

template <PyObject *(*Impl)(const Ctx &, PyObject *, PyObject *), const char *Name>
PyObject *with_signature(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"formula", "signature"};
    static PyObject *const defaults[] = {nullptr, Py_None};
    static const Signature sig{Name, 2, 2, names, defaults};
    PyObject *bound[2];
    if (kwnames == nullptr && (nargs == 1 || nargs == 2)) {
        bound[0] = args[0];
        bound[1] = nargs == 2 ? args[1] : Py_None;
    } else if (!bind_vector(sig, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    Ctx c;
    if (!c.load()) return nullptr;
    return Impl(c, bound[0], bound[1]);
}

PyObject *negate_and_clausify(const Ctx &c, PyObject *formula, PyObject *signature) {
    Ref negation = Ref::steal(c.make(Kind::Not, {formula}));
    return negation ? c.call_own(kToCnf, negation.get(), signature) : nullptr;
}

PyObject *reset_counters(PyObject *, PyObject *) { return reset_skolem_counters(); }

constexpr char kEliminateName[] = "eliminate_implications";
constexpr char kToNnfName[] = "to_nnf";
constexpr char kStandardizeName[] = "standardize_variables";
constexpr char kSkolemizeName[] = "skolemize";
constexpr char kDropName[] = "drop_universals";
constexpr char kDistributeName[] = "distribute_cnf";
constexpr char kToClausesName[] = "formula_to_clauses";
constexpr char kToCnfName[] = "to_cnf";
constexpr char kNegateName[] = "negate_and_clausify";

#define ZQ_UNARY(impl, name) ZQ_FASTCALL((unary_function<impl, name>)), METH_FASTCALL | METH_KEYWORDS
#define ZQ_WITH_SIGNATURE(impl, name) ZQ_FASTCALL((with_signature<impl, name>)), METH_FASTCALL | METH_KEYWORDS

PyMethodDef reset_def = {
    "reset_skolem_counters", reset_counters, METH_NOARGS,
    "reset_skolem_counters()\n--\n\n"
    "Restart the Skolem constant and function counters at 0 and the standardization counter at 1000."};

// In definition order; the index of each own step matches `Own`.
PyMethodDef function_defs[] = {
    {kEliminateName, ZQ_UNARY(eliminate_implications, kEliminateName),
     "eliminate_implications(formula)\n--\n\nThe formula with every Implies and Iff rewritten into Not, And and Or."},
    {kToNnfName, ZQ_UNARY(to_nnf, kToNnfName),
     "to_nnf(formula)\n--\n\nAn equivalent formula whose negations stand directly on atoms."},
    {kStandardizeName, ZQ_UNARY(standardize_variables, kStandardizeName),
     "standardize_variables(formula)\n--\n\n"
     "An alpha-equivalent formula in which every quantifier binds its own fresh variable."},
    {kSkolemizeName, ZQ_WITH_SIGNATURE(skolemize, kSkolemizeName),
     "skolemize(formula, signature=None)\n--\n\n"
     "The formula with its existential quantifiers replaced by Skolem constants and functions, registered in "
     "`signature` when one is given."},
    {kDropName, ZQ_UNARY(drop_universals, kDropName),
     "drop_universals(formula)\n--\n\nThe formula without its universal quantifiers."},
    {kDistributeName, ZQ_UNARY(distribute_cnf, kDistributeName),
     "distribute_cnf(formula)\n--\n\n"
     "Conjunctive normal form of a quantifier-free formula in negation normal form."},
    {kToClausesName, ZQ_UNARY(formula_to_clauses, kToClausesName),
     "formula_to_clauses(formula)\n--\n\nThe non-tautological clauses of a formula in conjunctive normal form."},
    {kToCnfName, ZQ_WITH_SIGNATURE(to_cnf, kToCnfName),
     "to_cnf(formula, signature=None)\n--\n\nThe list of clauses of a first-order formula."},
    {kNegateName, ZQ_WITH_SIGNATURE(negate_and_clausify, kNegateName),
     "negate_and_clausify(formula, signature=None)\n--\n\n"
     "The clauses of the negation of a formula, as the input of a refutation search."},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.prover.clausifier",
    "Clausification of first-order formulas for refutation provers: literals and clauses, and the steps from a "
    "formula to its list of clauses.",
    -1,
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Adds the function as a module attribute; `own` >= 0 records it as the
// original of that global.
bool add_function(PyObject *module, PyObject *module_name, PyMethodDef *def, int own = -1) {
    Ref fn = Ref::steal(PyCFunction_NewEx(def, module, module_name));
    if (!fn || PyModule_AddObjectRef(module, def->ml_name, fn.get()) < 0) return false;
    if (own >= 0) g.globals.set_original(own, fn.get());
    return true;
}

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    PyObject *m = module.get();
    bool ok = import_module_as(m, "itertools", "itertools") &&
              import_names(m, "dataclasses", {"dataclass", "field"}) &&
              import_names(m, "typing", {"List", "Set", "FrozenSet", "Dict", "Tuple", "Optional", "Union"}) &&
              import_names(m, "zelqor.core.ast",
                           {"Term", "Variable", "Constant", "FunctionApp", "Formula", "PredicateApp", "Equality",
                            "Not", "And", "Or", "Implies", "Iff", "Forall", "Exists", "free_variables",
                            "bound_variables"}) &&
              import_names(m, "zelqor.core.sorts", {"Sort", "Ind"}) &&
              import_names(m, "zelqor.core.signature", {"Signature"}) &&
              import_names(m, "zelqor.core.substitutions", {"substitute_formula", "substitute_term"}) &&
              init_state(m);
    if (!ok) return nullptr;
    // The three counters, made as reset_skolem_counters makes them.
    Ref none = Ref::steal(reset_skolem_counters());
    if (!none) return nullptr;
    Ref name = Ref::steal(PyUnicode_FromString("zelqor.prover.clausifier"));
    if (!name || !add_function(m, name.get(), &reset_def) || !create_literal_type(m) || !create_clause_type(m) ||
        PyModule_AddObjectRef(m, "Literal", reinterpret_cast<PyObject *>(g.literal_type)) < 0 ||
        PyModule_AddObjectRef(m, "Clause", reinterpret_cast<PyObject *>(g.clause_type)) < 0) {
        return nullptr;
    }
    for (int i = 0; i < kOwnCount; ++i) {
        if (!add_function(m, name.get(), &function_defs[i], own_global(static_cast<Own>(i)))) return nullptr;
    }
    if (!add_function(m, name.get(), &function_defs[kOwnCount]) || !watch_module_dict()) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace zelqor::clausifier

PyMODINIT_FUNC PyInit_clausifier(void) {
    using zelqor::clausifier::g;
    if (g.module != nullptr) return zelqor::new_ref(g.module);
    PyObject *module = zelqor::clausifier::create_module();
    if (module == nullptr && g.module != nullptr) {
        Py_CLEAR(g.module);  // a later import starts over
    }
    return module;
}
