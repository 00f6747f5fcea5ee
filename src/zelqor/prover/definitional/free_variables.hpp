// The free variables of subformulas in order of first occurrence, left to
// right: the argument order of a definition's atom.
#pragma once

#include "zelqor/prover/definitional/subformulas.hpp"

namespace zelqor::definitional {

class OrderedFreeVariables {
public:
    explicit OrderedFreeVariables(const Subformulas &subformulas)
        : subformulas_(subformulas), memo_(subformulas.items.size()) {}

    // A list of the free variables of subformula `index` (borrowed from the
    // memo), or null with an exception set.
    PyObject *of(int32_t index);

    // A new list of the variables of the terms of a tuple, in order of first
    // occurrence; null with an exception set.
    static PyObject *of_terms(PyObject *terms);

private:
    struct Collected;
    static bool add_term(PyObject *term, Collected &into);

    const Subformulas &subformulas_;
    std::vector<Ref> memo_;
};

}  // namespace zelqor::definitional
