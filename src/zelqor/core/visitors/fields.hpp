// Reading node fields: directly from our own node layout when the node is
// exactly the expected class, otherwise as an attribute (a subclass may
// redefine it, and an operation may be handed any object).
#pragma once

#include "zelqor/core/visitors/state.hpp"

namespace zelqor::visitors {

inline bool is_exact(PyObject *node, int kind) noexcept {
    return has_node_kind(kind) && Py_TYPE(node) == g.node_types[kind];
}

using ast::Field;

inline Field node_field(PyObject *node, int kind, int slot, PyObject *name) {
    return Field(node, is_exact(node, kind), slot, name);
}

// Slot and attribute name of the two children of a two-child node kind
// (Equality, the connectives, Forall and Exists).
inline int first_slot(int kind) { return kind == kEquality ? ast::slot::eq_left : 0; }
inline int second_slot(int kind) { return kind == kEquality ? ast::slot::eq_right : 1; }
inline PyObject *first_name(int kind) { return kind == kForall || kind == kExists ? g.str_variable : g.str_left; }
inline PyObject *second_name(int kind) { return kind == kForall || kind == kExists ? g.str_body : g.str_right; }

// Arguments of an application node.
inline Field app_args(PyObject *node, int kind) {
    return node_field(node, kind, kind == kFunctionApp ? ast::slot::fn_args : ast::slot::pred_args, g.str_args);
}

// Calls `fn(item)` for each element of an argument sequence, in order.
template <class Fn>
bool for_each_arg(PyObject *args, Fn &&fn) {
    if (PyTuple_CheckExact(args)) {
        for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(args); i < n; ++i) {
            if (!fn(PyTuple_GET_ITEM(args, i))) return false;
        }
        return true;
    }
    Ref it = Ref::steal(PyObject_GetIter(args));
    if (!it) return false;
    while (PyObject *item = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(item);
        if (!fn(item)) return false;
    }
    return !PyErr_Occurred();
}

}  // namespace zelqor::visitors
