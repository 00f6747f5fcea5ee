// What the TPTP module resolves once at load: the syntax-tree API, the
// objects it builds with (sorts, truth atoms, the error class) and interned
// names. Nothing here changes after import.
#pragma once

#include "zelqor/core/ast/api.hpp"

namespace zelqor::tptp {

using ast::Kind;

struct State {
    const ast::Api *api = nullptr;
    PyObject *tptp_error = nullptr;       // zelqor.core.exceptions.TPTPError
    PyObject *invalid_formula = nullptr;  // zelqor.core.exceptions.InvalidFormulaError
    PyObject *primitive_sort = nullptr;   // zelqor.core.sorts.PrimitiveSort
    PyObject *ind = nullptr;              // Ind, the sort written $i
    PyObject *verum = nullptr;            // VERUM and FALSUM of zelqor.constructive.common
    PyObject *falsum = nullptr;
    PyObject *verum_name = nullptr;       // "⊤" and "⊥", the symbols of the truth atoms
    PyObject *falsum_name = nullptr;
    PyObject *individual = nullptr;       // VariableKind.INDIVIDUAL
    PyObject *empty_tuple = nullptr;
    PyObject *str_literals = nullptr, *str_atom = nullptr, *str_positive = nullptr, *str_name = nullptr;
    PyObject *lang_fof = nullptr, *lang_cnf = nullptr, *lang_tff = nullptr, *lang_tcf = nullptr;
    PyObject *kind_constant = nullptr, *kind_function = nullptr, *kind_predicate = nullptr;
};

extern State g;

bool init_state(PyObject *module);

inline PyTypeObject *node_type(Kind k) { return g.api->types[static_cast<int>(k)]; }
inline bool is_exact(PyObject *o, Kind k) { return Py_TYPE(o) == node_type(k); }
// Kind of one of our nodes (subclasses included), -1 for anything else.
inline int kind_of(PyObject *o) { return g.api->kind_of(o); }
// The truth atoms, told apart by their symbol so that an equal atom built
// elsewhere counts too.
bool is_truth_atom(PyObject *node, bool &value);

}  // namespace zelqor::tptp
