#include "zelqor/core/ast/state.hpp"

#include "common/args.hpp"
#include "common/cycle_leaf.hpp"

namespace zelqor::ast {

State g;

PyObject *raise_invalid(PyObject *message) {
    // The module attribute, so that a caller who replaced it is obeyed; the
    // class imported at load if it is gone.
    Ref cls = g.globals.find(kInvalidFormulaError);
    if (!cls) {
        if (PyErr_Occurred()) return nullptr;
        cls = Ref::borrow(g.globals.original(kInvalidFormulaError));
    }
    Ref error = Ref::steal(PyObject_CallOneArg(cls.get(), message));
    if (!error) return nullptr;
    if (!PyExceptionInstance_Check(error.get())) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return nullptr;
    }
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.get())), error.get());
    return nullptr;
}

PyObject *raise_invalid_with_type(const char *prefix, PyObject *obj) {
    Ref display = type_display(obj);
    if (!display) return nullptr;
    Ref message = Ref::steal(PyUnicode_FromFormat("%s%U", prefix, display.get()));
    if (!message) return nullptr;
    return raise_invalid(message.get());
}

namespace {

PyObject *slot_at(PyObject *o, Py_ssize_t offset) {
    return *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(o) + offset);
}

// A sort of one of the leaf sort classes whose name is a plain str and whose
// parameters are such sorts again: it holds nothing a caller could make point
// back to a node. Nested sorts deeper than a few levels are not looked into.
bool is_leaf_sort(PyObject *o, int depth) {
    for (const LeafSortLayout &layout : g.leaf_sorts) {
        if (layout.type == nullptr || Py_TYPE(o) != layout.type) continue;
        if (depth > 4) return false;
        if (layout.name >= 0) {
            PyObject *name = slot_at(o, layout.name);
            if (name == nullptr || !PyUnicode_CheckExact(name)) return false;
        }
        if (layout.sorts >= 0) {
            PyObject *sorts = slot_at(o, layout.sorts);
            if (sorts == nullptr || !PyTuple_CheckExact(sorts)) return false;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(sorts); ++i) {
                if (!is_leaf_sort(PyTuple_GET_ITEM(sorts, i), depth + 1)) return false;
            }
        }
        if (layout.sort >= 0) {
            PyObject *sort = slot_at(o, layout.sort);
            if (sort == nullptr || !is_leaf_sort(sort, depth + 1)) return false;
        }
        return true;
    }
    return false;
}

}  // namespace

bool is_gc_leaf(PyObject *o) {
    if (cannot_hold_cycle(o, is_node_class)) return true;
    // Held by the module for its whole life: nothing reachable from them is
    // ever garbage.
    for (PyObject *member : g.kind_members) {
        if (o == member) return true;
    }
    return is_leaf_sort(o, 0);
}

}  // namespace zelqor::ast
