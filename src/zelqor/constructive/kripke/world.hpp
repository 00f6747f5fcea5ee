// `World`: an immutable (id, name) value.
#pragma once

#include "zelqor/constructive/kripke/state.hpp"

namespace zelqor::kripke {

struct WorldObject {
    PyObject_HEAD
    PyObject *id;
    PyObject *name;
    PyObject *weakrefs;
    // Bit 0 (kPlainWorld): id and name are an exact int and str, fixed at
    // construction. The other bits: the mark of the evaluation reading this
    // world at the moment (see world_cache.hpp), zero outside one. Python
    // code never sees this field.
    uintptr_t mark;
};

constexpr uintptr_t kPlainWorld = 1;

inline bool is_exact_world(PyObject *o) noexcept { return Py_TYPE(o) == g.world_type; }

// A World whose id and name are an exact int and str: hashing it or comparing
// two such worlds runs no Python code, and its hash never changes.
inline bool is_plain_world(PyObject *o) noexcept {
    return is_exact_world(o) && (reinterpret_cast<WorldObject *>(o)->mark & kPlainWorld) != 0;
}

// dict.get(key), borrowed (null, error set or not, when absent), where
// `hash` is a hash once computed for `key`, or -1. A plain world hashes the
// same every time, so that hash serves again; anything else is hashed anew,
// as the dict would.
inline PyObject *world_entry_borrowed(PyObject *dict, PyObject *key, Py_hash_t hash) {
    if (hash != -1 && is_plain_world(key)) return _PyDict_GetItem_KnownHash(dict, key, hash);
    return PyDict_GetItemWithError(dict, key);
}
// The same, as a new reference.
inline Ref world_entry(PyObject *dict, PyObject *key, Py_hash_t hash) {
    return Ref::borrow(world_entry_borrowed(dict, key, hash));
}

// The `name` a model renders for a world: the field of a World, or the
// attribute `name` of anything else a caller put into `worlds`. New reference.
inline PyObject *world_name(PyObject *w) {
    if (is_exact_world(w)) return new_ref(reinterpret_cast<WorldObject *>(w)->name);
    return PyObject_GetAttr(w, g.str_name);
}

bool create_world_type(PyObject *module);

// `world in worlds` for a list, as the list itself would answer it (same
// comparisons, same order); two plain worlds are compared in place.
int list_contains_world(PyObject *list, PyObject *world);

}  // namespace zelqor::kripke
