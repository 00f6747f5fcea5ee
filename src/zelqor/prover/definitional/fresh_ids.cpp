#include "zelqor/prover/definitional/fresh_ids.hpp"

#include <climits>

namespace zelqor::definitional {

namespace {

// Native counting stops well before the end of the range.
constexpr long long kNativeLimit = LLONG_MAX / 2;

}  // namespace

bool FreshIds::to_generic() {
    if (generic_) return true;
    if (any_ || started_) {
        value_ = Ref::steal(PyLong_FromLongLong(native_));
        if (!value_) return false;
    }
    generic_ = true;
    return true;
}

bool FreshIds::observe(PyObject *id) {
    if (!generic_ && PyLong_CheckExact(id)) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(id, &overflow);
        if (overflow == 0 && v < kNativeLimit && !(v == -1 && PyErr_Occurred())) {
            if (!any_ || v > native_) native_ = v;
            any_ = true;
            return true;
        }
        PyErr_Clear();
    }
    if (!to_generic()) return false;
    if (!any_) {
        value_ = Ref::borrow(id);
        any_ = true;
        return true;
    }
    int greater = PyObject_RichCompareBool(id, value_.get(), Py_GT);
    if (greater < 0) return false;
    if (greater) value_ = Ref::borrow(id);
    return true;
}

PyObject *FreshIds::next() {
    if (!started_) {
        started_ = true;
        if (!generic_) {
            native_ = any_ ? native_ + 1 : 1;
        } else {
            Ref one = Ref::steal(PyLong_FromLong(1));
            if (!one) return nullptr;
            value_ = Ref::steal(PyNumber_Add(value_.get(), one.get()));
            if (!value_) return nullptr;
        }
    }
    if (!generic_) {
        if (native_ < kNativeLimit) return PyLong_FromLongLong(native_++);
        if (!to_generic()) return nullptr;
    }
    Ref one = Ref::steal(PyLong_FromLong(1));
    Ref following = one ? Ref::steal(PyNumber_Add(value_.get(), one.get())) : Ref();
    if (!following) return nullptr;
    PyObject *current = value_.release();
    value_ = std::move(following);
    return current;
}

}  // namespace zelqor::definitional
