// Objects the search module resolves once at load: the syntax tree's C API,
// the falsum and verum atoms, and the error type for formulas it cannot take.
#pragma once

#include "zelqor/core/ast/api.hpp"

namespace zelqor::search {

struct State {
    PyObject *module = nullptr;                 // strong
    const ast::Api *api = nullptr;
    PyObject *falsum = nullptr;                 // zelqor.constructive.common.FALSUM
    PyObject *verum = nullptr;                  // zelqor.constructive.common.VERUM
    PyObject *invalid_formula_error = nullptr;  // zelqor.core.exceptions.InvalidFormulaError
    PyObject *zero = nullptr;
};

extern State g;

bool init_state();

}  // namespace zelqor::search
