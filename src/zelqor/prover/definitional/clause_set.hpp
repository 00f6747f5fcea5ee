// Clause sets as the definitional clause form hands them out: the
// clausifier's Clause values, simplified as provers simplify what they read
// (see clause_simplify.hpp and unit_simplify.hpp), without tautologies or
// repeated clauses.
#pragma once

#include "zelqor/prover/definitional/unit_simplify.hpp"

namespace zelqor::definitional {

class ClauseSet {
public:
    // Adds the clause of `literals` (the clausifier's Literal objects),
    // simplified unless `exact`; tautologies are left out. False with an
    // exception set.
    bool add(ClauseLiterals &&literals, bool exact);
    // The list of the clauses added (new reference), after the unit pass and
    // without repeats unless `exact`; or null with an exception set.
    PyObject *finish(bool exact);

private:
    std::vector<ClauseLiterals> literals_;
    std::vector<Ref> made_;  // in step with literals_
};

// The clauses of a list of Clause values over our own literals, simplified
// across the whole list (new reference), or null with an exception set.
PyObject *simplify_clause_list(PyObject *clauses);

}  // namespace zelqor::definitional
