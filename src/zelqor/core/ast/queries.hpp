// Structural queries over trees: free and bound variables, depth and size.
#pragma once

#include "zelqor/core/ast/state.hpp"

namespace zelqor::ast {

// Each returns a new reference or null with an exception set.
PyObject *free_variables(PyObject *node);
PyObject *bound_variables(PyObject *node);
PyObject *formula_depth(PyObject *formula);
PyObject *formula_size(PyObject *formula);

// Whether the class of `node` is one of the four second-order quantifiers
// (recognised by class name): 1 yes, 0 no, -1 error.
int is_second_order_quantifier(PyObject *node);

}  // namespace zelqor::ast
