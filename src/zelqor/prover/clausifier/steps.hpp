// The clausification steps, each given the call's view of the module.
// All return a new reference, or null with an exception set.
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

namespace zelqor::clausifier {

PyObject *eliminate_implications(const Ctx &c, PyObject *formula);
PyObject *to_nnf(const Ctx &c, PyObject *formula);
PyObject *standardize_variables(const Ctx &c, PyObject *formula);
PyObject *skolemize(const Ctx &c, PyObject *formula, PyObject *signature);
PyObject *drop_universals(const Ctx &c, PyObject *formula);
PyObject *distribute_cnf(const Ctx &c, PyObject *formula);
PyObject *formula_to_clauses(const Ctx &c, PyObject *formula);
PyObject *to_cnf(const Ctx &c, PyObject *formula, PyObject *signature);

// Replaces the three counters by fresh ones; null with an exception on error.
PyObject *reset_skolem_counters();

// A step as the module binds it now, for the walks that recurse through it:
// the native step itself while every module attribute is ours, else
// whatever the attribute holds, called as the documented procedure calls it.
template <Own Step>
PyObject *bound_step(const Ctx &c, PyObject *f) {
    if (!c.pure) return c.call_own(Step, f);
    if constexpr (Step == kEliminate) return eliminate_implications(c, f);
    if constexpr (Step == kToNnf) return to_nnf(c, f);
    if constexpr (Step == kDropUniversals) return drop_universals(c, f);
    if constexpr (Step == kDistribute) return distribute_cnf(c, f);
    static_assert(Step == kEliminate || Step == kToNnf || Step == kDropUniversals || Step == kDistribute,
                  "a step of one formula argument that recurses through itself");
}

}  // namespace zelqor::clausifier
