#include "zelqor/core/visitors/writer.hpp"

#include <new>

namespace zelqor::visitors {

static bool no_memory() {
    PyErr_NoMemory();
    return false;
}

bool Writer::widen() {
    if (wide_) return true;
    try {
        wbuf_.reserve(buf_.capacity());
        for (unsigned char c : buf_) wbuf_.push_back(c);
    } catch (const std::bad_alloc &) {
        return no_memory();
    }
    std::string().swap(buf_);
    wide_ = true;
    return true;
}

bool Writer::literal(std::string_view s) {
    try {
        if (wide_) {
            for (char c : s) wbuf_.push_back(static_cast<unsigned char>(c));
        } else {
            buf_.append(s);
        }
    } catch (const std::bad_alloc &) {
        return no_memory();
    }
    return true;
}

bool Writer::text(PyObject *s) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(s) < 0) return false;
#endif
    int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    if (kind != PyUnicode_1BYTE_KIND && !widen()) return false;
    try {
        if (!wide_) {
            buf_.append(static_cast<const char *>(data), static_cast<size_t>(n));
        } else if (kind == PyUnicode_4BYTE_KIND) {
            wbuf_.append(static_cast<const char32_t *>(data), static_cast<size_t>(n));
        } else {
            for (Py_ssize_t i = 0; i < n; ++i) wbuf_.push_back(PyUnicode_READ(kind, data, i));
        }
    } catch (const std::bad_alloc &) {
        return no_memory();
    }
    return true;
}

bool Writer::value(PyObject *v) {
    if (PyUnicode_CheckExact(v)) return text(v);
    Ref formatted = Ref::steal(PyObject_Format(v, nullptr));
    return formatted && text(formatted.get());
}

bool Writer::integer(PyObject *i) {
    if (PyLong_CheckExact(i)) {
        int overflow = 0;
        long long x = PyLong_AsLongLongAndOverflow(i, &overflow);
        if (overflow == 0 && !(x == -1 && PyErr_Occurred())) {
            char digits[24];
            char *end = digits + sizeof digits, *p = end;
            unsigned long long u = x < 0 ? 0ULL - static_cast<unsigned long long>(x) : static_cast<unsigned long long>(x);
            do {
                *--p = static_cast<char>('0' + u % 10);
                u /= 10;
            } while (u != 0);
            if (x < 0) *--p = '-';
            return literal(std::string_view(p, static_cast<size_t>(end - p)));
        }
        PyErr_Clear();
    }
    return value(i);
}

size_t Writer::hole() {
    try {
        holes_.emplace_back(length(), Ref());
    } catch (const std::bad_alloc &) {
        no_memory();
        return static_cast<size_t>(-1);
    }
    return holes_.size() - 1;
}

bool Writer::fill(size_t hole, PyObject *v) {
    Ref formatted = Ref::steal(PyUnicode_CheckExact(v) ? new_ref(v) : PyObject_Format(v, nullptr));
    if (!formatted) return false;
    holes_[hole].second = std::move(formatted);
    return true;
}

PyObject *Writer::slice(size_t from, size_t to) const {
    if (wide_) {
        return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, wbuf_.data() + from, static_cast<Py_ssize_t>(to - from));
    }
    return PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, buf_.data() + from, static_cast<Py_ssize_t>(to - from));
}

PyObject *Writer::finish() {
    if (holes_.empty()) return slice(0, length());
    Ref pieces = Ref::steal(PyList_New(0));
    if (!pieces) return nullptr;
    size_t at = 0;
    for (auto &[pos, piece] : holes_) {
        Ref before = Ref::steal(slice(at, pos));
        if (!before || PyList_Append(pieces.get(), before.get()) < 0) return nullptr;
        if (piece && PyList_Append(pieces.get(), piece.get()) < 0) return nullptr;
        at = pos;
    }
    Ref rest = Ref::steal(slice(at, length()));
    if (!rest || PyList_Append(pieces.get(), rest.get()) < 0) return nullptr;
    Ref empty = Ref::steal(PyUnicode_New(0, 0));
    return empty ? PyUnicode_Join(empty.get(), pieces.get()) : nullptr;
}

}  // namespace zelqor::visitors
