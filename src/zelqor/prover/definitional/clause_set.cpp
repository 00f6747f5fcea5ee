#include "zelqor/prover/definitional/clause_set.hpp"

#include "common/args.hpp"
#include "zelqor/prover/clausifier/layout.hpp"
#include "zelqor/prover/definitional/clause_simplify.hpp"
#include "zelqor/prover/definitional/state.hpp"

namespace zelqor::definitional {

namespace {

// A Clause of the clausifier over `literals`, whose repeats go; `tautology`
// tells whether it holds an atom with both signs.
Ref make_clause(ClauseLiterals &literals, bool &tautology) {
    Ref members = Ref::steal(PyFrozenSet_New(nullptr));
    if (!members) return Ref();
    for (const Ref &literal : literals) {
        if (PySet_Add(members.get(), literal.get()) < 0) return Ref();
    }
    if (static_cast<size_t>(PySet_GET_SIZE(members.get())) != literals.size()) {
        literals.clear();
        Ref it = Ref::steal(PyObject_GetIter(members.get()));
        if (!it) return Ref();
        while (PyObject *literal = PyIter_Next(it.get())) literals.push_back(Ref::steal(literal));
        if (PyErr_Occurred()) return Ref();
    }
    PyObject *args[1] = {members.get()};
    Ref clause = Ref::steal(PyObject_Vectorcall(g.clause_type, args, 1, nullptr));
    // The clausifier's own Clause, whose layout is known here.
    if (clause) tautology = reinterpret_cast<clausifier::ClauseObject *>(clause.get())->is_tautology != 0;
    return clause;
}

}  // namespace

bool ClauseSet::add(ClauseLiterals &&literals, bool exact) {
    if (!exact) {
        ClauseFate fate = simplify_clause(literals);
        if (fate == ClauseFate::Failed) return false;
        if (fate == ClauseFate::Dropped) return true;
    }
    bool tautology = false;
    Ref clause = make_clause(literals, tautology);
    if (!clause) return false;
    if (tautology) return true;
    made_.push_back(std::move(clause));
    literals_.push_back(std::move(literals));
    return true;
}

PyObject *ClauseSet::finish(bool exact) {
    if (!exact && !simplify_by_units(literals_, made_)) return nullptr;
    Ref list = Ref::steal(PyList_New(0));
    Ref seen = Ref::steal(PySet_New(nullptr));
    if (!list || !seen) return nullptr;
    for (size_t i = 0; i < made_.size(); ++i) {
        // Removing literals makes no tautology: only shortened clauses are
        // made again.
        if (!made_[i]) {
            bool tautology = false;
            made_[i] = make_clause(literals_[i], tautology);
            if (!made_[i]) return nullptr;
        }
        if (!exact) {
            int repeated = PySet_Contains(seen.get(), made_[i].get());
            if (repeated < 0 || (!repeated && PySet_Add(seen.get(), made_[i].get()) < 0)) return nullptr;
            if (repeated) continue;
        }
        if (PyList_Append(list.get(), made_[i].get()) < 0) return nullptr;
    }
    return list.release();
}

namespace {

// The literals of a clause, when it is a Clause over our own literals with
// True or False signs.
bool own_literals(PyObject *clause, ClauseLiterals &out) {
    if (Py_TYPE(clause) != reinterpret_cast<PyTypeObject *>(g.clause_type)) return false;
    PyObject *members = reinterpret_cast<clausifier::ClauseObject *>(clause)->literals;
    if (!PyAnySet_Check(members)) return false;
    Ref it = Ref::steal(PyObject_GetIter(members));
    if (!it) return false;
    while (PyObject *literal = PyIter_Next(it.get())) {
        out.push_back(Ref::steal(literal));
        if (Py_TYPE(literal) != reinterpret_cast<PyTypeObject *>(g.literal_type)) return false;
        PyObject *sign = reinterpret_cast<clausifier::LiteralObject *>(literal)->positive;
        if (sign != Py_True && sign != Py_False) return false;
    }
    return !PyErr_Occurred();
}

}  // namespace

PyObject *simplify_clause_list(PyObject *clauses) {
    if (!check_exact_arg(clauses, &PyList_Type, "clauses", "list")) return nullptr;
    ClauseSet set;
    // The list may change while its clauses are read: hold a copy.
    Ref items = Ref::steal(PySequence_Tuple(clauses));
    if (!items) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
        PyObject *clause = PyTuple_GET_ITEM(items.get(), i);
        ClauseLiterals literals;
        if (!own_literals(clause, literals)) {
            if (!PyErr_Occurred()) {
                raise_with_type(PyExc_TypeError, "expected a Clause of Literal values with True or False signs, got ",
                                clause);
            }
            return nullptr;
        }
        if (!set.add(std::move(literals), false)) return nullptr;
    }
    return set.finish(false);
}

}  // namespace zelqor::definitional
