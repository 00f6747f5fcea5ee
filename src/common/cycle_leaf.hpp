// Whether an object can never be part of a reference cycle, so that a
// container holding only such objects may stay out of the cycle collector.
//
// Untracked is not enough: the interpreter untracks a dict (up to 3.13) while
// it holds nothing tracked and tracks it again on the first insertion of
// something that is. Only immutable containers keep the property for good:
// an exact tuple or frozen set once untracked (by the interpreter, or by us
// after checking every item), an empty one, and the caller's own immutable
// types, untracked only under the same rule.
#pragma once

#include "common/pyref.hpp"

namespace zelqor {

// `own(type)` tells whether `type` is one of the caller's immutable types,
// whose untracked instances hold only such objects.
template <typename Own>
inline bool cannot_hold_cycle(PyObject *o, Own &&own) {
    if (!PyObject_IS_GC(o)) return true;
    PyTypeObject *type = Py_TYPE(o);
    if (type == &PyTuple_Type) return !PyObject_GC_IsTracked(o) || PyTuple_GET_SIZE(o) == 0;
    if (type == &PyFrozenSet_Type) return !PyObject_GC_IsTracked(o) || PySet_GET_SIZE(o) == 0;
    return !PyObject_GC_IsTracked(o) && own(type);
}

}  // namespace zelqor
