// The module's classes, built with the interpreter's abc and typing
// machinery (so they are abstract and generic like any class statement
// would make them), their methods implemented in C++.
#pragma once

#include "zelqor/core/visitors/state.hpp"

namespace zelqor::visitors {

// Defines T and the seven visitor classes in the module, in order.
bool define_classes(PyObject *module);

}  // namespace zelqor::visitors
