// Objects the Kripke module resolves once at load: its two types, the syntax
// tree's C API, the imported objects as they were at import (to recognise
// when a module attribute still holds them) and interned names.
#pragma once

#include "common/module_globals.hpp"
#include "zelqor/core/ast/api.hpp"

namespace zelqor::kripke {

// The names the module body imports and looks up again at call time.
enum Imported : int {
    kNot,
    kAnd,
    kOr,
    kImplies,
    kIff,
    kIsFalsum,
    kIsVerum,
    kIsAtomic,
    kToString,
    kImportedCount,
};

// The globals of `zelqor.constructive.common` that its predicates read.
enum CommonName : int { kFalsumName, kVerumName, kPredicateAppName, kCommonCount };

struct State {
    PyObject *module = nullptr;                     // strong
    const ast::Api *api = nullptr;
    PyTypeObject *world_type = nullptr;
    PyTypeObject *model_type = nullptr;
    ModuleGlobals<kImportedCount> globals;          // originals: the objects bound at import
    ModuleGlobals<kCommonCount> common;             // in zelqor.constructive.common's namespace
    PyObject *newobj = nullptr;                     // copyreg.__newobj__
    // Interned names.
    PyObject *str_add = nullptr;
    PyObject *str_name = nullptr;
    PyObject *str_left = nullptr;
    PyObject *str_right = nullptr;
    PyObject *str_operand = nullptr;
    PyObject *str_worlds = nullptr;
    PyObject *str_relations = nullptr;
    PyObject *str_valuations = nullptr;
    PyObject *str_add_world = nullptr;
    PyObject *str_accessible_worlds = nullptr;
    PyObject *str_evaluate = nullptr;
    PyObject *str_closure = nullptr;
    PyObject *str_monotonicity = nullptr;
    PyObject *str_to_string = nullptr;
};

extern State g;

inline PyTypeObject *node_type(ast::Kind k) noexcept { return g.api->type(k); }

// Resolves the imported names, the outside objects and the interned strings.
bool init_state(PyObject *module);

}  // namespace zelqor::kripke
