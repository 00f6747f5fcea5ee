// Module `zelqor.constructive._search`: the decision procedure for
// intuitionistic propositional logic behind `zelqor.constructive.decide`.
#include "common/args.hpp"
#include "common/boundary.hpp"
#include "zelqor/constructive/search/results.hpp"
#include "zelqor/constructive/search/state.hpp"
#include "zelqor/constructive/search/symmetry.hpp"

namespace zelqor::search {
namespace {

constexpr uint64_t kDefaultFirstLook = 2000;

// None: no limit; otherwise a non-negative integer.
bool read_limit(PyObject *value, const char *name, uint64_t unlimited, uint64_t &out) {
    if (value == Py_None) {
        out = unlimited;
        return true;
    }
    if (!PyLong_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be an int or None, not %.200s", name, Py_TYPE(value)->tp_name);
        return false;
    }
    // Read without private API and without running Python code: an int too
    // large for 64 bits is as good as no limit, a negative one is refused.
    int overflow = 0;
    long long small = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (small == -1 && overflow == 0 && PyErr_Occurred()) return false;
    if (overflow < 0 || (overflow == 0 && small < 0)) {
        PyErr_Format(PyExc_ValueError, "%s must not be negative", name);
        return false;
    }
    out = overflow > 0 ? unlimited : static_cast<uint64_t>(small);
    return true;
}

// What the search did: derivation steps or countermodel worlds handed back,
// queries and rounds of the countermodel search, conflicts of its solver,
// steps taken by renaming, and the lookups and refinements renaming cost.
PyObject *statistics(const ProofSearch &search, size_t steps, size_t worlds) {
    const SymmetryIndex *symmetry = search.symmetry();
    auto count = [](uint64_t n) { return static_cast<unsigned long long>(n); };
    return Py_BuildValue("{sKsKsKsKsKsKsKsK}", "steps", count(steps), "worlds", count(worlds), "queries",
                         count(search.oracle().queries()), "rounds", count(search.oracle().rounds()), "conflicts",
                         count(search.oracle().conflicts()), "renamed", count(search.renamed()), "renaming_lookups",
                         count(symmetry ? symmetry->lookups() : 0), "refinements",
                         count(symmetry ? symmetry->refinements() : 0));
}

PyObject *run_search(PyObject *formula, uint64_t budget, uint64_t first_look) {
    Store store;
    Vocabulary vocabulary;
    FormulaId root = vocabulary.read(store, formula);
    if (root == kNoFormula) return nullptr;
    Limits limits;
    limits.work_left = budget;
    ProofSearch search(store, limits, &vocabulary);
    switch (search.run(root, first_look)) {
        case ProofSearch::Outcome::Proved: {
            Ref steps = Ref::steal(derivation_to_python(search, store, vocabulary));
            if (!steps) return nullptr;
            Ref stats = Ref::steal(statistics(search, static_cast<size_t>(PyList_GET_SIZE(steps.get())), 0));
            return stats ? Py_BuildValue("(sOO)", "valid", steps.get(), stats.get()) : nullptr;
        }
        case ProofSearch::Outcome::Refuted: {
            Ref worlds = Ref::steal(countermodel_to_python(search.countermodel(), vocabulary));
            if (!worlds) return nullptr;
            Ref stats = Ref::steal(statistics(search, 0, static_cast<size_t>(PyList_GET_SIZE(worlds.get()))));
            return stats ? Py_BuildValue("(sOO)", "invalid", worlds.get(), stats.get()) : nullptr;
        }
        case ProofSearch::Outcome::Stopped: {
            Ref stats = Ref::steal(statistics(search, 0, 0));
            return stats ? Py_BuildValue("(sOO)", "unknown", Py_None, stats.get()) : nullptr;
        }
        case ProofSearch::Outcome::Error: break;
    }
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "internal error in zelqor: search failed silently");
    return nullptr;
}

PyObject *search_function(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"formula", "budget", "first_look"};
    static PyObject *const defaults[] = {nullptr, Py_None, Py_None};
    static const Signature sig{"search", 3, 1, names, defaults};
    PyObject *bound[3];
    if (!bind_vector(sig, args, nargs, kwnames, bound)) return nullptr;
    uint64_t budget = 0, first_look = 0;
    if (!read_limit(bound[1], "budget", UINT64_MAX, budget)) return nullptr;
    if (!read_limit(bound[2], "first_look", kDefaultFirstLook, first_look)) return nullptr;
    if (bound[2] == Py_None) first_look = kDefaultFirstLook;
    return run_search(bound[0], budget, first_look);
}

PyMethodDef functions[] = {
    {"search", ZQ_FASTCALL(boundary<search_function>), METH_FASTCALL | METH_KEYWORDS,
     "search(formula, *, budget=None, first_look=None)\n--\n\n"
     "Decide an intuitionistic propositional formula. Returns (verdict, certificate, statistics): "
     "('valid', steps, stats) with the steps of a derivation, root last, each a tuple (hypotheses, goal, rule, "
     "premises, principal, renaming); ('invalid', worlds, stats) with the worlds of a countermodel, the first "
     "one failing the formula, each a tuple (atoms, successors); or ('unknown', None, stats) when `budget` "
     "(units of work: conflicts of the classical solver, rounds of the countermodel search, sequents visited) "
     "ran out. `first_look` bounds the short search for a countermodel made before a derivation is built."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "zelqor.constructive._search",
    "The search behind zelqor.constructive.decide: derivations and Kripke countermodels for intuitionistic "
    "propositional formulas.",
    -1,
    functions,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject *create_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module || !init_state()) return nullptr;
    g.module = new_ref(module.get());
    return module.release();
}

}  // namespace
}  // namespace zelqor::search

PyMODINIT_FUNC PyInit__search(void) {
    if (zelqor::search::g.module != nullptr) return zelqor::new_ref(zelqor::search::g.module);
    return zelqor::shield([] { return zelqor::search::create_module(); });
}
