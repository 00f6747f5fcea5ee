// Validation and construction of nodes.
#pragma once

#include "zelqor/core/ast/state.hpp"

namespace zelqor::ast {

// Builds a node of `type` (one of ours or a subclass) of `kind` from its
// value fields in storage order (borrowed). Runs every check of the class;
// returns a new reference or null with an exception set.
PyObject *construct(Kind kind, PyTypeObject *type, PyObject *const *values);

// The `Api::make` entry point: exact class of the kind.
PyObject *make_node(Kind kind, PyObject *const *values);

// Hash a node's parent uses for it: the cached hash of our compound nodes,
// the computed one of variables and constants, hash() of anything else.
Py_hash_t child_hash(PyObject *o);

Py_hash_t variable_hash(PyObject *self);
Py_hash_t constant_hash(PyObject *self);
Py_hash_t cached_hash(PyObject *self);

}  // namespace zelqor::ast
