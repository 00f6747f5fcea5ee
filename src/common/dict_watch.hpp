// Whether a few dictionaries (module namespaces) may have changed since a
// moment a module remembered, so that a public call can skip re-reading
// attributes that were all found to be the module's own. Python 3.12 and
// later tell through a dictionary watcher; 3.11 through the dictionaries'
// version tags. `Tag` gives each user its own state: the watcher callback
// receives no user data.
#pragma once

#include "common/pyref.hpp"

#include <cstdint>

namespace zelqor {

template <typename Tag, int N>
class DictWatch {
public:
    // Starts watching `dicts` (borrowed; they must outlive the module).
    static bool watch(PyObject *const (&dicts)[N]) {
        for (int i = 0; i < N; ++i) dicts_[i] = dicts[i];
#if PY_VERSION_HEX >= 0x030C0000
        int id = PyDict_AddWatcher(on_event);
        if (id < 0) return false;
        for (PyObject *d : dicts_) {
            if (PyDict_Watch(id, d) < 0) return false;
        }
#endif
        return true;
    }

    // True when nothing changed in any of the dictionaries since remember().
    static bool unchanged() {
        if (!valid_) return false;
#if PY_VERSION_HEX >= 0x030C0000
        return !changed_;
#else
        for (int i = 0; i < N; ++i) {
            if (reinterpret_cast<PyDictObject *>(dicts_[i])->ma_version_tag != versions_[i]) return false;
        }
        return true;
#endif
    }

    static void remember() {
#if PY_VERSION_HEX >= 0x030C0000
        changed_ = false;
#else
        for (int i = 0; i < N; ++i) versions_[i] = reinterpret_cast<PyDictObject *>(dicts_[i])->ma_version_tag;
#endif
        valid_ = true;
    }

    static void forget() { valid_ = false; }

private:
    static inline PyObject *dicts_[N] = {};
    static inline bool valid_ = false;
#if PY_VERSION_HEX >= 0x030C0000
    static inline bool changed_ = true;
    static int on_event(PyDict_WatchEvent, PyObject *, PyObject *, PyObject *) {
        changed_ = true;
        return 0;
    }
#else
    static inline uint64_t versions_[N] = {};
#endif
};

}  // namespace zelqor
