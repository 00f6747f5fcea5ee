// The value type Literal: an atom and its sign.
#pragma once

#include "zelqor/prover/clausifier/layout.hpp"
#include "zelqor/prover/clausifier/state.hpp"

namespace zelqor::clausifier {

inline bool is_exact_literal(PyObject *o) { return Py_TYPE(o) == g.literal_type; }

// Creates the class (not yet added to the module).
bool create_literal_type(PyObject *module);

// A Literal of `type` (ours or a subclass) with every hidden field computed.
PyObject *new_literal(PyTypeObject *type, PyObject *atom, PyObject *positive);

// Fast path for the pipeline, which knows its arguments: a literal of
// exactly our class over an atom of exactly PredicateApp or Equality, with
// the module's own free_variables.
PyObject *new_own_literal(PyObject *atom, PyObject *positive);

// What to_string and substitute do on a literal of exactly our class.
PyObject *literal_to_string_native(PyObject *self);
PyObject *literal_substitute_native(PyObject *self, PyObject *subst);

}  // namespace zelqor::clausifier
