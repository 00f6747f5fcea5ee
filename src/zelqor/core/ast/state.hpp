// Objects the syntax-tree module resolves once at load and uses on every
// call: its types, the default sort, interned names and a few constants.
// They never change after import; the module keeps no other state.
#pragma once

#include "common/module_globals.hpp"
#include "zelqor/core/ast/nodes.hpp"

namespace zelqor::ast {

struct KindInfo;

// A sort class whose instances are immutable and hold only a name and other
// sorts: where each of those lives in the instance (slot offsets, -1 none).
struct LeafSortLayout {
    PyTypeObject *type = nullptr;
    Py_ssize_t name = -1;      // a str
    Py_ssize_t sorts = -1;     // a tuple of sorts
    Py_ssize_t sort = -1;      // one sort
};

// Module attributes read when the module's code runs, indices into State::globals.
enum Global : int { kInvalidFormulaError, kGlobalCount };

struct State {
    PyObject *module = nullptr;        // strong
    PyTypeObject *term = nullptr;
    PyTypeObject *formula = nullptr;
    PyTypeObject *types[kKindCount] = {};
    PyObject *kind_members[3] = {};                 // INDIVIDUAL, PREDICATE, FUNCTION
    Py_hash_t kind_hashes[3] = {};
    PyObject *ind = nullptr;                        // default sort
    ModuleGlobals<kGlobalCount> globals;            // originals: what the module imported
    PyObject *newobj_ex = nullptr;                  // copyreg.__newobj_ex__
    PyObject *empty_frozenset = nullptr;
    PyObject *zero = nullptr;
    LeafSortLayout leaf_sorts[3];                   // sort classes whose instances hold no nodes
    PyObject *str_free_vars = nullptr;
    PyObject *str_index = nullptr;
    PyObject *str_arity = nullptr;
    PyObject *str_body = nullptr;
    PyObject *str_sort = nullptr;
    PyObject *str_operand = nullptr, *str_left = nullptr, *str_right = nullptr, *str_variable = nullptr;
    PyObject *str_args = nullptr, *str_func = nullptr, *str_pred = nullptr, *str_return_sort = nullptr;
    PyObject *second_order_names[4] = {};           // ForallPred, ExistsPred, ForallFunc, ExistsFunc
};

extern State g;

// Kind of an object whose class is one of the twelve node classes or derives
// from one; -1 for anything else.
inline int kind_of_type(PyTypeObject *t) noexcept {
    for (; t != nullptr; t = t->tp_base) {
        for (int k = 0; k < kKindCount; ++k) {
            if (t == g.types[k]) return k;
        }
    }
    return -1;
}
inline int kind_of(PyObject *o) noexcept { return kind_of_type(Py_TYPE(o)); }
inline PyTypeObject *type_of(Kind k) noexcept { return g.types[kind_index(k)]; }
inline bool is_exact(PyObject *o, Kind k) noexcept { return Py_TYPE(o) == type_of(k); }
inline bool is_a(PyObject *o, Kind k) noexcept { return PyObject_TypeCheck(o, type_of(k)); }

// Raises the module's InvalidFormulaError (looked up at raise time, so a
// replaced module attribute is obeyed) with `message`. Always returns null.
PyObject *raise_invalid(PyObject *message);
// "<prefix><class 'x.Y'>" as InvalidFormulaError.
PyObject *raise_invalid_with_type(const char *prefix, PyObject *obj);

// Whether the object can never be part of a reference cycle through a node
// (see common/cycle_leaf.hpp): a node of ours may stay out of the collector
// when all it holds is such an object.
bool is_gc_leaf(PyObject *o);

// Whether `t` is exactly one of the twelve node classes.
inline bool is_node_class(PyTypeObject *t) noexcept {
    for (PyTypeObject *own : g.types) {
        if (t == own) return true;
    }
    return false;
}

// For an object known to be of one of the twelve kinds: whether its class is
// exactly ours (whose base is Term or Formula) rather than a subclass.
inline bool is_exact_node(PyObject *node) noexcept { return ast::is_exact_node(node, g.term, g.formula); }

// Field `slot` (attribute `name`) of a node known to be of a kind that has it.
inline Field part(PyObject *node, int slot, PyObject *name) {
    return Field(node, is_exact_node(node), slot, name);
}

}  // namespace zelqor::ast
