// What the clausifier resolves once at load (the syntax-tree API, the objects
// it imported, interned names) and the per-call view of its module
// attributes. The module keeps no other state: the Skolem counters live in
// the module dictionary, where callers can see and replace them.
#pragma once

#include "common/module_globals.hpp"
#include "zelqor/core/ast/api.hpp"
#include "zelqor/core/substitutions/api.hpp"

#include <initializer_list>

namespace zelqor::clausifier {

using ast::Kind;

// The module's own functions that other steps call by name.
enum Own : int {
    kEliminate,
    kToNnf,
    kStandardize,
    kSkolemize,
    kDropUniversals,
    kDistribute,
    kToClauses,
    kToCnf,
    kOwnCount,
};

// Module attributes the steps read when they run, indices into State::globals.
enum Global : int {
    // 0..11: the node classes, in ast::Kind order.
    kFreeVariables = ast::kKindCount,
    kBoundVariables,
    kSubstituteFormula,
    kLiteral,
    kClause,
    kItertools,
    kConstantCounter,
    kFunctionCounter,
    kStandardizeCounter,
    kOwnFunctions,  // then the module's own functions, in `Own` order
    kGlobalCount = kOwnFunctions + static_cast<int>(kOwnCount),
};
inline int class_global(Kind k) { return ast::kind_index(k); }
inline int own_global(Own which) { return kOwnFunctions + static_cast<int>(which); }

struct State {
    PyObject *module = nullptr;  // strong: the module lives until exit
    const ast::Api *api = nullptr;
    const subst::Api *subst_api = nullptr;  // the native substitute_formula

    // Originals: the objects bound at load, compared with the current
    // bindings on every call to pick the native path.
    ModuleGlobals<kGlobalCount> globals;
    PyTypeObject *literal_type = nullptr, *clause_type = nullptr;

    PyObject *empty_frozenset = nullptr;

    // Interned attribute names.
    PyObject *str_count = nullptr;
    PyObject *str_operand = nullptr, *str_left = nullptr, *str_right = nullptr, *str_variable = nullptr,
             *str_body = nullptr, *str_sort = nullptr, *str_id = nullptr, *str_kind = nullptr;
    PyObject *str_atom = nullptr, *str_positive = nullptr, *str_free_vars = nullptr, *str_to_string = nullptr,
             *str_substitute = nullptr, *str_is_tautology = nullptr;
    PyObject *str_register_constant = nullptr, *str_register_function = nullptr;
    // Keyword names of the constructor calls made by name.
    PyObject *kw_constant = nullptr;   // ("name", "sort")
    PyObject *kw_function = nullptr;   // ("func", "arity", "args", "return_sort")
    PyObject *kw_variable = nullptr;   // ("id", "sort", "kind")
    PyObject *kw_literal = nullptr;    // ("atom", "positive")
};

extern State g;

bool init_state(PyObject *module);
// Starts noticing changes to the module's attributes (after the module body ran).
bool watch_module_dict();

// "<prefix><class '...'>" as ValueError.
PyObject *raise_value_error(const char *prefix, PyObject *obj);

// The module attributes one public call works with, read when it starts
// (unless nothing changed since a snapshot found them all to be our own).
// `pure` means every one of them is still the object bound at load: the call
// then runs natively, reading node fields directly and skipping intermediate
// nodes that cannot be observed. Otherwise every class test, constructor and
// step goes through the attributes, exactly as written.
// What Ctx::classify() gives for an object of none of the kinds asked for.
inline constexpr Kind kNoKind = static_cast<Kind>(-1);

struct Ctx {
    bool pure = true;
    bool own_subst = true;  // substitute_formula is still the package's own
    Ref cls[ast::kKindCount];
    Ref free_variables, bound_variables, substitute_formula, literal, clause;
    Ref own[kOwnCount];

    bool load();

    // The first kind of `order` whose class `f` is an instance of, into
    // `kind` (kNoKind when none is); false with the exception set on error.
    bool classify(PyObject *f, Kind &kind, std::initializer_list<Kind> order) const;
    // Field `slot` of a node already classified: in place from a node of
    // exactly our class on the native path, else its attribute `name`, which
    // a subclass may redefine.
    Ref get(PyObject *f, int slot, PyObject *name) const;
    // A formula node of kind `k` from its positional fields.
    PyObject *make(Kind k, std::initializer_list<PyObject *> fields) const;
    PyObject *make_variable(PyObject *id, PyObject *sort, PyObject *kind) const;
    PyObject *make_constant(PyObject *name, PyObject *sort) const;
    PyObject *make_function(PyObject *func, PyObject *arity, PyObject *args, PyObject *return_sort) const;
    // One of the module's functions, by its current binding.
    PyObject *call_own(Own which, PyObject *f, PyObject *second = nullptr) const;
    PyObject *substitute(PyObject *formula, PyObject *mapping) const;
};

// `next(<counter>)`, the counter read from the module as the interpreter's next() would.
PyObject *draw(Global counter);
// Calls signature.<method>(*args), discarding any ordinary exception; false
// with the exception set for anything else (KeyboardInterrupt, say).
bool register_symbol(PyObject *signature, PyObject *method, std::initializer_list<PyObject *> args);

}  // namespace zelqor::clausifier
