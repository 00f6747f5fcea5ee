// Renamings between sequents of a symmetric formula.
//
// When the atoms of a formula can be permuted without changing it, as the
// holes or the pigeons of a pigeonhole formula can, many sequents of a search
// are renamings of each other, and a sequent derived once gives all of its
// renamings at the price of one step. The index keeps the sequents derived so
// far under a key that ignores which atoms they use, and looks for an atom
// renaming that maps an earlier one onto the sequent asked about: the atoms
// of both are told apart by repeated refinement of their occurrences, matched
// class by class in order (individualising one atom at a time when that is
// not enough), and a renaming is only returned once applying it gives the
// sequent exactly.
#pragma once

#include "zelqor/constructive/search/proofs.hpp"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelqor::search {

class SymmetryIndex {
public:
    // Whether some atoms of the formula are not told apart by their
    // occurrences, so that renamings may be found.
    static bool worthwhile(const Store &store, FormulaId formula);

    explicit SymmetryIndex(Store &store) : store_(store) {}
    void remember(const Sequent &sequent, uint32_t step);
    // An earlier step whose sequent `renaming` maps onto `sequent`, or UINT32_MAX.
    uint32_t find(const Sequent &sequent, const std::vector<Step> &steps, Renaming &renaming);

    uint64_t lookups() const { return lookups_; }
    uint64_t refinements() const { return refinements_; }

    // The formulas a sequent reaches, with colours that only depend on the
    // shape of the sequent, never on which atoms it uses.
    struct Colouring {
        std::vector<FormulaId> nodes;             // ascending
        std::vector<uint32_t> child_start;        // CSR: children of node i
        std::vector<uint32_t> children;
        std::vector<uint8_t> ordered;             // 1: an implication, whose children keep their order
        std::vector<uint32_t> parent_start;       // CSR: (parent index, position) of node i
        std::vector<std::pair<uint32_t, uint32_t>> parents;
        std::vector<uint32_t> atoms;              // indices of the atom nodes
        std::vector<uint64_t> colour;
        uint64_t signature = 0;                   // of the colours after refinement
    };

private:
    uint64_t shape(FormulaId f);
    uint64_t key(const Sequent &sequent);
    Colouring refined(const Sequent &sequent);
    bool match(const Colouring &from, const Colouring &to, const Sequent &source, const Sequent &target,
               Renaming &renaming, int depth, int &budget);
    bool maps_onto(const Colouring &from, const std::vector<FormulaId> &image, const Sequent &source,
                   const Sequent &target);

    Store &store_;
    std::vector<uint64_t> shapes_;  // by formula: its structure with atoms anonymous; 0 unknown
    // Derived sequents by shape, not yet coloured; and coloured ones by shape
    // and colours (a signature that renaming keeps).
    std::unordered_map<uint64_t, std::vector<uint32_t>> uncoloured_;
    std::unordered_map<uint64_t, std::vector<uint32_t>> by_signature_;
    std::unordered_map<uint32_t, Colouring> coloured_;  // by step, the candidates' colourings
    std::unordered_set<uint64_t> shapes_seen_;
    uint64_t lookups_ = 0;
    uint64_t refinements_ = 0;
};

}  // namespace zelqor::search
