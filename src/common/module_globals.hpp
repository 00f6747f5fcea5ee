// Module attributes that a module's code reads when it runs, as Python code
// reads its globals: a caller may replace or delete one, and the module then
// does what the new binding says (or raises NameError). Each has an interned
// name and may have an original, the object it was bound to at load, so that
// a call can tell whether the native path still applies.
//
//     enum Global : int { kNot, kAnd, kGlobalCount };
//     ModuleGlobals<kGlobalCount> globals;
//     globals.init(module, {"Not", "And"}) && globals.remember_original(kNot) ...
//     Ref cls = globals.get(kNot);            // owned; NameError when unbound
//     int same = globals.is_original(kNot);   // 1, 0, or -1 with NameError
#pragma once

#include "common/interned.hpp"

namespace zelqor {

template <int N>
class ModuleGlobals {
public:
    // Interns the names, in order, and holds the namespace they are read
    // from (the module's `__dict__`, or another module's for names that
    // module's code reads).
    bool init(PyObject *module, const char *const (&names)[N]) {
        Py_XSETREF(dict_, Py_NewRef(PyModule_GetDict(module)));
        return intern_names(names_, names);
    }

    PyObject *dict() const noexcept { return dict_; }
    PyObject *name(int which) const noexcept { return names_[which]; }
    // The object bound at load (borrowed; held here), or null if none was recorded.
    PyObject *original(int which) const noexcept { return originals_[which]; }

    // Records the current binding as the original; ImportError when unbound.
    bool remember_original(int which) {
        Ref value = find(which);
        if (!value) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "'%U' is not bound at load", names_[which]);
            return false;
        }
        Py_XSETREF(originals_[which], value.release());
        return true;
    }
    void set_original(int which, PyObject *value) { Py_XSETREF(originals_[which], Py_NewRef(value)); }

    // The current binding, or null without an exception when the name is
    // unbound (with one only if the lookup itself failed).
    Ref find(int which) const { return Ref::borrow(PyDict_GetItemWithError(dict_, names_[which])); }

    // The current binding; null with NameError when unbound.
    Ref get(int which) const {
        Ref value = find(which);
        if (!value && !PyErr_Occurred()) raise_unbound(which);
        return value;
    }

    // 1 while bound to the original, 0 when bound to anything else, -1 with
    // NameError when unbound. Compares identities only: no reference is kept.
    int is_original(int which) const {
        PyObject *value = PyDict_GetItemWithError(dict_, names_[which]);
        if (value != nullptr) return value == originals_[which];
        if (!PyErr_Occurred()) raise_unbound(which);
        return -1;
    }

    // Reads the binding into `slot` (left empty, without an exception, when
    // unbound); true when it is the original.
    bool read(Ref &slot, int which) const {
        slot = find(which);
        return slot && slot.get() == originals_[which];
    }

    // Binds the name, as an assignment in the module's body would.
    bool set(int which, PyObject *value) const { return PyDict_SetItem(dict_, names_[which], value) == 0; }

    // The interpreter's error for a global it cannot find. Always null.
    PyObject *raise_unbound(int which) const {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", names_[which]);
        return nullptr;
    }

private:
    PyObject *dict_ = nullptr;         // strong
    PyObject *names_[N] = {};          // interned
    PyObject *originals_[N] = {};      // strong, or null
};

}  // namespace zelqor
