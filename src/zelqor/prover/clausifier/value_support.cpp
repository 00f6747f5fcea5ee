#include "zelqor/prover/clausifier/value_support.hpp"

#include "common/args.hpp"
#include "common/cycle_leaf.hpp"
#include "common/frozen_record.hpp"

namespace zelqor::clausifier {

bool is_cycle_leaf(PyObject *o) {
    return cannot_hold_cycle(o, [](PyTypeObject *type) {
        if (type == g.literal_type || type == g.clause_type) return true;
        for (PyTypeObject *own : g.api->types) {
            if (type == own) return true;
        }
        return false;
    });
}

void untrack_if_leaves(PyObject *set) {
    if (!PyFrozenSet_CheckExact(set) || !PyObject_GC_IsTracked(set)) return;
    Ref it = Ref::steal(PyObject_GetIter(set));
    if (!it) {
        PyErr_Clear();  // only an optimisation: leave the set tracked
        return;
    }
    while (PyObject *key = PyIter_Next(it.get())) {
        bool leaf = is_cycle_leaf(key);
        Py_DECREF(key);
        if (!leaf) return;
    }
    PyObject_GC_UnTrack(set);
}

PyObject *allocate_value(PyTypeObject *type, bool exact) {
    if (exact) return reinterpret_cast<PyObject *>(PyObject_GC_New(PyObject, type));
    return type->tp_alloc(type, 0);
}

Py_hash_t type_hash(PyTypeObject *type) {
    static PyTypeObject *cached_type[2] = {};
    static Py_hash_t cached[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (cached_type[i] == type) return cached[i];
    }
    Py_hash_t h = PyObject_Hash(reinterpret_cast<PyObject *>(type));
    if (h != -1 && (type == g.literal_type || type == g.clause_type)) {
        int i = type == g.literal_type ? 0 : 1;
        cached_type[i] = type;
        cached[i] = h;
    }
    return h;
}

PyObject *reduce_with(PyObject *self, PyObject *args) {
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    Ref dict;
    if (!record_instance_dict(self, dict)) return nullptr;
    if (dict) return Py_BuildValue("(OOO)", type, args, dict.get());
    return Py_BuildValue("(OO)", type, args);
}

bool check_subst(PyObject *subst) { return check_exact_arg(subst, &PyDict_Type, "subst", "dict"); }

}  // namespace zelqor::clausifier
