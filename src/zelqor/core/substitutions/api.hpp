// What `zelqor.core._substitutions` publishes to the other extension modules
// through the capsule `zelqor.core._substitutions._C_API`.
#pragma once

#include "common/pyref.hpp"

namespace zelqor::subst {

struct Api {
    int version;
    // substitute_formula without the sort check of its mapping, for callers
    // whose mappings keep sorts by construction (renamings to fresh variables
    // of the same sort, Skolem terms of the eliminated variable's sort).
    // `mapping` is a non-empty dict from variables to terms that only the
    // caller holds: the walk reads it in place, while it runs caller code.
    PyObject *(*substitute_formula_presorted)(PyObject *formula, PyObject *mapping);
};

inline constexpr int kApiVersion = 1;
inline constexpr const char *kCapsuleName = "zelqor.core._substitutions._C_API";

inline const Api *import_api() {
    auto *api = static_cast<const Api *>(PyCapsule_Import(kCapsuleName, 0));
    if (api != nullptr && api->version != kApiVersion) {
        PyErr_SetString(PyExc_ImportError, "zelqor.core._substitutions: incompatible C API version");
        return nullptr;
    }
    return api;
}

}  // namespace zelqor::subst
