// The distinct subformulas of a formula: equal subtrees, wherever they occur
// and whether or not they are the same object, become one entry, so that
// naming decisions and definitions are made once per subformula and a walk
// over a heavily shared tree costs its number of distinct nodes. Atoms,
// which are never named, get an entry per occurrence.
#pragma once

#include "zelqor/prover/definitional/fresh_ids.hpp"
#include "zelqor/prover/definitional/state.hpp"

#include <cstdint>
#include <vector>

namespace zelqor::definitional {

enum class Shape : uint8_t { Atom, Not, And, Or, Implies, Iff, Forall, Exists };

// The polarities a subformula occurs with, as a bit set.
enum Polarity : uint8_t { kNoPolarity = 0, kPositive = 1, kNegative = 2, kBothPolarities = 3 };

struct Subformula {
    PyObject *node;           // borrowed from the tree: the first of the equal nodes met
    Shape shape;
    uint8_t polarity = kNoPolarity;
    bool named = false;
    int32_t left = -1;        // operand, left operand or body
    int32_t right = -1;
    // Clauses the subformula gives true (positive) and false (negative),
    // with the names chosen below it already in place.
    uint64_t positive_count = 1, negative_count = 1;
    // A hash of the subformula that ignores its variables: subformulas equal
    // up to the names of bound variables have the same outline.
    Py_hash_t outline = 0;
};

class Subformulas {
public:
    // Lists the distinct subformulas of `root`, operands before the formulas
    // that hold them (so the root comes last), checking every node on the
    // way and taking every variable id into `ids`. False with an exception
    // set: "Unsupported formula node: <class ...>" for the first node, left
    // to right, that is not a first-order formula.
    bool build(PyObject *root, FreshIds &ids);

    std::vector<Subformula> items;
    int32_t root() const { return static_cast<int32_t>(items.size()) - 1; }

private:
    class Table;
};

}  // namespace zelqor::definitional
