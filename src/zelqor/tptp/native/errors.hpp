// Errors of the reader and writer. A fault in the text becomes a TPTPError
// that knows the file, line, column and offending line. Once a Python
// exception is set, the work unwinds with `Unwind` up to its entry point,
// which returns null with the error set.
#pragma once

#include "common/pyref.hpp"

#include <string>
#include <string_view>
#include <type_traits>

namespace zelqor::tptp {

// Thrown once the Python exception is set; caught by the module's entry points.
struct Unwind {};

// A position in a text: its line, the start of that line and the text's end.
struct Position {
    PyObject *file;          // borrowed: the source name
    const char *where;
    int line;
    const char *line_start;
    const char *text_end;
};

// Sets TPTPError(message, file, line, column, text) for `at`.
void set_tptp_error(const Position &at, std::string_view message);
// Raises it and unwinds.
[[noreturn]] void fail_at(const Position &at, std::string_view message);
// Unwinds for an exception already set.
[[noreturn]] inline void unwind() { throw Unwind{}; }

// Message text from pieces: strings, characters and integers.
inline void append_piece(std::string &out, std::string_view piece) { out.append(piece); }
inline void append_piece(std::string &out, const char *piece) { out.append(piece); }
inline void append_piece(std::string &out, const std::string &piece) { out.append(piece); }
inline void append_piece(std::string &out, char piece) { out.push_back(piece); }
template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
inline void append_piece(std::string &out, Integer piece) { out.append(std::to_string(piece)); }

template <typename... Pieces>
std::string cat(const Pieces &...pieces) {
    std::string out;
    (append_piece(out, pieces), ...);
    return out;
}

// A Python string as UTF-8 for a message; characters that cannot be encoded
// are shown as escapes.
std::string text_of(PyObject *string);

// A byte shown in a message: the character itself when printable, else its code.
std::string describe_byte(char byte);

}  // namespace zelqor::tptp
