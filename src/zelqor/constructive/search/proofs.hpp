// Derivations in a contraction-free sequent calculus, built by a search that
// never backtracks: the rules that keep validity both ways are applied
// eagerly, and where a choice must be made (a disjunct to prove, or an
// implication whose antecedent is itself an implication) the countermodel
// search tells a valid premise from an invalid one before it is explored.
// When no choice is valid the sequent has a countermodel, and so has the
// formula, since every sequent met on the way follows from it by rules that
// keep countermodels.
//
// A derivation is a list of steps, each a sequent with the rule that closes
// it and the earlier steps it rests on; a sequent met twice is derived once.
// With symmetric formulas a step may also be a renaming of atoms in a sequent
// derived earlier.
#pragma once

#include "zelqor/constructive/search/countermodels.hpp"

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelqor::search {

enum class Rule : uint8_t {
    Axiom,               // the goal is a hypothesis
    FalsumLeft,          // falsum is a hypothesis
    VerumRight,          // the goal is verum
    Weaken,              // the premise has fewer hypotheses
    AndLeft,
    AndRight,            // one premise per conjunct
    OrLeft,              // one premise per disjunct
    OrRight,             // the premise proves a disjunct, or a disjunction of some of them
    ImpliesRight,
    ImpliesLeft,         // A -> B with A a hypothesis (or verum) becomes B
    ImpliesLeftAnd,      // (A & C) -> B becomes A -> (C -> B)
    ImpliesLeftOr,       // (A | C) -> B becomes A -> B, C -> B
    ImpliesLeftImplies,  // (A -> C) -> B: C -> B |- A -> C, and B |- goal
    Rename,              // atoms renamed in an earlier sequent
};
inline constexpr int kRuleCount = 14;
const char *rule_name(Rule rule);

struct Sequent {
    std::vector<FormulaId> hypotheses;  // ascending, without repeats
    FormulaId goal = kNoFormula;
    bool operator==(const Sequent &other) const = default;
};

struct SequentHash {
    size_t operator()(const Sequent &s) const noexcept;
};

struct Step {
    Sequent sequent;
    Rule rule;
    FormulaId principal;        // the formula the rule works on, or kNoFormula
    uint32_t first_premise;     // into ProofSearch::premises()
    uint32_t premise_count;
    uint32_t renaming;          // into ProofSearch::renamings(), for Rename
};

// An atom renaming: pairs (atom in the premise, atom in the conclusion) of
// formulas of the store.
using Renaming = std::vector<std::pair<FormulaId, FormulaId>>;

class SymmetryIndex;
class AtomMaker;

class ProofSearch {
public:
    enum class Outcome : uint8_t { Proved, Refuted, Stopped, Error };

    // `maker`, when given, makes the fresh atoms of lifted sequents.
    ProofSearch(Store &store, Limits &limits, AtomMaker *maker = nullptr);
    ~ProofSearch();

    // Decides the formula: first a short look for a countermodel (at most
    // `first_look` rounds and conflicts), then the derivation, with the
    // countermodel search at every choice.
    Outcome run(FormulaId formula, uint64_t first_look);

    const std::vector<Step> &steps() const { return steps_; }
    const std::vector<uint32_t> &premises() const { return premises_; }
    const std::vector<Renaming> &renamings() const { return renamings_; }
    uint32_t root() const { return root_; }
    const Countermodel &countermodel() const { return countermodel_; }
    const CountermodelSearch &oracle() const { return oracle_; }
    uint64_t renamed() const { return renamed_; }
    const SymmetryIndex *symmetry() const { return symmetry_.get(); }

private:
    static constexpr uint32_t kFailed = UINT32_MAX;

    uint32_t prove(Sequent sequent);
    uint32_t prove_branching(Sequent sequent);
    uint32_t choose(Sequent sequent);
    uint32_t try_lifted(const Sequent &sequent);
    uint32_t lookup(const Sequent &sequent);
    bool closes(const Sequent &sequent, Rule &rule, FormulaId &principal) const;
    bool one_premise(const Sequent &sequent, Rule &rule, FormulaId &principal, Sequent &premise);
    bool closable(const Sequent &sequent, FormulaId goal, uint32_t depth) const;
    uint32_t close_positively(const Sequent &sequent, FormulaId goal);
    uint32_t add_step(Sequent sequent, Rule rule, FormulaId principal, std::initializer_list<uint32_t> premises);
    uint32_t add_step(Sequent sequent, Rule rule, FormulaId principal, const std::vector<uint32_t> &premises);
    bool has(const Sequent &sequent, FormulaId f) const;
    const std::vector<FormulaId> &atoms_of(FormulaId f);
    FormulaId live_disjuncts(const Sequent &sequent);
    bool spend();
    uint32_t fail(Outcome outcome) {
        outcome_ = outcome;
        return kFailed;
    }

    Store &store_;
    Limits &limits_;
    AtomMaker *maker_;
    bool lift_tried_ = false;
    CountermodelSearch oracle_;
    std::unique_ptr<SymmetryIndex> symmetry_;
    std::vector<Step> steps_;
    std::vector<uint32_t> premises_;
    std::vector<Renaming> renamings_;
    std::unordered_map<Sequent, uint32_t, SequentHash> proved_;
    Countermodel countermodel_;
    std::vector<std::vector<FormulaId>> atoms_;  // by formula, once computed
    std::vector<uint8_t> atoms_known_;
    Outcome outcome_ = Outcome::Proved;
    uint32_t root_ = kFailed;
    uint64_t visits_ = 0;
    uint64_t renamed_ = 0;
};

}  // namespace zelqor::search
