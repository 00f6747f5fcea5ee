// The memory layout of the clausifier's value types, Literal and Clause, for
// the prover modules that read instances of exactly these classes (after an
// exact-type check against the classes they imported) without attribute
// look-ups. Nothing here refers to the clausifier's own state.
#pragma once

#include <Python.h>

namespace zelqor::clausifier {

struct LiteralObject {
    PyObject_HEAD
    PyObject *atom;
    PyObject *positive;
    Py_hash_t hash;
    PyObject *free_vars;  // frozenset
};

struct ClauseObject {
    PyObject_HEAD
    PyObject *literals;   // stored as given
    Py_hash_t hash;
    char is_tautology;
    PyObject *free_vars;  // frozenset
};

inline LiteralObject *as_literal(PyObject *o) { return reinterpret_cast<LiteralObject *>(o); }
inline ClauseObject *as_clause(PyObject *o) { return reinterpret_cast<ClauseObject *>(o); }

}  // namespace zelqor::clausifier
