// Layout of the syntax-tree nodes, shared by every extension module.
//
// All twelve node classes share one layout: the object header, the cached
// hash, then the fields as object pointers in declaration order, hidden
// `_free_vars` last where the class keeps one. The other modules read fields
// through these accessors after a subtype check against the type objects
// published by `zelqor.core.ast` (see api.hpp).
#pragma once

#include "common/pyref.hpp"

#include <array>
#include <cstddef>
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

// For an object known to be of one of the twelve kinds: whether its class is
// exactly ours (ours derive directly from Term or Formula), not a subclass.
inline bool is_exact_node(PyObject *node, PyTypeObject *term, PyTypeObject *formula) noexcept {
    PyTypeObject *base = Py_TYPE(node)->tp_base;
    return base == term || base == formula;
}

// A field of a node of one of the twelve classes or of a subclass, read as
// every operation reads it: in place from a node of exactly its class (the
// node never changes and the caller keeps it, so the field lives as long),
// otherwise through the attribute, which a subclass may redefine (as a
// property, say): that value is new, and held here.
class Field {
public:
    Field(PyObject *node, bool exact, int slot, PyObject *name)
        : owned_(exact ? Ref() : Ref::steal(PyObject_GetAttr(node, name))),
          ptr_(exact ? field(node, slot) : owned_.get()) {}
    PyObject *get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    Ref ref() const { return Ref::borrow(ptr_); }

private:
    Ref owned_;
    PyObject *ptr_;
};

// The arguments of an application as a tuple to index while walking them:
// the tuple itself, or a copy of any other sequence, which caller code run by
// the walk could change. `message` is the TypeError for a non-sequence.
inline Ref argument_tuple(PyObject *args, const char *message) {
    if (PyTuple_CheckExact(args)) return Ref::borrow(args);
    Ref items = Ref::steal(PySequence_Fast(args, message));
    if (!items || PyTuple_CheckExact(items.get())) return items;
    return Ref::steal(PyList_AsTuple(items.get()));
}

// ---- fields in storage order from constructor arguments ---------------------
// A term stores its sort first, while its constructor takes it last (by
// keyword, for variables and constants); a function application's sort is
// its return sort. These give the fields that Api::make takes, in storage
// order, from the constructor's arguments in call order.

inline std::array<PyObject *, 3> variable_fields(PyObject *id, PyObject *kind, PyObject *sort) noexcept {
    return {sort, id, kind};
}
inline std::array<PyObject *, 2> constant_fields(PyObject *name, PyObject *sort) noexcept { return {sort, name}; }
inline std::array<PyObject *, 5> function_app_fields(PyObject *func, PyObject *arity, PyObject *args,
                                                     PyObject *return_sort) noexcept {
    return {return_sort, func, arity, args, return_sort};
}

// The same for any kind: the `count` arguments in call order (a variable's
// or constant's sort last, a function application's without its sort).
class StorageOrder {
public:
    StorageOrder(Kind kind, PyObject *const *args, int count) noexcept {
        switch (kind) {
        case Kind::Variable: take(variable_fields(args[0], args[1], args[2])); break;
        case Kind::Constant: take(constant_fields(args[0], args[1])); break;
        case Kind::FunctionApp: take(function_app_fields(args[0], args[1], args[2], args[3])); break;
        default:
            for (int i = 0; i < count; ++i) fields_[i] = args[i];
        }
    }
    PyObject *const *fields() const noexcept { return fields_; }

private:
    template <size_t N>
    void take(const std::array<PyObject *, N> &stored) noexcept {
        for (size_t i = 0; i < N; ++i) fields_[i] = stored[i];
    }
    PyObject *fields_[5] = {};
};

}  // namespace zelqor::ast
