// Which subformulas get a name.
//
// Every subformula has two clause counts: the clauses it gives where it must
// hold (positive occurrences) and where it must fail (negative ones), as the
// distributive law would produce them. Conjunctions add counts, disjunctions
// multiply them; so does an equivalence, whose operands occur with both
// polarities. Where a product of operands' counts exceeds the threshold, the
// operand whose replacement by a fresh atom saves the most clauses (its
// definition counted) is named, until the product is within the threshold or
// no naming saves anything. Decisions are made bottom-up, so a named
// operand counts as one clause everywhere above it.
#pragma once

#include "zelqor/prover/definitional/subformulas.hpp"

namespace zelqor::definitional {

// Sets the polarity of every subformula (the root is positive).
void mark_polarities(Subformulas &subformulas);

// Computes clause counts and marks the named subformulas. `threshold` >= 1.
void choose_names(Subformulas &subformulas, uint64_t threshold);

}  // namespace zelqor::definitional
