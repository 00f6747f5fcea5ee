// Lifting a sequent whose atoms play two roles into one where each plays one.
//
// A sequent whose hypotheses are disjunctions of atoms (rows) and whose goal
// is a disjunction of pairs of atoms reads as a grid: the pairs join the
// atoms of each column. When an atom sits in two rows (as `o111` does in a
// pigeonhole formula where pigeon 1 in hole 11 and pigeon 11 in hole 1 got
// the same name), the grid is a quotient of a more regular one, and the
// regular one is often the easier to derive: it has the full symmetry of the
// grid. Lifting gives each such atom one fresh copy per row, places each copy
// in the only column its row leaves open and where the atom meets every
// other atom of that column, and keeps the goal pairs of each column whose
// image is a goal pair. Renaming the copies back gives the original
// hypotheses and a goal made of some of the original disjuncts, so a
// derivation of the lifted sequent yields one of the original.
#pragma once

#include "zelqor/constructive/search/proofs.hpp"

namespace zelqor::search {

// Makes fresh atoms: a copy of an atom of the store, told apart by `tag`.
class AtomMaker {
public:
    virtual ~AtomMaker() = default;
    // The new atom's index for Store::atom; UINT32_MAX when no copy can be
    // made (an exception is set only if Python failed).
    virtual uint32_t copy_of(uint32_t atom, uint32_t tag) = 0;
};

enum class Lifted : uint8_t { Done, NotApplicable, Error };

// On Done, `lifted` is the regular sequent and `renaming` maps its fresh
// atoms back onto the sequent's: renaming `lifted` gives the hypotheses of
// `sequent` and `image`, a disjunction of some of its goal's disjuncts.
Lifted lift(Store &store, AtomMaker &maker, const Sequent &sequent, Sequent &lifted, Renaming &renaming,
            FormulaId &image);

}  // namespace zelqor::search
