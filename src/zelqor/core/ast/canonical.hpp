#pragma once

#include "zelqor/core/ast/state.hpp"

namespace zelqor::ast {

// Copy of `formula` with bound variables renumbered in pre-order, skipping
// the ids of its free variables. New reference or null.
PyObject *canonicalize_bound_variables(PyObject *formula);

}  // namespace zelqor::ast
