// The value type Clause: a frozen set of literals, read as their disjunction.
#pragma once

#include "zelqor/prover/clausifier/layout.hpp"
#include "zelqor/prover/clausifier/state.hpp"

#include <cstddef>

namespace zelqor::clausifier {

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
