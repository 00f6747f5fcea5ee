// Owned and borrowed references to Python objects.
//
// Convention: a raw `PyObject *` is borrowed; `Ref` owns exactly one
// reference and releases it when it goes out of scope, so every error path
// can be a plain `return nullptr` without leaking.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace zelqor {

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (may be null: the result of a failed call).
    static Ref steal(PyObject *o) noexcept { return Ref(o); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject *o) noexcept { Py_XINCREF(o); return Ref(o); }

    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
    Ref &operator=(Ref &&other) noexcept {
        if (this != &other) {
            PyObject *old = obj_;
            obj_ = other.obj_;
            other.obj_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    PyObject *get() const noexcept { return obj_; }
    explicit operator bool() const noexcept { return obj_ != nullptr; }
    // Hands the reference to the caller.
    PyObject *release() noexcept { PyObject *o = obj_; obj_ = nullptr; return o; }
    void reset(PyObject *stolen = nullptr) noexcept { Py_XSETREF(obj_, stolen); }

private:
    explicit Ref(PyObject *o) noexcept : obj_(o) {}
    PyObject *obj_ = nullptr;
};

// A new strong reference to a borrowed object, for returning it.
inline PyObject *new_ref(PyObject *o) noexcept { Py_INCREF(o); return o; }

}  // namespace zelqor
