// Argument handling shared by the extension modules: exact-type checks with
// the library's messages, and a small parser for vectorcall signatures.
#pragma once

#include "common/pyref.hpp"

#include <array>
#include <cstring>

// A METH_FASTCALL function stored in PyMethodDef's PyCFunction slot.
#define ZQ_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

namespace zelqor {

// repr(type(obj)), e.g. "<class 'int'>": the type display of messages.
inline Ref type_display(PyObject *obj) {
    return Ref::steal(PyObject_Repr(reinterpret_cast<PyObject *>(Py_TYPE(obj))));
}

// Raises `error` with "<prefix><class '...'>" naming the class of `obj`;
// always null.
inline PyObject *raise_with_type(PyObject *error, const char *prefix, PyObject *obj) {
    Ref display = type_display(obj);
    if (display) PyErr_Format(error, "%s%U", prefix, display.get());
    return nullptr;
}

// Refuses anything but an object of exactly `expected` (subclasses included):
// "Argument 'name' has incorrect type (expected list, got tuple)".
inline bool check_exact_arg(PyObject *obj, PyTypeObject *expected, const char *arg_name,
                            const char *expected_name) {
    if (Py_IS_TYPE(obj, expected)) return true;
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                 arg_name, expected_name, Py_TYPE(obj)->tp_name);
    return false;
}

// Checks a value about to be returned: "Expected str, got int". None passes.
inline bool check_exact_result(PyObject *obj, PyTypeObject *expected, const char *expected_name) {
    if (obj == Py_None || Py_IS_TYPE(obj, expected)) return true;
    PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", expected_name, Py_TYPE(obj)->tp_name);
    return false;
}

// A Python-style signature: `npositional` positional-or-keyword parameters
// followed by keyword-only ones. `defaults[i]` null means required.
struct Signature {
    const char *function;             // for messages, e.g. "Variable.__init__"
    int count;
    int npositional;
    const char *const *names;
    PyObject *const *defaults;        // borrowed, same length as names
    bool method = false;              // counts `self` in positional counts, as methods do
};

namespace detail {

inline int param_index(const Signature &sig, PyObject *key) {
    for (int i = 0; i < sig.count; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, sig.names[i]) == 0) return i;
    }
    return -1;
}

inline bool bind_keyword(const Signature &sig, PyObject *key, PyObject *value, PyObject **out) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", sig.function);
        return false;
    }
    int i = param_index(sig, key);
    if (i < 0) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.function, key);
        return false;
    }
    if (out[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function,
                     sig.names[i]);
        return false;
    }
    out[i] = value;
    return true;
}

inline bool finish_binding(const Signature &sig, PyObject **out) {
    int missing = 0;
    for (int i = 0; i < sig.count; ++i) {
        if (out[i] == nullptr) {
            if (sig.defaults[i] == nullptr) {
                ++missing;
            } else {
                out[i] = sig.defaults[i];
            }
        }
    }
    if (missing == 0) return true;
    // Same wording as the interpreter's own functions.
    Ref names = Ref::steal(PyUnicode_FromString(""));
    int seen = 0;
    bool positional = false;
    for (int i = 0; i < sig.count && names; ++i) {
        if (out[i] != nullptr) continue;
        positional = i < sig.npositional;
        const char *sep = seen == 0 ? "" : (seen == missing - 1 ? (missing > 2 ? ", and " : " and ") : ", ");
        names = Ref::steal(PyUnicode_FromFormat("%U%s'%s'", names.get(), sep, sig.names[i]));
        ++seen;
    }
    if (!names) return false;
    PyErr_Format(PyExc_TypeError, "%s() missing %d required %s argument%s: %U", sig.function, missing,
                 positional ? "positional" : "keyword-only", missing == 1 ? "" : "s", names.get());
    return false;
}

inline bool check_positional_count(const Signature &sig, Py_ssize_t nargs) {
    if (nargs <= sig.npositional) return true;
    int self = sig.method ? 1 : 0;
    int required = 0;
    for (int i = 0; i < sig.npositional; ++i) required += sig.defaults[i] == nullptr;
    int most = sig.npositional + self;
    Py_ssize_t given = nargs + self;
    if (required == sig.npositional) {
        PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd %s given", sig.function, most,
                     most == 1 ? "" : "s", given, given == 1 ? "was" : "were");
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes from %d to %d positional arguments but %zd were given",
                     sig.function, required + self, most, given);
    }
    return false;
}

}  // namespace detail

// Binds vectorcall arguments to `out` (borrowed references, defaults filled in).
inline bool bind_vector(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                        PyObject **out) {
    if (!detail::check_positional_count(sig, nargs)) return false;
    for (int i = 0; i < sig.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    if (kwnames != nullptr) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (!detail::bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out)) return false;
        }
    }
    return detail::finish_binding(sig, out);
}

// Binds tuple/dict arguments (tp_new and tp_call paths) the same way.
inline bool bind_tuple(const Signature &sig, PyObject *args, PyObject *kwargs, PyObject **out) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (!detail::check_positional_count(sig, nargs)) return false;
    for (int i = 0; i < sig.count; ++i) out[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!detail::bind_keyword(sig, key, value, out)) return false;
        }
    }
    return detail::finish_binding(sig, out);
}

// The ordinary type call (tp_new, then tp_init) for vector arguments: what a
// class's own vectorcall falls back to when called for a subclass, so that
// the subclass's __new__ and __init__ run.
inline PyObject *call_type_generically(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Ref tuple = Ref::steal(PyTuple_New(nargs));
    if (!tuple) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(tuple.get(), i, new_ref(args[i]));
    Ref kwargs;
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        kwargs = Ref::steal(PyDict_New());
        if (!kwargs) return nullptr;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
            if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) return nullptr;
        }
    }
    return PyType_Type.tp_call(callable, tuple.get(), kwargs.get());
}

}  // namespace zelqor
