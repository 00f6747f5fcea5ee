// Helpers for module bodies: `from X import a, b` into the module's namespace.
#pragma once

#include "common/pyref.hpp"

#include <initializer_list>

namespace zelqor {

// Imports `names` from `from` one by one and binds each as a module attribute.
// A missing module or name raises ImportError, as the import statement would.
inline bool import_names(PyObject *module, const char *from, std::initializer_list<const char *> names) {
    Ref source = Ref::steal(PyImport_ImportModule(from));
    if (!source) return false;
    for (const char *name : names) {
        Ref value = Ref::steal(PyObject_GetAttrString(source.get(), name));
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, from);
            return false;
        }
        if (PyModule_AddObjectRef(module, name, value.get()) < 0) return false;
    }
    return true;
}

// `import X` bound as attribute X of the module.
inline bool import_module_as(PyObject *module, const char *from, const char *as) {
    Ref source = Ref::steal(PyImport_ImportModule(from));
    return source && PyModule_AddObjectRef(module, as, source.get()) == 0;
}

// A new reference to attribute `name` of module `from`.
inline PyObject *import_attr(const char *from, const char *name) {
    Ref source = Ref::steal(PyImport_ImportModule(from));
    return source ? PyObject_GetAttrString(source.get(), name) : nullptr;
}

}  // namespace zelqor
