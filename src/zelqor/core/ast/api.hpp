// What `zelqor.core.ast` publishes to the other extension modules, through
// the capsule `zelqor.core.ast._C_API`: its type objects and fast entry
// points that skip argument parsing. Every function follows the C API
// conventions (new reference, or null with an exception set).
#pragma once

#include "zelqor/core/ast/nodes.hpp"

namespace zelqor::ast {

struct Api {
    int version;
    PyTypeObject *term_type;
    PyTypeObject *formula_type;
    PyTypeObject *types[kKindCount];   // indexed by Kind
    PyObject *variable_kind_individual;
    PyObject *default_sort;            // Ind

    // Builds a node of exactly `types[kind]` from its fields in storage order
    // (terms: sort first; see variable_fields() and StorageOrder in
    // nodes.hpp for building them from constructor arguments), running
    // every check.
    PyObject *(*make)(Kind kind, PyObject *const *fields);
    // The structural queries of the module.
    PyObject *(*free_variables)(PyObject *node);
    PyObject *(*bound_variables)(PyObject *node);
    // Kind of a node whose class is one of ours or derives from one; -1 otherwise.
    int (*kind_of)(PyObject *node);

    // The class of a kind.
    PyTypeObject *type(Kind kind) const noexcept { return types[kind_index(kind)]; }
    // For an object known to be of one of the twelve kinds: whether its class
    // is exactly ours rather than a subclass.
    bool is_exact(PyObject *node) const noexcept { return is_exact_node(node, term_type, formula_type); }
    // Field `slot` (attribute `name`) of such an object, read as every
    // operation reads it (see Field in nodes.hpp).
    Field field(PyObject *node, int slot, PyObject *name) const { return Field(node, is_exact(node), slot, name); }
};

inline constexpr int kApiVersion = 1;
inline constexpr const char *kCapsuleName = "zelqor.core.ast._C_API";

// For the other modules: the API, imported once at module load.
inline const Api *import_api() {
    auto *api = static_cast<const Api *>(PyCapsule_Import(kCapsuleName, 0));
    if (api != nullptr && api->version != kApiVersion) {
        PyErr_SetString(PyExc_ImportError, "zelqor.core.ast: incompatible C API version");
        return nullptr;
    }
    return api;
}

}  // namespace zelqor::ast
