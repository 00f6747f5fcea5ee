#pragma once

#include "zelqor/core/ast/state.hpp"

namespace zelqor::ast {

// Creates Term, Formula and the twelve node classes and adds them to the
// module in declaration order. Needs g.ind, g.kind_members set.
bool create_node_types(PyObject *module);

}  // namespace zelqor::ast
