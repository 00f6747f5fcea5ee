#include "zelqor/tptp/native/names.hpp"

#include "zelqor/tptp/native/lexer.hpp"

namespace zelqor::tptp {

bool is_lower_word(std::string_view text) {
    if (text.empty() || !is_lower(text[0])) return false;
    for (char c : text.substr(1)) {
        if (!is_alnum(c)) return false;
    }
    return true;
}

bool is_upper_word(std::string_view text) {
    if (text.empty() || !is_upper(text[0])) return false;
    for (char c : text.substr(1)) {
        if (!is_alnum(c)) return false;
    }
    return true;
}

bool is_system_word(std::string_view text) {
    if (text.size() < 2 || text[0] != '$' || text[1] != '$') return false;
    for (char c : text.substr(2)) {
        if (!is_alnum(c)) return false;
    }
    return true;
}

bool is_number_text(std::string_view text) {
    // The whole text must lex as one number token.
    if (text.empty()) return false;
    if (!is_digit(text[0]) && !((text[0] == '+' || text[0] == '-') && text.size() > 1 && is_digit(text[1]))) {
        return false;
    }
    Lexer lexer(text.data(), text.data() + text.size());
    Token token;
    if (!lexer.next(token)) return false;
    return (token.kind == Tok::Integer || token.kind == Tok::Rational || token.kind == Tok::Real) &&
           token.end == text.data() + text.size();
}

bool is_distinct_object(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    Lexer lexer(text.data(), text.data() + text.size());
    Token token;
    return lexer.next(token) && token.kind == Tok::DistinctObject && token.end == text.data() + text.size();
}

bool is_printable_ascii(std::string_view text) {
    for (char c : text) {
        auto code = static_cast<unsigned char>(c);
        if (code < 32 || code > 126) return false;
    }
    return true;
}

bool append_atomic_word(std::string &out, std::string_view text) {
    if (is_lower_word(text)) {
        out.append(text);
        return true;
    }
    if (text.empty() || !is_printable_ascii(text)) return false;
    out.push_back('\'');
    for (char c : text) {
        if (c == '\'' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('\'');
    return true;
}

}  // namespace zelqor::tptp
