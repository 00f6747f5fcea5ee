// Renaming inside one atom, as the package's substitute_formula does it, for
// the hot loop of standardization (one call per atom under a quantifier).
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

namespace zelqor::clausifier {

// `atom` of exactly PredicateApp or Equality, `renaming` a non-empty dict from
// variables to variables of the same sort. Gives what substitute_formula
// would return: the atom itself when none of its free variables is renamed,
// otherwise a new node sharing every unchanged argument. Sets `handled` false
// (and returns null without an exception) for a term it does not know, which
// the caller then hands to substitute_formula itself.
PyObject *rename_in_atom(PyObject *atom, PyObject *renaming, bool &handled);

}  // namespace zelqor::clausifier
