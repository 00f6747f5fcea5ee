// Simplification of a set of clauses by its unit clauses, as provers make it
// on reading their input. A unit clause L, read with its variables free:
//   - removes the clauses, other than itself, that hold an instance of L
//     (they follow from L), among them every later copy of L;
//   - removes from every clause the literals that are instances of ¬L (they
//     are false wherever L holds), which may make new units.
// Repeated until nothing changes; the clauses keep their order. Clauses are
// lists of the clausifier's Literal objects; an empty clause, once found,
// is all that is left.
#pragma once

#include "common/pyref.hpp"

#include <vector>

namespace zelqor::definitional {

using ClauseLiterals = std::vector<Ref>;

// `made` holds, in step with `clauses`, what was made of each clause; the
// entry of a clause that loses literals is cleared. False with an exception
// set.
bool simplify_by_units(std::vector<ClauseLiterals> &clauses, std::vector<Ref> &made);

}  // namespace zelqor::definitional
