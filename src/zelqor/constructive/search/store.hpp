// The formulas one search works on, each stored once.
//
// A formula is a small integer. Conjunctions and disjunctions are n-ary and
// read modulo associativity, commutativity and idempotence: their members
// are flattened, sorted and without repeats, a single member stands for
// itself, and the empty ones are verum and falsum. Negation is implication
// into falsum and an equivalence the conjunction of its two implications, so
// six kinds cover every propositional formula. Members are always stored
// before the formulas built from them, so ascending order is bottom-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelqor::search {

using FormulaId = uint32_t;
inline constexpr FormulaId kNoFormula = UINT32_MAX;

enum class Kind : uint8_t { Atom, Falsum, Verum, And, Or, Implies };

class Store {
public:
    Store();

    static constexpr FormulaId falsum() { return 0; }
    static constexpr FormulaId verum() { return 1; }
    // The atom with the caller's index `atom` (an index into its own table).
    FormulaId atom(uint32_t atom);
    FormulaId conjunction(std::span<const FormulaId> members);
    FormulaId disjunction(std::span<const FormulaId> members);
    FormulaId implication(FormulaId antecedent, FormulaId consequent);
    FormulaId negation(FormulaId operand) { return implication(operand, falsum()); }
    FormulaId equivalence(FormulaId left, FormulaId right);

    Kind kind(FormulaId f) const { return nodes_[f].kind; }
    // Members of a conjunction or disjunction, ascending; antecedent and
    // consequent of an implication. The view lasts until the next formula is made.
    std::span<const FormulaId> members(FormulaId f) const {
        const Node &n = nodes_[f];
        return {pool_.data() + n.first, n.count};
    }
    FormulaId antecedent(FormulaId f) const { return pool_[nodes_[f].first]; }
    FormulaId consequent(FormulaId f) const { return pool_[nodes_[f].first + 1]; }
    uint32_t atom_index(FormulaId f) const { return nodes_[f].first; }
    size_t size() const { return nodes_.size(); }

private:
    struct Node {
        Kind kind;
        uint32_t first;   // atoms: the caller's index; others: offset into pool_
        uint32_t count;
        uint64_t hash;
    };
    FormulaId junction(Kind kind, std::span<const FormulaId> members);
    FormulaId intern(Kind kind, uint32_t first_or_atom, const FormulaId *members, uint32_t count);
    bool same(const Node &node, Kind kind, uint32_t atom, const FormulaId *members, uint32_t count) const;
    void grow_table();

    std::vector<Node> nodes_;
    std::vector<FormulaId> pool_;
    std::vector<uint32_t> table_;   // open addressing: formula + 1, 0 empty
    std::vector<FormulaId> scratch_;
};

}  // namespace zelqor::search
