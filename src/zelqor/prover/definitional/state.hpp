// What the definitional clausifier resolves once at load: the syntax-tree and
// substitution APIs, the clausifier whose value types and Skolem counters it
// shares, and interned names.
#pragma once

#include "common/module_globals.hpp"
#include "zelqor/core/ast/api.hpp"
#include "zelqor/core/substitutions/api.hpp"

namespace zelqor::definitional {

using ast::Kind;

// The clausifier's counters this module draws from, read at call time from
// the clausifier's namespace (a caller may replace them).
enum ClausifierGlobal : int { kConstantCounter, kFunctionCounter, kStandardizeCounter, kClausifierGlobalCount };
// This module's own attributes read at call time.
enum OwnGlobal : int { kDefinitionCounter, kOwnGlobalCount };

struct State {
    PyObject *module = nullptr;  // strong: the module lives until exit
    const ast::Api *api = nullptr;
    const subst::Api *subst_api = nullptr;
    // The clausifier's own value types (strong): what calling them makes has
    // their layout.
    PyObject *literal_type = nullptr, *clause_type = nullptr;
    PyObject *count = nullptr;  // itertools.count

    ModuleGlobals<kClausifierGlobalCount> clausifier_globals;
    ModuleGlobals<kOwnGlobalCount> own_globals;

    // The clausifier's `_standardize_var_counter` when the definition
    // numbering last started: only reset_skolem_counters() replaces it.
    PyObject *numbering_epoch = nullptr;

    PyObject *str_register_constant = nullptr, *str_register_function = nullptr,
             *str_register_predicate = nullptr;
    PyObject *str_constants = nullptr, *str_functions = nullptr, *str_predicates = nullptr;
    PyObject *str_pattern = nullptr;  // the symbol of the atoms definitions are looked up by
};

extern State g;

bool init_state(PyObject *module);

inline bool is_kind(int kind, Kind k) { return kind == ast::kind_index(k); }

// Kind of a node of one of the node classes or a class derived from one;
// -1 for anything else. Our own classes are told without a call.
inline int kind_of(PyObject *o) {
    PyTypeObject *type = Py_TYPE(o);
    for (int k = 0; k < ast::kKindCount; ++k) {
        if (type == g.api->types[k]) return k;
    }
    return g.api->kind_of(o);
}
inline PyObject *node_type(Kind k) { return reinterpret_cast<PyObject *>(g.api->type(k)); }

// next() of one of the clausifier's counters.
PyObject *draw_clausifier_counter(ClausifierGlobal counter);
// next() of this module's definition counter, which starts over whenever
// the clausifier's counters were reset since it last did.
PyObject *draw_definition_number();

}  // namespace zelqor::definitional
