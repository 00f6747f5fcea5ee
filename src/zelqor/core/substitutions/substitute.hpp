// Simultaneous, capture-avoiding, sort-checked substitution of terms for
// variables in terms and formulas.
#pragma once

#include "zelqor/core/ast/api.hpp"

namespace zelqor::subst {

// Objects resolved at module load.
struct Context {
    const ast::Api *api = nullptr;
    PyObject *sort_error = nullptr;          // zelqor.core.exceptions.SortError
    PyObject *invalid_formula_error = nullptr;
    PyObject *second_order_names[4] = {};
    PyObject *str_sort = nullptr, *str_body = nullptr, *str_variable = nullptr, *str_id = nullptr, *str_kind = nullptr;
    PyObject *str_func = nullptr, *str_pred = nullptr, *str_arity = nullptr, *str_args = nullptr;
    PyObject *str_return_sort = nullptr, *str_operand = nullptr, *str_left = nullptr, *str_right = nullptr;
};

extern Context ctx;

// New reference, or null with an exception set. `mapping` is a dict, of
// which the walk takes a copy first: what it holds when the call starts is
// what is substituted, whatever caller code run by the walk does to it.
PyObject *substitute_term(PyObject *term, PyObject *mapping);
PyObject *substitute_formula(PyObject *formula, PyObject *mapping);
// The same walk without checking the mapping's sorts (see api.hpp), and on
// the mapping itself: the caller's own dict, which no other code can reach.
PyObject *substitute_formula_presorted(PyObject *formula, PyObject *mapping);

}  // namespace zelqor::subst
