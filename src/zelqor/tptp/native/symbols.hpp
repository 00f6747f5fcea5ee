// The tables one problem shares across its files: interned names, the
// symbols with their arity and type (checked at every use), and the declared
// types of typed problems.
#pragma once

#include "common/pyref.hpp"

#include "zelqor/tptp/native/string_table.hpp"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace zelqor::tptp {

// One Python string per distinct text, so equal names are the same object
// (which the node factory relies on) and each is decoded once.
class Interner {
public:
    Interner() = default;
    Interner(const Interner &) = delete;
    Interner &operator=(const Interner &) = delete;
    ~Interner();
    // Borrowed reference owned by the interner; null with the exception set.
    PyObject *get(std::string_view text);

private:
    StringTable<PyObject *> strings_;
};

// How a symbol was written. The grammar keeps 'x1' and the number 1, or
// '"a"' and the distinct object "a", apart although their names read alike.
enum class Spelling : unsigned char { Word, Number, DistinctObject, System };
enum class Use : unsigned char { Function, Predicate };

// Where a symbol was first met, for messages.
struct Origin {
    PyObject *file = nullptr;  // borrowed from the interner
    int line = 0;
    int column = 0;
};

struct Symbol {
    PyObject *name = nullptr;       // borrowed from the interner
    Spelling spelling = Spelling::Word;
    Use use = Use::Function;
    int arity = 0;
    bool used = false;               // met in a formula
    bool declared = false;           // given a type by a declaration
    std::vector<PyObject *> arg_sorts;  // borrowed from the sort table
    PyObject *result = nullptr;      // return sort of a function; null for a predicate
    Origin origin;
};

class SymbolTable {
public:
    // The symbol of `key`, created empty (name unset) when new.
    Symbol &find_or_add(std::string_view key, bool &created);
    const std::deque<Symbol> &all() const { return symbols_; }

private:
    // Short names (most are) recently looked up, compared as two words: a
    // problem uses few symbols, over and over.
    struct Recent {
        uint64_t head = 0, tail = 0;
        uint32_t size = UINT32_MAX;
        uint32_t index = 0;
    };
    static constexpr size_t kRecent = 256;

    StringTable<size_t> index_;
    std::deque<Symbol> symbols_;  // a deque keeps references stable as it grows
    Recent recent_[kRecent];
};

// Declared types of a typed problem, by name.
class SortTable {
public:
    SortTable() = default;
    SortTable(const SortTable &) = delete;
    SortTable &operator=(const SortTable &) = delete;
    ~SortTable();
    PyObject *find(std::string_view name);  // borrowed, or null
    // Records a declared sort (stealing `sort`); false when the name is taken.
    bool add(std::string_view name, PyObject *sort);
    const std::vector<PyObject *> &declared() const { return order_; }

private:
    StringTable<PyObject *> sorts_;
    std::vector<PyObject *> order_;
};

}  // namespace zelqor::tptp
