#pragma once

#include "common/boundary.hpp"
#include "zelqor/core/ast/state.hpp"

namespace zelqor::ast {

// The text form of a node: "Not(operand=PredicateApp(pred='P', ...))".
PyObject *node_repr(PyObject *self);

}  // namespace zelqor::ast
