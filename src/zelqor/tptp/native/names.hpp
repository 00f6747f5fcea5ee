// How names are written in TPTP: a lower_word as it is, anything else in
// single quotes with \ and ' escaped. Numbers, "distinct objects" and
// $$system words stand bare where the grammar allows them.
#pragma once

#include <string>
#include <string_view>

namespace zelqor::tptp {

bool is_lower_word(std::string_view text);
bool is_upper_word(std::string_view text);
bool is_system_word(std::string_view text);     // $$word
bool is_number_text(std::string_view text);      // <integer>, <rational> or <real>
bool is_distinct_object(std::string_view text);  // "..." as the grammar writes it
bool is_printable_ascii(std::string_view text);

// Appends `text` as an <atomic_word>; false when it holds a character that
// no quoting can carry (outside printable ASCII).
bool append_atomic_word(std::string &out, std::string_view text);

}  // namespace zelqor::tptp
