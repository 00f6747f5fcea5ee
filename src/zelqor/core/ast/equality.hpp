#pragma once

#include "common/boundary.hpp"
#include "zelqor/core/ast/state.hpp"

namespace zelqor::ast {

// tp_richcompare of every node class: == and != between objects of exactly
// the same class compare the value fields in order; anything else is
// NotImplemented.
PyObject *node_richcompare(PyObject *a, PyObject *b, int op);

}  // namespace zelqor::ast
