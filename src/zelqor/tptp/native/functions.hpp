// The functions of module zelqor.tptp._native.
#pragma once

#include "common/pyref.hpp"

namespace zelqor::tptp {

extern PyMethodDef kFunctions[];

}  // namespace zelqor::tptp
