// `KripkeModel`: worlds, accessibility rows and valuation sets held in plain
// Python containers that callers read and change directly.
#pragma once

#include "common/dict_lookup.hpp"
#include "zelqor/constructive/kripke/state.hpp"

namespace zelqor::kripke {

struct ModelObject {
    PyObject_HEAD
    PyObject *worlds;       // always an exact list
    PyObject *relations;    // always an exact dict: world -> row
    PyObject *valuations;   // always an exact dict: world -> set of formulas
    PyObject *weakrefs;
};

inline ModelObject *as_model(PyObject *o) noexcept { return reinterpret_cast<ModelObject *>(o); }

bool create_model_type(PyObject *module);

// ---- operations (building.cpp, closure.cpp, evaluate.cpp, render.cpp) ---------------
// `self` is a KripkeModel or an instance of a subclass. Each returns a new
// reference (None for the procedures) or null with an exception set.

int init_model(PyObject *self, PyObject *worlds, PyObject *relations, PyObject *valuations);
PyObject *add_world(PyObject *self, PyObject *world);
PyObject *add_relation(PyObject *self, PyObject *source, PyObject *target);
PyObject *add_valuation(PyObject *self, PyObject *world, PyObject *formula);
PyObject *is_accessible(PyObject *self, PyObject *source, PyObject *target);
PyObject *accessible_worlds(PyObject *self, PyObject *world);
PyObject *compute_transitive_closure(PyObject *self);
PyObject *enforce_monotonicity(PyObject *self);
PyObject *evaluate(PyObject *self, PyObject *formula, PyObject *world);
// Lets `evaluate` skip re-reading the names it relies on while neither the
// module's namespace nor the constructive module's changes.
bool watch_namespaces(PyObject *module);
PyObject *to_dict(PyObject *self);
PyObject *to_string(PyObject *self);

// ---- methods a subclass may override --------------------------------------------------

enum Method : int { kAddWorld, kAccessibleWorlds, kEvaluate, kClosure, kMonotonicity, kToStringMethod, kMethodCount };

// 1 when `self.<method>` is still the model's own method, 0 when a subclass,
// an instance attribute or a patched class replaced it, -1 on error.
int uses_own(PyObject *self, Method m);
// self.<method>(args...) through whatever the attribute now holds.
PyObject *call_method(PyObject *self, Method m, PyObject *const *args, size_t nargs);

// ---- container helpers --------------------------------------------------------------------

// container.add(item): directly on an exact set, else through its `add`.
inline int container_add(PyObject *container, PyObject *item) {
    if (PySet_CheckExact(container)) return PySet_Add(container, item);
    Ref r = Ref::steal(PyObject_CallMethodOneArg(container, g.str_add, item));
    return r ? 0 : -1;
}

// KeyError(key), also for a tuple key.
inline void raise_key_error(PyObject *key) {
    Ref error = Ref::steal(PyObject_CallOneArg(PyExc_KeyError, key));
    if (error) PyErr_SetObject(PyExc_KeyError, error.get());
}

}  // namespace zelqor::kripke
