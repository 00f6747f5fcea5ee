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

}  // namespace zelqor::clausifier
