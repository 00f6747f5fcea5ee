// The file level of the reader: tokens and faults, annotated formulas,
// annotations, includes.
#include "zelqor/tptp/native/parser.hpp"

#include "common/compat.hpp"
#include "common/guard.hpp"

#include <algorithm>

namespace zelqor::tptp {

bool is_known_role(std::string_view role) {
    static const std::string_view roles[] = {
        "axiom",      "hypothesis", "definition", "assumption", "lemma", "theorem",     "corollary",
        "conjecture", "negated_conjecture",       "plain",      "type",  "interpretation", "unknown",
    };
    return std::find(std::begin(roles), std::end(roles), role) != std::end(roles);
}

Parser::Parser(ProblemState &problem, PyObject *source, const char *begin, const char *end)
    : p_(problem), source_(source), lex_(begin, end) {
    tok_.begin = tok_.end = tok_.line_start = begin;
}

Parser::~Parser() { reset_formula_state(); }

void Parser::reset_formula_state() {
    for (Binding &b : scope_) Py_DECREF(b.variable);
    for (Binding &b : clause_vars_) Py_DECREF(b.variable);
    scope_.clear();
    clause_vars_.clear();
    formula_vars_.clear();
}

// ---- tokens and faults --------------------------------------------------------------

Position Parser::position_of(const Token &token) const {
    return Position{source_, token.begin, token.line, token.line_start, lex_.text_end()};
}

void Parser::advance() {
    if (lex_.next(tok_)) return;
    const LexFault &fault = lex_.fault();
    Position at{source_, fault.where, 0, nullptr, lex_.text_end()};
    lex_.locate(fault.where, at.line, at.line_start);
    std::string message = fault.message;
    if (fault.show_byte) message = cat(message, " ", describe_byte(*fault.where));
    fail_at(at, message);
}

void Parser::fail(const Token &token, std::string_view message) const { fail_at(position_of(token), message); }

std::string Parser::describe(const Token &token) const {
    if (token.kind == Tok::End) return "the end of the text";
    std::string_view text = token.text();
    if (text.size() > 40) return cat("'", text.substr(0, 37), "...'");
    return cat("'", text, "'");
}

void Parser::fail_expected(std::string_view what) const {
    fail(tok_, cat("expected ", what, ", found ", describe(tok_)));
}

void Parser::fail_unsupported(const Token &token) const {
    std::string_view text = token.text();
    if (text == "-->") fail(token, "sequents ('-->') are not supported");
    if (text == ":=" || text == "==") {
        fail(token, cat("'", text, "' belongs to the extended typed language, which is not supported"));
    }
    if (text == "!>" || text == "?*") fail(token, cat("polymorphic types ('", text, "') are not supported"));
    if (text == "<<") fail(token, "subtypes ('<<') are not supported");
    fail(token, cat("'", text, "' belongs to the higher-order or modal languages, which are not supported"));
}

void Parser::expect(Tok kind, std::string_view what) {
    if (tok_.kind != kind) fail_expected(what);
    advance();
}

PyObject *Parser::intern(std::string_view text) { return check(p_.strings.get(text)); }

// ---- annotated formulas ------------------------------------------------------------

void Parser::read_file() {
    advance();
    for (unsigned read = 1; tok_.kind != Tok::End; ++read) {
        // A long text is read in one call: let Ctrl-C through now and then.
        if (read % 256 == 0 && PyErr_CheckSignals() < 0) unwind();
        if (tok_.kind != Tok::LowerWord) fail_expected("fof(, cnf(, tff( or include(");
        std::string_view word = tok_.text();
        if (word == "fof") {
            read_annotated(Language::Fof);
        } else if (word == "cnf") {
            read_annotated(Language::Cnf);
        } else if (word == "tff") {
            read_annotated(Language::Tff);
        } else if (word == "tcf") {
            read_annotated(Language::Tcf);
        } else if (word == "include") {
            read_include();
        } else if (word == "thf") {
            fail(tok_, "higher-order formulas (thf) are not supported");
        } else if (word == "tpi") {
            fail(tok_, "process instructions (tpi) are not supported");
        } else {
            fail_expected("fof(, cnf(, tff( or include(");
        }
    }
}

PyObject *Parser::read_formula(Language language) {
    lang_ = language;
    advance();
    Ref formula;
    switch (language) {
    case Language::Cnf: formula = cnf_formula(); break;
    case Language::Tcf: formula = tcf_formula(); break;
    default: formula = logic_formula(); break;
    }
    if (tok_.kind != Tok::End) fail_expected("the end of the formula");
    return formula.release();
}

std::string Parser::read_name(PyObject *&name) {
    std::string text;
    if (tok_.kind == Tok::LowerWord || tok_.kind == Tok::Integer) {
        text = std::string(tok_.text());
    } else if (tok_.kind == Tok::SingleQuoted) {
        std::string_view raw = tok_.text().substr(1, tok_.text().size() - 2);
        text.reserve(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\') ++i;
            text.push_back(raw[i]);
        }
    } else {
        fail_expected("a name");
    }
    name = intern(text);
    advance();
    return text;
}

PyObject *Parser::read_role() {
    if (tok_.kind != Tok::LowerWord) fail_expected("a role such as axiom or conjecture");
    std::string_view role = tok_.text();
    if (!is_known_role(role)) fail(tok_, cat("unknown role '", role, "'"));
    PyObject *name = intern(role);
    advance();
    // <lower_word>-<general_term>: a subrole, read and set aside.
    if (tok_.kind == Tok::Minus) {
        advance();
        skip_general_terms(true);
    } else if ((tok_.kind == Tok::Integer || tok_.kind == Tok::Rational || tok_.kind == Tok::Real) &&
               *tok_.begin == '-') {
        advance();
    }
    return name;
}

// Skips <general_term>s up to the ')' (or, with `stop_at_comma`, the ',')
// that ends them, checking that brackets pair up.
void Parser::skip_general_terms(bool stop_at_comma) {
    std::vector<Tok> open;
    for (;;) {
        switch (tok_.kind) {
        case Tok::End:
            fail_expected("')' to end the annotated formula");
        case Tok::Dot:
            fail_expected(open.empty() ? "')'" : (open.back() == Tok::LParen ? "')'" : "']'"));
        case Tok::LParen:
        case Tok::LBracket:
            open.push_back(tok_.kind);
            break;
        case Tok::RParen:
        case Tok::RBracket: {
            Tok wanted = tok_.kind == Tok::RParen ? Tok::LParen : Tok::LBracket;
            if (open.empty()) {
                if (tok_.kind == Tok::RParen) return;
                fail(tok_, "']' without a matching '['");
            }
            if (open.back() != wanted) fail(tok_, cat("expected '", open.back() == Tok::LParen ? ")" : "]", "'"));
            open.pop_back();
            break;
        }
        case Tok::Comma:
            if (open.empty() && stop_at_comma) return;
            break;
        default:
            break;
        }
        advance();
    }
}

void Parser::read_annotated(Language language) {
    int line = tok_.line;
    lang_ = language;
    advance();
    expect(Tok::LParen, "'('");
    PyObject *py_name = nullptr;
    std::string name = read_name(py_name);
    expect(Tok::Comma, "','");
    Token role_token = tok_;
    PyObject *role = read_role();
    expect(Tok::Comma, "','");
    bool typing = role_token.text() == "type";
    Ref formula;
    if (typing) {
        if (language != Language::Tff && language != Language::Tcf) {
            fail(role_token, "the role 'type' declares types, which only tff formulas do");
        }
        type_declaration();
    } else {
        switch (language) {
        case Language::Cnf: formula = cnf_formula(); break;
        case Language::Tcf: formula = tcf_formula(); break;
        default: formula = logic_formula(); break;
        }
    }
    if (tok_.kind == Tok::Colon && language == Language::Tff) {
        fail(tok_, "a type declaration needs the role 'type'");
    }
    if (tok_.kind == Tok::Comma) {
        advance();
        skip_general_terms(false);
    }
    expect(Tok::RParen, "',' or ')'");
    expect(Tok::Dot, "'.' after the annotated formula");
    if (!typing) add_entry(std::move(name), py_name, role, language, formula.get(), line);
    reset_formula_state();
}

void Parser::add_entry(std::string name, PyObject *py_name, PyObject *role, Language language, PyObject *formula,
                       int line) {
    Ref names = Ref::steal(check(PyDict_New()));
    for (auto &[id, variable_name] : formula_vars_) {
        Ref key = Ref::steal(check(PyLong_FromLongLong(id)));
        if (PyDict_SetItem(names.get(), key.get(), variable_name) < 0) unwind();
    }
    PyObject *lang = language == Language::Fof ? g.lang_fof :
                     language == Language::Cnf ? g.lang_cnf :
                     language == Language::Tff ? g.lang_tff : g.lang_tcf;
    Ref number = Ref::steal(check(PyLong_FromLong(line)));
    // (name, role, language, formula, source, line, variable_names)
    PyObject *fields[] = {py_name, role, lang, formula, source_, number.get(), names.get()};
    // A tuple, or an instance of a tuple subclass made as tuple.__new__ makes it.
    Ref record = Ref::steal(check(p_.record_type == &PyTuple_Type ? PyTuple_New(7)
                                                                   : p_.record_type->tp_alloc(p_.record_type, 7)));
    for (Py_ssize_t i = 0; i < 7; ++i) PyTuple_SET_ITEM(record.get(), i, new_ref(fields[i]));
    p_.entries.push_back(Entry{std::move(name), std::move(record)});
}

// ---- includes --------------------------------------------------------------------------

void Parser::read_include() {
    advance();
    expect(Tok::LParen, "'('");
    if (tok_.kind != Tok::SingleQuoted && tok_.kind != Tok::LowerWord) fail_expected("a quoted file name");
    Token file_token = tok_;
    PyObject *ignored = nullptr;
    std::string file = read_name(ignored);
    std::vector<std::string> selection;
    bool selected = false;
    if (tok_.kind == Tok::Comma) {
        advance();
        if (tok_.kind == Tok::Star) {
            advance();
        } else {
            expect(Tok::LBracket, "'[' or '*'");
            selected = true;
            for (;;) {
                PyObject *name = nullptr;
                selection.push_back(read_name(name));
                if (tok_.kind == Tok::RBracket) break;
                expect(Tok::Comma, "',' or ']'");
            }
            advance();
        }
        if (tok_.kind == Tok::Comma) {  // a name space, which selects nothing here
            advance();
            PyObject *space = nullptr;
            read_name(space);
        }
    }
    expect(Tok::RParen, "')'");
    expect(Tok::Dot, "'.' after the include");
    include_file(file_token, file, selected ? &selection : nullptr);
}

void Parser::include_file(const Token &at, const std::string &file, const std::vector<std::string> *selection) {
    if (p_.resolver == Py_None) fail(at, cat("cannot include '", file, "' here: no include resolver"));
    PyObject *py_file = intern(file);
    Ref found = Ref::steal(PyObject_CallFunctionObjArgs(p_.resolver, py_file, source_, nullptr));
    if (!found) {
        // A file that cannot be found or read is a fault of the text at the include.
        if (!PyErr_ExceptionMatches(PyExc_OSError) && !PyErr_ExceptionMatches(PyExc_LookupError)) unwind();
        Ref raised = Ref::steal(take_raised_exception());
        Ref text = Ref::steal(PyObject_Str(raised.get()));
        if (!text) unwind();
        fail(at, text_of(text.get()));
    }
    if (!PyTuple_Check(found.get()) || PyTuple_GET_SIZE(found.get()) != 2 ||
        !PyUnicode_Check(PyTuple_GET_ITEM(found.get(), 0)) || !PyBytes_Check(PyTuple_GET_ITEM(found.get(), 1))) {
        PyErr_SetString(PyExc_TypeError, "the include resolver must return a (str, bytes) pair");
        unwind();
    }
    PyObject *included = PyTuple_GET_ITEM(found.get(), 0);
    for (PyObject *open : p_.open_files) {
        int same = PyUnicode_Compare(open, included);
        if (same == -1 && PyErr_Occurred()) unwind();
        if (same != 0) continue;
        std::string chain;
        bool in_cycle = false;
        for (PyObject *file_name : p_.open_files) {
            in_cycle = in_cycle || file_name == open;
            if (in_cycle) chain += cat(text_of(file_name), " -> ");
        }
        fail(at, cat("include cycle: ", chain, text_of(included)));
    }
    RecursionGuard guard(" while reading includes");
    if (!guard.ok()) unwind();  // RecursionError: includes nested as deep as the interpreter allows
    char *data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(PyTuple_GET_ITEM(found.get(), 1), &data, &size) < 0) unwind();
    size_t first = p_.entries.size();
    p_.open_files.push_back(included);
    {
        Parser child(p_, included, data, data + size);
        child.read_file();
    }
    p_.open_files.pop_back();
    if (selection == nullptr) return;
    // include('file', [names]): keep only the named formulas, each of which must be there.
    for (const std::string &name : *selection) {
        bool present = std::any_of(p_.entries.begin() + static_cast<ptrdiff_t>(first), p_.entries.end(),
                                   [&](const Entry &e) { return e.name == name; });
        if (!present) fail(at, cat("'", text_of(included), "' has no formula named '", name, "'"));
    }
    auto kept = std::stable_partition(p_.entries.begin() + static_cast<ptrdiff_t>(first), p_.entries.end(),
                                      [&](const Entry &e) {
                                          return std::find(selection->begin(), selection->end(), e.name) !=
                                                 selection->end();
                                      });
    p_.entries.erase(kept, p_.entries.end());
}

}  // namespace zelqor::tptp
