// What the two value types, Literal and Clause, share: their type flags,
// allocation, pickling, the call of a subclass's override, and the tests
// that let an instance made of immutable leaves stay out of the collector.
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

namespace zelqor::clausifier {

inline constexpr unsigned long kValueTypeFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE;

// Whether the object can never be part of a reference cycle (see
// common/cycle_leaf.hpp); our own immutable classes are the node classes,
// Literal and Clause, whose exact instances are untracked only under that
// same rule. An exact Literal or Clause holding only such objects is left
// untracked; a subclass instance (which may carry a __dict__) never is.
bool is_cycle_leaf(PyObject *o);

// Untracks a frozen set whose members can never be part of a cycle.
void untrack_if_leaves(PyObject *set);

// A new instance of `type`, left untracked when `exact` (the caller tracks it
// once its fields are known).
PyObject *allocate_value(PyTypeObject *type, bool exact);

// Hash of a class, as hash() gives it: fixed for the life of the class.
Py_hash_t type_hash(PyTypeObject *type);

// (type, args), plus the instance dictionary of a subclass instance.
PyObject *reduce_with(PyObject *self, PyObject *args);

// Runs `native` on an object of exactly our class, else calls its method
// `name` (a subclass may override it).
inline PyObject *native_or_override(PyObject *self, bool exact, PyObject *name, PyObject *(*native)(PyObject *)) {
    if (exact) return native(self);
    return PyObject_CallMethodNoArgs(self, name);
}

// The argument of `substitute`: exactly a dict.
bool check_subst(PyObject *subst);

}  // namespace zelqor::clausifier
