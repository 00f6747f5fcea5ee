// Passes over formulas that prepare a problem for clausification.
#pragma once

#include "common/pyref.hpp"

#include <cstdint>

namespace zelqor::tptp {

// The formula with $true and $false simplified away: the result is VERUM,
// FALSUM, or a formula without either. Unchanged subtrees are shared, and a
// formula without truth atoms comes back as itself. New reference or null.
PyObject *simplify_truth_constants(PyObject *formula);

// How many clauses distributing the formula's negation normal form gives
// (before tautologies are dropped), saturating at UINT64_MAX. Shared
// subformulas are counted once per polarity, so this is linear in the
// formula's size as a graph. False with the exception set on failure.
bool count_distributed_clauses(PyObject *formula, bool positive, uint64_t &count);

}  // namespace zelqor::tptp
