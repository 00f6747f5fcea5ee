// What a search hands back to Python: plain tuples, lists and the library's
// own formula trees, which the Python layer wraps and checks.
#pragma once

#include "zelqor/constructive/search/proofs.hpp"
#include "zelqor/constructive/search/trees.hpp"

namespace zelqor::search {

// The steps the root rests on, premises first, as a list of tuples
// (hypotheses, goal, rule, premises, principal, renaming): hypotheses a tuple
// of formulas, rule a name, premises a tuple of earlier positions, principal a
// formula or None, renaming a dict from atom to atom or None. The root is last.
PyObject *derivation_to_python(const ProofSearch &search, const Store &store, const Vocabulary &vocabulary);

// The worlds as a list of tuples (atoms, successors); the first world is
// where the formula fails.
PyObject *countermodel_to_python(const Countermodel &model, const Vocabulary &vocabulary);

}  // namespace zelqor::search
