#include "zelqor/constructive/search/proofs.hpp"

#include "common/guard.hpp"
#include "zelqor/constructive/search/lifting.hpp"
#include "zelqor/constructive/search/symmetry.hpp"

#include <algorithm>

namespace zelqor::search {

namespace {

constexpr uint64_t kCheckVisits = 1024;
constexpr uint64_t kLiftedBudget = 2000000;  // visits and conflicts a lifted sequent may take

const char *const kRuleNames[kRuleCount] = {
    "axiom",        "falsum_left",   "verum_right", "weaken",           "and_left",         "and_right",
    "or_left",      "or_right",      "implies_right", "implies_left",   "implies_left_and", "implies_left_or",
    "implies_left_implies", "rename",
};

// `hypotheses` without `drop`, with `add` (kept ascending and without repeats).
std::vector<FormulaId> replaced(const std::vector<FormulaId> &hypotheses, FormulaId drop,
                                std::span<const FormulaId> add) {
    std::vector<FormulaId> out;
    out.reserve(hypotheses.size() + add.size());
    for (FormulaId h : hypotheses) {
        if (h != drop) out.push_back(h);
    }
    out.insert(out.end(), add.begin(), add.end());
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::vector<FormulaId> replaced(const std::vector<FormulaId> &hypotheses, FormulaId drop,
                                std::initializer_list<FormulaId> add) {
    return replaced(hypotheses, drop, std::span<const FormulaId>(add.begin(), add.size()));
}

bool interrupted_by_signal(void *) { return PyErr_CheckSignals() != 0; }

}  // namespace

const char *rule_name(Rule rule) { return kRuleNames[static_cast<int>(rule)]; }

size_t SequentHash::operator()(const Sequent &s) const noexcept {
    uint64_t h = 0x243f6a8885a308d3ULL ^ s.goal;
    for (FormulaId f : s.hypotheses) h = (h ^ f) * 0x100000001b3ULL + (h >> 29);
    return static_cast<size_t>(h);
}

ProofSearch::ProofSearch(Store &store, Limits &limits, AtomMaker *maker)
    : store_(store), limits_(limits), maker_(maker), oracle_(store, limits) {
    if (limits_.interrupted == nullptr) limits_.interrupted = interrupted_by_signal;
}

ProofSearch::~ProofSearch() = default;

bool ProofSearch::has(const Sequent &sequent, FormulaId f) const {
    return std::binary_search(sequent.hypotheses.begin(), sequent.hypotheses.end(), f);
}

// Counts a visit against the budget; false (with the outcome set) when the
// budget is spent or Ctrl-C was pressed.
bool ProofSearch::spend() {
    if (limits_.work_left == 0) {
        limits_.stopped = true;
        outcome_ = Outcome::Stopped;
        return false;
    }
    --limits_.work_left;
    if (++visits_ % kCheckVisits == 0 && PyErr_CheckSignals() != 0) {
        outcome_ = Outcome::Error;
        return false;
    }
    return true;
}

uint32_t ProofSearch::add_step(Sequent sequent, Rule rule, FormulaId principal,
                               std::initializer_list<uint32_t> premises) {
    return add_step(std::move(sequent), rule, principal, std::vector<uint32_t>(premises));
}

uint32_t ProofSearch::add_step(Sequent sequent, Rule rule, FormulaId principal,
                               const std::vector<uint32_t> &premises) {
    auto index = static_cast<uint32_t>(steps_.size());
    Step step{std::move(sequent), rule, principal, static_cast<uint32_t>(premises_.size()),
              static_cast<uint32_t>(premises.size()), UINT32_MAX};
    premises_.insert(premises_.end(), premises.begin(), premises.end());
    proved_.emplace(step.sequent, index);
    steps_.push_back(std::move(step));
    return index;
}

uint32_t ProofSearch::lookup(const Sequent &sequent) {
    auto hit = proved_.find(sequent);
    if (hit != proved_.end()) return hit->second;
    if (!symmetry_) return kFailed;
    // A sequent that closes at once is cheaper derived than renamed.
    Rule rule;
    FormulaId principal;
    if (closes(sequent, rule, principal) || closable(sequent, sequent.goal, 0)) return kFailed;
    Renaming renaming;
    uint32_t source = symmetry_->find(sequent, steps_, renaming);
    if (source == kFailed) return kFailed;
    ++renamed_;
    renamings_.push_back(std::move(renaming));
    uint32_t step = add_step(sequent, Rule::Rename, kNoFormula, {source});
    steps_[step].renaming = static_cast<uint32_t>(renamings_.size() - 1);
    return step;
}

bool ProofSearch::closes(const Sequent &sequent, Rule &rule, FormulaId &principal) const {
    if (has(sequent, sequent.goal)) {
        rule = Rule::Axiom;
        principal = sequent.goal;
        return true;
    }
    if (has(sequent, Store::falsum())) {
        rule = Rule::FalsumLeft;
        principal = Store::falsum();
        return true;
    }
    if (sequent.goal == Store::verum()) {
        rule = Rule::VerumRight;
        principal = sequent.goal;
        return true;
    }
    return false;
}

// The rules with one premise that keep validity both ways, in a fixed order.
bool ProofSearch::one_premise(const Sequent &sequent, Rule &rule, FormulaId &principal, Sequent &premise) {
    const auto &hyps = sequent.hypotheses;
    // Hypotheses that say nothing: verum, falsum -> A, A -> verum, A -> B with B known.
    std::vector<FormulaId> kept;
    for (FormulaId h : hyps) {
        bool idle = h == Store::verum();
        if (store_.kind(h) == Kind::Implies) {
            FormulaId a = store_.antecedent(h), b = store_.consequent(h);
            idle = a == Store::falsum() || b == Store::verum() || has(sequent, b);
        }
        if (!idle) kept.push_back(h);
    }
    if (kept.size() != hyps.size()) {
        rule = Rule::Weaken;
        principal = kNoFormula;
        premise = {std::move(kept), sequent.goal};
        return true;
    }
    for (FormulaId h : hyps) {
        if (store_.kind(h) == Kind::And) {
            rule = Rule::AndLeft;
            principal = h;
            premise = {replaced(hyps, h, store_.members(h)), sequent.goal};
            return true;
        }
    }
    for (FormulaId h : hyps) {
        if (store_.kind(h) != Kind::Implies) continue;
        FormulaId a = store_.antecedent(h), b = store_.consequent(h);
        if (a == Store::verum() || has(sequent, a)) {
            rule = Rule::ImpliesLeft;
            principal = h;
            premise = {replaced(hyps, h, {b}), sequent.goal};
            return true;
        }
    }
    for (FormulaId h : hyps) {
        if (store_.kind(h) != Kind::Implies) continue;
        FormulaId a = store_.antecedent(h), b = store_.consequent(h);
        // Copies of the members: making formulas may move the store's arrays.
        if (store_.kind(a) == Kind::And) {
            auto members = store_.members(a);
            FormulaId first = members[0];
            std::vector<FormulaId> rest(members.begin() + 1, members.end());
            FormulaId inner = store_.implication(store_.conjunction(rest), b);
            FormulaId curried = store_.implication(first, inner);
            rule = Rule::ImpliesLeftAnd;
            principal = h;
            premise = {replaced(hyps, h, {curried}), sequent.goal};
            return true;
        }
        if (store_.kind(a) == Kind::Or) {
            auto members = store_.members(a);
            std::vector<FormulaId> disjuncts(members.begin(), members.end()), split;
            for (FormulaId m : disjuncts) split.push_back(store_.implication(m, b));
            rule = Rule::ImpliesLeftOr;
            principal = h;
            premise = {replaced(hyps, h, split), sequent.goal};
            return true;
        }
    }
    if (store_.kind(sequent.goal) == Kind::Or) {
        FormulaId pruned = live_disjuncts(sequent);
        if (pruned != sequent.goal) {
            rule = Rule::OrRight;
            principal = sequent.goal;
            premise = {hyps, pruned};
            return true;
        }
    }
    if (store_.kind(sequent.goal) == Kind::Implies) {
        rule = Rule::ImpliesRight;
        principal = sequent.goal;
        premise = {replaced(hyps, kNoFormula, {store_.antecedent(sequent.goal)}), store_.consequent(sequent.goal)};
        return true;
    }
    return false;
}

// The atoms of `f`, ascending; kept for the hypotheses asked about.
const std::vector<FormulaId> &ProofSearch::atoms_of(FormulaId f) {
    if (atoms_.size() < store_.size()) {
        atoms_.resize(store_.size());
        atoms_known_.resize(store_.size(), 0);
    }
    if (atoms_known_[f]) return atoms_[f];
    FormulaId root[1] = {f};
    std::vector<FormulaId> found;
    for (FormulaId g : store_.reach(root)) {
        if (store_.kind(g) == Kind::Atom) found.push_back(g);
    }
    atoms_[f] = std::move(found);
    atoms_known_[f] = 1;
    return atoms_[f];
}

// The goal disjunction without the disjuncts that need an atom no hypothesis
// mentions, when the goal has no implication inside: substituting falsum for
// such atoms keeps the hypotheses and turns those disjuncts false, so the
// sequent is valid exactly when the pruned one is.
FormulaId ProofSearch::live_disjuncts(const Sequent &sequent) {
    FormulaId goal = sequent.goal;
    // The goal's formulas, members first; none may be an implication.
    FormulaId root[1] = {goal};
    std::vector<FormulaId> cone = store_.reach(root);
    for (FormulaId g : cone) {
        if (store_.kind(g) == Kind::Implies) return goal;
    }
    std::vector<uint8_t> state(cone.size(), 1);  // 0: needs an atom no hypothesis mentions
    auto state_of = [&](FormulaId g) -> uint8_t & {
        return state[std::lower_bound(cone.begin(), cone.end(), g) - cone.begin()];
    };
    std::vector<FormulaId> mentioned;
    for (FormulaId h : sequent.hypotheses) {
        const auto &atoms = atoms_of(h);
        mentioned.insert(mentioned.end(), atoms.begin(), atoms.end());
    }
    std::sort(mentioned.begin(), mentioned.end());
    for (FormulaId g : cone) {
        uint8_t holds = 1;
        switch (store_.kind(g)) {
            case Kind::Atom: holds = std::binary_search(mentioned.begin(), mentioned.end(), g); break;
            case Kind::Falsum: holds = 0; break;
            case Kind::And:
                for (FormulaId m : store_.members(g)) holds &= state_of(m);
                break;
            case Kind::Or:
                holds = 0;
                for (FormulaId m : store_.members(g)) holds |= state_of(m);
                break;
            default: break;
        }
        state_of(g) = holds;
    }
    auto members = store_.members(goal);
    std::vector<FormulaId> live;
    for (FormulaId m : members) {
        if (state_of(m)) live.push_back(m);
    }
    if (live.size() == members.size()) return goal;
    return store_.disjunction(live);
}

uint32_t ProofSearch::prove(Sequent sequent) {
    RecursionGuard guard(" in the proof search");
    if (!guard.ok()) return fail(Outcome::Error);
    uint32_t known = lookup(sequent);
    if (known != kFailed) return known;
    if (!spend()) return kFailed;
    struct Pending {
        Sequent sequent;
        Rule rule;
        FormulaId principal;
    };
    std::vector<Pending> chain;
    uint32_t top = kFailed;
    bool searched = false;  // whether the derivation took more than closing rules
    for (;;) {
        Rule rule;
        FormulaId principal;
        if (closes(sequent, rule, principal)) {
            top = add_step(std::move(sequent), rule, principal, {});
            break;
        }
        Sequent premise;
        if (!one_premise(sequent, rule, principal, premise)) {
            if (closable(sequent, sequent.goal, 0)) {
                top = close_positively(sequent, sequent.goal);
            } else {
                searched = true;
                top = prove_branching(std::move(sequent));
            }
            break;
        }
        chain.push_back({std::move(sequent), rule, principal});
        sequent = std::move(premise);
        if (!spend()) return kFailed;
        top = lookup(sequent);
        if (top != kFailed) break;
    }
    if (top == kFailed) return kFailed;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        top = add_step(std::move(it->sequent), it->rule, it->principal, {top});
    }
    // Sequents that needed a search are those worth renaming later.
    if (symmetry_ && searched) symmetry_->remember(steps_[top].sequent, top);
    return top;
}

// Whether `goal` follows from the hypotheses by conjunctions and disjunctions alone.
bool ProofSearch::closable(const Sequent &sequent, FormulaId goal, uint32_t depth) const {
    if (goal == Store::verum() || has(sequent, goal)) return true;
    if (depth > 64) return false;  // deeper alternations are left to the rules
    switch (store_.kind(goal)) {
        case Kind::And:
            for (FormulaId m : store_.members(goal)) {
                if (!closable(sequent, m, depth + 1)) return false;
            }
            return true;
        case Kind::Or:
            for (FormulaId m : store_.members(goal)) {
                if (closable(sequent, m, depth + 1)) return true;
            }
            return false;
        default: return false;
    }
}

uint32_t ProofSearch::close_positively(const Sequent &sequent, FormulaId goal) {
    Sequent here{sequent.hypotheses, goal};
    auto known = proved_.find(here);
    if (known != proved_.end()) return known->second;
    if (goal == Store::verum()) return add_step(std::move(here), Rule::VerumRight, goal, {});
    if (has(sequent, goal)) return add_step(std::move(here), Rule::Axiom, goal, {});
    if (store_.kind(goal) == Kind::And) {
        std::vector<uint32_t> parts;
        for (FormulaId m : store_.members(goal)) parts.push_back(close_positively(sequent, m));
        return add_step(std::move(here), Rule::AndRight, goal, parts);
    }
    for (FormulaId m : store_.members(goal)) {
        if (closable(sequent, m, 0)) {
            uint32_t part = close_positively(sequent, m);
            return add_step(std::move(here), Rule::OrRight, goal, {part});
        }
    }
    return kFailed;  // not reached: called on closable goals only
}

// A sequent that closes by no rule of one premise nor by conjunctions and
// disjunctions alone.
uint32_t ProofSearch::prove_branching(Sequent sequent) {
    if (symmetry_ && maker_ != nullptr && !lift_tried_) {
        uint32_t lifted = try_lifted(sequent);
        if (lifted != kFailed || outcome_ == Outcome::Error) return lifted;
    }
    FormulaId goal = sequent.goal;
    if (store_.kind(goal) == Kind::And) {
        auto members = store_.members(goal);
        std::vector<FormulaId> conjuncts(members.begin(), members.end());
        std::vector<uint32_t> parts;
        for (FormulaId m : conjuncts) {
            uint32_t part = prove(Sequent{sequent.hypotheses, m});
            if (part == kFailed) return kFailed;
            parts.push_back(part);
        }
        return add_step(std::move(sequent), Rule::AndRight, goal, parts);
    }
    FormulaId split = kNoFormula;
    for (FormulaId h : sequent.hypotheses) {
        if (store_.kind(h) == Kind::Or && (split == kNoFormula || store_.members(h).size() < store_.members(split).size())) {
            split = h;
        }
    }
    if (split != kNoFormula) {
        auto members = store_.members(split);
        std::vector<FormulaId> disjuncts(members.begin(), members.end());
        std::vector<uint32_t> parts;
        for (FormulaId m : disjuncts) {
            uint32_t part = prove(Sequent{replaced(sequent.hypotheses, split, {m}), goal});
            if (part == kFailed) return kFailed;
            parts.push_back(part);
        }
        return add_step(std::move(sequent), Rule::OrLeft, split, parts);
    }
    return choose(std::move(sequent));
}

// Derives the sequent from its lifted form (see lifting.hpp) when it has one
// and that is derived within a share of the budget; otherwise kFailed with
// the outcome left as it was, unless Python raised.
uint32_t ProofSearch::try_lifted(const Sequent &sequent) {
    lift_tried_ = true;
    Sequent lifted;
    Renaming renaming;
    FormulaId image = kNoFormula;
    Lifted how = lift(store_, *maker_, sequent, lifted, renaming, image);
    if (how == Lifted::Error) return fail(Outcome::Error);
    if (how != Lifted::Done) return kFailed;
    uint64_t total = limits_.work_left;
    uint64_t share = std::min(total, kLiftedBudget);
    limits_.work_left = share;
    uint32_t proof = prove(std::move(lifted));
    limits_.work_left = total - (share - limits_.work_left);
    if (proof == kFailed) {
        if (outcome_ == Outcome::Error) return kFailed;
        // The lifted sequent may be invalid, or too hard: derive the sequent itself.
        outcome_ = Outcome::Proved;
        limits_.stopped = false;
        countermodel_ = {};
        return kFailed;
    }
    renamings_.push_back(std::move(renaming));
    uint32_t renamed = add_step(Sequent{sequent.hypotheses, image}, Rule::Rename, kNoFormula, {proof});
    steps_[renamed].renaming = static_cast<uint32_t>(renamings_.size() - 1);
    ++renamed_;
    if (image == sequent.goal) return renamed;
    return add_step(sequent, Rule::OrRight, sequent.goal, {renamed});
}

// A sequent no rule of the invertible kind applies to: one of the choices
// must have valid premises, unless the sequent has a countermodel.
uint32_t ProofSearch::choose(Sequent sequent) {
    struct Option {
        Rule rule;
        FormulaId principal;
        Sequent first, second;
    };
    std::vector<Option> options;
    if (store_.kind(sequent.goal) == Kind::Or) {
        for (FormulaId m : store_.members(sequent.goal)) {
            options.push_back({Rule::OrRight, sequent.goal, Sequent{sequent.hypotheses, m}, {}});
        }
    }
    for (FormulaId h : sequent.hypotheses) {
        if (store_.kind(h) != Kind::Implies || store_.kind(store_.antecedent(h)) != Kind::Implies) continue;
        FormulaId inner = store_.antecedent(h), b = store_.consequent(h);
        FormulaId c = store_.consequent(inner);
        options.push_back({Rule::ImpliesLeftImplies, h,
                           Sequent{replaced(sequent.hypotheses, h, {store_.implication(c, b)}), inner},
                           Sequent{replaced(sequent.hypotheses, h, {b}), sequent.goal}});
    }
    for (Option &option : options) {
        bool valid = proved_.count(option.first) != 0;
        if (!valid) {
            Verdict verdict = oracle_.decide(option.first.hypotheses, option.first.goal);
            if (verdict == Verdict::Error) return fail(Outcome::Error);
            if (verdict == Verdict::Stopped) return fail(Outcome::Stopped);
            valid = verdict == Verdict::Valid;
        }
        if (!valid) continue;
        uint32_t first = prove(std::move(option.first));
        if (first == kFailed) return kFailed;
        if (option.rule == Rule::OrRight) return add_step(std::move(sequent), option.rule, option.principal, {first});
        uint32_t second = prove(std::move(option.second));
        if (second == kFailed) return kFailed;
        return add_step(std::move(sequent), option.rule, option.principal, {first, second});
    }
    Verdict verdict = oracle_.decide(sequent.hypotheses, sequent.goal);
    if (verdict == Verdict::Error) return fail(Outcome::Error);
    if (verdict == Verdict::Stopped) return fail(Outcome::Stopped);
    if (verdict == Verdict::Valid) {
        PyErr_SetString(PyExc_SystemError,
                        "internal error in zelqor: the countermodel search holds valid a sequent that no rule derives");
        return fail(Outcome::Error);
    }
    countermodel_ = oracle_.countermodel();
    return fail(Outcome::Refuted);
}

ProofSearch::Outcome ProofSearch::run(FormulaId formula, uint64_t first_look) {
    Sequent root{{}, formula};
    if (SymmetryIndex::worthwhile(store_, formula)) symmetry_ = std::make_unique<SymmetryIndex>(store_);
    uint64_t total = limits_.work_left;
    limits_.work_left = std::min(total, first_look);
    Verdict first = oracle_.decide(root.hypotheses, root.goal);
    uint64_t spent = std::min(total, first_look) - limits_.work_left;
    limits_.work_left = total - spent;
    limits_.stopped = false;
    if (first == Verdict::Error) return Outcome::Error;
    if (first == Verdict::Invalid) {
        countermodel_ = oracle_.countermodel();
        return Outcome::Refuted;
    }
    if (PyErr_Occurred()) return Outcome::Error;
    outcome_ = Outcome::Proved;
    root_ = prove(std::move(root));
    return root_ == kFailed ? outcome_ : Outcome::Proved;
}

}  // namespace zelqor::search
