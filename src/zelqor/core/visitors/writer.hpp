// A text buffer for rendering a whole tree into one string: one copy of each
// piece, so the export of a tree is linear in the length of its text. Holes
// reserve a place for a piece that is only computed after later pieces.
#pragma once

#include "common/pyref.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelqor::visitors {

class Writer {
public:
    // ASCII literal.
    bool literal(std::string_view s);
    // The characters of a str (subclasses included), as they are.
    bool text(PyObject *s);
    // `value` as an f-string inserts it: str as it is, anything else formatted.
    bool value(PyObject *v);
    // An integer in decimal, as f"{i}" writes it.
    bool integer(PyObject *i);

    size_t hole();
    // Formats `v` into the reserved place.
    bool fill(size_t hole, PyObject *v);

    PyObject *finish();

private:
    bool widen();
    PyObject *slice(size_t from, size_t to) const;
    size_t length() const { return wide_ ? wbuf_.size() : buf_.size(); }

    bool wide_ = false;      // UCS-4 once a character above U+00FF appears
    std::string buf_;        // Latin-1
    std::u32string wbuf_;
    std::vector<std::pair<size_t, Ref>> holes_;
};

}  // namespace zelqor::visitors
