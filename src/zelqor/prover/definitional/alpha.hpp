// Whether two subformulas are equal up to the names of their bound
// variables, as A and A' in A ∨ A', A ∧ A', A ⟺ A', which the walk then
// reads as A, A, true.
#pragma once

#include "zelqor/prover/definitional/subformulas.hpp"

#include <utility>
#include <vector>

namespace zelqor::definitional {

class AlphaEquality {
public:
    explicit AlphaEquality(const Subformulas &subformulas) : items_(subformulas.items) {}

    // 1 when subformulas `a` and `b` are equal up to bound variables, 0 when
    // not, -1 with an exception set.
    int operator()(int32_t a, int32_t b);

private:
    int subformulas(int32_t a, int32_t b);
    int atoms(PyObject *a, PyObject *b);
    int arguments(PyObject *a, PyObject *b);
    int terms(PyObject *a, PyObject *b);

    const std::vector<Subformula> &items_;
    // Bound variables met so far, pairwise, innermost last (borrowed from
    // the quantifiers).
    std::vector<std::pair<PyObject *, PyObject *>> bound_;
};

}  // namespace zelqor::definitional
