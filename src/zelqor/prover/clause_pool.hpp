// Clause sets under construction, shared by the clause-form walks of the
// prover modules: clauses as runs of literal indices in one pool, and the
// literal objects those indices name.
#pragma once

#include "common/small_vector.hpp"
#include "common/pyref.hpp"

#include <cstdint>
#include <utility>

namespace zelqor::prover {

// `ends[i]` is where clause i stops in `pool`, so that forming products
// allocates two arrays, not one per clause.
struct Cnf {
    SmallVector<uint32_t, 8> pool;
    SmallVector<uint32_t, 4> ends;

    size_t size() const { return ends.size(); }
    size_t begin_of(size_t i) const { return i == 0 ? 0 : ends[i - 1]; }
};

// The clauses of `more` after those of `into` (a conjunction).
inline void append(Cnf &into, Cnf &&more) {
    if (into.ends.empty()) {
        into = std::move(more);
        return;
    }
    uint32_t base = static_cast<uint32_t>(into.pool.size());
    into.pool.append(more.pool.data(), more.pool.size());
    into.ends.reserve(into.ends.size() + more.ends.size());
    for (size_t i = 0; i < more.ends.size(); ++i) into.ends.push_back(base + more.ends[i]);
}

// Every clause of `left` joined with every clause of `right`, left outermost
// (a disjunction, distributed). Literal indices and pool offsets fit 32
// bits: a clause set beyond that would not fit in memory as Python objects.
inline Cnf product(const Cnf &left, const Cnf &right) {
    Cnf out;
    out.ends.reserve(left.size() * right.size());
    out.pool.reserve(left.pool.size() * right.size() + right.pool.size() * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        for (size_t j = 0; j < right.size(); ++j) {
            out.pool.append(left.pool.data() + left.begin_of(i), left.ends[i] - left.begin_of(i));
            out.pool.append(right.pool.data() + right.begin_of(j), right.ends[j] - right.begin_of(j));
            out.ends.push_back(static_cast<uint32_t>(out.pool.size()));
        }
    }
    return out;
}

// Two operands' clauses joined as a disjunction (product) or a conjunction
// (concatenation).
inline Cnf join(Cnf &&left, Cnf &&right, bool disjunction) {
    if (disjunction) return product(left, right);
    append(left, std::move(right));
    return std::move(left);
}

// An equivalence a ⟺ b from the clauses of its operands as the walk meets
// them: ¬a, b, ¬b, a where it holds, (¬a ∨ b) ∧ (¬b ∨ a); a, ¬b, b, ¬a where
// it fails, (a ∧ ¬b) ∨ (b ∧ ¬a).
inline Cnf equivalence(bool positive, Cnf (&parts)[4]) {
    if (positive) {
        Cnf out = product(parts[0], parts[1]);
        append(out, product(parts[2], parts[3]));
        return out;
    }
    append(parts[0], std::move(parts[1]));
    append(parts[2], std::move(parts[3]));
    return product(parts[0], parts[2]);
}

// The literal objects a walk made, owned until the walk ends.
class LiteralPool {
public:
    LiteralPool() = default;
    LiteralPool(const LiteralPool &) = delete;
    LiteralPool &operator=(const LiteralPool &) = delete;
    ~LiteralPool() {
        for (size_t i = 0; i < items_.size(); ++i) Py_DECREF(items_[i]);
    }
    // Takes over `literal` and sets `out` to the one-literal clause of it.
    void add_unit(PyObject *stolen, Cnf &out) {
        items_.push_back(stolen);
        out.pool.clear();
        out.ends.clear();
        out.pool.push_back(static_cast<uint32_t>(items_.size() - 1));
        out.ends.push_back(1);
    }
    PyObject *operator[](size_t i) const { return items_[i]; }
    size_t size() const { return items_.size(); }

private:
    SmallVector<PyObject *, 32> items_;
};

}  // namespace zelqor::prover
