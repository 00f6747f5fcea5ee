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

#include <algorithm>
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
    bool compound(FormulaId f) const {
        Kind k = nodes_[f].kind;
        return k == Kind::And || k == Kind::Or || k == Kind::Implies;
    }

    // The formulas `roots` reach through members and sides, each once, in
    // ascending order (so members come before what is made of them). A
    // formula for which `stop` holds is listed but not looked into.
    template <typename Stop>
    std::vector<FormulaId> reach(std::span<const FormulaId> roots, Stop stop) const {
        if (marks_.size() < nodes_.size()) marks_.resize(nodes_.size(), 0);
        if (++epoch_ == 0) {  // the stamps wrapped around: start afresh
            std::fill(marks_.begin(), marks_.end(), 0);
            epoch_ = 1;
        }
        std::vector<FormulaId> found, stack;
        for (FormulaId r : roots) {
            if (marks_[r] != epoch_) {
                marks_[r] = epoch_;
                stack.push_back(r);
            }
        }
        while (!stack.empty()) {
            FormulaId f = stack.back();
            stack.pop_back();
            found.push_back(f);
            if (!compound(f) || stop(f)) continue;
            for (FormulaId m : members(f)) {
                if (marks_[m] != epoch_) {
                    marks_[m] = epoch_;
                    stack.push_back(m);
                }
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    std::vector<FormulaId> reach(std::span<const FormulaId> roots) const {
        return reach(roots, [](FormulaId) { return false; });
    }

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
    mutable std::vector<uint32_t> marks_;  // visit stamps of reach()
    mutable uint32_t epoch_ = 0;
};

}  // namespace zelqor::search
