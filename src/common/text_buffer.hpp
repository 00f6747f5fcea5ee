// A text buffer for rendering a whole tree into one string, shared by the
// text forms (a node's repr, the visitors' export): one copy of each piece,
// so rendering a tree is linear in the length of its text. Characters are
// kept as Latin-1 until a wider one arrives, then as UCS-4; any code point a
// str can hold (a lone surrogate included) is kept as it is. Holes reserve a
// place for a piece that is only computed after later pieces.
//
// Every method returns false with the exception set (MemoryError, or the
// error of formatting a value) on failure. Only literal()'s common case is
// inlined into the callers; the rest stays out of line, so that a renderer
// made of many small appends stays small.
#pragma once

#include "common/pyref.hpp"

#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace zelqor {

namespace detail {

// Copies the few bytes of a typical piece (a name, a number, a connective)
// without a call to memcpy.
inline void copy_short(char *dst, const char *src, size_t n) {
    switch (n) {
    case 8: dst[7] = src[7]; [[fallthrough]];
    case 7: dst[6] = src[6]; [[fallthrough]];
    case 6: dst[5] = src[5]; [[fallthrough]];
    case 5: dst[4] = src[4]; [[fallthrough]];
    case 4: dst[3] = src[3]; [[fallthrough]];
    case 3: dst[2] = src[2]; [[fallthrough]];
    case 2: dst[1] = src[1]; [[fallthrough]];
    case 1: dst[0] = src[0]; [[fallthrough]];
    case 0: return;
    default: std::memcpy(dst, src, n);
    }
}

// The value of a small exact int without a call, when the layout allows.
inline bool small_int_value(PyObject *i, long long &x) {
#if PY_VERSION_HEX >= 0x030C0000
    auto *n = reinterpret_cast<PyLongObject *>(i);
    if (!PyUnstable_Long_IsCompact(n)) return false;
    x = PyUnstable_Long_CompactValue(n);
    return true;
#else
    Py_ssize_t size = Py_SIZE(i);
    if (size < -1 || size > 1) return false;
    x = size * static_cast<long long>(reinterpret_cast<PyLongObject *>(i)->ob_digit[0]);
    return true;
#endif
}

}  // namespace detail

class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer &) = delete;
    TextBuffer &operator=(const TextBuffer &) = delete;
    ~TextBuffer() { PyMem_Free(data_); }

    // ASCII literal.
    bool literal(std::string_view s) {
        if (width_ == 1 && len_ + s.size() <= cap_) {
            detail::copy_short(data_ + len_, s.data(), s.size());
            len_ += s.size();
            return true;
        }
        return literal_slow(s);
    }
    // The characters of a str (subclasses included), as they are.
    bool text(PyObject *s);
    // `value` as an f-string inserts it: str as it is, anything else formatted.
    bool value(PyObject *v);
    // An integer in decimal, as f"{i}" writes it.
    bool integer(PyObject *i);

    // Reserves a place; false with MemoryError set on failure.
    bool hole(size_t &index);
    // Formats `v` into the reserved place.
    bool fill(size_t hole, PyObject *v);

    PyObject *finish();

private:
    bool literal_slow(std::string_view s);
    bool reserve(size_t extra);
    bool widen();
    PyObject *slice(size_t from, size_t to) const;

    char *data_ = nullptr;
    size_t len_ = 0;          // in characters
    size_t cap_ = 0;          // in characters
    int width_ = 1;           // bytes per character: 1 (Latin-1) or 4 (UCS-4)
    std::vector<std::pair<size_t, Ref>> holes_;
};

inline bool TextBuffer::reserve(size_t extra) {
    if (len_ + extra <= cap_) return true;
    size_t cap = cap_ < 256 ? 256 : cap_;
    while (cap < len_ + extra) cap *= 2;
    void *grown = PyMem_Realloc(data_, cap * static_cast<size_t>(width_));
    if (grown == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    data_ = static_cast<char *>(grown);
    cap_ = cap;
    return true;
}

// From Latin-1 to UCS-4 once a wider character arrives.
inline bool TextBuffer::widen() {
    if (width_ == 4) return true;
    size_t cap = cap_ < 256 ? 256 : cap_;
    auto *wide = static_cast<Py_UCS4 *>(PyMem_Malloc(cap * sizeof(Py_UCS4)));
    if (wide == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    for (size_t i = 0; i < len_; ++i) wide[i] = static_cast<unsigned char>(data_[i]);
    PyMem_Free(data_);
    data_ = reinterpret_cast<char *>(wide);
    cap_ = cap;
    width_ = 4;
    return true;
}

[[gnu::noinline]] inline bool TextBuffer::literal_slow(std::string_view s) {
    if (!reserve(s.size())) return false;
    if (width_ == 1) {
        std::memcpy(data_ + len_, s.data(), s.size());
    } else {
        auto *out = reinterpret_cast<Py_UCS4 *>(data_) + len_;
        for (char c : s) *out++ = static_cast<unsigned char>(c);
    }
    len_ += s.size();
    return true;
}

[[gnu::noinline]] inline bool TextBuffer::text(PyObject *s) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(s) < 0) return false;
#endif
    int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    auto n = static_cast<size_t>(PyUnicode_GET_LENGTH(s));
    if (kind == PyUnicode_1BYTE_KIND && width_ == 1) {
        return literal(std::string_view(static_cast<const char *>(data), n));
    }
    if (!widen() || !reserve(n)) return false;
    auto *out = reinterpret_cast<Py_UCS4 *>(data_) + len_;
    for (size_t i = 0; i < n; ++i) out[i] = PyUnicode_READ(kind, data, static_cast<Py_ssize_t>(i));
    len_ += n;
    return true;
}

[[gnu::noinline]] inline bool TextBuffer::value(PyObject *v) {
    if (PyUnicode_CheckExact(v)) return text(v);
    Ref formatted = Ref::steal(PyObject_Format(v, nullptr));
    return formatted && text(formatted.get());
}

[[gnu::noinline]] inline bool TextBuffer::integer(PyObject *i) {
    if (PyLong_CheckExact(i)) {
        int overflow = 0;
        long long x;
        if (!detail::small_int_value(i, x)) x = PyLong_AsLongLongAndOverflow(i, &overflow);
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

[[gnu::noinline]] inline bool TextBuffer::hole(size_t &index) {
    try {
        holes_.emplace_back(len_, Ref());
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        return false;
    }
    index = holes_.size() - 1;
    return true;
}

[[gnu::noinline]] inline bool TextBuffer::fill(size_t hole, PyObject *v) {
    Ref formatted = Ref::steal(PyUnicode_CheckExact(v) ? new_ref(v) : PyObject_Format(v, nullptr));
    if (!formatted) return false;
    holes_[hole].second = std::move(formatted);
    return true;
}

inline PyObject *TextBuffer::slice(size_t from, size_t to) const {
    auto n = static_cast<Py_ssize_t>(to - from);
    if (width_ == 4) {
        return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, reinterpret_cast<const Py_UCS4 *>(data_) + from, n);
    }
    return PyUnicode_FromKindAndData(PyUnicode_1BYTE_KIND, data_ + from, n);
}

[[gnu::noinline]] inline PyObject *TextBuffer::finish() {
    if (holes_.empty()) return slice(0, len_);
    Ref pieces = Ref::steal(PyList_New(0));
    if (!pieces) return nullptr;
    size_t at = 0;
    for (auto &[pos, piece] : holes_) {
        Ref before = Ref::steal(slice(at, pos));
        if (!before || PyList_Append(pieces.get(), before.get()) < 0) return nullptr;
        if (piece && PyList_Append(pieces.get(), piece.get()) < 0) return nullptr;
        at = pos;
    }
    Ref rest = Ref::steal(slice(at, len_));
    Ref empty = Ref::steal(PyUnicode_New(0, 0));
    if (!rest || !empty || PyList_Append(pieces.get(), rest.get()) < 0) return nullptr;
    return PyUnicode_Join(empty.get(), pieces.get());
}

}  // namespace zelqor
