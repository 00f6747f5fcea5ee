// Formulas and terms of fof, cnf, tff (without arithmetic) and tcf.
//
// Binary connectives have no precedence in TPTP: a chain may repeat & or |,
// any other mix needs parentheses. Formulas and terms are read with explicit
// stacks, so that no nesting, however deep, runs out of C stack.
#include "zelqor/tptp/native/parser.hpp"

#include <algorithm>

namespace zelqor::tptp {

namespace ns = ast::slot;

namespace {

bool is_binary_connective(Tok kind) {
    switch (kind) {
    case Tok::Ampersand: case Tok::VerticalBar: case Tok::Implies: case Tok::ImpliedBy:
    case Tok::Iff: case Tok::Xor: case Tok::Nor: case Tok::Nand:
        return true;
    default:
        return false;
    }
}

const char *connective_text(Tok kind) {
    switch (kind) {
    case Tok::Implies: return "=>";
    case Tok::ImpliedBy: return "<=";
    case Tok::Iff: return "<=>";
    case Tok::Xor: return "<~>";
    case Tok::Nor: return "~|";
    case Tok::Nand: return "~&";
    case Tok::Ampersand: return "&";
    default: return "|";
    }
}

bool one_of(std::string_view word, std::initializer_list<std::string_view> words) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

bool is_arithmetic_predicate(std::string_view word) {
    return one_of(word, {"$less", "$lesseq", "$greater", "$greatereq", "$is_int", "$is_rat"});
}

bool is_arithmetic_function(std::string_view word) {
    return one_of(word, {"$uminus", "$sum", "$difference", "$product", "$quotient", "$quotient_e", "$quotient_t",
                         "$quotient_f", "$remainder_e", "$remainder_t", "$remainder_f", "$floor", "$ceiling",
                         "$truncate", "$round", "$to_int", "$to_rat", "$to_real"});
}

// Sort of a term the reader built.
PyObject *sort_of(PyObject *term) {
    return is_exact(term, Kind::FunctionApp) ? ast::field(term, ns::fn_return_sort) : ast::field(term, ns::sort);
}

}  // namespace

// ---- formulas -----------------------------------------------------------------------------

// A formula is read with explicit stacks rather than recursion, so that no
// depth of parentheses or prefixes runs out of C stack: `levels` holds one
// entry per open parenthesis (and one for the whole formula), `prefixes` the
// ~ and quantifiers waiting for the unit they apply to.
Ref Parser::logic_formula() {
    struct Level {
        Ref left;                  // the formula of this level so far
        Tok chain = Tok::End;      // the connective this level uses, once one is seen
        Token pending;             // a connective waiting for its right operand (kind End: none)
        size_t prefix_base;        // prefixes from here on belong to units of this level
        bool parenthesized;
    };
    struct Prefix {
        Tok kind;
        size_t scope_mark;
    };
    std::vector<Level> levels;
    levels.push_back(Level{Ref(), Tok::End, Token{}, 0, false});
    std::vector<Prefix> prefixes;
    for (;;) {
        // Prefixes and opening parentheses, up to an atom.
        for (;;) {
            if (tok_.kind == Tok::Tilde) {
                prefixes.push_back({Tok::Tilde, 0});
                advance();
            } else if (tok_.kind == Tok::Bang || tok_.kind == Tok::Question) {
                Tok kind = tok_.kind;
                advance();
                size_t mark = scope_.size();
                variable_list(scope_);
                expect(Tok::Colon, "':' after the quantified variables");
                prefixes.push_back({kind, mark});
            } else if (tok_.kind == Tok::LParen) {
                levels.push_back(Level{Ref(), Tok::End, Token{}, prefixes.size(), true});
                advance();
            } else {
                break;
            }
        }
        Ref unit = atomic_formula(true);
        // A unit is complete: it takes its prefixes and joins its level. A
        // ')' then completes the level, as a unit of the level around it.
        for (;;) {
            Level &level = levels.back();
            while (prefixes.size() > level.prefix_base) {
                const Prefix &prefix = prefixes.back();
                if (prefix.kind == Tok::Tilde) {
                    unit = Ref::steal(check(p_.nodes.negation(unit.get())));
                } else {
                    Kind kind = prefix.kind == Tok::Bang ? Kind::Forall : Kind::Exists;
                    while (scope_.size() > prefix.scope_mark) {
                        Binding &b = scope_.back();
                        unit = Ref::steal(check(p_.nodes.binary(kind, b.variable, unit.get())));
                        Py_DECREF(b.variable);
                        scope_.pop_back();
                    }
                }
                prefixes.pop_back();
            }
            level.left = level.pending.kind == Tok::End ? std::move(unit)
                                                        : combine(level.pending.kind, level.left.get(), unit.get());
            level.pending.kind = Tok::End;
            Tok next = tok_.kind;
            if (next == Tok::Other) fail_unsupported(tok_);
            if (is_binary_connective(next)) {
                bool repeated = (level.chain == Tok::Ampersand || level.chain == Tok::VerticalBar) &&
                                next == level.chain;
                if (level.chain != Tok::End && !repeated) {
                    bool chain = level.chain == Tok::Ampersand || level.chain == Tok::VerticalBar;
                    std::string before = chain ? cat("a chain of '", connective_text(level.chain), "'")
                                               : cat("'", connective_text(level.chain), "'");
                    fail(tok_, cat("'", tok_.text(), "' after ", before,
                                   " needs parentheses: binary connectives have no precedence"));
                }
                level.chain = next;
                level.pending = tok_;
                advance();
                break;
            }
            if (!level.parenthesized) return std::move(level.left);
            expect(Tok::RParen, "')'");
            unit = std::move(level.left);
            levels.pop_back();
        }
    }
}

Ref Parser::combine(Tok connective, PyObject *left, PyObject *right) {
    auto make = [&](Kind kind, PyObject *a, PyObject *b) { return Ref::steal(check(p_.nodes.binary(kind, a, b))); };
    auto negate = [&](Ref f) { return Ref::steal(check(p_.nodes.negation(f.get()))); };
    switch (connective) {
    case Tok::Ampersand: return make(Kind::And, left, right);
    case Tok::VerticalBar: return make(Kind::Or, left, right);
    case Tok::Implies: return make(Kind::Implies, left, right);
    case Tok::ImpliedBy: return make(Kind::Implies, right, left);
    case Tok::Iff: return make(Kind::Iff, left, right);
    case Tok::Xor: return negate(make(Kind::Iff, left, right));
    case Tok::Nor: return negate(make(Kind::Or, left, right));
    default: return negate(make(Kind::And, left, right));  // ~&
    }
}

Ref Parser::atomic_formula(bool allow_inequality) {
    switch (tok_.kind) {
    case Tok::DollarWord: {
        std::string_view word = tok_.text();
        if (word == "$true" || word == "$false") {
            Token at = tok_;
            advance();
            if (tok_.kind == Tok::Equals || tok_.kind == Tok::NotEquals) {
                fail(at, cat("'", word, "' is a formula, not a term: it cannot be compared with '", tok_.text(), "'"));
            }
            return Ref::borrow(word == "$true" ? g.verum : g.falsum);
        }
        if (word == "$distinct") {
            if (lang_ == Language::Cnf || lang_ == Language::Tcf) fail(tok_, "'$distinct' is not allowed in clauses");
            return distinct_formula();
        }
        if (is_arithmetic_predicate(word)) fail(tok_, cat("arithmetic ('", word, "') is not supported"));
        if (word == "$ite" || word == "$let") {
            fail(tok_, cat("'", word, "' belongs to the extended typed language, which is not supported"));
        }
        if (is_arithmetic_function(word)) fail(tok_, cat("arithmetic ('", word, "') is not supported"));
        fail(tok_, cat("unknown defined predicate '", word, "'"));
    }
    case Tok::LowerWord:
    case Tok::SingleQuoted:
    case Tok::DollarDollarWord: {
        Application app;
        read_symbol(app);
        read_arguments(app);
        if (tok_.kind == Tok::Equals || tok_.kind == Tok::NotEquals) {
            return equation_rest(application_term(app), allow_inequality);
        }
        return application_formula(app);
    }
    case Tok::UpperWord:
    case Tok::Integer:
    case Tok::Rational:
    case Tok::Real:
    case Tok::DistinctObject: {
        Token at = tok_;
        Ref left = term();
        if (tok_.kind != Tok::Equals && tok_.kind != Tok::NotEquals) {
            const char *what = at.kind == Tok::UpperWord ? "a variable" :
                               at.kind == Tok::DistinctObject ? "a distinct object" : "a number";
            fail(at, cat(what, " cannot stand as a formula: expected '=' or '!=' after it"));
        }
        return equation_rest(std::move(left), allow_inequality);
    }
    case Tok::LBracket:
        fail(tok_, "tuples belong to the extended typed language, which is not supported");
    case Tok::Other:
        fail_unsupported(tok_);
    default:
        fail_expected("a formula");
    }
}

Ref Parser::equation_rest(Ref left, bool allow_inequality) {
    Token op = tok_;
    advance();
    Ref right = term();
    if (lang_ == Language::Tff || lang_ == Language::Tcf) check_same_sort(op, left.get(), right.get());
    Ref equation = Ref::steal(check(p_.nodes.equality(left.get(), right.get())));
    if (op.kind == Tok::Equals) return equation;
    if (!allow_inequality) fail(op, "'!=' cannot follow '~' in a clause: write ~ (s = t) or s != t");
    return Ref::steal(check(p_.nodes.negation(equation.get())));
}

// $distinct(t1, ..., tn): the terms are pairwise unequal.
Ref Parser::distinct_formula() {
    Token at = tok_;
    advance();
    expect(Tok::LParen, "'(' after '$distinct'");
    std::vector<Ref> terms;
    for (;;) {
        terms.push_back(term());
        if (tok_.kind == Tok::RParen) break;
        expect(Tok::Comma, "',' or ')'");
    }
    advance();
    Ref result;
    for (size_t i = 0; i < terms.size(); ++i) {
        for (size_t j = i + 1; j < terms.size(); ++j) {
            if (lang_ == Language::Tff) check_same_sort(at, terms[i].get(), terms[j].get());
            Ref equation = Ref::steal(check(p_.nodes.equality(terms[i].get(), terms[j].get())));
            Ref unequal = Ref::steal(check(p_.nodes.negation(equation.get())));
            result = result ? Ref::steal(check(p_.nodes.binary(Kind::And, result.get(), unequal.get())))
                            : std::move(unequal);
        }
    }
    return result ? std::move(result) : Ref::borrow(g.verum);
}

// ---- clauses ------------------------------------------------------------------------------

Ref Parser::cnf_formula() {
    // ( cnf_formula ) may wrap the whole clause any number of times.
    size_t parens = 0;
    while (tok_.kind == Tok::LParen) {
        advance();
        ++parens;
    }
    Ref clause = cnf_literal();
    while (tok_.kind == Tok::VerticalBar) {
        advance();
        Ref literal = cnf_literal();
        clause = Ref::steal(check(p_.nodes.binary(Kind::Or, clause.get(), literal.get())));
    }
    if (is_binary_connective(tok_.kind)) {
        fail(tok_, cat("a clause is a disjunction of literals: '", tok_.text(), "' is not allowed in it"));
    }
    for (; parens > 0; --parens) expect(Tok::RParen, "')'");
    return clause;
}

Ref Parser::cnf_literal() {
    if (tok_.kind != Tok::Tilde) return atomic_formula(true);
    advance();
    Ref atom;
    if (tok_.kind == Tok::LParen) {
        advance();
        atom = atomic_formula(false);
        expect(Tok::RParen, "')'");
    } else {
        atom = atomic_formula(false);
    }
    return Ref::steal(check(p_.nodes.negation(atom.get())));
}

// tcf: a clause whose variables a leading ! [X: type, ...] may type. The
// variables stay free in the clause, as in cnf.
Ref Parser::tcf_formula() {
    while (tok_.kind == Tok::Bang) {
        advance();
        variable_list(clause_vars_);
        expect(Tok::Colon, "':' after the quantified variables");
    }
    return cnf_formula();
}

// ---- variables ----------------------------------------------------------------------------

void Parser::variable_list(std::vector<Binding> &into) {
    expect(Tok::LBracket, "'['");
    for (;;) {
        if (tok_.kind != Tok::UpperWord) fail_expected("a variable");
        Token name = tok_;
        advance();
        PyObject *sort = g.ind;
        if (tok_.kind == Tok::Colon) {
            if (lang_ != Language::Tff && lang_ != Language::Tcf) fail(tok_, "typed variables ('X: type') need tff");
            advance();
            sort = variable_sort();
        }
        long long id = p_.next_variable++;
        PyObject *variable = check(p_.nodes.variable(id, sort));
        into.push_back(Binding{name.text(), variable});
        formula_vars_.emplace_back(id, intern(name.text()));
        if (tok_.kind == Tok::Comma) {
            advance();
            continue;
        }
        expect(Tok::RBracket, "',' or ']'");
        return;
    }
}

Ref Parser::variable_reference(const Token &token) {
    std::string_view name = token.text();
    for (size_t i = scope_.size(); i-- > 0;) {
        if (scope_[i].name == name) return Ref::borrow(scope_[i].variable);
    }
    for (const Binding &b : clause_vars_) {
        if (b.name == name) return Ref::borrow(b.variable);
    }
    if (lang_ != Language::Cnf && lang_ != Language::Tcf) {
        fail(token, cat("variable ", name, " is not bound by a quantifier: ", lang_ == Language::Fof ? "fof" : "tff",
                        " formulas must quantify every variable (check the parentheses around quantifiers)"));
    }
    // A clause's variables are implicitly universal: each name is one variable of the clause.
    long long id = p_.next_variable++;
    PyObject *variable = check(p_.nodes.variable(id, g.ind));
    clause_vars_.push_back(Binding{name, variable});
    formula_vars_.emplace_back(id, intern(name));
    return Ref::borrow(variable);
}

// ---- terms --------------------------------------------------------------------------------

// Terms too are read with an explicit stack: `open_terms_` holds the
// applications whose arguments are being read, innermost last.
Application &Parser::open_term() {
    if (open_count_ == open_terms_.size()) open_terms_.push_back(std::make_unique<Application>());
    Application &app = *open_terms_[open_count_++];
    app.reset();
    return app;
}

void Parser::close_term() { open_terms_[--open_count_]->reset(); }

Ref Parser::term() {
    size_t base = open_count_;
    for (;;) {
        Ref complete;
        switch (tok_.kind) {
        case Tok::UpperWord: {
            Token at = tok_;
            advance();
            complete = variable_reference(at);
            break;
        }
        case Tok::LowerWord:
        case Tok::SingleQuoted:
        case Tok::DollarDollarWord: {
            Application &app = open_term();
            read_symbol(app);
            if (tok_.kind == Tok::LParen) {
                advance();
                continue;  // its first argument comes next
            }
            complete = application_term(app);
            close_term();
            break;
        }
        case Tok::Integer:
        case Tok::Rational:
        case Tok::Real:
        case Tok::DistinctObject:
            complete = number_or_object_term();
            break;
        case Tok::DollarWord: {
            std::string_view word = tok_.text();
            if (word == "$true" || word == "$false") fail(tok_, cat("'", word, "' is a formula, not a term"));
            if (is_arithmetic_function(word) || is_arithmetic_predicate(word)) {
                fail(tok_, cat("arithmetic ('", word, "') is not supported"));
            }
            if (word == "$ite" || word == "$let") {
                fail(tok_, cat("'", word, "' belongs to the extended typed language, which is not supported"));
            }
            fail(tok_, cat("unknown defined function '", word, "'"));
        }
        case Tok::LBracket:
            fail(tok_, "tuples belong to the extended typed language, which is not supported");
        case Tok::LParen:
            fail(tok_, lang_ == Language::Tff ? "formulas used as terms belong to the extended typed language, "
                                                "which is not supported"
                                              : "expected a term, found '('");
        case Tok::Other:
            fail_unsupported(tok_);
        default:
            fail_expected("a term");
        }
        // A complete term is the next argument of the innermost open application.
        for (;;) {
            if (open_count_ == base) return complete;
            Application &app = *open_terms_[open_count_ - 1];
            app.args.push_back(complete.release());
            if (tok_.kind == Tok::Comma) {
                advance();
                break;
            }
            expect(Tok::RParen, "',' or ')'");
            complete = application_term(app);
            close_term();
        }
    }
}

Ref Parser::number_or_object_term() {
    Application app;
    app.token = tok_;
    if (tok_.kind == Tok::DistinctObject) {
        app.key = tok_.text();  // with its quotes, as written
        app.spelling = Spelling::DistinctObject;
    } else {
        if (lang_ == Language::Tff || lang_ == Language::Tcf) {
            fail(tok_, cat("numbers are arithmetic in tff ('", tok_.text(), "'), which is not supported"));
        }
        app.key = tok_.text();
        app.spelling = Spelling::Number;
    }
    advance();
    return application_term(app);
}

void Parser::read_symbol(Application &app) {
    app.token = tok_;
    std::string_view text = tok_.text();
    if (tok_.kind == Tok::SingleQuoted) {
        std::string_view inner = text.substr(1, text.size() - 2);
        if (inner.find('\\') == std::string_view::npos) {
            app.key = inner;
        } else {
            app.unescaped.reserve(inner.size());
            for (size_t i = 0; i < inner.size(); ++i) {
                if (inner[i] == '\\') ++i;
                app.unescaped.push_back(inner[i]);
            }
            app.key = app.unescaped;
        }
    } else {
        app.key = text;
        app.spelling = tok_.kind == Tok::DollarDollarWord ? Spelling::System : Spelling::Word;
    }
    advance();
}

void Parser::read_arguments(Application &app) {
    if (tok_.kind != Tok::LParen) return;
    advance();
    for (;;) {
        app.args.push_back(term().release());
        if (tok_.kind == Tok::RParen) break;
        expect(Tok::Comma, "',' or ')'");
    }
    advance();
}

static const char *spelling_name(Spelling spelling) {
    switch (spelling) {
    case Spelling::Number: return "a number";
    case Spelling::DistinctObject: return "a distinct object";
    case Spelling::System: return "a system symbol";
    default: return "a name";
    }
}

Symbol &Parser::use_symbol(const Application &app, Use use) {
    bool created = false;
    Symbol &symbol = p_.symbols.find_or_add(app.key, created);
    int arity = static_cast<int>(app.args.size());
    if (created) {
        symbol.name = intern(app.key);
        symbol.spelling = app.spelling;
        symbol.use = use;
        symbol.arity = arity;
        symbol.arg_sorts.assign(app.args.size(), g.ind);
        symbol.result = use == Use::Function ? g.ind : nullptr;
        symbol.origin = Origin{source_, app.token.line, app.token.column()};
        symbol.used = true;
        return symbol;
    }
    auto where = [&]() {
        if (!symbol.used) return std::string("in its type declaration");
        if (symbol.origin.file == source_) return cat("at line ", symbol.origin.line);
        return cat("at ", text_of(symbol.origin.file), ":", symbol.origin.line);
    };
    std::string_view shown = app.key;
    if (symbol.spelling != app.spelling) {
        fail(app.token, cat("'", shown, "' is written here as ", spelling_name(app.spelling), " but as ",
                            spelling_name(symbol.spelling), " ", where(),
                            ": TPTP holds these apart and this reader cannot"));
    }
    if (symbol.use != use) {
        fail(app.token, cat("'", shown, "' is used here as a ", use == Use::Function ? "function" : "predicate",
                            " but as a ", symbol.use == Use::Function ? "function" : "predicate", " ", where()));
    }
    if (symbol.arity != arity) {
        fail(app.token, cat("'", shown, "' has ", arity, " argument", arity == 1 ? "" : "s", " here but ",
                            symbol.arity, " ", where()));
    }
    if (!symbol.used) {
        symbol.used = true;
        symbol.origin = Origin{source_, app.token.line, app.token.column()};
    }
    return symbol;
}

void Parser::check_argument_sorts(const Application &app, const Symbol &symbol) {
    for (size_t i = 0; i < app.args.size(); ++i) {
        PyObject *sort = sort_of(app.args[i]);
        if (sort == symbol.arg_sorts[i]) continue;
        fail(app.token, cat("argument ", i + 1, " of '", app.key, "' has type ", sort_display(sort), " where '",
                            app.key, "' takes ", sort_display(symbol.arg_sorts[i])));
    }
}

void Parser::check_same_sort(const Token &at, PyObject *left, PyObject *right) {
    PyObject *a = sort_of(left), *b = sort_of(right);
    if (a == b) return;
    fail(at, cat("the two sides of '", at.text(), "' have different types: ", sort_display(a), " and ",
                 sort_display(b)));
}

Ref Parser::application_term(Application &app) {
    Symbol &symbol = use_symbol(app, Use::Function);
    if (lang_ == Language::Tff || lang_ == Language::Tcf) check_argument_sorts(app, symbol);
    if (app.args.empty()) return Ref::steal(check(p_.nodes.constant(symbol.name, symbol.result)));
    return Ref::steal(check(p_.nodes.function(symbol.name, app.args.data(), app.args.size(), symbol.result)));
}

Ref Parser::application_formula(Application &app) {
    Symbol &symbol = use_symbol(app, Use::Predicate);
    if (lang_ == Language::Tff || lang_ == Language::Tcf) check_argument_sorts(app, symbol);
    return Ref::steal(check(p_.nodes.predicate(symbol.name, app.args.data(), app.args.size())));
}

}  // namespace zelqor::tptp
