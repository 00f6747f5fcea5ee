// Deciding a sequent by searching for a Kripke countermodel.
//
// Every formula is named by a variable of a classical solver, whose clauses
// say what each name means: conjunctions and disjunctions completely,
// an implication c = (a -> b) by the clauses c & a -> b and b -> c. The
// direction (a -> b) -> c is not classical; it is kept aside and checked
// world by world.
//
// A world is a classical model of the clauses. Where it makes c false, the
// implication a -> b must fail above it: at the world itself when a holds
// there, at a world already built above it, or at a new world, searched for
// with everything true here still true and a added, b refuted. When that
// search fails instead, a -> b follows from the assumptions it used, hence c
// does: the solver learns that clause and the world is looked for again.
// Every learnt clause is an intuitionistic consequence of the definitions,
// because for clauses of this shape classical and intuitionistic consequence
// of an atom coincide; so a query whose clauses refute it is valid.
// Each new world makes one more name true, so the search ends.
#pragma once

#include "zelqor/constructive/search/sat.hpp"
#include "zelqor/constructive/search/store.hpp"

#include <span>
#include <vector>

namespace zelqor::search {

enum class Verdict : uint8_t {
    Valid,
    Invalid,
    Stopped,  // the budget ran out
    Error,    // a Python exception is set (Ctrl-C, recursion limit)
};

// A finite Kripke model over the atoms of the store: worlds[0] is where the
// query fails, the others numbered breadth first from it; each world lists
// the atoms it forces and the worlds just above it (the order is the
// reflexive and transitive closure of these).
struct Countermodel {
    struct World {
        std::vector<uint32_t> atoms;        // atom indices of the vocabulary, ascending
        std::vector<uint32_t> successors;
    };
    std::vector<World> worlds;
};

class CountermodelSearch {
public:
    CountermodelSearch(const Store &store, Limits &limits) : store_(store), limits_(limits) {}

    // Whether the hypotheses intuitionistically entail the goal.
    Verdict decide(std::span<const FormulaId> hypotheses, FormulaId goal);
    // After Invalid: a model whose first world forces the hypotheses and not
    // the goal, with no two worlds alike in atoms and successors.
    Countermodel countermodel() const;

    uint64_t queries() const { return queries_; }
    uint64_t worlds_built() const { return worlds_built_; }
    uint64_t conflicts() const { return sat_.conflicts(); }
    uint64_t rounds() const { return rounds_; }

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct WorldRecord {
        size_t bits;                          // offset in bits_
        std::vector<uint32_t> successors;     // worlds of pool_
    };

    void define(FormulaId f);
    void define_junction(Var name, std::span<const FormulaId> members, bool conjunction);
    void collect_cone(std::span<const FormulaId> hypotheses, FormulaId goal);
    Verdict refute(const std::vector<Var> &assumed, Var goal, uint32_t &world, std::vector<Var> &core);
    uint32_t find_witness(const std::vector<uint64_t> &here, uint32_t holds, uint32_t fails) const;
    bool test(size_t offset, uint32_t position) const {
        return ((bits_[offset + (position >> 6)] >> (position & 63)) & 1) != 0;
    }
    Verdict stop_verdict() const;

    const Store &store_;
    Limits &limits_;
    SatSolver sat_;
    std::vector<Var> var_of_;            // by formula
    std::vector<FormulaId> formula_of_;  // by variable

    // The query being decided: the formulas it can reach (its cone), and the
    // worlds built for it.
    std::vector<uint32_t> position_of_;  // by variable: index in cone_vars_, or kNone
    std::vector<Var> cone_vars_;
    std::vector<uint8_t> persists_;      // by cone position: an atom or implication, assumed above
    std::vector<FormulaId> cone_implications_;
    size_t words_ = 0;
    std::vector<WorldRecord> pool_;
    std::vector<uint64_t> bits_;
    uint32_t failing_world_ = kNone;

    uint64_t queries_ = 0;
    uint64_t worlds_built_ = 0;
    uint64_t rounds_ = 0;
};

}  // namespace zelqor::search
