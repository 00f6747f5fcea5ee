// Between the library's formula trees and the stored formulas: reading a
// tree (checking that it is propositional) and writing stored formulas back
// as trees, reusing the caller's own nodes wherever a formula came from one.
#pragma once

#include "common/pyref.hpp"
#include "zelqor/constructive/search/lifting.hpp"
#include "zelqor/constructive/search/store.hpp"

#include <vector>

namespace zelqor::search {

// The atoms met while reading, and the caller's node behind each formula.
// It also makes fresh atoms: a copy of `p` is named `p#1`, `p#2`, ... (primes
// are added while such a name is taken).
class Vocabulary : public AtomMaker {
public:
    uint32_t copy_of(uint32_t atom, uint32_t tag) override;
    // The stored form of `formula`; kNoFormula with InvalidFormulaError set
    // when a node is not propositional (or another error from comparing nodes).
    FormulaId read(Store &store, PyObject *formula);
    size_t atom_count() const { return atoms_.size(); }
    PyObject *atom(uint32_t index) const { return atoms_[index].get(); }
    // The first node read for `f`, or null. Borrowed: the caller's tree
    // outlives the search.
    PyObject *source(FormulaId f) const { return f < sources_.size() ? sources_[f] : nullptr; }

private:
    FormulaId read_atom(Store &store, PyObject *node);
    Ref index_of_atom_;            // dict: atom node -> index
    std::vector<Ref> atoms_;
    std::vector<PyObject *> sources_;
};

// Builds trees for stored formulas: conjunctions and disjunctions nest to the
// right in member order, negations come back as implications into falsum
// unless the caller's node for them is at hand.
class TreeWriter {
public:
    TreeWriter(const Store &store, const Vocabulary &vocabulary) : store_(store), vocabulary_(vocabulary) {}
    // Borrowed from the writer; null with an exception set.
    PyObject *tree(FormulaId f);

private:
    bool build(FormulaId f);
    const Store &store_;
    const Vocabulary &vocabulary_;
    std::vector<Ref> built_;
};

}  // namespace zelqor::search
