// Construction, the building operations and the two accessibility queries.
// Every member is re-read at each step: a subclass's override may replace it.
#include "zelqor/constructive/kripke/model.hpp"

#include "common/args.hpp"
#include "zelqor/constructive/kripke/closure.hpp"
#include "zelqor/constructive/kripke/world.hpp"

namespace zelqor::kripke {

namespace {

// {key: set(value) for key, value in source.items()}, in the source's order.
PyObject *copy_rows(PyObject *source) {
    Ref copy = Ref::steal(PyDict_New());
    if (!copy || source == Py_None) return copy.release();
    // A snapshot: building a set may run a caller's __hash__.
    Ref items = Ref::steal(PyDict_Items(source));
    if (!items) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject *item = PyList_GET_ITEM(items.get(), i);
        Ref row = Ref::steal(PySet_New(PyTuple_GET_ITEM(item, 1)));
        if (!row || PyDict_SetItem(copy.get(), PyTuple_GET_ITEM(item, 0), row.get()) < 0) return nullptr;
    }
    return copy.release();
}

// self.add_world(world), through an override if there is one.
bool call_add_world(PyObject *self, PyObject *world) {
    int own = uses_own(self, kAddWorld);
    if (own < 0) return false;
    Ref done = Ref::steal(own ? add_world(self, world) : call_method(self, kAddWorld, &world, 1));
    return static_cast<bool>(done);
}

bool call_procedure(PyObject *self, Method m) {
    int own = uses_own(self, m);
    if (own < 0) return false;
    Ref done;
    if (!own) {
        done = Ref::steal(call_method(self, m, nullptr, 0));
    } else if (m == kClosure) {
        done = Ref::steal(compute_transitive_closure(self));
    } else {
        done = Ref::steal(enforce_monotonicity(self));
    }
    return static_cast<bool>(done);
}

// The existing set of `key` in `dict`; KeyError when there is none.
Ref required_entry(PyObject *dict, PyObject *key) {
    Ref entry = dict_lookup(dict, key);
    if (!entry && !PyErr_Occurred()) raise_key_error(key);
    return entry;
}

}  // namespace

int init_model(PyObject *self, PyObject *worlds, PyObject *relations, PyObject *valuations) {
    if ((worlds != Py_None && !check_exact_arg(worlds, &PyList_Type, "worlds", "list")) ||
        (relations != Py_None && !check_exact_arg(relations, &PyDict_Type, "relations", "dict")) ||
        (valuations != Py_None && !check_exact_arg(valuations, &PyDict_Type, "valuations", "dict"))) {
        return -1;
    }
    Ref new_worlds = Ref::steal(worlds == Py_None ? PyList_New(0) : PyList_GetSlice(worlds, 0, PY_SSIZE_T_MAX));
    if (!new_worlds) return -1;
    Ref new_relations = Ref::steal(copy_rows(relations));
    if (!new_relations) return -1;
    Ref new_valuations = Ref::steal(copy_rows(valuations));
    if (!new_valuations) return -1;
    ModelObject *m = as_model(self);
    Py_XSETREF(m->worlds, new_worlds.release());
    Py_XSETREF(m->relations, new_relations.release());
    Py_XSETREF(m->valuations, new_valuations.release());
    return 0;
}

PyObject *add_world(PyObject *self, PyObject *world) {
    ModelObject *m = as_model(self);
    Ref worlds = Ref::borrow(m->worlds);
    int present = list_contains_world(worlds.get(), world);
    if (present < 0 || (!present && PyList_Append(worlds.get(), world) < 0)) return nullptr;

    Ref relations = Ref::borrow(m->relations);
    Ref row = dict_lookup(relations.get(), world);
    if (row) {
        if (container_add(row.get(), world) < 0) return nullptr;
    } else {
        if (PyErr_Occurred()) return nullptr;
        Ref fresh = Ref::steal(PySet_New(nullptr));
        if (!fresh || PySet_Add(fresh.get(), world) < 0 ||
            PyDict_SetItem(relations.get(), world, fresh.get()) < 0) {
            return nullptr;
        }
    }

    Ref valuations = Ref::borrow(m->valuations);
    int has = PyDict_Contains(valuations.get(), world);
    if (has < 0) return nullptr;
    if (!has) {
        Ref fresh = Ref::steal(PySet_New(nullptr));
        if (!fresh || PyDict_SetItem(valuations.get(), world, fresh.get()) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject *add_relation(PyObject *self, PyObject *source, PyObject *target) {
    if (!call_add_world(self, source) || !call_add_world(self, target)) return nullptr;
    Ref relations = Ref::borrow(as_model(self)->relations);
    Ref row = required_entry(relations.get(), source);
    if (!row || container_add(row.get(), target) < 0) return nullptr;
    int own_closure = uses_own(self, kClosure);
    int own_monotonicity = own_closure < 0 ? -1 : uses_own(self, kMonotonicity);
    if (own_monotonicity < 0) return nullptr;
    if (own_closure && own_monotonicity) {
        // Both our own: the propagation may start from what the closure computed.
        ClosureRun run;
        if (!close_rows(self, run)) return nullptr;
        return reusable(run) ? enforce_monotonicity_after(self, run) : enforce_monotonicity(self);
    }
    if (!call_procedure(self, kClosure) || !call_procedure(self, kMonotonicity)) return nullptr;
    Py_RETURN_NONE;
}

PyObject *add_valuation(PyObject *self, PyObject *world, PyObject *formula) {
    if (!call_add_world(self, world)) return nullptr;
    {
        Ref valuations = Ref::borrow(as_model(self)->valuations);
        Ref own = required_entry(valuations.get(), world);
        if (!own || container_add(own.get(), formula) < 0) return nullptr;
    }
    int own = uses_own(self, kAccessibleWorlds);
    if (own < 0) return nullptr;
    Ref reachable = Ref::steal(own ? accessible_worlds(self, world) : call_method(self, kAccessibleWorlds, &world, 1));
    if (!reachable) return nullptr;
    Ref it = Ref::steal(PyObject_GetIter(reachable.get()));
    if (!it) return nullptr;
    while (Ref u = Ref::steal(PyIter_Next(it.get()))) {
        Ref valuations = Ref::borrow(as_model(self)->valuations);
        Ref set = dict_lookup(valuations.get(), u.get());
        if (!set) {
            if (PyErr_Occurred()) return nullptr;
            set = Ref::steal(PySet_New(nullptr));
            if (!set || PyDict_SetItem(valuations.get(), u.get(), set.get()) < 0) return nullptr;
        }
        if (container_add(set.get(), formula) < 0) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

PyObject *is_accessible(PyObject *self, PyObject *source, PyObject *target) {
    Ref relations = Ref::borrow(as_model(self)->relations);
    Ref row = dict_lookup(relations.get(), source);
    if (!row) {
        if (PyErr_Occurred()) return nullptr;
        Py_RETURN_FALSE;
    }
    int r = PySequence_Contains(row.get(), target);
    if (r < 0) return nullptr;
    return PyBool_FromLong(r);
}

PyObject *accessible_worlds(PyObject *self, PyObject *world) {
    Ref relations = Ref::borrow(as_model(self)->relations);
    Ref row = dict_lookup(relations.get(), world);
    if (row) return PySet_New(row.get());
    if (PyErr_Occurred()) return nullptr;
    Ref alone = Ref::steal(PySet_New(nullptr));
    if (!alone || PySet_Add(alone.get(), world) < 0) return nullptr;
    return alone.release();
}

}  // namespace zelqor::kripke
