// The layout type shared by all visitors, and the abstract declarations of ASTVisitor.
#include "zelqor/core/visitors/object.hpp"

#include "common/args.hpp"
#include "common/boundary.hpp"
#include "common/compat.hpp"

#include <cstddef>

#include "common/members.hpp"

namespace zelqor::visitors {

namespace {

// ---- _VisitorBase -----------------------------------------------------------------

// object.__new__ semantics: refuse arguments unless some class defines
// __init__, and refuse abstract classes with the interpreter's own message.
PyObject *base_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    bool excess = PyTuple_GET_SIZE(args) > 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0);
    if (excess && type->tp_init == PyBaseObject_Type.tp_init) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments", type->tp_name);
        return nullptr;
    }
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    return PyBaseObject_Type.tp_new(type, empty.get(), nullptr);
}

int base_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    VisitorObject *v = as_visitor(self);
    Py_VISIT(v->notation);
    Py_VISIT(v->mapping);
    return 0;
}

int base_clear(PyObject *self) {
    VisitorObject *v = as_visitor(self);
    Py_CLEAR(v->notation);
    Py_CLEAR(v->mapping);
    return 0;
}

void base_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (as_visitor(self)->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
    base_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// ---- copying and pickling ----------------------------------------------------------
//
// Like an ordinary object: rebuilt without calling __init__, then given its
// state, which holds `notation` and `mapping` next to any instance attributes.

PyObject *base_getstate(PyObject *self, PyObject *) {
    VisitorObject *v = as_visitor(self);
    Ref state = Ref::steal(PyDict_New());
    if (!state) return nullptr;
    if (Py_TYPE(self)->tp_dictoffset != 0 || PyType_HasFeature(Py_TYPE(self), Py_TPFLAGS_MANAGED_DICT)) {
        Ref dict = Ref::steal(PyObject_GenericGetDict(self, nullptr));
        if (!dict || PyDict_Update(state.get(), dict.get()) < 0) return nullptr;
    }
    if (v->notation != nullptr && PyDict_SetItemString(state.get(), "notation", v->notation) < 0) return nullptr;
    if (v->mapping != nullptr && PyDict_SetItemString(state.get(), "mapping", v->mapping) < 0) return nullptr;
    if (PyDict_GET_SIZE(state.get()) == 0) Py_RETURN_NONE;
    return state.release();
}

PyObject *base_setstate(PyObject *self, PyObject *state) {
    if (state == Py_None) Py_RETURN_NONE;
    if (!check_exact_arg(state, &PyDict_Type, "state", "dict")) return nullptr;
    VisitorObject *v = as_visitor(self);
    Py_ssize_t pos = 0;
    PyObject *key_in_state, *value_in_state;
    while (PyDict_Next(state, &pos, &key_in_state, &value_in_state)) {
        // Held: setting an attribute can run caller code (a property's setter,
        // a key's __eq__ in the class dicts) that changes the caller's dict.
        Ref held_key = Ref::borrow(key_in_state), held_value = Ref::borrow(value_in_state);
        PyObject *key = held_key.get(), *value = held_value.get();
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "notation") == 0) {
            if (!check_exact_arg(value, &PyUnicode_Type, "notation", "str")) return nullptr;
            int code = kNotationUnset;
            for (int c = kInfix; c <= kLatex; ++c) {
                if (PyUnicode_Compare(value, g.notations[c]) == 0) code = c;
            }
            if (code == kNotationUnset) {
                PyErr_Format(PyExc_ValueError, "Unsupported notation: %U", value);
                return nullptr;
            }
            Py_XSETREF(v->notation, new_ref(value));
            v->notation_code = code;
        } else if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "mapping") == 0) {
            if (!check_exact_arg(value, &PyDict_Type, "mapping", "dict")) return nullptr;
            Py_XSETREF(v->mapping, new_ref(value));
        } else if (PyObject_GenericSetAttr(self, key, value) < 0) {
            return nullptr;
        }
    }
    Py_RETURN_NONE;
}

// (copyreg.__newobj__, (type(self),), self.__getstate__()) for every protocol.
PyObject *base_reduce(PyObject *self, PyObject *) {
    Ref copyreg = Ref::steal(PyImport_ImportModule("copyreg"));
    if (!copyreg) return nullptr;
    Ref newobj = Ref::steal(PyObject_GetAttrString(copyreg.get(), "__newobj__"));
    Ref state = Ref::steal(PyObject_CallMethod(self, "__getstate__", nullptr));
    if (!newobj || !state) return nullptr;
    return Py_BuildValue("O(O)O", newobj.get(), reinterpret_cast<PyObject *>(Py_TYPE(self)), state.get());
}

PyMethodDef base_methods[] = {
    {"__reduce__", boundary<base_reduce>, METH_NOARGS, "Rebuilt without __init__, then given its state."},
    {"__getstate__", boundary<base_getstate>, METH_NOARGS, "The notation or mapping and any instance attributes."},
    {"__setstate__", boundary<base_setstate>, METH_O, "Restores what __getstate__ returned."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef base_members[] = {
    {"__weaklistoffset__", ZQ_T_PYSSIZET, static_cast<Py_ssize_t>(offsetof(VisitorObject, weakrefs)), ZQ_READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot base_slots[] = {
    {Py_tp_doc, const_cast<char *>("Storage shared by the visitor classes.")},
    {Py_tp_new, ZQ_SLOT(base_new)},
    {Py_tp_dealloc, ZQ_SLOT(base_dealloc)},
    {Py_tp_traverse, ZQ_SLOT(base_traverse)},
    {Py_tp_clear, ZQ_SLOT(base_clear)},
    {Py_tp_members, base_members},
    {Py_tp_methods, base_methods},
    {0, nullptr},
};

PyType_Spec base_spec = {
    "zelqor.core.visitors._VisitorBase", static_cast<int>(sizeof(VisitorObject)), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, base_slots,
};

// ---- abstract declarations ------------------------------------------------------

struct AbstractOp {
    PyObject_HEAD
    int op;
};

PyObject *abstract_get(PyObject *self, PyObject *obj, PyObject *) {
    if (obj == nullptr || obj == Py_None) return new_ref(self);
    return PyMethod_New(self, obj);
}

PyObject *abstract_qualname(PyObject *self, void *) {
    return PyUnicode_FromFormat("ASTVisitor.%U", g.op_names[reinterpret_cast<AbstractOp *>(self)->op]);
}

PyObject *abstract_name(PyObject *self, void *) {
    return new_ref(g.op_names[reinterpret_cast<AbstractOp *>(self)->op]);
}

PyObject *abstract_true(PyObject *, void *) { Py_RETURN_TRUE; }

PyObject *abstract_repr(PyObject *self) {
    return PyUnicode_FromFormat("<abstract method ASTVisitor.%U>", g.op_names[reinterpret_cast<AbstractOp *>(self)->op]);
}

// Called as a plain function of (self, node): does nothing, returns None.
PyObject *abstract_call(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *const names[] = {"node"};
    static PyObject *const defaults[] = {nullptr};
    Ref qualname = Ref::steal(abstract_qualname(self, nullptr));
    if (!qualname) return nullptr;
    const char *qual = PyUnicode_AsUTF8(qualname.get());
    if (qual == nullptr) return nullptr;
    Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n == 0) {
        PyErr_Format(PyExc_TypeError, "%s() missing 2 required positional arguments: 'self' and 'node'", qual);
        return nullptr;
    }
    Ref rest = Ref::steal(PyTuple_GetSlice(args, 1, n));
    if (!rest) return nullptr;
    Signature sig{qual, 1, 1, names, defaults, true};
    PyObject *node;
    if (!bind_tuple(sig, rest.get(), kwargs, &node)) return nullptr;
    Py_RETURN_NONE;
}

void abstract_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyGetSetDef abstract_getset[] = {
    {"__isabstractmethod__", boundary<abstract_true>, nullptr, nullptr, nullptr},
    {"__name__", boundary<abstract_name>, nullptr, nullptr, nullptr},
    {"__qualname__", boundary<abstract_qualname>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot abstract_slots[] = {
    {Py_tp_doc, const_cast<char *>("An operation every concrete visitor must implement.")},
    {Py_tp_dealloc, ZQ_SLOT(abstract_dealloc)},
    {Py_tp_descr_get, ZQ_SLOT(abstract_get)},
    {Py_tp_call, ZQ_SLOT(abstract_call)},
    {Py_tp_repr, ZQ_SLOT(abstract_repr)},
    {Py_tp_getset, abstract_getset},
    {0, nullptr},
};

PyType_Spec abstract_spec = {
    "zelqor.core.visitors._AbstractOperation", static_cast<int>(sizeof(AbstractOp)), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, abstract_slots,
};

}  // namespace

bool create_base_types(PyObject *module) {
    g.base = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &base_spec, nullptr));
    if (g.base == nullptr) return false;
    g.abstract_op = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &abstract_spec, nullptr));
    if (g.abstract_op == nullptr) return false;
    // What inspect.signature reads for a callable of a built-in type: the
    // declarations are called as plain functions of (self, node).
    Ref signature = Ref::steal(PyUnicode_FromString("(self, node)"));
    return signature && set_in_type_dict(g.abstract_op, "__text_signature__", signature.get());
}

PyObject *new_abstract_op(int op) {
    AbstractOp *self = PyObject_New(AbstractOp, g.abstract_op);
    if (self == nullptr) return nullptr;
    self->op = op;
    return reinterpret_cast<PyObject *>(self);
}

}  // namespace zelqor::visitors
