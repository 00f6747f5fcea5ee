// Layout of the syntax-tree nodes, shared by every extension module.
//
// All twelve node classes share one layout: the object header, the cached
// hash, then the fields as object pointers in declaration order, hidden
// `_free_vars` last where the class keeps one. The other modules read fields
// through these accessors after a subtype check against the type objects
// published by `zelqor.core.ast` (see api.hpp).
#pragma once

#include "common/pyref.hpp"

#include <cstdint>

namespace zelqor::ast {

enum class Kind : int {
    Variable,
    Constant,
    FunctionApp,
    PredicateApp,
    Equality,
    Not,
    And,
    Or,
    Implies,
    Iff,
    Forall,
    Exists,
};
inline constexpr int kKindCount = 12;

// The position of a kind in the per-kind tables (types[], the class
// descriptions), and the kind at a position.
constexpr int kind_index(Kind k) noexcept { return static_cast<int>(k); }
constexpr Kind kind_at(int index) noexcept { return static_cast<Kind>(index); }

struct Node {
    PyObject_HEAD
    Py_hash_t hash;        // cached at construction; unused by Variable and Constant
    PyObject *field[1];    // really `slot_count(kind)` entries
};

inline Node *as_node(PyObject *o) noexcept { return reinterpret_cast<Node *>(o); }

// Field positions of each class, in declaration order.
namespace slot {
inline constexpr int sort = 0;                                    // terms
inline constexpr int var_id = 1, var_kind = 2;                    // Variable
inline constexpr int const_name = 1;                              // Constant
inline constexpr int fn_func = 1, fn_arity = 2, fn_args = 3, fn_return_sort = 4, fn_free = 5;  // FunctionApp
inline constexpr int pred_pred = 0, pred_arity = 1, pred_args = 2, pred_free = 3;              // PredicateApp
inline constexpr int eq_left = 0, eq_right = 1, eq_free = 2;      // Equality
inline constexpr int operand = 0;                                 // Not
inline constexpr int left = 0, right = 1;                         // And, Or, Implies, Iff
inline constexpr int variable = 0, body = 1;                      // Forall, Exists
}  // namespace slot

inline PyObject *field(PyObject *node, int i) noexcept { return as_node(node)->field[i]; }

}  // namespace zelqor::ast
