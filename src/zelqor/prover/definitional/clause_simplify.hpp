// Simplifications of a single clause that keep its meaning, as provers make
// them when they read clauses:
//   - a literal t ≠ t is false: it goes;
//   - a literal t = t is true: so is the clause, which goes;
//   - X ≠ t ∨ C, X a variable not in t (of t's sort), says the same as
//     C with t for X: the literal goes and t replaces X in the rest.
#pragma once

#include "common/pyref.hpp"

#include <vector>

namespace zelqor::definitional {

enum class ClauseFate { Kept, Dropped, Failed };

// Simplifies the clause of `literals` (the clausifier's Literal objects) in
// place. Failed leaves an exception set.
ClauseFate simplify_clause(std::vector<Ref> &literals);

}  // namespace zelqor::definitional
