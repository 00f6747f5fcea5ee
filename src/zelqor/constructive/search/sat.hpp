// A conflict-driven clause-learning solver for classical propositional
// clauses, incremental and queried under assumptions: the classical core of
// the semantic search. Clauses can be added between queries; a refuted query
// names the assumptions its refutation used.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zelqor::search {

using Var = uint32_t;
using Lit = uint32_t;  // 2 * var, plus 1 when negated

inline constexpr Lit positive(Var v) { return v << 1; }
inline constexpr Lit negative(Var v) { return (v << 1) | 1; }
inline constexpr Lit negate(Lit l) { return l ^ 1; }
inline constexpr Var var_of(Lit l) { return l >> 1; }
inline constexpr bool is_negative(Lit l) { return (l & 1) != 0; }

// What a search may still spend, and how it learns that it must stop. Work
// is counted in conflicts of the solver, rounds of the countermodel search
// (more for larger formulas) and sequents visited by the proof search.
struct Limits {
    uint64_t work_left = UINT64_MAX;
    // Asked every few hundred conflicts; true stops the search (Ctrl-C).
    bool (*interrupted)(void *context) = nullptr;
    void *context = nullptr;
    bool stopped = false;  // set when a query gave up
};

class SatSolver {
public:
    enum class Outcome : uint8_t { Satisfiable, Unsatisfiable, Stopped };

    Var new_var();
    size_t var_count() const { return assigns_.size(); }
    // Adds a clause for good. Returns false once the clauses are contradictory.
    bool add_clause(std::span<const Lit> clause);
    Outcome solve(std::span<const Lit> assumptions, Limits &limits);
    // After Satisfiable, until the next call: the value of `v` in the model
    // found. Only variables the search decides on are sure to have one.
    bool model_value(Var v) const { return assigns_[v] > 0; }
    // Whether the search branches on `v` (initially yes). A variable it does
    // not branch on keeps a value only where the clauses force one: a query
    // about some formulas need not settle all the others.
    void set_decision(Var v, bool decide);
    // After Unsatisfiable: the assumptions whose conjunction the clauses refute.
    const std::vector<Lit> &failed_assumptions() const { return failed_; }
    uint64_t conflicts() const { return conflicts_; }

private:
    using ClauseRef = uint32_t;
    static constexpr ClauseRef kNoReason = UINT32_MAX;
    static constexpr Lit kNoLit = UINT32_MAX;
    struct Watcher {
        ClauseRef clause;
        Lit blocker;
    };
    // Clause layout in the arena: size, flags, activity, literals.
    static constexpr uint32_t kHeader = 3;
    static constexpr uint32_t kLearnt = 1, kDeleted = 2;

    int8_t value(Lit l) const { return is_negative(l) ? -assigns_[var_of(l)] : assigns_[var_of(l)]; }
    uint32_t decision_level() const { return static_cast<uint32_t>(trail_limits_.size()); }
    uint32_t &clause_size(ClauseRef c) { return arena_[c]; }
    uint32_t &clause_flags(ClauseRef c) { return arena_[c + 1]; }
    float &clause_activity(ClauseRef c) { return reinterpret_cast<float &>(arena_[c + 2]); }
    Lit *literals(ClauseRef c) { return arena_.data() + c + kHeader; }

    ClauseRef allocate(std::span<const Lit> lits, bool learnt);
    void attach(ClauseRef c);
    void assign(Lit l, ClauseRef reason);
    ClauseRef propagate();
    void analyze(ClauseRef conflict, std::vector<Lit> &learnt, uint32_t &backjump);
    void analyze_final(Lit failed);
    void backtrack(uint32_t level);
    Lit pick_branch();
    Outcome search(std::span<const Lit> assumptions, uint64_t restart_after, Limits &limits);
    bool locked(ClauseRef c);
    void reduce_learnts();
    void collect_garbage();
    void bump_var(Var v);
    void bump_clause(ClauseRef c);

    // Order of unassigned variables by activity (a binary heap).
    bool heap_contains(Var v) const { return v < heap_index_.size() && heap_index_[v] >= 0; }
    void heap_insert(Var v);
    Var heap_pop();
    void heap_up(int32_t i);
    void heap_down(int32_t i);

    std::vector<uint32_t> arena_;
    uint32_t wasted_ = 0;
    std::vector<ClauseRef> learnts_;
    std::vector<std::vector<Watcher>> watches_;  // by the literal whose truth wakes them
    std::vector<int8_t> assigns_;
    std::vector<uint8_t> decision_;
    std::vector<uint32_t> levels_;
    std::vector<ClauseRef> reasons_;
    std::vector<uint8_t> phase_;  // 1: last assigned true
    std::vector<uint8_t> seen_;
    std::vector<double> activity_;
    std::vector<Var> heap_;
    std::vector<int32_t> heap_index_;
    std::vector<Lit> trail_;
    std::vector<uint32_t> trail_limits_;
    size_t propagated_ = 0;
    std::vector<Lit> failed_;
    std::vector<Lit> learnt_;
    double var_increment_ = 1.0;
    float clause_increment_ = 1.0f;
    double max_learnts_ = 4000;
    uint64_t conflicts_ = 0;
    uint32_t original_clauses_ = 0;
    bool consistent_ = true;
};

}  // namespace zelqor::search
