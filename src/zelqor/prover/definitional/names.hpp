// Names of definition predicates: "def_" and a number drawn from the
// module's definition counter, skipping every name the formula uses for a
// predicate, function or constant and every name the signature declares.
#pragma once

#include "zelqor/prover/definitional/subformulas.hpp"

namespace zelqor::definitional {

class DefinitionNames {
public:
    DefinitionNames(const Subformulas &subformulas, PyObject *signature)
        : subformulas_(subformulas), signature_(signature) {}

    // A fresh name (new reference), or null with an exception set.
    PyObject *next();

private:
    bool collect_used();
    // 1 when `name` is a symbol of the formula or the signature, 0 when not,
    // -1 with an exception set.
    int taken(PyObject *name);

    const Subformulas &subformulas_;
    PyObject *signature_;  // borrowed; None for no signature
    Ref used_;             // names of the formula that start with the prefix
};

}  // namespace zelqor::definitional
