// The reader: a recursive-descent parser over the tokens of one file, which
// builds nodes as it goes. Everything a problem shares across the files it
// includes (nodes, symbols, names, sorts, the variable counter, the annotated
// formulas read so far) lives in a ProblemState; a Parser reads one file into
// it and hands each include to a Parser of its own.
//
// Faults in the text raise TPTPError and unwind with Unwind (errors.hpp)
// to the entry point, which owns the ProblemState and so releases everything.
#pragma once

#include "common/small_vector.hpp"
#include "zelqor/tptp/native/errors.hpp"
#include "zelqor/tptp/native/lexer.hpp"
#include "zelqor/tptp/native/node_factory.hpp"
#include "zelqor/tptp/native/symbols.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelqor::tptp {

enum class Language : unsigned char { Fof, Cnf, Tff, Tcf };

// One annotated formula read, as the tuple handed to Python:
// (name, role, language, formula, source, line, variable_names).
struct Entry {
    std::string name;
    Ref record;
};

struct ProblemState {
    // `text_size`: bytes of the main text, from which the node table is sized.
    explicit ProblemState(size_t text_size) : nodes(text_size / 16) {}

    NodeFactory nodes;
    SymbolTable symbols;
    Interner strings;
    SortTable sorts;
    long long next_variable = 0;
    std::vector<Entry> entries;
    PyObject *resolver = Py_None;       // borrowed: callable(name, including_source) -> (source, bytes)
    PyTypeObject *record_type = &PyTuple_Type;  // borrowed: the tuple type of the formula records
    std::vector<PyObject *> open_files;  // borrowed: the chain of files being read, outermost first
};

// A variable in scope: its name in the text and its node.
struct Binding {
    std::string_view name;
    PyObject *variable;  // strong
};

// What a type expression of a declaration stands for.
struct TypeExpr {
    enum Form : unsigned char { Sort, Boolean, TypeOfTypes, Product, Mapping } form = Sort;
    PyObject *sort = nullptr;             // Sort: the sort; Mapping: the result sort (null for $o)
    std::vector<PyObject *> factors;      // Product and Mapping: the argument sorts
};

// A symbol and its arguments, read before knowing whether they make a term
// or an atom.
struct Application {
    Token token;
    std::string_view key;   // the name as the symbol table knows it
    std::string unescaped;  // holds the name when quoting escaped something
    Spelling spelling = Spelling::Word;
    SmallVector<PyObject *, 8> args;  // strong

    Application() = default;
    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;
    ~Application() { reset(); }
    void reset() {
        for (PyObject *arg : args) Py_DECREF(arg);
        args.clear();
        unescaped.clear();
        spelling = Spelling::Word;
    }
};

class Parser {
public:
    Parser(ProblemState &problem, PyObject *source, const char *begin, const char *end);
    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;
    ~Parser();

    // <TPTP_file>: annotated formulas and includes up to the end of the text.
    void read_file();
    // The whole text as one formula of `language` (new reference).
    PyObject *read_formula(Language language);

private:
    // ---- tokens and faults (parser.cpp)
    void advance();
    Position position_of(const Token &token) const;
    [[noreturn]] void fail(const Token &token, std::string_view message) const;
    [[noreturn]] void fail_expected(std::string_view what) const;
    [[noreturn]] void fail_unsupported(const Token &token) const;
    void expect(Tok kind, std::string_view what);
    std::string describe(const Token &token) const;
    PyObject *intern(std::string_view text);
    static PyObject *check(PyObject *result) {
        if (result == nullptr) unwind();
        return result;
    }

    // ---- annotated formulas and includes (parser.cpp)
    void read_annotated(Language language);
    PyObject *read_role();
    std::string read_name(PyObject *&name);
    void skip_general_terms(bool stop_at_comma);
    void read_include();
    void include_file(const Token &at, const std::string &file, const std::vector<std::string> *selection);
    void add_entry(std::string name, PyObject *py_name, PyObject *role, Language language, PyObject *formula, int line);
    void reset_formula_state();

    // ---- formulas and terms (formulas.cpp)
    Ref logic_formula();
    Ref combine(Tok connective, PyObject *left, PyObject *right);
    Ref atomic_formula(bool allow_inequality);
    Ref equation_rest(Ref left, bool allow_inequality);
    Ref distinct_formula();
    Ref cnf_formula();
    Ref cnf_literal();
    Ref tcf_formula();
    Ref term();
    Ref variable_reference(const Token &token);
    void variable_list(std::vector<Binding> &into);
    Application &open_term();
    void close_term();
    void read_symbol(Application &app);
    void read_arguments(Application &app);
    Ref application_term(Application &app);
    Ref application_formula(Application &app);
    Symbol &use_symbol(const Application &app, Use use);
    Ref number_or_object_term();
    void check_argument_sorts(const Application &app, const Symbol &symbol);
    void check_same_sort(const Token &at, PyObject *left, PyObject *right);

    // ---- typed declarations (types.cpp)
    void type_declaration();
    TypeExpr type_expression();
    TypeExpr unitary_type();
    TypeExpr mapping_type(const Token &start, TypeExpr arguments);
    PyObject *atomic_type(bool &boolean, bool &type_of_types);
    PyObject *variable_sort();
    std::string sort_display(PyObject *sort);
    void declare_sort(const Token &at, std::string_view name);
    void declare_symbol(const Token &at, std::string_view key, const TypeExpr &type);

    ProblemState &p_;
    PyObject *source_;  // borrowed: name of the file read
    Lexer lex_;
    Token tok_;
    Language lang_ = Language::Fof;
    std::vector<Binding> scope_;          // quantified variables, innermost last
    std::vector<Binding> clause_vars_;    // a clause's own variables (cnf, tcf)
    std::vector<std::pair<long long, PyObject *>> formula_vars_;  // id and name of every variable made
    // Applications whose arguments are being read, innermost last; the
    // objects are kept for reuse, the first `open_count_` are in use.
    std::vector<std::unique_ptr<Application>> open_terms_;
    size_t open_count_ = 0;
};

// Roles a problem may give a formula.
bool is_known_role(std::string_view role);

}  // namespace zelqor::tptp
