#include "zelqor/constructive/search/symmetry.hpp"

#include "common/hashing.hpp"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

namespace zelqor::search {

namespace {

constexpr size_t kCandidatesTried = 3;
constexpr size_t kCandidatesKept = 16;
constexpr int kRefinementBudget = 24;
constexpr int kMaxRounds = 12;

uint64_t mix(uint64_t h, uint64_t v) {
    TupleHasher hasher;
    hasher.add(static_cast<Py_hash_t>(h));
    hasher.add(static_cast<Py_hash_t>(v));
    return static_cast<uint64_t>(hasher.finish());
}

using Colouring = SymmetryIndex::Colouring;

// Role marks of the top-level formulas of a sequent.
constexpr uint64_t kHypothesis = 1, kGoal = 2;

uint32_t position(const std::vector<FormulaId> &nodes, FormulaId f) {
    return static_cast<uint32_t>(std::lower_bound(nodes.begin(), nodes.end(), f) - nodes.begin());
}

Colouring colouring(const Store &store, const std::vector<FormulaId> &hypotheses, FormulaId goal) {
    Colouring c;
    std::vector<FormulaId> roots(hypotheses.begin(), hypotheses.end());
    if (goal != kNoFormula) roots.push_back(goal);
    c.nodes = store.reach(roots);
    size_t n = c.nodes.size();
    c.child_start.assign(n + 1, 0);
    std::vector<uint32_t> parent_count(n + 1, 0);
    for (uint32_t i = 0; i < n; ++i) {
        FormulaId f = c.nodes[i];
        Kind kind = store.kind(f);
        if (store.compound(f)) {
            for (FormulaId m : store.members(f)) {
                uint32_t k = position(c.nodes, m);
                c.children.push_back(k);
                ++parent_count[k];
            }
        }
        c.child_start[i + 1] = static_cast<uint32_t>(c.children.size());
        c.ordered.push_back(kind == Kind::Implies ? 1 : 0);
        if (kind == Kind::Atom) c.atoms.push_back(i);
    }
    c.parent_start.assign(n + 1, 0);
    for (size_t i = 0; i < n; ++i) c.parent_start[i + 1] = c.parent_start[i] + parent_count[i];
    c.parents.resize(c.parent_start[n]);
    std::vector<uint32_t> fill(c.parent_start.begin(), c.parent_start.end() - 1);
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t k = c.child_start[i]; k < c.child_start[i + 1]; ++k) {
            uint32_t place = c.ordered[i] ? 1 + (k - c.child_start[i]) : 0;  // antecedent 1, consequent 2
            c.parents[fill[c.children[k]]++] = {i, place};
        }
    }
    c.colour.assign(n, 0);
    std::vector<uint64_t> roles(n, 0);
    for (FormulaId h : hypotheses) roles[position(c.nodes, h)] |= kHypothesis;
    if (goal != kNoFormula) roles[position(c.nodes, goal)] |= kGoal;
    for (uint32_t i = 0; i < n; ++i) {
        Kind kind = store.kind(c.nodes[i]);
        c.colour[i] = mix(mix(0x5eed, static_cast<uint64_t>(kind) + 1), roles[i]);
    }
    return c;
}

size_t distinct(const std::vector<uint64_t> &colours) {
    std::vector<uint64_t> sorted(colours);
    std::sort(sorted.begin(), sorted.end());
    return static_cast<size_t>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

// Refines the colours until no class splits: each node's colour takes in
// its children's (in order for implications, as a multiset otherwise) and
// its parents' with its place in them.
void refine(Colouring &c) {
    size_t n = c.nodes.size();
    size_t classes = distinct(c.colour);
    std::vector<uint64_t> next(n), scratch;
    for (int round = 0; round < kMaxRounds; ++round) {
        for (size_t i = 0; i < n; ++i) {
            uint64_t h = mix(0x7a11, c.colour[i]);
            uint32_t first = c.child_start[i], last = c.child_start[i + 1];
            scratch.clear();
            for (uint32_t k = first; k < last; ++k) scratch.push_back(c.colour[c.children[k]]);
            if (!c.ordered[i]) std::sort(scratch.begin(), scratch.end());
            for (uint64_t v : scratch) h = mix(h, v);
            scratch.clear();
            for (uint32_t k = c.parent_start[i]; k < c.parent_start[i + 1]; ++k) {
                auto [parent, place] = c.parents[k];
                scratch.push_back(mix(c.colour[parent], place));
            }
            std::sort(scratch.begin(), scratch.end());
            h = mix(h, 0xbeef);
            for (uint64_t v : scratch) h = mix(h, v);
            next[i] = h;
        }
        c.colour.swap(next);
        size_t now = distinct(c.colour);
        if (now == classes) break;
        classes = now;
    }
}

// Atom classes: (colour, atom indices ascending by formula), sorted by colour.
std::vector<std::pair<uint64_t, std::vector<uint32_t>>> atom_classes(const Colouring &c) {
    std::vector<std::pair<uint64_t, uint32_t>> tagged;
    for (uint32_t a : c.atoms) tagged.push_back({c.colour[a], a});
    std::sort(tagged.begin(), tagged.end());
    std::vector<std::pair<uint64_t, std::vector<uint32_t>>> classes;
    for (auto [colour, a] : tagged) {
        if (classes.empty() || classes.back().first != colour) classes.push_back({colour, {}});
        classes.back().second.push_back(a);
    }
    return classes;
}

}  // namespace

bool SymmetryIndex::worthwhile(const Store &store, FormulaId formula) {
    Colouring c = colouring(store, {}, formula);
    if (c.atoms.size() < 2) return false;
    refine(c);
    for (const auto &cls : atom_classes(c)) {
        if (cls.second.size() > 1) return true;
    }
    return false;
}

uint64_t SymmetryIndex::shape(FormulaId f) {
    if (shapes_.size() < store_.size()) shapes_.resize(store_.size(), 0);
    if (shapes_[f] != 0) return shapes_[f];
    FormulaId root[1] = {f};
    std::vector<uint64_t> parts;
    for (FormulaId g : store_.reach(root, [&](FormulaId h) { return shapes_[h] != 0; })) {
        if (shapes_[g] != 0) continue;
        Kind kind = store_.kind(g);
        TupleHasher h;
        h.add(0x5a9e + static_cast<Py_hash_t>(kind));
        if (kind == Kind::Implies) {
            h.add(static_cast<Py_hash_t>(shapes_[store_.antecedent(g)]));
            h.add(static_cast<Py_hash_t>(shapes_[store_.consequent(g)]));
        } else if (kind == Kind::And || kind == Kind::Or) {
            parts.clear();
            for (FormulaId m : store_.members(g)) parts.push_back(shapes_[m]);
            std::sort(parts.begin(), parts.end());
            for (uint64_t p : parts) h.add(static_cast<Py_hash_t>(p));
        }
        auto shape = static_cast<uint64_t>(h.finish());
        shapes_[g] = shape == 0 ? 1 : shape;
    }
    return shapes_[f];
}

uint64_t SymmetryIndex::key(const Sequent &sequent) {
    std::vector<uint64_t> parts;
    parts.reserve(sequent.hypotheses.size());
    for (FormulaId h : sequent.hypotheses) parts.push_back(shape(h));
    std::sort(parts.begin(), parts.end());
    uint64_t k = mix(0x6e7, shape(sequent.goal));
    for (uint64_t p : parts) k = mix(k, p);
    return k;
}

void SymmetryIndex::remember(const Sequent &sequent, uint32_t step) {
    uint64_t k = key(sequent);
    shapes_seen_.insert(k);
    uncoloured_[k].push_back(step);
}

SymmetryIndex::Colouring SymmetryIndex::refined(const Sequent &sequent) {
    Colouring c = colouring(store_, sequent.hypotheses, sequent.goal);
    refine(c);
    ++refinements_;
    std::vector<uint64_t> sorted(c.colour);
    std::sort(sorted.begin(), sorted.end());
    uint64_t signature = mix(0x516, sorted.size());
    for (uint64_t v : sorted) signature = mix(signature, v);
    c.signature = signature;
    return c;
}

// Whether renaming the atoms of `source` as `image` says gives `target`.
bool SymmetryIndex::maps_onto(const Colouring &from, const std::vector<FormulaId> &image, const Sequent &source,
                              const Sequent &target) {
    // from.nodes ascends, so members are renamed before what is made of them.
    std::vector<FormulaId> renamed(from.nodes.size());
    std::vector<FormulaId> parts;
    for (size_t i = 0; i < from.nodes.size(); ++i) {
        FormulaId f = from.nodes[i];
        FormulaId to = f;
        if (store_.kind(f) == Kind::Atom) {
            to = image[i];
        } else if (store_.compound(f)) {
            parts.clear();
            for (uint32_t k = from.child_start[i]; k < from.child_start[i + 1]; ++k) {
                parts.push_back(renamed[from.children[k]]);
            }
            switch (store_.kind(f)) {
                case Kind::Implies: to = store_.implication(parts[0], parts[1]); break;
                case Kind::And: to = store_.conjunction(parts); break;
                default: to = store_.disjunction(parts); break;
            }
        }
        renamed[i] = to;
    }
    if (renamed[position(from.nodes, source.goal)] != target.goal) return false;
    std::vector<FormulaId> hyps;
    hyps.reserve(source.hypotheses.size());
    for (FormulaId h : source.hypotheses) hyps.push_back(renamed[position(from.nodes, h)]);
    std::sort(hyps.begin(), hyps.end());
    hyps.erase(std::unique(hyps.begin(), hyps.end()), hyps.end());
    return hyps == target.hypotheses;
}

bool SymmetryIndex::match(const Colouring &from, const Colouring &to, const Sequent &source, const Sequent &target,
                          Renaming &renaming, int depth, int &budget) {
    auto from_classes = atom_classes(from), to_classes = atom_classes(to);
    if (from_classes.size() != to_classes.size()) return false;
    for (size_t k = 0; k < from_classes.size(); ++k) {
        if (from_classes[k].first != to_classes[k].first ||
            from_classes[k].second.size() != to_classes[k].second.size()) {
            return false;
        }
    }
    // Class by class: first each atom the two classes share to itself (a
    // renaming that moves few atoms is cheap to check), the others in order;
    // failing that, all in order.
    std::vector<FormulaId> image(from.nodes.size(), kNoFormula);
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (size_t k = 0; k < from_classes.size(); ++k) {
            const auto &mine = from_classes[k].second, &theirs = to_classes[k].second;
            if (attempt == 1) {
                for (size_t i = 0; i < mine.size(); ++i) image[mine[i]] = to.nodes[theirs[i]];
                continue;
            }
            // Both lists are in ascending order of formula.
            std::vector<FormulaId> ours, others, unmatched;
            for (uint32_t i : mine) ours.push_back(from.nodes[i]);
            for (uint32_t i : theirs) others.push_back(to.nodes[i]);
            std::set_difference(others.begin(), others.end(), ours.begin(), ours.end(),
                                std::back_inserter(unmatched));
            size_t next = 0;
            for (uint32_t i : mine) {
                FormulaId atom = from.nodes[i];
                image[i] = std::binary_search(others.begin(), others.end(), atom) ? atom : unmatched[next++];
            }
        }
        if (maps_onto(from, image, source, target)) {
            renaming.clear();
            for (uint32_t a : from.atoms) {
                if (from.nodes[a] != image[a]) renaming.push_back({from.nodes[a], image[a]});
            }
            return true;
        }
    }
    // Otherwise fix one atom of the smallest ambiguous class, and try again.
    size_t smallest = from_classes.size();
    for (size_t k = 0; k < from_classes.size(); ++k) {
        if (from_classes[k].second.size() > 1 &&
            (smallest == from_classes.size() || from_classes[k].second.size() < from_classes[smallest].second.size())) {
            smallest = k;
        }
    }
    if (smallest == from_classes.size() || depth > 8) return false;
    uint32_t fixed = from_classes[smallest].second[0];
    for (uint32_t candidate : to_classes[smallest].second) {
        if (--budget < 0) return false;
        Colouring a = from, b = to;
        uint64_t mark = mix(from.colour[fixed], 0x1d1d + depth);
        a.colour[fixed] = mark;
        b.colour[candidate] = mark;
        refine(a);
        refine(b);
        refinements_ += 2;
        if (match(a, b, source, target, renaming, depth + 1, budget)) return true;
    }
    return false;
}

uint32_t SymmetryIndex::find(const Sequent &sequent, const std::vector<Step> &steps, Renaming &renaming) {
    uint64_t k = key(sequent);
    if (shapes_seen_.count(k) == 0) return UINT32_MAX;
    ++lookups_;
    // Colour the sequents of this shape derived since the last look.
    auto pending = uncoloured_.find(k);
    if (pending != uncoloured_.end()) {
        for (uint32_t step : pending->second) {
            Colouring c = refined(steps[step].sequent);
            auto &list = by_signature_[mix(k, c.signature)];
            if (list.size() < kCandidatesKept) {
                list.push_back(step);
                coloured_.emplace(step, std::move(c));
            }
        }
        uncoloured_.erase(pending);
    }
    Colouring target = refined(sequent);
    auto hit = by_signature_.find(mix(k, target.signature));
    if (hit == by_signature_.end()) return UINT32_MAX;
    size_t tried = 0;
    for (auto it = hit->second.begin(); it != hit->second.end() && tried < kCandidatesTried; ++it, ++tried) {
        const Sequent &source = steps[*it].sequent;
        int budget = kRefinementBudget;
        if (match(coloured_.at(*it), target, source, sequent, renaming, 0, budget)) return *it;
    }
    return UINT32_MAX;
}

}  // namespace zelqor::search
