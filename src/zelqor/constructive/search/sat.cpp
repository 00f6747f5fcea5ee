#include "zelqor/constructive/search/sat.hpp"

#include <algorithm>

namespace zelqor::search {

namespace {

constexpr double kVarDecay = 0.95;
constexpr float kClauseDecay = 0.999f;
constexpr uint64_t kRestartUnit = 100;
constexpr uint64_t kCheckEvery = 256;

// The Luby sequence 1 1 2 1 1 2 4 1 1 2 ..., which spaces restarts.
uint64_t luby(uint64_t i) {
    uint64_t size = 1, sequence = 0;
    while (size < i + 1) {
        ++sequence;
        size = 2 * size + 1;
    }
    uint64_t x = i;
    while (size - 1 != x) {
        size = (size - 1) >> 1;
        --sequence;
        x = x % size;
    }
    return uint64_t{1} << sequence;
}

}  // namespace

Var SatSolver::new_var() {
    auto v = static_cast<Var>(assigns_.size());
    assigns_.push_back(0);
    levels_.push_back(0);
    reasons_.push_back(kNoReason);
    phase_.push_back(1);
    decision_.push_back(1);
    seen_.push_back(0);
    activity_.push_back(0.0);
    watches_.emplace_back();
    watches_.emplace_back();
    heap_index_.push_back(-1);
    heap_insert(v);
    return v;
}

SatSolver::ClauseRef SatSolver::allocate(std::span<const Lit> lits, bool learnt) {
    auto c = static_cast<ClauseRef>(arena_.size());
    arena_.push_back(static_cast<uint32_t>(lits.size()));
    arena_.push_back(learnt ? kLearnt : 0);
    arena_.push_back(0);
    arena_.insert(arena_.end(), lits.begin(), lits.end());
    return c;
}

void SatSolver::attach(ClauseRef c) {
    Lit *lits = literals(c);
    watches_[negate(lits[0])].push_back({c, lits[1]});
    watches_[negate(lits[1])].push_back({c, lits[0]});
}

bool SatSolver::add_clause(std::span<const Lit> clause) {
    if (!consistent_) return false;
    backtrack(0);
    // Drop false and repeated literals; a true or complementary one satisfies the clause.
    std::vector<Lit> lits(clause.begin(), clause.end());
    std::sort(lits.begin(), lits.end());
    size_t kept = 0;
    for (size_t i = 0; i < lits.size(); ++i) {
        Lit l = lits[i];
        if (value(l) > 0 || (kept > 0 && lits[kept - 1] == negate(l))) return true;
        if (value(l) < 0 || (kept > 0 && lits[kept - 1] == l)) continue;
        lits[kept++] = l;
    }
    lits.resize(kept);
    if (lits.empty()) {
        consistent_ = false;
        return false;
    }
    if (lits.size() == 1) {
        assign(lits[0], kNoReason);
        if (propagate() != kNoReason) consistent_ = false;
        return consistent_;
    }
    attach(allocate(lits, false));
    ++original_clauses_;
    return true;
}

void SatSolver::assign(Lit l, ClauseRef reason) {
    Var v = var_of(l);
    assigns_[v] = is_negative(l) ? -1 : 1;
    levels_[v] = decision_level();
    reasons_[v] = reason;
    trail_.push_back(l);
}

SatSolver::ClauseRef SatSolver::propagate() {
    ClauseRef conflict = kNoReason;
    while (propagated_ < trail_.size()) {
        Lit p = trail_[propagated_++];
        Lit false_lit = negate(p);
        std::vector<Watcher> &ws = watches_[p];
        size_t i = 0, j = 0, n = ws.size();
        while (i < n) {
            Watcher w = ws[i++];
            if (value(w.blocker) > 0) {
                ws[j++] = w;
                continue;
            }
            Lit *lits = literals(w.clause);
            if (lits[0] == false_lit) std::swap(lits[0], lits[1]);
            Lit first = lits[0];
            if (first != w.blocker && value(first) > 0) {
                ws[j++] = {w.clause, first};
                continue;
            }
            uint32_t size = clause_size(w.clause);
            bool moved = false;
            for (uint32_t k = 2; k < size; ++k) {
                if (value(lits[k]) >= 0) {
                    lits[1] = lits[k];
                    lits[k] = false_lit;
                    watches_[negate(lits[1])].push_back({w.clause, first});
                    moved = true;
                    break;
                }
            }
            if (moved) continue;
            ws[j++] = {w.clause, first};
            if (value(first) < 0) {
                conflict = w.clause;
                propagated_ = trail_.size();
                while (i < n) ws[j++] = ws[i++];
            } else {
                assign(first, w.clause);
            }
        }
        ws.resize(j);
        if (conflict != kNoReason) break;
    }
    return conflict;
}

void SatSolver::bump_var(Var v) {
    activity_[v] += var_increment_;
    if (activity_[v] > 1e100) {
        for (double &a : activity_) a *= 1e-100;
        var_increment_ *= 1e-100;
    }
    if (heap_contains(v)) heap_up(heap_index_[v]);
}

void SatSolver::bump_clause(ClauseRef c) {
    clause_activity(c) += clause_increment_;
    if (clause_activity(c) > 1e20f) {
        for (ClauseRef l : learnts_) clause_activity(l) *= 1e-20f;
        clause_increment_ *= 1e-20f;
    }
}

void SatSolver::analyze(ClauseRef conflict, std::vector<Lit> &learnt, uint32_t &backjump) {
    learnt.clear();
    learnt.push_back(kNoLit);
    int pending = 0;
    Lit p = kNoLit;
    size_t index = trail_.size();
    ClauseRef c = conflict;
    do {
        if (clause_flags(c) & kLearnt) bump_clause(c);
        Lit *lits = literals(c);
        uint32_t size = clause_size(c);
        for (uint32_t k = (p == kNoLit ? 0 : 1); k < size; ++k) {
            Var v = var_of(lits[k]);
            if (seen_[v] || levels_[v] == 0) continue;
            bump_var(v);
            seen_[v] = 1;
            if (levels_[v] >= decision_level()) {
                ++pending;
            } else {
                learnt.push_back(lits[k]);
            }
        }
        while (!seen_[var_of(trail_[--index])]) {}
        p = trail_[index];
        c = reasons_[var_of(p)];
        seen_[var_of(p)] = 0;
        --pending;
    } while (pending > 0);
    learnt[0] = negate(p);

    // Drop literals implied by the others through their reasons.
    size_t kept = 1;
    for (size_t i = 1; i < learnt.size(); ++i) {
        Var v = var_of(learnt[i]);
        ClauseRef r = reasons_[v];
        bool needed = r == kNoReason;
        if (!needed) {
            Lit *lits = literals(r);
            for (uint32_t k = 1; k < clause_size(r); ++k) {
                Var u = var_of(lits[k]);
                if (!seen_[u] && levels_[u] > 0) {
                    needed = true;
                    break;
                }
            }
        }
        if (needed) learnt[kept++] = learnt[i];
    }
    for (size_t i = 1; i < learnt.size(); ++i) seen_[var_of(learnt[i])] = 0;
    learnt.resize(kept);

    backjump = 0;
    if (learnt.size() > 1) {
        size_t best = 1;
        for (size_t i = 2; i < learnt.size(); ++i) {
            if (levels_[var_of(learnt[i])] > levels_[var_of(learnt[best])]) best = i;
        }
        std::swap(learnt[1], learnt[best]);
        backjump = levels_[var_of(learnt[1])];
    }
}

void SatSolver::analyze_final(Lit failed) {
    failed_.clear();
    failed_.push_back(failed);
    if (decision_level() == 0) return;
    seen_[var_of(failed)] = 1;
    for (size_t i = trail_.size(); i-- > trail_limits_[0];) {
        Var v = var_of(trail_[i]);
        if (!seen_[v]) continue;
        if (reasons_[v] == kNoReason) {
            failed_.push_back(trail_[i]);
        } else {
            ClauseRef r = reasons_[v];
            Lit *lits = literals(r);
            for (uint32_t k = 1; k < clause_size(r); ++k) {
                if (levels_[var_of(lits[k])] > 0) seen_[var_of(lits[k])] = 1;
            }
        }
        seen_[v] = 0;
    }
    seen_[var_of(failed)] = 0;
}

void SatSolver::backtrack(uint32_t level) {
    if (decision_level() <= level) return;
    for (size_t i = trail_.size(); i-- > trail_limits_[level];) {
        Var v = var_of(trail_[i]);
        phase_[v] = assigns_[v] > 0;
        assigns_[v] = 0;
        reasons_[v] = kNoReason;
        if (!heap_contains(v) && decision_[v]) heap_insert(v);
    }
    trail_.resize(trail_limits_[level]);
    propagated_ = trail_.size();
    trail_limits_.resize(level);
}

Lit SatSolver::pick_branch() {
    while (!heap_.empty()) {
        Var v = heap_pop();
        if (assigns_[v] == 0 && decision_[v]) return phase_[v] ? positive(v) : negative(v);
    }
    return kNoLit;
}

bool SatSolver::locked(ClauseRef c) {
    Lit first = literals(c)[0];
    return value(first) > 0 && reasons_[var_of(first)] == c;
}

void SatSolver::reduce_learnts() {
    std::sort(learnts_.begin(), learnts_.end(), [this](ClauseRef a, ClauseRef b) {
        bool short_a = clause_size(a) <= 2, short_b = clause_size(b) <= 2;
        if (short_a != short_b) return short_b;
        return clause_activity(a) < clause_activity(b);
    });
    size_t half = learnts_.size() / 2, kept = 0;
    for (size_t i = 0; i < learnts_.size(); ++i) {
        ClauseRef c = learnts_[i];
        if (i < half && clause_size(c) > 2 && !locked(c)) {
            clause_flags(c) |= kDeleted;
            wasted_ += kHeader + clause_size(c);
        } else {
            learnts_[kept++] = c;
        }
    }
    learnts_.resize(kept);
    for (auto &ws : watches_) {
        ws.erase(std::remove_if(ws.begin(), ws.end(),
                                [this](const Watcher &w) { return (clause_flags(w.clause) & kDeleted) != 0; }),
                 ws.end());
    }
    if (wasted_ * 2 > arena_.size()) collect_garbage();
}

// Moves the live clauses to a fresh arena and updates every reference to them.
void SatSolver::collect_garbage() {
    std::vector<uint32_t> fresh;
    fresh.reserve(arena_.size() - wasted_);
    std::vector<ClauseRef> moved_to(arena_.size(), kNoReason);
    for (ClauseRef c = 0; c < arena_.size(); c += kHeader + arena_[c]) {
        if (arena_[c + 1] & kDeleted) continue;
        moved_to[c] = static_cast<ClauseRef>(fresh.size());
        fresh.insert(fresh.end(), arena_.begin() + c, arena_.begin() + c + kHeader + arena_[c]);
    }
    for (auto &ws : watches_) {
        for (Watcher &w : ws) w.clause = moved_to[w.clause];
    }
    for (Lit l : trail_) {
        ClauseRef &r = reasons_[var_of(l)];
        if (r != kNoReason) r = moved_to[r];
    }
    for (ClauseRef &c : learnts_) c = moved_to[c];
    arena_.swap(fresh);
    wasted_ = 0;
}

SatSolver::Outcome SatSolver::search(std::span<const Lit> assumptions, uint64_t restart_after, Limits &limits) {
    uint64_t local_conflicts = 0;
    for (;;) {
        ClauseRef conflict = propagate();
        if (conflict != kNoReason) {
            ++conflicts_;
            ++local_conflicts;
            if (decision_level() == 0) {
                consistent_ = false;
                failed_.clear();
                return Outcome::Unsatisfiable;
            }
            uint32_t backjump = 0;
            analyze(conflict, learnt_, backjump);
            backtrack(backjump);
            if (learnt_.size() == 1) {
                assign(learnt_[0], kNoReason);
            } else {
                ClauseRef c = allocate(learnt_, true);
                learnts_.push_back(c);
                attach(c);
                bump_clause(c);
                assign(learnt_[0], c);
            }
            var_increment_ /= kVarDecay;
            clause_increment_ /= kClauseDecay;
            if (limits.work_left == 0) {
                limits.stopped = true;
                return Outcome::Stopped;
            }
            --limits.work_left;
            if (conflicts_ % kCheckEvery == 0 && limits.interrupted != nullptr &&
                limits.interrupted(limits.context)) {
                limits.stopped = true;
                return Outcome::Stopped;
            }
            continue;
        }
        if (local_conflicts >= restart_after) {
            backtrack(0);
            return Outcome::Stopped;  // a restart, not the end
        }
        if (static_cast<double>(learnts_.size()) >= max_learnts_ + static_cast<double>(trail_.size())) {
            reduce_learnts();
            max_learnts_ *= 1.05;
        }
        Lit next = kNoLit;
        while (decision_level() < assumptions.size()) {
            Lit a = assumptions[decision_level()];
            if (value(a) > 0) {
                trail_limits_.push_back(static_cast<uint32_t>(trail_.size()));
            } else if (value(a) < 0) {
                analyze_final(a);
                return Outcome::Unsatisfiable;
            } else {
                next = a;
                break;
            }
        }
        if (next == kNoLit) {
            next = pick_branch();
            if (next == kNoLit) return Outcome::Satisfiable;
        }
        trail_limits_.push_back(static_cast<uint32_t>(trail_.size()));
        assign(next, kNoReason);
    }
}

void SatSolver::set_decision(Var v, bool decide) {
    decision_[v] = decide ? 1 : 0;
    if (decide && assigns_[v] == 0 && !heap_contains(v)) heap_insert(v);
    // A variable no longer decided on leaves the heap when it comes up.
}

SatSolver::Outcome SatSolver::solve(std::span<const Lit> assumptions, Limits &limits) {
    backtrack(0);
    failed_.clear();
    if (!consistent_) return Outcome::Unsatisfiable;
    max_learnts_ = std::max(max_learnts_, original_clauses_ / 3.0);
    for (uint64_t round = 0;; ++round) {
        Outcome outcome = search(assumptions, luby(round) * kRestartUnit, limits);
        if (outcome == Outcome::Stopped && !limits.stopped) continue;
        if (outcome != Outcome::Satisfiable) backtrack(0);  // a model stays readable until the next call
        return outcome;
    }
}

// ---- activity heap ---------------------------------------------------------------------

void SatSolver::heap_insert(Var v) {
    heap_index_[v] = static_cast<int32_t>(heap_.size());
    heap_.push_back(v);
    heap_up(heap_index_[v]);
}

Var SatSolver::heap_pop() {
    Var top = heap_[0];
    Var last = heap_.back();
    heap_.pop_back();
    heap_index_[top] = -1;
    if (!heap_.empty()) {
        heap_[0] = last;
        heap_index_[last] = 0;
        heap_down(0);
    }
    return top;
}

void SatSolver::heap_up(int32_t i) {
    Var v = heap_[i];
    while (i > 0) {
        int32_t parent = (i - 1) >> 1;
        if (activity_[heap_[parent]] >= activity_[v]) break;
        heap_[i] = heap_[parent];
        heap_index_[heap_[i]] = i;
        i = parent;
    }
    heap_[i] = v;
    heap_index_[v] = i;
}

void SatSolver::heap_down(int32_t i) {
    Var v = heap_[i];
    auto n = static_cast<int32_t>(heap_.size());
    for (;;) {
        int32_t child = 2 * i + 1;
        if (child >= n) break;
        if (child + 1 < n && activity_[heap_[child + 1]] > activity_[heap_[child]]) ++child;
        if (activity_[heap_[child]] <= activity_[v]) break;
        heap_[i] = heap_[child];
        heap_index_[heap_[i]] = i;
        i = child;
    }
    heap_[i] = v;
    heap_index_[v] = i;
}

}  // namespace zelqor::search
