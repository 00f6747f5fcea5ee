// `World`: an immutable (id, name) value.
#pragma once

#include "zelqor/constructive/kripke/state.hpp"

namespace zelqor::kripke {

struct WorldObject {
    PyObject_HEAD
    PyObject *id;
    PyObject *name;
    PyObject *weakrefs;
};

inline bool is_exact_world(PyObject *o) noexcept { return Py_TYPE(o) == g.world_type; }

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
