// The clause form of a formula in one walk, when every module attribute is the module's own.
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

namespace zelqor::clausifier {

// The clause list of `formula`, as the step-by-step pipeline would give it.
// `taken` false (and null returned, no exception) when the formula or the
// module's state needs the step-by-step path.
PyObject *clause_form(const Ctx &c, PyObject *formula, PyObject *signature, bool &taken);

}  // namespace zelqor::clausifier
