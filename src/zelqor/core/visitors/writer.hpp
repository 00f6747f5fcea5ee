// A text buffer for rendering a whole tree into one string: one copy of each
// piece, so the export of a tree is linear in the length of its text. Holes
// reserve a place for a piece that is only computed after later pieces.
#pragma once

#include "common/pyref.hpp"

#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace zelqor::visitors {

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

class Writer {
public:
    Writer() = default;
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer() { PyMem_Free(data_); }

    // ASCII literal.
    bool literal(std::string_view s) {
        if (width_ == 1 && len_ + s.size() <= cap_) {
            copy_short(data_ + len_, s.data(), s.size());
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

}  // namespace zelqor::visitors
