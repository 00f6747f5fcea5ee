// Strings a module resolves once at load (attribute names, keyword names,
// dictionary keys) as interned strings: the interpreter's own lookups then
// match them by identity. The module keeps them for the life of the process.
#pragma once

#include "common/pyref.hpp"

#include <cstddef>
#include <initializer_list>

namespace zelqor {

// One name and the slot it is interned into.
struct InternedName {
    PyObject **slot;
    const char *text;
};

// Interns each name into its slot, in order; false (with the exception set)
// at the first failure, leaving the later slots as they were.
inline bool intern_names(std::initializer_list<InternedName> names) {
    for (const InternedName &name : names) {
        *name.slot = PyUnicode_InternFromString(name.text);
        if (*name.slot == nullptr) return false;
    }
    return true;
}

// The same for a table: slots[i] gets texts[i]. A table with fewer texts
// than slots (its tail left null) is refused with SystemError.
template <size_t N>
bool intern_names(PyObject *(&slots)[N], const char *const (&texts)[N]) {
    for (size_t i = 0; i < N; ++i) {
        if (texts[i] == nullptr) {
            PyErr_Format(PyExc_SystemError, "name table incomplete: %zu of %zu names", i, N);
            return false;
        }
        slots[i] = PyUnicode_InternFromString(texts[i]);
        if (slots[i] == nullptr) return false;
    }
    return true;
}

// A new tuple of interned names, e.g. the keyword names of a call made by
// name or a class's __match_args__.
inline PyObject *interned_tuple(const char *const *texts, size_t count) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
    if (!tuple) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        PyObject *name = PyUnicode_InternFromString(texts[i]);
        if (name == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), name);
    }
    return tuple.release();
}

inline PyObject *interned_tuple(std::initializer_list<const char *> texts) {
    return interned_tuple(texts.begin(), texts.size());
}

}  // namespace zelqor
