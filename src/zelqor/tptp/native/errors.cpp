#include "zelqor/tptp/native/errors.hpp"

#include "zelqor/tptp/native/state.hpp"

namespace zelqor::tptp {

namespace {

// Lines longer than this are shown as a window around the column.
constexpr Py_ssize_t kShownWidth = 160;

Ref decode(const char *begin, const char *end) {
    return Ref::steal(PyUnicode_DecodeUTF8(begin, end - begin, "replace"));
}

}  // namespace

std::string text_of(PyObject *string) {
    Ref bytes = Ref::steal(PyUnicode_AsEncodedString(string, "utf-8", "backslashreplace"));
    if (!bytes) {
        PyErr_Clear();
        return "?";
    }
    return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.get())));
}

std::string describe_byte(char byte) {
    auto code = static_cast<unsigned char>(byte);
    if (code >= 33 && code <= 126) return cat("'", byte, "'");
    static const char digits[] = "0123456789abcdef";
    return cat("byte 0x", digits[code >> 4], digits[code & 15]);
}

void set_tptp_error(const Position &at, std::string_view message) {
    const char *line_end = at.line_start;
    while (line_end < at.text_end && *line_end != '\n') ++line_end;
    if (line_end > at.line_start && line_end[-1] == '\r') --line_end;
    const char *where = at.where < at.line_start ? at.line_start : at.where;
    int column = static_cast<int>(where - at.line_start) + 1;

    // The shown part of the line, and where the caret goes in it.
    const char *shown_begin = at.line_start, *shown_end = line_end;
    bool cut_before = false, cut_after = false;
    if (shown_end - shown_begin > kShownWidth) {
        if (where - shown_begin > kShownWidth / 2) {
            shown_begin = where - kShownWidth / 2;
            cut_before = true;
        }
        if (shown_end - shown_begin > kShownWidth) {
            shown_end = shown_begin + kShownWidth;
            cut_after = true;
        }
    }
    if (where > shown_end) where = shown_end;
    Ref prefix = decode(shown_begin, where);
    Ref rest = decode(where, shown_end);
    if (!prefix || !rest) return;
    Ref text = Ref::steal(PyUnicode_FromFormat("%s%U%U%s", cut_before ? "..." : "", prefix.get(), rest.get(),
                                               cut_after ? "..." : ""));
    if (!text) return;
    Py_ssize_t caret = PyUnicode_GET_LENGTH(prefix.get()) + (cut_before ? 3 : 0);
    Ref py_message = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                                     "replace"));
    if (!py_message) return;
    Ref error = Ref::steal(PyObject_CallFunction(g.tptp_error, "OOiiOn", py_message.get(), at.file, at.line, column,
                                                 text.get(), caret));
    if (!error) return;
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.get())), error.get());
}

void fail_at(const Position &at, std::string_view message) {
    set_tptp_error(at, message);
    throw Unwind{};
}

}  // namespace zelqor::tptp
