// Mini-scoping: quantifiers moved inward as far as equivalences allow, so
// that existentials end up under fewer universals and Skolem functions take
// fewer arguments.
//
//   ∀x (A ∧ B) ≡ ∀x A ∧ ∀x B          ∃x (A ∨ B) ≡ ∃x A ∨ ∃x B
//   ∀x (A ∨ B) ≡ ∀x A ∨ B             ∃x (A ∧ B) ≡ ∃x A ∧ B        (x not free in B)
//   ∀x ¬A ≡ ¬∃x A                      Qx A ≡ A                      (x not free in A)
//
// implications as ¬A ∨ B, and a block of quantifiers of one kind in any
// order. Equivalences are left whole: their operands occur with both
// polarities.
#pragma once

#include "zelqor/prover/definitional/state.hpp"

namespace zelqor::definitional {

// The mini-scoped formula (new reference; unchanged subtrees are shared),
// or null with an exception set.
PyObject *miniscope(PyObject *formula);

}  // namespace zelqor::definitional
