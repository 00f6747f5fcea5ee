// Looking a key up in a dict, keeping what is found.
//
// The lookup may run the key's __hash__ and __eq__ (and those of the keys it
// meets), and such code may change or drop the dict: the caller holds the
// dict while it looks, and this holds the value before anything else runs.
// A borrowed value is only safe until the next call that can run Python code.
#pragma once

#include "common/pyref.hpp"

namespace zelqor {

// dict[key] as an owned reference; null without an exception when the key is
// absent, with one when hashing or comparing failed.
inline Ref dict_lookup(PyObject *dict, PyObject *key) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject *value = nullptr;
    if (PyDict_GetItemRef(dict, key, &value) < 0) return Ref();
    return Ref::steal(value);
#else
    return Ref::borrow(PyDict_GetItemWithError(dict, key));
#endif
}

}  // namespace zelqor
