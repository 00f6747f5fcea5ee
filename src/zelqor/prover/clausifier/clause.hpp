// The value type Clause: a frozen set of literals, read as their disjunction.
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

#include <cstddef>

namespace zelqor::clausifier {

struct ClauseObject {
    PyObject_HEAD
    PyObject *literals;   // stored as given
    Py_hash_t hash;
    char is_tautology;
    PyObject *free_vars;  // frozenset
};

inline ClauseObject *as_clause(PyObject *o) { return reinterpret_cast<ClauseObject *>(o); }
inline bool is_exact_clause(PyObject *o) { return Py_TYPE(o) == g.clause_type; }

// Creates the class (not yet added to the module).
bool create_clause_type(PyObject *module);

// A Clause of `type` (ours or a subclass) with every hidden field computed.
PyObject *new_clause(PyTypeObject *type, PyObject *literals);

// Fast path for the pipeline: a clause of exactly our class over `n`
// literals of exactly our class whose `positive` is True or False (repeats
// allowed).
PyObject *new_own_clause(PyObject *const *literals, size_t n);

}  // namespace zelqor::clausifier
