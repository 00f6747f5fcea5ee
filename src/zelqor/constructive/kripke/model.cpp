// The KripkeModel type: lifetime, public members, method table, and how a
// method finds out whether a subclass replaced one of its peers.
#include "zelqor/constructive/kripke/model.hpp"

#include "common/args.hpp"
#include "common/boundary.hpp"

#include "common/members.hpp"

#include <cstddef>
#include <string_view>

namespace zelqor::kripke {

namespace {

PyObject *own_descriptors[kMethodCount];      // the class's own method objects
PyMethodDef *own_defs[kMethodCount];

PyObject *method_name(Method m) {
    switch (m) {
    case kAddWorld: return g.str_add_world;
    case kAccessibleWorlds: return g.str_accessible_worlds;
    case kEvaluate: return g.str_evaluate;
    case kClosure: return g.str_closure;
    case kMonotonicity: return g.str_monotonicity;
    default: return g.str_to_string;
    }
}

// ---- lifetime ---------------------------------------------------------------------

PyObject *model_new(PyTypeObject *type, PyObject *, PyObject *) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    ModelObject *m = as_model(self.get());
    m->worlds = PyList_New(0);
    m->relations = PyDict_New();
    m->valuations = PyDict_New();
    if (!m->worlds || !m->relations || !m->valuations) return nullptr;
    return self.release();
}

const char *const kInitNames[] = {"worlds", "relations", "valuations"};
PyObject *const kInitDefaults[] = {Py_None, Py_None, Py_None};
const Signature kInitSignature{"KripkeModel.__init__", 3, 3, kInitNames, kInitDefaults, true};

int model_init(PyObject *self, PyObject *args, PyObject *kwargs) {
    PyObject *params[3];
    if (!bind_tuple(kInitSignature, args, kwargs, params)) return -1;
    return init_model(self, params[0], params[1], params[2]);
}

// KripkeModel(...) without an argument tuple; a subclass goes the ordinary way.
PyObject *model_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    auto *type = reinterpret_cast<PyTypeObject *>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (type != g.model_type) return call_type_generically(callable, args, nargsf, kwnames);
    PyObject *params[3];
    if (!bind_vector(kInitSignature, args, nargs, kwnames, params)) return nullptr;
    Ref self = Ref::steal(model_new(type, nullptr, nullptr));
    if (!self || init_model(self.get(), params[0], params[1], params[2]) < 0) return nullptr;
    return self.release();
}

void model_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (as_model(self)->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
    Py_CLEAR(as_model(self)->worlds);
    Py_CLEAR(as_model(self)->relations);
    Py_CLEAR(as_model(self)->valuations);
    type->tp_free(self);
    Py_DECREF(type);
}

int model_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_model(self)->worlds);
    Py_VISIT(as_model(self)->relations);
    Py_VISIT(as_model(self)->valuations);
    return 0;
}

// Breaking a cycle swaps in empty containers, so that the members stay a
// list and two dicts for any code still holding the model.
int model_clear(PyObject *self) {
    ModelObject *m = as_model(self);
    PyObject *fresh[3] = {PyList_New(0), PyDict_New(), PyDict_New()};
    if (!fresh[0] || !fresh[1] || !fresh[2]) {
        PyErr_Clear();
        for (PyObject *f : fresh) Py_XDECREF(f);
        if (PyList_Check(m->worlds)) PyList_SetSlice(m->worlds, 0, PyList_GET_SIZE(m->worlds), nullptr);
        PyDict_Clear(m->relations);
        PyDict_Clear(m->valuations);
        PyErr_Clear();
        return 0;
    }
    Py_SETREF(m->worlds, fresh[0]);
    Py_SETREF(m->relations, fresh[1]);
    Py_SETREF(m->valuations, fresh[2]);
    return 0;
}

// ---- public members: read and replaced, always as a plain list or dict ----------------

template <int Member>
PyObject *get_member(PyObject *self, void *) {
    ModelObject *m = as_model(self);
    PyObject *value = Member == 0 ? m->worlds : Member == 1 ? m->relations : m->valuations;
    return new_ref(value);
}

template <int Member>
int set_member(PyObject *self, PyObject *value, void *) {
    const char *names[3] = {"worlds", "relations", "valuations"};
    PyTypeObject *expected = Member == 0 ? &PyList_Type : &PyDict_Type;
    if (value == nullptr) {
        PyErr_Format(PyExc_AttributeError, "cannot delete attribute '%s'", names[Member]);
        return -1;
    }
    if (!Py_IS_TYPE(value, expected)) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", Member == 0 ? "list" : "dict",
                     Py_TYPE(value)->tp_name);
        return -1;
    }
    ModelObject *m = as_model(self);
    PyObject *&slot = Member == 0 ? m->worlds : Member == 1 ? m->relations : m->valuations;
    Py_SETREF(slot, new_ref(value));
    return 0;
}

PyGetSetDef model_getset[] = {
    {"worlds", boundary<get_member<0>>, boundary<set_member<0>>, "The worlds, in insertion order (a list).",
     nullptr},
    {"relations", boundary<get_member<1>>, boundary<set_member<1>>,
     "The accessibility rows: world -> set of worlds (a dict).", nullptr},
    {"valuations", boundary<get_member<2>>, boundary<set_member<2>>,
     "The valuation: world -> set of formulas true there (a dict).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- methods -----------------------------------------------------------------------

template <int N>
bool bind_args(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
               PyObject **out) {
    if (nargs == N && kwnames == nullptr) {
        for (int i = 0; i < N; ++i) out[i] = args[i];
        return true;
    }
    return bind_vector(sig, args, nargs, kwnames, out);
}

template <PyObject *(*Impl)(PyObject *, PyObject *), const char *Name, const char *P0>
PyObject *method1(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {P0};
    static PyObject *const defaults[] = {nullptr};
    static const Signature sig{Name, 1, 1, names, defaults, true};
    PyObject *p[1];
    if (!bind_args<1>(sig, args, nargs, kwnames, p)) return nullptr;
    return Impl(self, p[0]);
}

template <PyObject *(*Impl)(PyObject *, PyObject *, PyObject *), const char *Name, const char *P0, const char *P1>
PyObject *method2(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {P0, P1};
    static PyObject *const defaults[] = {nullptr, nullptr};
    static const Signature sig{Name, 2, 2, names, defaults, true};
    PyObject *p[2];
    if (!bind_args<2>(sig, args, nargs, kwnames, p)) return nullptr;
    return Impl(self, p[0], p[1]);
}

template <PyObject *(*Impl)(PyObject *)>
PyObject *method0(PyObject *self, PyObject *) {
    return Impl(self);
}

constexpr char kAddWorldName[] = "KripkeModel.add_world";
constexpr char kAddRelationName[] = "KripkeModel.add_relation";
constexpr char kAddValuationName[] = "KripkeModel.add_valuation";
constexpr char kIsAccessibleName[] = "KripkeModel.is_accessible";
constexpr char kAccessibleWorldsName[] = "KripkeModel.accessible_worlds";
constexpr char kEvaluateName[] = "KripkeModel.evaluate";
constexpr char kWorld[] = "world";
constexpr char kSource[] = "source";
constexpr char kTarget[] = "target";
constexpr char kFormula[] = "formula";

// __reduce__: a new empty instance, then the members (and a subclass
// instance's attributes) as state, like any plain object.
PyObject *model_reduce(PyObject *self, PyObject *) {
    ModelObject *m = as_model(self);
    Ref state = Ref::steal(PyDict_New());
    if (!state) return nullptr;
    if (Py_TYPE(self) != g.model_type) {
        Ref dict = Ref::steal(PyObject_GetAttrString(self, "__dict__"));
        if (!dict) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
            PyErr_Clear();
        } else if (PyDict_Check(dict.get()) && PyDict_Update(state.get(), dict.get()) < 0) {
            return nullptr;
        }
    }
    if (PyDict_SetItem(state.get(), g.str_worlds, m->worlds) < 0 ||
        PyDict_SetItem(state.get(), g.str_relations, m->relations) < 0 ||
        PyDict_SetItem(state.get(), g.str_valuations, m->valuations) < 0) {
        return nullptr;
    }
    return Py_BuildValue("(O(O)O)", g.newobj, reinterpret_cast<PyObject *>(Py_TYPE(self)), state.get());
}

PyObject *model_setstate(PyObject *self, PyObject *state) {
    if (!PyDict_Check(state)) {
        PyErr_Format(PyExc_TypeError, "Expected dict, got %.200s", Py_TYPE(state)->tp_name);
        return nullptr;
    }
    Ref items = Ref::steal(PyDict_Items(state));
    if (!items) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject *item = PyList_GET_ITEM(items.get(), i);
        if (PyObject_SetAttr(self, PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1)) < 0) return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject *model_str(PyObject *self) {
    int own = uses_own(self, kToStringMethod);
    if (own < 0) return nullptr;
    return own ? to_string(self) : call_method(self, kToStringMethod, nullptr, 0);
}

PyMethodDef model_methods[] = {
    {"add_world", ZQ_FASTCALL((boundary<method1<add_world, kAddWorldName, kWorld>>)), METH_FASTCALL | METH_KEYWORDS,
     "add_world($self, world)\n--\n\nAdd a world (once), related to itself, with an empty valuation if it has none."},
    {"add_relation", ZQ_FASTCALL((boundary<method2<add_relation, kAddRelationName, kSource, kTarget>>)),
     METH_FASTCALL | METH_KEYWORDS,
     "add_relation($self, source, target)\n--\n\nRecord source <= target, then close the relation and propagate "
     "the valuation over the whole model."},
    {"add_valuation", ZQ_FASTCALL((boundary<method2<add_valuation, kAddValuationName, kWorld, kFormula>>)),
     METH_FASTCALL | METH_KEYWORDS,
     "add_valuation($self, world, formula)\n--\n\nMake a formula true at a world and at every world accessible "
     "from it."},
    {"is_accessible", ZQ_FASTCALL((boundary<method2<is_accessible, kIsAccessibleName, kSource, kTarget>>)),
     METH_FASTCALL | METH_KEYWORDS,
     "is_accessible($self, source, target)\n--\n\nWhether target is in the row of source."},
    {"accessible_worlds", ZQ_FASTCALL((boundary<method1<accessible_worlds, kAccessibleWorldsName, kWorld>>)),
     METH_FASTCALL | METH_KEYWORDS,
     "accessible_worlds($self, world)\n--\n\nA new set of the worlds accessible from a world ({world} if it has "
     "no row)."},
    {"_compute_transitive_closure", boundary<method0<compute_transitive_closure>>, METH_NOARGS,
     "Make every row of a world in `worlds` reflexive and transitively closed."},
    {"_enforce_monotonicity", boundary<method0<enforce_monotonicity>>, METH_NOARGS,
     "Make the valuation persistent along the rows of the worlds in `worlds`."},
    {"evaluate", ZQ_FASTCALL((boundary<method2<evaluate, kEvaluateName, kFormula, kWorld>>)), METH_FASTCALL | METH_KEYWORDS,
     "evaluate($self, formula, world)\n--\n\nWhether the world forces the formula (intuitionistic forcing)."},
    {"to_dict", boundary<method0<to_dict>>, METH_NOARGS,
     "to_dict($self, /)\n--\n\nThe model as a dictionary of names and formula texts: worlds, relations, "
     "valuations."},
    {"to_string", boundary<method0<to_string>>, METH_NOARGS, "to_string($self, /)\n--\n\n"
     "A readable multi-line description of the model."},
    {"__reduce__", boundary<model_reduce>, METH_NOARGS, "Pickle and copy support."},
    {"__setstate__", boundary<model_setstate>, METH_O, "Pickle and copy support."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef model_members[] = {
    {"__weaklistoffset__", ZQ_T_PYSSIZET, offsetof(ModelObject, weakrefs), ZQ_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot model_slots[] = {
    {Py_tp_doc, const_cast<char *>(
                    "KripkeModel(worlds=None, relations=None, valuations=None)\n--\n\n"
                    "A finite Kripke model for intuitionistic propositional logic: worlds, a reflexive and "
                    "transitive accessibility relation, and a persistent valuation.")},
    {Py_tp_new, ZQ_SLOT(model_new)},
    {Py_tp_init, ZQ_SLOT(model_init)},
    {Py_tp_dealloc, ZQ_SLOT(model_dealloc)},
    {Py_tp_traverse, ZQ_SLOT(model_traverse)},
    {Py_tp_clear, ZQ_SLOT(model_clear)},
    {Py_tp_str, ZQ_SLOT(model_str)},
    {Py_tp_methods, model_methods},
    {Py_tp_members, model_members},
    {Py_tp_getset, model_getset},
    {0, nullptr},
};

PyType_Spec model_spec = {
    "zelqor.constructive.kripke.KripkeModel",
    sizeof(ModelObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    model_slots,
};

PyMethodDef *find_def(const char *name) {
    for (PyMethodDef *d = model_methods; d->ml_name != nullptr; ++d) {
        if (std::string_view(d->ml_name) == name) return d;
    }
    return nullptr;
}

}  // namespace

int uses_own(PyObject *self, Method m) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject *name = method_name(m);
    if (_PyType_Lookup(type, name) != own_descriptors[m]) return 0;
    if (type == g.model_type) return 1;  // no instance dict, no custom attribute lookup
    // A subclass instance may shadow the method in its __dict__ or through
    // __getattribute__: ask the way a call would.
    Ref bound = Ref::steal(PyObject_GetAttr(self, name));
    if (!bound) return -1;
    return PyCFunction_Check(bound.get()) && PyCFunction_GET_SELF(bound.get()) == self &&
           reinterpret_cast<PyCFunctionObject *>(bound.get())->m_ml == own_defs[m];
}

PyObject *call_method(PyObject *self, Method m, PyObject *const *args, size_t nargs) {
    PyObject *stack[3] = {self, nullptr, nullptr};
    for (size_t i = 0; i < nargs; ++i) stack[i + 1] = args[i];
    return PyObject_VectorcallMethod(method_name(m), stack, nargs + 1, nullptr);
}

bool create_model_type(PyObject *module) {
    PyObject *type = PyType_FromModuleAndSpec(module, &model_spec, nullptr);
    if (type == nullptr) return false;
    g.model_type = reinterpret_cast<PyTypeObject *>(type);
    g.model_type->tp_vectorcall = boundary<model_vectorcall>;
    const char *names[kMethodCount] = {"add_world", "accessible_worlds", "evaluate", "_compute_transitive_closure",
                                       "_enforce_monotonicity", "to_string"};
    for (int i = 0; i < kMethodCount; ++i) {
        own_defs[i] = find_def(names[i]);
        own_descriptors[i] = PyDict_GetItemString(g.model_type->tp_dict, names[i]);
        if (own_descriptors[i] == nullptr || own_defs[i] == nullptr) {
            PyErr_SetString(PyExc_SystemError, "KripkeModel: method table incomplete");
            return false;
        }
        Py_INCREF(own_descriptors[i]);
    }
    return PyModule_AddObjectRef(module, "KripkeModel", type) == 0;
}

}  // namespace zelqor::kripke
