// The C layout under every visitor class: construction fields, and the
// per-instance record of where each operation of the object's class leads.
#pragma once

#include "zelqor/core/visitors/state.hpp"

namespace zelqor::visitors {

struct OpImpl;

// Which of our own C++ operations the object's class still resolves to,
// valid while the class keeps the same type version tag (any assignment to
// the class or one of its bases changes the tag).
struct DispatchCache {
    PyTypeObject *type;             // borrowed: the instance keeps its class alive
    unsigned int tag;               // 0: not cacheable, recomputed on every use
    PyObject *table;                // the class's `_dispatch_table` (borrowed), or null
    bool dict_instances;            // instances carry a __dict__ that may shadow methods
    bool own_visit;                 // `visit` is ours
    const OpImpl *ops[kOpCount];    // null: call through the attribute
    // The table's content read once (classes to operation indices), valid
    // while the table object and its stamp stay the same.
    PyObject *snap_table;           // borrowed, compared only
    uint64_t snap_stamp;
    int snap_count;                 // -1: the table's content cannot be read this way
    PyTypeObject *snap_keys[kOpCount];
    signed char snap_ops[kOpCount];
};

enum Notation : int { kNotationUnset = 0, kInfix, kPrefix, kLatex };

struct VisitorObject {
    PyObject_HEAD
    PyObject *weakrefs;
    PyObject *notation;             // ExportVisitor
    PyObject *mapping;              // SubstitutionTransformer
    int notation_code;
    DispatchCache cache;
};

inline VisitorObject *as_visitor(PyObject *o) noexcept { return reinterpret_cast<VisitorObject *>(o); }

// Creates the layout type and the type of the abstract declarations.
bool create_base_types(PyObject *module);

// The abstract declaration of operation `op` on ASTVisitor: a method that
// does nothing and carries __isabstractmethod__.
PyObject *new_abstract_op(int op);

}  // namespace zelqor::visitors
