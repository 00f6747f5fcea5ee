// Module `zelqor.prover.definitional`: clause form by naming subformulas.
#include "common/args.hpp"
#include "common/boundary.hpp"
#include "zelqor/prover/definitional/clause_set.hpp"
#include "zelqor/prover/definitional/miniscope.hpp"
#include "zelqor/prover/definitional/pipeline.hpp"

#include <climits>

namespace zelqor::definitional {
namespace {

PyObject *default_threshold = nullptr;

// threshold: None (no naming) or an int of at least 1.
bool read_threshold(PyObject *value, Options &options) {
    if (value == Py_None) {
        options.naming = false;
        return true;
    }
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        PyErr_Format(PyExc_TypeError, "threshold must be an int or None, got %.200s", Py_TYPE(value)->tp_name);
        return false;
    }
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (n == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && n < 1)) {
        PyErr_Format(PyExc_ValueError, "threshold must be at least 1, got %S", value);
        return false;
    }
    options.threshold = overflow > 0 ? UINT64_MAX : static_cast<uint64_t>(n);
    return true;
}

template <bool Negate>
PyObject *clause_form(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"formula", "signature", "threshold", "miniscope"};
    static PyObject *defaults[] = {nullptr, Py_None, nullptr, kDefaultMiniscope ? Py_True : Py_False};
    defaults[2] = default_threshold;
    static const Signature sig{Negate ? "negate_and_clausify" : "to_cnf", 4, 2, names, defaults};
    PyObject *bound[4];
    if (!bind_vector(sig, args, nargs, kwnames, bound)) return nullptr;
    Options options;
    if (!read_threshold(bound[2], options)) return nullptr;
    int miniscope = PyObject_IsTrue(bound[3]);
    if (miniscope < 0) return nullptr;
    options.miniscope = miniscope != 0;
    if constexpr (Negate) {
        PyObject *fields[1] = {bound[0]};
        Ref negation = Ref::steal(g.api->make(Kind::Not, fields));
        return negation ? clausify(negation.get(), bound[1], options) : nullptr;
    } else {
        return clausify(bound[0], bound[1], options);
    }
}

PyObject *miniscope_only(PyObject *, PyObject *formula) { return miniscope(formula); }
PyObject *simplify_clauses(PyObject *, PyObject *clauses) { return simplify_clause_list(clauses); }

#define ZQ_DOC_OPTIONS                                                                                            \
    "The result is equisatisfiable with the formula, not equivalent to it: a set of clauses has a model\n"       \
    "exactly when the formula has one, and every model of the clauses is a model of the formula, but the\n"      \
    "clauses also speak of the fresh definition predicates.\n\n"                                                  \
    "threshold: where distributing a disjunction over conjunctions would give more than this many clauses\n"    \
    "  (counted as the distributive law multiplies them), the operands whose replacement by a fresh atom\n"      \
    "  saves the most clauses are named, until it gives at most that many or naming saves nothing.\n"          \
    "  None names nothing and simplifies nothing: the clauses are then exactly those of\n"                       \
    "  zelqor.prover.clausifier.to_cnf.\n"                                                                        \
    "\nminiscope: move quantifiers inward first, so Skolem functions take fewer arguments.\n\n"                   \
    "With a threshold the clauses are also what a prover makes of them on reading: a failing equivalence\n"    \
    "is (a | b) & (~a | ~b); operands equal up to bound variables count once (A | A' is A, A <=> A' holds);\n" \
    "t = t, t != t and x != t are resolved in each clause; unit clauses remove the clauses they subsume\n"    \
    "and the literals they contradict (an empty clause, once found, is all that is left); tautologies\n"       \
    "and repeated clauses go. simplify_clauses does the same across the clauses of several calls.\n\n"         \
    "A named subformula with free variables x1..xk becomes def_<n>(x1, ..., xk), defined by the clauses of\n"   \
    "def_<n> -> subformula where it occurs positively, subformula -> def_<n> where it occurs negatively\n"      \
    "(both under an equivalence). Equal subformulas share one name. Names never clash with a symbol of\n"      \
    "the formula or of the signature, which receives each definition predicate through register_predicate.\n" \
    "Skolem symbols are those of the clausifier: sk_c<n> and sk_f<n>, drawn from its counters.\n"

PyMethodDef functions[] = {
    {"to_cnf", ZQ_FASTCALL(boundary<clause_form<false>>), METH_FASTCALL | METH_KEYWORDS,
     "to_cnf(formula, signature=None, *, threshold=16, miniscope=False)\n--\n\n"
     "The clauses of a first-order formula, with subformulas named where distribution would multiply\n"
     "clauses.\n\n" ZQ_DOC_OPTIONS},
    {"negate_and_clausify", ZQ_FASTCALL(boundary<clause_form<true>>), METH_FASTCALL | METH_KEYWORDS,
     "negate_and_clausify(formula, signature=None, *, threshold=16, miniscope=False)\n--\n\n"
     "to_cnf of the negation of a formula, as the input of a refutation search.\n"},
    {"simplify_clauses", boundary<simplify_clauses>, METH_O,
     "simplify_clauses(clauses, /)\n--\n\n"
     "The clauses of a list of Clause values (from several calls of to_cnf, say: the clauses of a whole\n"
     "problem), simplified across the list as to_cnf simplifies the clauses of one formula: t = t, t != t\n"
     "and x != t resolved in each clause; unit clauses removing the clauses they subsume and the literals\n"
     "they contradict; tautologies and repeated clauses left out. The result is equivalent to the list.\n"},
    {"_miniscope", boundary<miniscope_only>, METH_O,
     "_miniscope(formula, /)\n--\n\nThe equivalent formula with quantifiers moved inward, as to_cnf(miniscope=True)\n"
     "clausifies it."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.prover.definitional",
    "Structure-preserving clause form: subformulas whose distribution would multiply clauses are replaced\n"
    "by fresh predicates over their free variables, with definitions in the directions their polarities\n"
    "need. The clauses are equisatisfiable with the formula, not equivalent to it.\n\n"
    "Definition predicates are named def_<n>, n drawn from the module attribute _definition_counter;\n"
    "zelqor.prover.clausifier.reset_skolem_counters() restarts it together with the Skolem counters.",
    -1,
    functions, nullptr, nullptr, nullptr, nullptr,
};

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module || !init_state(module.get())) return nullptr;
    default_threshold = PyLong_FromUnsignedLongLong(kDefaultThreshold);
    if (default_threshold == nullptr) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace zelqor::definitional

PyMODINIT_FUNC PyInit_definitional(void) {
    using zelqor::definitional::g;
    if (g.module != nullptr) return zelqor::new_ref(g.module);
    PyObject *module = zelqor::shield([] { return zelqor::definitional::create_module(); });
    if (module == nullptr && g.module != nullptr) Py_CLEAR(g.module);
    return module;
}
