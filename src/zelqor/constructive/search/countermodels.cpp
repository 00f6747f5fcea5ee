#include "zelqor/constructive/search/countermodels.hpp"

#include "common/guard.hpp"

#include <algorithm>
#include <map>

namespace zelqor::search {

namespace {
constexpr Var kNoVar = UINT32_MAX;
constexpr uint64_t kCheckRounds = 64;
}  // namespace

// Gives `f` and everything below it a variable and the clauses of its name.
// Clauses saying that `name` is the conjunction (or the disjunction) of `members`.
void CountermodelSearch::define_junction(Var name, std::span<const FormulaId> members, bool conjunction) {
    auto lit = [](Var v, bool positive_side) { return positive_side ? positive(v) : negative(v); };
    std::vector<Lit> whole{lit(name, conjunction)};
    for (FormulaId m : members) {
        Lit part[2] = {lit(name, !conjunction), lit(var_of_[m], conjunction)};
        sat_.add_clause(part);
        whole.push_back(lit(var_of_[m], !conjunction));
    }
    sat_.add_clause(whole);
}

// Gives `f` and everything below it a variable and the clauses of its name.
void CountermodelSearch::define(FormulaId f) {
    if (var_of_.size() < store_.size()) var_of_.resize(store_.size(), kNoVar);
    if (var_of_[f] != kNoVar) return;
    FormulaId root[1] = {f};
    for (FormulaId next : store_.reach(root, [&](FormulaId g) { return var_of_[g] != kNoVar; })) {
        if (var_of_[next] != kNoVar) continue;
        Var name = sat_.new_var();
        sat_.set_decision(name, false);  // until a query needs it
        var_of_[next] = name;
        formula_of_.push_back(next);
        switch (store_.kind(next)) {
            case Kind::Atom: break;
            case Kind::Falsum: {
                Lit never[1] = {negative(name)};
                sat_.add_clause(never);
                break;
            }
            case Kind::Verum: {
                Lit always[1] = {positive(name)};
                sat_.add_clause(always);
                break;
            }
            case Kind::And: define_junction(name, store_.members(next), true); break;
            case Kind::Or: define_junction(name, store_.members(next), false); break;
            case Kind::Implies: {
                Var a = var_of_[store_.antecedent(next)], b = var_of_[store_.consequent(next)];
                Lit apply[3] = {negative(name), negative(a), positive(b)};
                Lit weaken[2] = {positive(name), negative(b)};
                sat_.add_clause(apply);
                sat_.add_clause(weaken);
                break;
            }
        }
    }
}

void CountermodelSearch::collect_cone(std::span<const FormulaId> hypotheses, FormulaId goal) {
    // The solver branches on the formulas of this query only.
    for (Var v : cone_vars_) sat_.set_decision(v, false);
    position_of_.assign(sat_.var_count(), kNone);
    cone_vars_.clear();
    persists_.clear();
    cone_implications_.clear();
    std::vector<FormulaId> roots(hypotheses.begin(), hypotheses.end());
    roots.push_back(goal);
    for (FormulaId f : store_.reach(roots)) {
        Var v = var_of_[f];
        position_of_[v] = static_cast<uint32_t>(cone_vars_.size());
        cone_vars_.push_back(v);
        sat_.set_decision(v, true);
        Kind kind = store_.kind(f);
        persists_.push_back(kind == Kind::Atom || kind == Kind::Implies);
        if (kind == Kind::Implies) cone_implications_.push_back(f);
    }
    words_ = (cone_vars_.size() + 63) / 64;
    pool_.clear();
    bits_.clear();
    failing_world_ = kNone;
}

Verdict CountermodelSearch::decide(std::span<const FormulaId> hypotheses, FormulaId goal) {
    ++queries_;
    for (FormulaId h : hypotheses) define(h);
    define(goal);
    collect_cone(hypotheses, goal);
    std::vector<Var> assumed;
    assumed.reserve(hypotheses.size());
    for (FormulaId h : hypotheses) assumed.push_back(var_of_[h]);
    std::vector<Var> core;
    uint32_t world = kNone;
    Verdict verdict = refute(assumed, var_of_[goal], world, core);
    if (verdict == Verdict::Invalid) failing_world_ = world;
    return verdict;
}

Verdict CountermodelSearch::stop_verdict() const { return PyErr_Occurred() ? Verdict::Error : Verdict::Stopped; }

uint32_t CountermodelSearch::find_witness(const std::vector<uint64_t> &here, uint32_t holds, uint32_t fails) const {
    for (uint32_t u = 0; u < pool_.size(); ++u) {
        size_t offset = pool_[u].bits;
        if (!test(offset, holds) || test(offset, fails)) continue;
        bool above = true;
        for (size_t w = 0; w < words_ && above; ++w) above = (here[w] & ~bits_[offset + w]) == 0;
        if (above) return u;
    }
    return kNone;
}

Verdict CountermodelSearch::refute(const std::vector<Var> &assumed, Var goal, uint32_t &world,
                                   std::vector<Var> &core) {
    RecursionGuard guard(" in the countermodel search");
    if (!guard.ok()) return Verdict::Error;
    std::vector<Lit> assumptions;
    assumptions.reserve(assumed.size() + 1);
    for (Var v : assumed) assumptions.push_back(positive(v));
    assumptions.push_back(negative(goal));
    std::vector<uint64_t> here(words_);
    std::vector<uint32_t> successors;
    std::vector<Var> child_assumed, child_core;
    std::vector<Lit> learnt;
    for (;;) {
        // A round costs in proportion to the formulas it looks at.
        uint64_t cost = 1 + cone_vars_.size() / 1024;
        if (limits_.work_left < cost) {
            limits_.work_left = 0;
            limits_.stopped = true;
            return Verdict::Stopped;
        }
        limits_.work_left -= cost;
        if (++rounds_ % kCheckRounds == 0 && limits_.interrupted != nullptr && limits_.interrupted(limits_.context)) {
            limits_.stopped = true;
            return stop_verdict();
        }
        SatSolver::Outcome outcome = sat_.solve(assumptions, limits_);
        if (outcome == SatSolver::Outcome::Stopped) return stop_verdict();
        if (outcome == SatSolver::Outcome::Unsatisfiable) {
            core.clear();
            for (Lit l : sat_.failed_assumptions()) {
                if (!is_negative(l)) core.push_back(var_of(l));
            }
            return Verdict::Valid;
        }
        std::fill(here.begin(), here.end(), 0);
        for (uint32_t i = 0; i < cone_vars_.size(); ++i) {
            if (sat_.model_value(cone_vars_[i])) here[i >> 6] |= uint64_t{1} << (i & 63);
        }
        auto holds_here = [&](Var v) {
            uint32_t i = position_of_[v];
            return ((here[i >> 6] >> (i & 63)) & 1) != 0;
        };
        successors.clear();
        bool learned = false;
        for (FormulaId implication : cone_implications_) {
            Var c = var_of_[implication];
            Var a = var_of_[store_.antecedent(implication)];
            Var b = var_of_[store_.consequent(implication)];
            if (holds_here(c) || holds_here(a)) continue;  // forced, or refuted right here
            uint32_t witness = find_witness(here, position_of_[a], position_of_[b]);
            if (witness != kNone) {
                successors.push_back(witness);
                continue;
            }
            // What holds here holds above: the true atoms and implications
            // fix the rest through the clauses.
            child_assumed.clear();
            for (uint32_t i = 0; i < cone_vars_.size(); ++i) {
                if (((here[i >> 6] >> (i & 63)) & 1) && persists_[i]) child_assumed.push_back(cone_vars_[i]);
            }
            child_assumed.push_back(a);
            uint32_t child = kNone;
            Verdict verdict = refute(child_assumed, b, child, child_core);
            if (verdict == Verdict::Valid) {
                // The true names (with a) yield b: they yield a -> b, hence c.
                learnt.clear();
                for (Var v : child_core) {
                    if (v != a) learnt.push_back(negative(v));
                }
                learnt.push_back(positive(c));
                sat_.add_clause(learnt);
                learned = true;
                break;
            }
            if (verdict != Verdict::Invalid) return verdict;
            successors.push_back(child);
        }
        if (learned) continue;
        std::sort(successors.begin(), successors.end());
        successors.erase(std::unique(successors.begin(), successors.end()), successors.end());
        size_t offset = bits_.size();
        bits_.insert(bits_.end(), here.begin(), here.end());
        world = static_cast<uint32_t>(pool_.size());
        pool_.push_back({offset, successors});
        ++worlds_built_;
        return Verdict::Invalid;
    }
}

Countermodel CountermodelSearch::countermodel() const {
    Countermodel model;
    if (failing_world_ == kNone) return model;
    // Worlds after their successors (post-order from the failing world), each
    // with its immediate successors only, and merged with an earlier one of
    // the same atoms and successors.
    std::vector<uint32_t> merged(pool_.size(), kNone);
    std::map<std::pair<std::vector<uint32_t>, std::vector<uint32_t>>, uint32_t> seen;
    std::vector<Countermodel::World> found;
    std::vector<std::vector<uint32_t>> reach;  // by merged world: the worlds it sees, ascending
    std::vector<std::pair<uint32_t, size_t>> stack{{failing_world_, 0}};
    std::vector<uint8_t> entered(pool_.size(), 0);
    entered[failing_world_] = 1;
    while (!stack.empty()) {
        auto &[u, next] = stack.back();
        const WorldRecord &record = pool_[u];
        if (next < record.successors.size()) {
            uint32_t v = record.successors[next++];
            if (!entered[v]) {
                entered[v] = 1;
                stack.push_back({v, 0});
            }
            continue;
        }
        Countermodel::World w;
        for (uint32_t i = 0; i < cone_vars_.size(); ++i) {
            FormulaId f = formula_of_[cone_vars_[i]];
            if (store_.kind(f) == Kind::Atom && test(record.bits, i)) w.atoms.push_back(store_.atom_index(f));
        }
        std::sort(w.atoms.begin(), w.atoms.end());
        std::vector<uint32_t> above;
        for (uint32_t v : record.successors) above.push_back(merged[v]);
        std::sort(above.begin(), above.end());
        above.erase(std::unique(above.begin(), above.end()), above.end());
        // Only the worlds just above: none that another successor already sees.
        for (uint32_t v : above) {
            bool covered = false;
            for (uint32_t other : above) {
                covered = covered || (other != v && std::binary_search(reach[other].begin(), reach[other].end(), v));
            }
            if (!covered) w.successors.push_back(v);
        }
        auto key = std::make_pair(w.atoms, w.successors);
        auto hit = seen.find(key);
        if (hit != seen.end()) {
            merged[u] = hit->second;
        } else {
            merged[u] = static_cast<uint32_t>(found.size());
            std::vector<uint32_t> sees{merged[u]};
            for (uint32_t v : w.successors) sees.insert(sees.end(), reach[v].begin(), reach[v].end());
            std::sort(sees.begin(), sees.end());
            sees.erase(std::unique(sees.begin(), sees.end()), sees.end());
            reach.push_back(std::move(sees));
            seen.emplace(std::move(key), merged[u]);
            found.push_back(std::move(w));
        }
        stack.pop_back();
    }
    // Number the worlds from the failing one, breadth first.
    std::vector<uint32_t> order{merged[failing_world_]};
    std::vector<uint32_t> number(found.size(), kNone);
    number[order[0]] = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        for (uint32_t v : found[order[i]].successors) {
            if (number[v] == kNone) {
                number[v] = static_cast<uint32_t>(order.size());
                order.push_back(v);
            }
        }
    }
    model.worlds.resize(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        Countermodel::World &w = model.worlds[i];
        w.atoms = found[order[i]].atoms;
        for (uint32_t v : found[order[i]].successors) w.successors.push_back(number[v]);
        std::sort(w.successors.begin(), w.successors.end());
    }
    return model;
}

}  // namespace zelqor::search
