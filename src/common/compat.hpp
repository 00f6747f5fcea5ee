// Differences between the supported interpreters (3.11 to 3.14), kept in one place.
#pragma once

#include "common/pyref.hpp"

namespace zelqor {

// getattr that reports a missing attribute as 0 without raising:
// 1 found (*result set), 0 missing, -1 error.
inline int get_optional_attr(PyObject *obj, PyObject *name, PyObject **result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, result);
#else
    return _PyObject_LookupAttr(obj, name, result);
#endif
}

inline int has_attr(PyObject *obj, PyObject *name) {
    PyObject *value = nullptr;
    int found = get_optional_attr(obj, name, &value);
    Py_XDECREF(value);
    return found;
}

// The exception being raised, taken out of the error indicator (a new
// reference, normalized), or null when none is set.
inline PyObject *take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Sets `type.<name>` in the type's own dictionary, which also serves names
// that type attribute assignment refuses (read-only on the metatype, or a
// type that refuses assignment).
inline bool set_in_type_dict(PyTypeObject *type, const char *name, PyObject *value) {
#if PY_VERSION_HEX >= 0x030C0000
    Ref dict = Ref::steal(PyType_GetDict(type));
#else
    Ref dict = Ref::borrow(type->tp_dict);
#endif
    if (!dict || PyDict_SetItemString(dict.get(), name, value) < 0) return false;
    PyType_Modified(type);
    return true;
}

// Whether assertions are enabled (`python -O` turns them off).
inline bool assertions_enabled() {
    PyObject *flags = PySys_GetObject("flags");  // borrowed
    if (flags == nullptr) return true;
    PyObject *optimize = PyObject_GetAttrString(flags, "optimize");
    if (optimize == nullptr) { PyErr_Clear(); return true; }
    long level = PyLong_AsLong(optimize);
    Py_DECREF(optimize);
    if (level == -1 && PyErr_Occurred()) { PyErr_Clear(); return true; }
    return level == 0;
}

}  // namespace zelqor
