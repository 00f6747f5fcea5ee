// The World type, slot functions grouped by purpose as in a builtin type.
#include "zelqor/constructive/kripke/world.hpp"

#include "common/args.hpp"
#include "common/frozen_record.hpp"
#include "common/hashing.hpp"
#include "common/members.hpp"

#include <cstddef>

namespace zelqor::kripke {

namespace {

WorldObject *as_world(PyObject *o) { return reinterpret_cast<WorldObject *>(o); }

// ---- construction ---------------------------------------------------------------

const char *const kParamNames[] = {"id", "name"};
PyObject *const kNoDefaults[] = {nullptr, nullptr};
const Signature kSignature{"World.__init__", 2, 2, kParamNames, kNoDefaults, true};

PyObject *make_world(PyTypeObject *type, PyObject *id, PyObject *name) {
    PyObject *self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    as_world(self)->id = new_ref(id);
    as_world(self)->name = new_ref(name);
    // Neither field can change later, so whether they are plain is known now.
    if (PyLong_CheckExact(id) && PyUnicode_CheckExact(name)) as_world(self)->mark = kPlainWorld;
    return self;
}

PyObject *world_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    PyObject *params[2];
    if (!bind_tuple(kSignature, args, kwargs, params)) return nullptr;
    return make_world(type, params[0], params[1]);
}

PyObject *world_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    auto *type = reinterpret_cast<PyTypeObject *>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (type != g.world_type) return call_type_generically(callable, args, nargsf, kwnames);
    PyObject *params[2];
    if (nargs == 2 && kwnames == nullptr) return make_world(type, args[0], args[1]);
    if (!bind_vector(kSignature, args, nargs, kwnames, params)) return nullptr;
    return make_world(type, params[0], params[1]);
}

// ---- lifetime ---------------------------------------------------------------------

void world_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (as_world(self)->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
    Py_CLEAR(as_world(self)->id);
    Py_CLEAR(as_world(self)->name);
    type->tp_free(self);
    Py_DECREF(type);
}

int world_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_world(self)->id);
    Py_VISIT(as_world(self)->name);
    return 0;
}

int world_clear(PyObject *self) {
    as_world(self)->mark &= ~kPlainWorld;
    Py_CLEAR(as_world(self)->id);
    Py_CLEAR(as_world(self)->name);
    return 0;
}

// ---- value semantics ----------------------------------------------------------------

// hash((id, name)), recomputed on every request.
Py_hash_t world_hash(PyObject *self) {
    TupleHasher h;
    if (!h.add_object(as_world(self)->id) || !h.add_object(as_world(self)->name)) return -1;
    return h.finish();
}

// Equal only to a world of exactly the same class with equal id and name.
PyObject *world_richcompare(PyObject *a, PyObject *b, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(a) != Py_TYPE(b)) Py_RETURN_NOTIMPLEMENTED;
    int r = 1;
    if (a != b) {
        // Fields held strongly: comparing them may run a caller's code.
        Ref id_a = Ref::borrow(as_world(a)->id), id_b = Ref::borrow(as_world(b)->id);
        Ref name_a = Ref::borrow(as_world(a)->name), name_b = Ref::borrow(as_world(b)->name);
        r = PyObject_RichCompareBool(id_a.get(), id_b.get(), Py_EQ);
        if (r > 0) r = PyObject_RichCompareBool(name_a.get(), name_b.get(), Py_EQ);
        if (r < 0) return nullptr;
    }
    return PyBool_FromLong(op == Py_EQ ? r : !r);
}

// ---- text --------------------------------------------------------------------------

// "World(id=0, name=w0)": both fields as an f-string would show them.
PyObject *world_repr(PyObject *self) {
    Ref empty = Ref::steal(PyUnicode_New(0, 0));
    if (!empty) return nullptr;
    Ref id = Ref::steal(PyObject_Format(as_world(self)->id, empty.get()));
    if (!id) return nullptr;
    Ref name = Ref::steal(PyObject_Format(as_world(self)->name, empty.get()));
    if (!name) return nullptr;
    return PyUnicode_FromFormat("World(id=%U, name=%U)", id.get(), name.get());
}

// The name itself; anything but a str or None is refused.
PyObject *world_str(PyObject *self) {
    PyObject *name = as_world(self)->name;
    if (!check_exact_result(name, &PyUnicode_Type, "str")) return nullptr;
    return new_ref(name);
}

// ---- frozen fields --------------------------------------------------------------------

int world_setattro(PyObject *self, PyObject *name, PyObject *value) {
    return set_record_attribute(self, name, value, g.world_type,
                                [](PyObject *n) { return is_field_name(n, {"id", "name"}); });
}

// ---- pickling and copying ---------------------------------------------------------------

PyObject *world_reduce(PyObject *self, PyObject *) {
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    if (Py_TYPE(self) == g.world_type) {
        return Py_BuildValue("(O(OO))", type, as_world(self)->id, as_world(self)->name);
    }
    // A subclass instance's own attributes ride along.
    Ref dict;
    if (!record_instance_dict(self, dict)) return nullptr;
    if (!dict) return Py_BuildValue("(O(OO))", type, as_world(self)->id, as_world(self)->name);
    return Py_BuildValue("(O(OO)O)", type, as_world(self)->id, as_world(self)->name, dict.get());
}

PyMethodDef world_methods[] = {
    {"__reduce__", world_reduce, METH_NOARGS, "Rebuild through the constructor."},
    {"__copy__", copy_of_immutable, METH_NOARGS, "Worlds are immutable: the copy is the world itself."},
    {"__deepcopy__", copy_of_immutable, METH_O, "Worlds are immutable: the copy is the world itself."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef world_members[] = {
    {"id", ZQ_T_OBJECT_EX, offsetof(WorldObject, id), ZQ_READONLY, "Identifier of the world."},
    {"name", ZQ_T_OBJECT_EX, offsetof(WorldObject, name), ZQ_READONLY, "Human-readable name, e.g. w0."},
    {"__weaklistoffset__", ZQ_T_PYSSIZET, offsetof(WorldObject, weakrefs), ZQ_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot world_slots[] = {
    {Py_tp_doc, const_cast<char *>("World(id, name)\n--\n\nA possible world of a Kripke model.")},
    {Py_tp_new, reinterpret_cast<void *>(world_new)},
    {Py_tp_dealloc, reinterpret_cast<void *>(world_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void *>(world_traverse)},
    {Py_tp_clear, reinterpret_cast<void *>(world_clear)},
    {Py_tp_hash, reinterpret_cast<void *>(world_hash)},
    {Py_tp_richcompare, reinterpret_cast<void *>(world_richcompare)},
    {Py_tp_repr, reinterpret_cast<void *>(world_repr)},
    {Py_tp_str, reinterpret_cast<void *>(world_str)},
    {Py_tp_setattro, reinterpret_cast<void *>(world_setattro)},
    {Py_tp_methods, world_methods},
    {Py_tp_members, world_members},
    {0, nullptr},
};

PyType_Spec world_spec = {
    "zelqor.constructive.kripke.World",
    sizeof(WorldObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    world_slots,
};

}  // namespace

int list_contains_world(PyObject *list, PyObject *world) {
    if (!is_plain_world(world)) return PySequence_Contains(list, world);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject *item = PyList_GET_ITEM(list, i);
        if (item == world) return 1;
        int r;
        if (is_plain_world(item)) {
            WorldObject *a = as_world(item), *b = as_world(world);
            r = PyObject_RichCompareBool(a->id, b->id, Py_EQ);
            if (r > 0) r = PyUnicode_Compare(a->name, b->name) == 0;
        } else {
            Ref held = Ref::borrow(item);  // a caller's __eq__ may change the list
            r = PyObject_RichCompareBool(held.get(), world, Py_EQ);
        }
        if (r != 0) return r;
    }
    return 0;
}

bool create_world_type(PyObject *module) {
    PyObject *type = PyType_FromModuleAndSpec(module, &world_spec, nullptr);
    if (type == nullptr) return false;
    g.world_type = reinterpret_cast<PyTypeObject *>(type);
    g.world_type->tp_vectorcall = world_vectorcall;
    return set_match_args(g.world_type, {"id", "name"}) && PyModule_AddObjectRef(module, "World", type) == 0;
}

}  // namespace zelqor::kripke
