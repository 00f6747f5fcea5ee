#include "zelqor/tptp/native/lexer.hpp"

#include <cstring>

namespace zelqor::tptp {

void Lexer::locate(const char *where, int &line, const char *&line_start) const {
    // Positions already passed lie on the current line or an earlier one:
    // count the line breaks between them and the current position backwards.
    line = line_;
    line_start = line_start_;
    while (where < line_start) {
        const char *p = line_start - 1;  // the '\n' that ended the previous line
        while (p > text_begin_ && p[-1] != '\n') --p;
        line_start = p;
        --line;
    }
}

bool Lexer::skip_layout() {
    while (pos_ < end_) {
        char c = *pos_;
        if (is_blank(c)) {
            ++pos_;
        } else if (c == '\n') {
            ++pos_;
            ++line_;
            line_start_ = pos_;
        } else if (c == '%') {
            // A comment runs to the end of the line; its bytes are not checked.
            const void *newline = std::memchr(pos_, '\n', static_cast<size_t>(end_ - pos_));
            pos_ = newline != nullptr ? static_cast<const char *>(newline) : end_;
        } else if (c == '/' && pos_ + 1 < end_ && pos_[1] == '*') {
            const char *start = pos_;
            pos_ += 2;
            for (;;) {
                if (pos_ + 1 >= end_) {
                    pos_ = end_;
                    return fail(start, "unterminated comment: '/*' without '*/'");
                }
                if (*pos_ == '*' && pos_[1] == '/') {
                    pos_ += 2;
                    break;
                }
                if (*pos_ == '\n') {
                    ++line_;
                    line_start_ = pos_ + 1;
                }
                ++pos_;
            }
        } else {
            break;
        }
    }
    return true;
}

// 'single quoted' or "distinct object": printable ASCII (space to tilde),
// with backslash escaping only the quote and the backslash.
bool Lexer::lex_quoted(Token &out, char quote) {
    const char *start = pos_;
    const char *p = pos_ + 1;
    for (;;) {
        if (p >= end_ || *p == '\n') {
            return fail(start, quote == '\'' ? "unterminated quoted name: no closing '" :
                                               "unterminated distinct object: no closing \"");
        }
        char c = *p;
        if (c == quote) break;
        if (c == '\\') {
            if (p + 1 < end_ && (p[1] == quote || p[1] == '\\')) {
                p += 2;
                continue;
            }
            return fail(p, quote == '\'' ? "a backslash in a quoted name may only escape ' or \\" :
                                           "a backslash in a distinct object may only escape \" or \\");
        }
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) {
            return fail(p, quote == '\'' ? "character not allowed in a quoted name" :
                                           "character not allowed in a distinct object", true);
        }
        ++p;
    }
    if (quote == '\'' && p == start + 1) return fail(start, "empty quoted name ''");
    out.kind = quote == '\'' ? Tok::SingleQuoted : Tok::DistinctObject;
    pos_ = p + 1;
    out.end = pos_;
    return true;
}

// <integer>, <rational> or <real>, with an optional sign.
bool Lexer::lex_number(Token &out) {
    const char *start = pos_;
    const char *p = pos_;
    if (*p == '+' || *p == '-') ++p;
    const char *digits = p;
    while (p < end_ && is_digit(*p)) ++p;
    if (*digits == '0' && p - digits > 1) return fail(start, "a number cannot start with 0 followed by digits");
    Tok kind = Tok::Integer;
    if (p + 1 < end_ && *p == '/' && is_digit(p[1])) {
        if (p[1] == '0') return fail(p + 1, "the denominator of a rational must be positive");
        p += 1;
        while (p < end_ && is_digit(*p)) ++p;
        kind = Tok::Rational;
    } else {
        if (p + 1 < end_ && *p == '.' && is_digit(p[1])) {
            p += 1;
            while (p < end_ && is_digit(*p)) ++p;
            kind = Tok::Real;
        }
        if (p < end_ && (*p == 'E' || *p == 'e')) {
            const char *q = p + 1;
            if (q < end_ && (*q == '+' || *q == '-')) ++q;
            if (q < end_ && is_digit(*q)) {
                while (q < end_ && is_digit(*q)) ++q;
                p = q;
                kind = Tok::Real;
            }
        }
    }
    out.kind = kind;
    pos_ = p;
    out.end = p;
    return true;
}

bool Lexer::next(Token &out) {
    if (pos_ < end_ && may_start_layout(*pos_) && !skip_layout()) return false;
    out.line = line_;
    out.line_start = line_start_;
    out.begin = pos_;
    if (pos_ >= end_) {
        out.kind = Tok::End;
        out.end = pos_;
        return true;
    }
    const char c = *pos_;
    if (is_alnum(c)) {
        if (is_digit(c)) return lex_number(out);
        const char *p = pos_ + 1;
        while (p < end_ && is_alnum(*p)) ++p;
        out.kind = is_lower(c) ? Tok::LowerWord : is_upper(c) ? Tok::UpperWord : Tok::Other;
        if (out.kind == Tok::Other) return fail(pos_, "unexpected character", true);
        pos_ = p;
        out.end = p;
        return true;
    }
    auto punct = [&](Tok kind, int length) {
        out.kind = kind;
        pos_ += length;
        out.end = pos_;
        return true;
    };
    switch (c) {
    case '(': return punct(Tok::LParen, 1);
    case ')': return punct(Tok::RParen, 1);
    case '[': return punct(Tok::LBracket, 1);
    case ']': return punct(Tok::RBracket, 1);
    case '{': return punct(Tok::LBrace, 1);
    case '}': return punct(Tok::RBrace, 1);
    case ',': return punct(Tok::Comma, 1);
    case '.': return punct(Tok::Dot, 1);
    case ':': return peek(1) == '=' ? punct(Tok::Other, 2) : punct(Tok::Colon, 1);
    case '&': return punct(Tok::Ampersand, 1);
    case '|': return punct(Tok::VerticalBar, 1);
    case '*': return punct(Tok::Star, 1);
    case '>': return punct(Tok::Arrow, 1);
    default:
        break;
    }
    // Operators of more than one character.
    const char n = peek(1);
    const char n2 = peek(2);
    switch (c) {
    case '~':
        if (n == '|') return punct(Tok::Nor, 2);
        if (n == '&') return punct(Tok::Nand, 2);
        return punct(Tok::Tilde, 1);
    case '=':
        if (n == '>') return punct(Tok::Implies, 2);
        if (n == '=') return punct(Tok::Other, 2);
        return punct(Tok::Equals, 1);
    case '<':
        if (n == '=' && n2 == '>') return punct(Tok::Iff, 3);
        if (n == '=') return punct(Tok::ImpliedBy, 2);
        if (n == '~' && n2 == '>') return punct(Tok::Xor, 3);
        if (n == '<') return punct(Tok::Other, 2);
        return punct(Tok::Other, 1);
    case '!':
        if (n == '=') return punct(Tok::NotEquals, 2);
        if (n == '>' || n == '!') return punct(Tok::Other, 2);
        return punct(Tok::Bang, 1);
    case '?':
        if (n == '*' || n == '?') return punct(Tok::Other, 2);
        return punct(Tok::Question, 1);
    case '+':
        if (is_digit(n)) return lex_number(out);
        return punct(Tok::Plus, 1);
    case '-':
        if (is_digit(n)) return lex_number(out);
        if (n == '-' && n2 == '>') return punct(Tok::Other, 3);
        return punct(Tok::Minus, 1);
    case '@':
        if (n == '+' || n == '-' || n == '=') return punct(Tok::Other, 2);
        return punct(Tok::Other, 1);
    case '^':
    case '#':
    case '`':
        return punct(Tok::Other, 1);
    case '\'':
    case '"':
        return lex_quoted(out, c);
    case '$': {
        const char *p = pos_ + 1;
        Tok kind = Tok::DollarWord;
        if (p < end_ && *p == '$') {
            ++p;
            kind = Tok::DollarDollarWord;
        }
        while (p < end_ && is_alnum(*p)) ++p;
        out.kind = kind;
        pos_ = p;
        out.end = p;
        return true;
    }
    default:
        return fail(pos_, "unexpected character", true);
    }
}

}  // namespace zelqor::tptp
