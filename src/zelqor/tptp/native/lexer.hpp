// Tokens of the TPTP language. The lexer walks a byte range once, skipping
// white space and comments, and keeps the line count so that every token
// knows its line and column without a second pass over the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zelqor::tptp {

enum class Tok : uint8_t {
    End,
    LowerWord,        // cat, fof, include
    UpperWord,        // X, Var1 (variables)
    SingleQuoted,     // 'any name'
    DistinctObject,   // "text"
    DollarWord,       // $true, $i
    DollarDollarWord, // $$system
    Integer,          // 12, -3
    Rational,         // 1/2
    Real,             // 1.5, 2E-3
    LParen, RParen, LBracket, RBracket, LBrace, RBrace, Comma, Dot, Colon,
    Tilde,            // ~
    Ampersand,        // &
    VerticalBar,      // |
    Implies,          // =>
    ImpliedBy,        // <=
    Iff,              // <=>
    Xor,              // <~>
    Nor,              // ~|
    Nand,             // ~&
    Equals,           // =
    NotEquals,        // !=
    Bang,             // !
    Question,         // ?
    Star,             // *
    Plus,             // +
    Minus,            // - (a role's subrole)
    Arrow,            // >
    // Tokens of the higher-order and extended languages, recognised only to
    // name them in an error.
    Other,            // -->  :=  ==  @  ^  #  !>  ?*  <<  !!  ??  @+ ...
};

struct Token {
    Tok kind = Tok::End;
    const char *begin = nullptr;
    const char *end = nullptr;
    int line = 1;
    const char *line_start = nullptr;

    std::string_view text() const { return {begin, static_cast<size_t>(end - begin)}; }
    int column() const { return static_cast<int>(begin - line_start) + 1; }
};

// What went wrong when the lexer could not make a token.
struct LexFault {
    const char *where = nullptr;
    const char *message = nullptr;
    bool show_byte = false;  // the message names the byte at `where`
};

class Lexer {
public:
    Lexer(const char *begin, const char *end) : pos_(begin), end_(end), line_start_(begin), text_begin_(begin) {}

    // The next token into `out`; false with `fault` filled in on a lexical error.
    bool next(Token &out);

    const LexFault &fault() const { return fault_; }
    int line() const { return line_; }
    const char *line_start() const { return line_start_; }
    const char *text_begin() const { return text_begin_; }
    const char *text_end() const { return end_; }
    // Line and start of line of any position already passed.
    void locate(const char *where, int &line, const char *&line_start) const;

private:
    bool skip_layout();
    char peek(ptrdiff_t offset) const { return pos_ + offset < end_ ? pos_[offset] : '\0'; }
    bool lex_quoted(Token &out, char quote);
    bool lex_number(Token &out);
    bool fail(const char *where, const char *message, bool show_byte = false) {
        fault_ = {where, message, show_byte};
        return false;
    }

    const char *pos_;
    const char *end_;
    int line_ = 1;
    const char *line_start_;
    const char *text_begin_;
    LexFault fault_;
};

// Character classes of the grammar, by table: the lexer tests one per byte.
namespace char_class {
inline constexpr unsigned char kLower = 1, kUpper = 2, kDigit = 4, kUnderscore = 8, kSpace = 16, kLayout = 32;
inline constexpr unsigned char kAlnum = kLower | kUpper | kDigit | kUnderscore;

struct Table {
    unsigned char bits[256] = {};
    constexpr Table() {
        for (int c = 'a'; c <= 'z'; ++c) bits[c] = kLower;
        for (int c = 'A'; c <= 'Z'; ++c) bits[c] = kUpper;
        for (int c = '0'; c <= '9'; ++c) bits[c] = kDigit;
        bits[static_cast<int>('_')] = kUnderscore;
        for (char c : {' ', '\t', '\r', '\f', '\v'}) bits[static_cast<unsigned char>(c)] = kSpace | kLayout;
        // What may start white space or a comment.
        for (char c : {'\n', '%', '/'}) bits[static_cast<unsigned char>(c)] = kLayout;
    }
};
inline constexpr Table kTable{};

inline bool has(char c, unsigned char bits) { return (kTable.bits[static_cast<unsigned char>(c)] & bits) != 0; }
}  // namespace char_class

inline bool is_lower(char c) { return char_class::has(c, char_class::kLower); }
inline bool is_upper(char c) { return char_class::has(c, char_class::kUpper); }
inline bool is_digit(char c) { return char_class::has(c, char_class::kDigit); }
inline bool is_alnum(char c) { return char_class::has(c, char_class::kAlnum); }
inline bool is_blank(char c) { return char_class::has(c, char_class::kSpace); }
inline bool may_start_layout(char c) { return char_class::has(c, char_class::kLayout); }

}  // namespace zelqor::tptp
