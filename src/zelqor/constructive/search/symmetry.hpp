// Renamings between sequents of a symmetric formula.
//
// When the atoms of a formula can be permuted without changing it, as the
// holes or the pigeons of a pigeonhole formula can, many sequents of a search
// are renamings of each other, and a sequent derived once gives all of its
// renamings at the price of one step. The index keeps the sequents derived so
// far by a key that ignores which atoms they use, and looks for an atom
// renaming that maps an earlier one onto the sequent asked about: atoms are
// told apart by repeated refinement of their occurrences, then matched class
// by class; a renaming is only returned once applying it gives the sequent
// exactly.
#pragma once

#include "zelqor/constructive/search/proofs.hpp"

#include <unordered_map>
#include <vector>

namespace zelqor::search {

class SymmetryIndex {
public:
    // Whether the formula's atoms are not all told apart by their occurrences,
    // so that renamings may be found.
    static bool worthwhile(const Store &store, FormulaId formula);

    explicit SymmetryIndex(Store &store) : store_(store) {}
    void remember(const Sequent &sequent, uint32_t step);
    // An earlier step whose sequent `renaming` maps onto `sequent`, or UINT32_MAX.
    uint32_t find(const Sequent &sequent, const std::vector<Step> &steps, Renaming &renaming);

private:
    uint64_t shape(FormulaId f);
    uint64_t key(const Sequent &sequent);

    Store &store_;
    std::vector<uint64_t> shapes_;  // by formula: its structure with atoms anonymous; 0 unknown
    std::unordered_map<uint64_t, std::vector<uint32_t>> by_key_;
};

}  // namespace zelqor::search
