// visit(node): the exact class of the node, looked up in the class's
// `_dispatch_table`, names the operation; the operation is called through
// Python unless the visitor's class (and the object) still leave it to our
// own C++ implementation, which is then called directly.
#pragma once

#include "zelqor/core/visitors/object.hpp"

#include <cstddef>

namespace zelqor::visitors {

using ValueFn = PyObject *(*)(PyObject *self, PyObject *node);

enum Family : int { kFamilyVisit, kFamilyTransform, kFamilyDepth, kFamilySize, kFamilyCollect, kFamilyExport };

// One operation implemented in C++: the method the class exposes, its plain
// entry point, and a family-specific entry used while the family recurses
// (for instance the export appends to one shared text buffer).
struct OpImpl {
    PyMethodDef def;           // first member: the method descriptor points here
    ValueFn value;
    int family;
    void (*fast)();            // the family entry, cast back to its own type where called
    const char *qualname;      // "ExportVisitor.visit_not", for argument errors
};

// Makes `impls` known as ours (their descriptors can be short-circuited).
void register_impls(const OpImpl *impls, int count);

// Argument binding for an operation called with keywords or a wrong count.
PyObject *bind_node(ValueFn fn, PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames);

template <ValueFn Fn>
PyObject *op_method(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs == 1 && kwnames == nullptr) return Fn(self, args[0]);
    return bind_node(Fn, self, args, nargs, kwnames);
}

// A function pointer converts only to another function pointer in standard C++.
template <class F>
auto fast_entry(F f) { return reinterpret_cast<void (*)()>(f); }
inline void (*fast_entry(std::nullptr_t))() { return nullptr; }

#define ZQ_OP(name, fn, family, fast, qualname)                                                       \
    OpImpl {                                                                                           \
        {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(op_method<fn>)),             \
         METH_FASTCALL | METH_KEYWORDS,                                                                \
         name "($self, /, node)\n--\n\nThe result for one node of this kind."},                        \
            fn, family, fast_entry(fast), qualname                                                     \
    }

// Where a child goes: either a C++ operation to call (impl) or a value
// already produced through Python (an overridden `visit` or operation).
struct Route {
    const OpImpl *impl = nullptr;
    int op = -1;
};

// Operations on variables and constants do not recurse: the walk enters the
// recursion guard for every other step.
inline bool needs_guard(const Route &route) { return route.op != kVariable && route.op != kConstant; }

namespace detail {

void recompute(VisitorObject *self);
void snapshot(DispatchCache &c, PyObject *table);
bool plain_metaclass(PyTypeObject *meta);
bool visit_child_general(VisitorObject *self, PyObject *child, Route &route, Ref &value);

inline void refresh(VisitorObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    const DispatchCache &c = self->cache;
    if (c.type != type || c.tag == 0 || type->tp_version_tag != c.tag) recompute(self);
}

// A stamp that changes whenever a dispatch table may have changed: on 3.12+ a
// dict watcher on the tables read bumps an epoch; on 3.11 every mutation gives
// a dict a new version tag.
#if PY_VERSION_HEX >= 0x030C0000
extern uint64_t table_epoch;
inline uint64_t table_stamp(PyObject *) { return table_epoch; }
#else
inline uint64_t table_stamp(PyObject *table) { return reinterpret_cast<PyDictObject *>(table)->ma_version_tag; }
#endif

// What the snapshot of a dispatch table says about a node's exact class.
enum class TableEntry {
    kFound,    // the class's operation, into `op`
    kAbsent,   // the class has no entry
    kUnknown,  // the snapshot cannot tell: read the table itself
};

inline TableEntry from_snapshot(DispatchCache &c, PyObject *node, int &op) {
    PyObject *table = c.table;
    // A snapshot is only ever taken of a plain dict, so an unchanged stamp on
    // the same table means the snapshot still describes it.
    if (table == nullptr || c.snap_table != table || c.snap_stamp != table_stamp(table)) {
        if (table == nullptr || !PyDict_CheckExact(table)) return TableEntry::kUnknown;
        snapshot(c, table);
    }
    PyTypeObject *type = Py_TYPE(node);
    for (int i = 0; i < c.snap_count; ++i) {
        if (c.snap_keys[i] == type) {  // a dict finds its own key by identity
            op = c.snap_ops[i];
            return TableEntry::kFound;
        }
    }
    // Absent, unless a metaclass makes some other class equal to a key.
    if (c.snap_count < 0 || (Py_TYPE(type) != &PyType_Type && !plain_metaclass(Py_TYPE(type)))) {
        return TableEntry::kUnknown;
    }
    return TableEntry::kAbsent;
}

}  // namespace detail

// self.visit(child) as every operation recurses. On success either
// `route.impl` is set (the caller runs it, directly or through its family
// entry) or `value` holds the result.
inline bool visit_child(VisitorObject *self, PyObject *child, Route &route, Ref &value) {
    detail::refresh(self);
    DispatchCache &c = self->cache;
    if (c.own_visit && !c.dict_instances) {
        int op;
        if (detail::from_snapshot(c, child, op) == detail::TableEntry::kFound && c.ops[op] != nullptr) {
            route.op = op;
            route.impl = c.ops[op];
            return true;
        }
    }
    return detail::visit_child_general(self, child, route, value);
}

// Whether visiting `child` would reach one of our operations of `family`
// without running caller code (as long as the visitor's class stays as it is).
bool routes_to(VisitorObject *self, PyObject *child, int family);

// The same, but always producing the value.
PyObject *visit_value(PyObject *self, PyObject *child);

// `visitor.visit(node)` on any object (a visitor of ours or anything else).
PyObject *call_visit(PyObject *visitor, PyObject *node);

// ASTVisitor.visit and ASTVisitor.__init_subclass__.
PyMethodDef *visit_method_def();
extern PyMethodDef init_subclass_def;

// What a visitor class adds to its base: operations, other methods, fields.
struct ClassParts {
    const OpImpl *ops;
    int count;
    PyMethodDef *methods;      // null-terminated, or null
    PyMemberDef *members;      // null-terminated, or null
};

extern const ClassParts kTransformerFamily, kSubstitutionFamily, kDepthFamily, kSizeFamily, kCollectorFamily,
    kExportFamily;

}  // namespace zelqor::visitors
