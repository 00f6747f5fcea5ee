// From a first-order formula to its definitional clause form.
#pragma once

#include "zelqor/prover/definitional/state.hpp"

#include <cstdint>

namespace zelqor::definitional {

// The product of clause counts above which operands are named.
inline constexpr uint64_t kDefaultThreshold = 16;
inline constexpr bool kDefaultMiniscope = false;

struct Options {
    bool naming = true;  // false: no subformula is ever named
    uint64_t threshold = kDefaultThreshold;
    bool miniscope = kDefaultMiniscope;
};

// The list of clauses of `formula` (new reference), or null with an
// exception set. `signature` is None or the object that receives new symbols.
PyObject *clausify(PyObject *formula, PyObject *signature, const Options &options);

}  // namespace zelqor::definitional
