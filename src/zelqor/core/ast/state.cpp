#include "zelqor/core/ast/state.hpp"

#include "common/args.hpp"

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

bool is_gc_leaf(PyObject *o) {
    if (!PyObject_IS_GC(o) || !PyObject_GC_IsTracked(o)) return true;
    for (PyObject *member : g.kind_members) {
        if (o == member) return true;
    }
    for (PyTypeObject *t : g.leaf_sort_types) {
        if (Py_TYPE(o) == t) return true;
    }
    return false;
}

}  // namespace zelqor::ast
