// The value types Literal and Clause.
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

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

// Creates the two classes (not yet added to the module).
bool create_value_types(PyObject *module);

// A Literal or Clause of exactly our class, with every hidden field computed.
PyObject *new_literal(PyTypeObject *type, PyObject *atom, PyObject *positive);
PyObject *new_clause(PyTypeObject *type, PyObject *literals);

// Fast paths for the pipeline, which knows its arguments: a literal of
// exactly our class over an atom of exactly PredicateApp or Equality, with
// the module's own free_variables; a clause over `n` such literals whose
// `positive` is True or False (repeats allowed).
PyObject *new_own_literal(PyObject *atom, PyObject *positive);
PyObject *new_own_clause(PyObject *const *literals, size_t n);

inline bool is_exact_literal(PyObject *o) { return Py_TYPE(o) == g.literal_type; }
inline bool is_exact_clause(PyObject *o) { return Py_TYPE(o) == g.clause_type; }

}  // namespace zelqor::clausifier
