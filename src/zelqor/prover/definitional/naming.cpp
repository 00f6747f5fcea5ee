#include "zelqor/prover/definitional/naming.hpp"

namespace zelqor::definitional {

namespace {

uint8_t flip(uint8_t polarity) {
    return static_cast<uint8_t>(((polarity & kPositive) ? kNegative : 0) | ((polarity & kNegative) ? kPositive : 0));
}

// Counts saturate: past this the exact number no longer matters.
constexpr uint64_t kSaturated = uint64_t{1} << 62;

uint64_t add(uint64_t a, uint64_t b) { return a + b >= kSaturated ? kSaturated : a + b; }

uint64_t multiply(uint64_t a, uint64_t b) {
    uint64_t product;
    if (__builtin_mul_overflow(a, b, &product) || product >= kSaturated) return kSaturated;
    return product;
}

struct Counts {
    uint64_t positive = 1, negative = 1;
};

// What an operand contributes above it: one clause either way once named.
Counts seen(const Subformula &item) {
    if (item.named) return {};
    return {item.positive_count, item.negative_count};
}

// Clause counts of a subformula of shape `shape` from its operands' counts.
Counts combine(Shape shape, Counts a, Counts b) {
    switch (shape) {
    case Shape::Atom: return {};
    case Shape::Not: return {a.negative, a.positive};
    case Shape::And: return {add(a.positive, b.positive), multiply(a.negative, b.negative)};
    case Shape::Or: return {multiply(a.positive, b.positive), add(a.negative, b.negative)};
    case Shape::Implies:  // ¬a ∨ b; negated a ∧ ¬b
        return {multiply(a.negative, b.positive), add(a.positive, b.negative)};
    case Shape::Iff:  // (¬a ∨ b) ∧ (¬b ∨ a); negated (a ∨ b) ∧ (¬a ∨ ¬b)
        return {add(multiply(a.negative, b.positive), multiply(b.negative, a.positive)),
                add(multiply(a.positive, b.positive), multiply(a.negative, b.negative))};
    case Shape::Forall:
    case Shape::Exists: return a;
    }
    return {};
}

// Whether a subformula of this shape multiplies its operands' counts when it
// occurs with `polarity`.
bool multiplies(Shape shape, uint8_t polarity) {
    switch (shape) {
    case Shape::Or:
    case Shape::Implies: return (polarity & kPositive) != 0;
    case Shape::And: return (polarity & kNegative) != 0;
    case Shape::Iff: return polarity != kNoPolarity;
    default: return false;
    }
}

// The clauses a subformula costs where it occurs: its counts in the
// polarities it has.
uint64_t cost(Counts counts, uint8_t polarity) {
    uint64_t total = 0;
    if (polarity & kPositive) total = add(total, counts.positive);
    if (polarity & kNegative) total = add(total, counts.negative);
    return total;
}

double as_double(uint64_t n) { return static_cast<double>(n); }

}  // namespace

void mark_polarities(Subformulas &subformulas) {
    std::vector<Subformula> &items = subformulas.items;
    if (items.empty()) return;
    items.back().polarity = kPositive;
    // Operands come before the formulas that hold them: walking down the
    // list, every subformula has its final polarity when it is reached.
    for (size_t i = items.size(); i-- > 0;) {
        const Subformula &item = items[i];
        uint8_t p = item.polarity;
        if (p == kNoPolarity) continue;
        switch (item.shape) {
        case Shape::Atom: break;
        case Shape::Not: items[static_cast<size_t>(item.left)].polarity |= flip(p); break;
        case Shape::Implies:
            items[static_cast<size_t>(item.left)].polarity |= flip(p);
            items[static_cast<size_t>(item.right)].polarity |= p;
            break;
        case Shape::Iff:
            items[static_cast<size_t>(item.left)].polarity |= kBothPolarities;
            items[static_cast<size_t>(item.right)].polarity |= kBothPolarities;
            break;
        case Shape::And:
        case Shape::Or:
            items[static_cast<size_t>(item.left)].polarity |= p;
            items[static_cast<size_t>(item.right)].polarity |= p;
            break;
        case Shape::Forall:
        case Shape::Exists: items[static_cast<size_t>(item.left)].polarity |= p; break;
        }
    }
}

void choose_names(Subformulas &subformulas, uint64_t threshold) {
    std::vector<Subformula> &items = subformulas.items;
    for (size_t i = 0; i < items.size(); ++i) {
        Subformula &item = items[i];
        Counts a, b;
        if (item.left >= 0) a = seen(items[static_cast<size_t>(item.left)]);
        if (item.right >= 0) b = seen(items[static_cast<size_t>(item.right)]);
        Counts counts = combine(item.shape, a, b);
        if (multiplies(item.shape, item.polarity)) {
            // Name operands while the product is too large and naming one saves clauses.
            for (int round = 0; round < 2; ++round) {
                bool too_large = ((item.polarity & kPositive) && item.shape != Shape::And &&
                                  counts.positive > threshold) ||
                                 ((item.polarity & kNegative) && item.shape != Shape::Or &&
                                  item.shape != Shape::Implies && counts.negative > threshold);
                if (!too_large) break;
                uint64_t before = cost(counts, item.polarity);
                int32_t best = -1;
                double best_saving = 0;
                uint64_t best_size = 0;
                for (int32_t operand : {item.left, item.right}) {
                    Subformula &candidate = items[static_cast<size_t>(operand)];
                    if (candidate.named || candidate.shape == Shape::Atom) continue;
                    Counts as_atom;
                    Counts after = operand == item.left ? combine(item.shape, as_atom, b) : combine(item.shape, a, as_atom);
                    uint64_t definition = cost(seen(candidate), candidate.polarity);
                    double saving = as_double(before) - as_double(cost(after, item.polarity)) - as_double(definition);
                    uint64_t size = cost(seen(candidate), kBothPolarities);
                    if (saving > best_saving || (saving == best_saving && best >= 0 && size > best_size)) {
                        best = operand;
                        best_saving = saving;
                        best_size = size;
                    }
                }
                if (best < 0) break;
                items[static_cast<size_t>(best)].named = true;
                if (best == item.left) a = Counts{};
                if (best == item.right) b = Counts{};
                counts = combine(item.shape, a, b);
            }
        }
        item.positive_count = counts.positive;
        item.negative_count = counts.negative;
    }
}

}  // namespace zelqor::definitional
