// ASTVisitor.visit, the per-instance record of where operations lead, and
// the hook that gives every visitor class its dispatch table.
#include "zelqor/core/visitors/dispatch.hpp"

#include "common/args.hpp"
#include "common/guard.hpp"

#include <array>
#include <utility>

namespace zelqor::visitors {

namespace {

// ---- which methods are ours ------------------------------------------------------

std::array<std::pair<const OpImpl *, int>, 8> registry;
int registry_size = 0;

const OpImpl *impl_of_def(const PyMethodDef *def) {
    for (int i = 0; i < registry_size; ++i) {
        const OpImpl *first = registry[i].first;
        for (int k = 0; k < registry[i].second; ++k) {
            if (&first[k].def == def) return &first[k];
        }
    }
    return nullptr;
}

const OpImpl *impl_of_fn(ValueFn fn) {
    for (int i = 0; i < registry_size; ++i) {
        for (int k = 0; k < registry[i].second; ++k) {
            if (registry[i].first[k].value == fn) return &registry[i].first[k];
        }
    }
    return nullptr;
}

// The C++ operation a class attribute stands for, if it is one of our method
// descriptors and applies to instances of `type`.
const OpImpl *our_impl(PyTypeObject *type, PyObject *name) {
    PyObject *attr = _PyType_Lookup(type, name);  // borrowed
    if (attr == nullptr || !Py_IS_TYPE(attr, &PyMethodDescr_Type)) return nullptr;
    auto *descr = reinterpret_cast<PyMethodDescrObject *>(attr);
    const OpImpl *impl = impl_of_def(descr->d_method);
    if (impl == nullptr || !PyType_IsSubtype(type, PyDescr_TYPE(descr))) return nullptr;
    return impl;
}

unsigned int version_tag(PyTypeObject *type) {
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Type_AssignVersionTag(type)) return 0;
#else
    _PyType_Lookup(type, g.str_visit);  // assigns the tag as a side effect
    if (!PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) return 0;
#endif
    return type->tp_version_tag;
}

}  // namespace

void detail::recompute(VisitorObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    DispatchCache &c = self->cache;
    c.type = type;
    c.tag = version_tag(type);
    c.table = _PyType_Lookup(type, g.str_dispatch_table);
    c.dict_instances = PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT) || type->tp_dictoffset != 0;
    // A class with its own attribute hooks gets every lookup through Python.
    bool plain = type->tp_getattro == PyObject_GenericGetAttr;
    const OpImpl *visit = plain ? our_impl(type, g.str_visit) : nullptr;
    c.own_visit = visit != nullptr && visit->family == kFamilyVisit;
    for (int op = 0; op < kOpCount; ++op) c.ops[op] = plain ? our_impl(type, g.op_names[op]) : nullptr;
    if (PyErr_Occurred()) PyErr_Clear();  // lookups never fail; keep no stray error
}

namespace {

using detail::refresh;

// The object's __dict__ when it could shadow a method (non-empty), else null.
bool instance_dict(VisitorObject *self, Ref &dict) {
    if (!self->cache.dict_instances) return true;
    dict = Ref::steal(PyObject_GenericGetDict(reinterpret_cast<PyObject *>(self), nullptr));
    if (!dict) return false;
    if (!PyDict_Check(dict.get()) || PyDict_GET_SIZE(dict.get()) == 0) dict.reset();
    return true;
}

// 1 if the instance dict holds `name`, 0 if not, -1 on error.
int shadowed(PyObject *dict, PyObject *name) {
    if (dict == nullptr) return 0;
    return PyDict_Contains(dict, name);
}

PyObject *unsupported(PyObject *node) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(node)));
    if (name) PyErr_Format(PyExc_TypeError, "Unsupported AST node type: %U", name.get());
    return nullptr;
}

int op_index(PyObject *name) {
    for (int op = 0; op < kOpCount; ++op) {
        if (name == g.op_names[op]) return op;
    }
    if (!PyUnicode_CheckExact(name)) return -1;
    for (int op = 0; op < kOpCount; ++op) {
        if (PyUnicode_Compare(name, g.op_names[op]) == 0) return op;
    }
    return -1;
}

// ---- reading the dispatch table --------------------------------------------------
//
// A table is a plain dict that nobody is expected to change, but callers may.
// Its content is read once into the cache, and read again whenever the dict
// may have changed: on 3.12+ a dict watcher on the tables we read bumps an
// epoch; on 3.11 every dict mutation gives the dict a new version tag.

#if PY_VERSION_HEX >= 0x030C0000
int watcher_id = -1;

int on_table_change(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
    ++detail::table_epoch;
    return 0;
}

bool watch_table(PyObject *table) {
    if (watcher_id < 0) watcher_id = PyDict_AddWatcher(on_table_change);
    if (watcher_id < 0 || PyDict_Watch(watcher_id, table) < 0) {
        PyErr_Clear();
        return false;
    }
    return true;
}
#else
bool watch_table(PyObject *) { return true; }
#endif

}  // namespace

namespace detail {

#if PY_VERSION_HEX >= 0x030C0000
uint64_t table_epoch = 1;
#endif

bool plain_metaclass(PyTypeObject *meta) {
    return meta->tp_richcompare == PyType_Type.tp_richcompare && meta->tp_hash == PyType_Type.tp_hash;
}

void snapshot(DispatchCache &c, PyObject *table) {
    c.snap_table = table;
    c.snap_count = -1;
    if (!watch_table(table)) return;
    c.snap_stamp = table_stamp(table);
    if (PyDict_GET_SIZE(table) > kOpCount) return;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    int n = 0;
    while (PyDict_Next(table, &pos, &key, &value)) {
        if (!PyType_Check(key)) return;
        PyTypeObject *meta = Py_TYPE(key);
        if (meta != &PyType_Type && !plain_metaclass(meta)) return;
        int op = op_index(value);
        if (op < 0) return;
        c.snap_keys[n] = reinterpret_cast<PyTypeObject *>(key);
        c.snap_ops[n++] = static_cast<signed char>(op);
    }
    c.snap_count = n;
}

}  // namespace detail

namespace {

using detail::from_snapshot;
using detail::TableEntry;

// Steps 1 to 3 of visit: the operation name for the node's exact class.
// On success `name` is set; `impl` is our operation when it may be called directly.
bool find_operation(VisitorObject *self, PyObject *node, PyObject *dict, Ref &name, const OpImpl *&impl,
                    int *op_out = nullptr) {
    // Looking at the instance dict may have run caller code (a key's __eq__)
    // that changed the class: the record must describe it as it is now.
    refresh(self);
    int op = -1;
    TableEntry entry = from_snapshot(self->cache, node, op);
    if (entry == TableEntry::kAbsent) {
        unsupported(node);
        return false;
    }
    if (entry == TableEntry::kFound) {
        name = Ref::borrow(g.op_names[op]);
    } else {
        PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(node));
        Ref table = Ref::borrow(self->cache.table);
        if (!table) {
            table = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject *>(Py_TYPE(self)), g.str_dispatch_table));
            if (!table) return false;
        }
        if (PyDict_CheckExact(table.get())) {
            name = Ref::borrow(PyDict_GetItemWithError(table.get(), type));
            if (!name && PyErr_Occurred()) return false;
        } else {
            name = Ref::steal(PyObject_CallMethod(table.get(), "get", "O", type));
            if (!name) return false;
            if (name.get() == Py_None) name.reset();
        }
        if (!name) {
            unsupported(node);
            return false;
        }
        op = op_index(name.get());
    }
    if (op_out != nullptr) *op_out = op;
    impl = op >= 0 ? self->cache.ops[op] : nullptr;
    if (impl != nullptr) {
        int hidden = shadowed(dict, name.get());
        if (hidden < 0) return false;
        if (hidden) impl = nullptr;
    }
    return true;
}

PyObject *call_method(PyObject *self, PyObject *name, PyObject *arg) {
    PyObject *args[2] = {self, arg};
    return PyObject_VectorcallMethod(name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

// ---- ASTVisitor.visit -----------------------------------------------------------

PyObject *visit(PyObject *self_obj, PyObject *node) {
    RecursionGuard guard(" while visiting a syntax tree");
    if (!guard.ok()) return nullptr;
    VisitorObject *self = as_visitor(self_obj);
    refresh(self);
    Ref dict, name;
    const OpImpl *impl = nullptr;
    if (!instance_dict(self, dict) || !find_operation(self, node, dict.get(), name, impl)) return nullptr;
    if (impl != nullptr) return impl->value(self_obj, node);
    return call_method(self_obj, name.get(), node);
}

OpImpl visit_impl[] = {
    ZQ_OP("visit", visit, kFamilyVisit, nullptr, "ASTVisitor.visit"),
};

// ---- ASTVisitor.__init_subclass__ ------------------------------------------------

// Passes the class keywords on to the next hook, then gives the new class its
// own table, built from the module's current node class names.
PyObject *init_subclass(PyObject *cls, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs > 0) {
        PyErr_Format(PyExc_TypeError,
                     "ASTVisitor.__init_subclass__() takes 1 positional argument but %zd were given", nargs + 1);
        return nullptr;
    }
    Ref super = Ref::steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PySuper_Type),
                                                        g.classes[kASTVisitor], cls, nullptr));
    if (!super) return nullptr;
    Ref hook = Ref::steal(PyObject_GetAttr(super.get(), g.str_init_subclass));
    if (!hook) return nullptr;
    Ref done = Ref::steal(PyObject_Vectorcall(hook.get(), args, 0, kwnames));
    if (!done) return nullptr;
    Ref table = Ref::steal(PyDict_New());
    if (!table) return nullptr;
    for (int op = 0; op < kOpCount; ++op) {
        Ref node_class = g.globals.get(op);
        if (!node_class || PyDict_SetItem(table.get(), node_class.get(), g.op_names[op]) < 0) return nullptr;
    }
    if (PyObject_SetAttr(cls, g.str_dispatch_table, table.get()) < 0) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace

PyMethodDef *visit_method_def() {
    register_impls(nullptr, 0);
    visit_impl[0].def.ml_doc =
        "visit($self, /, node)\n--\n\n"
        "Routes the node to the operation for its exact class and returns what it returns.";
    return &visit_impl[0].def;
}

PyMethodDef init_subclass_def = {
    "__init_subclass__", ZQ_FASTCALL(init_subclass),
    METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
    "__init_subclass__($cls, /, **kwargs)\n--\n\n"
    "Passes the class keywords on, then gives the new class its own dispatch table.",
};

void register_impls(const OpImpl *impls, int count) {
    if (registry_size == 0) registry[registry_size++] = {visit_impl, 1};
    if (count > 0 && registry_size < static_cast<int>(registry.size())) registry[registry_size++] = {impls, count};
}

PyObject *bind_node(ValueFn fn, PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"node"};
    static PyObject *const defaults[] = {nullptr};
    const OpImpl *impl = impl_of_fn(fn);
    Signature sig{impl != nullptr ? impl->qualname : "visit", 1, 1, names, defaults, true};
    PyObject *node;
    if (!bind_vector(sig, args, nargs, kwnames, &node)) return nullptr;
    return fn(self, node);
}

bool detail::visit_child_general(VisitorObject *self, PyObject *child, Route &route, Ref &value) {
    refresh(self);
    DispatchCache &c = self->cache;
    if (c.own_visit && !c.dict_instances) {
        // The common case: our own `visit` on an object without a __dict__,
        // the table read from the snapshot.
        int op;
        if (from_snapshot(c, child, op) == TableEntry::kFound) {
            route.op = op;
            route.impl = c.ops[op];
            if (route.impl != nullptr) return true;
            value = Ref::steal(call_method(reinterpret_cast<PyObject *>(self), g.op_names[route.op], child));
            return bool(value);
        }
    }
    Ref dict, name;
    if (!instance_dict(self, dict)) return false;
    PyObject *self_obj = reinterpret_cast<PyObject *>(self);
    int hidden = shadowed(dict.get(), g.str_visit);
    if (hidden < 0) return false;
    if (!self->cache.own_visit || hidden) {
        value = Ref::steal(call_method(self_obj, g.str_visit, child));
        return bool(value);
    }
    const OpImpl *impl = nullptr;
    if (!find_operation(self, child, dict.get(), name, impl, &route.op)) return false;
    if (impl != nullptr) {
        route.impl = impl;
        return true;
    }
    value = Ref::steal(call_method(self_obj, name.get(), child));
    return bool(value);
}

bool routes_to(VisitorObject *self, PyObject *child, int family) {
    refresh(self);
    DispatchCache &c = self->cache;
    if (!c.own_visit || c.dict_instances) return false;
    int op;
    return from_snapshot(c, child, op) == TableEntry::kFound && c.ops[op] != nullptr && c.ops[op]->family == family;
}

PyObject *visit_value(PyObject *self, PyObject *child) {
    Route route;
    Ref value;
    if (!visit_child(as_visitor(self), child, route, value)) return nullptr;
    if (route.impl == nullptr) return value.release();
    if (!needs_guard(route)) return route.impl->value(self, child);
    RecursionGuard guard(" while visiting a syntax tree");
    if (!guard.ok()) return nullptr;
    return route.impl->value(self, child);
}

PyObject *call_visit(PyObject *visitor, PyObject *node) {
    if (PyObject_TypeCheck(visitor, reinterpret_cast<PyTypeObject *>(g.classes[kASTVisitor]))) {
        return visit_value(visitor, node);
    }
    return call_method(visitor, g.str_visit, node);
}

}  // namespace zelqor::visitors
