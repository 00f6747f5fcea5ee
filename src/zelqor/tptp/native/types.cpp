// Type declarations of typed problems (tff without arithmetic or
// polymorphism): new types, and the types of constants, functions and
// predicates, which the reader then checks at every use.
#include "zelqor/tptp/native/parser.hpp"

#include "common/guard.hpp"

namespace zelqor::tptp {

namespace {

std::string unquoted(const Token &token) {
    std::string_view text = token.text();
    if (token.kind != Tok::SingleQuoted) return std::string(text);
    std::string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\') ++i;
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace

std::string Parser::sort_display(PyObject *sort) {
    if (sort == g.ind) return "$i";
    Ref name = Ref::steal(PyObject_GetAttr(sort, g.str_name));
    if (!name) unwind();
    Ref text = Ref::steal(PyObject_Str(name.get()));
    if (!text) unwind();
    return text_of(text.get());
}

void Parser::type_declaration() {
    int parens = 0;
    while (tok_.kind == Tok::LParen) {
        advance();
        ++parens;
    }
    if (tok_.kind == Tok::DistinctObject) fail(tok_, "a distinct object cannot be given a type");
    if (tok_.kind != Tok::LowerWord && tok_.kind != Tok::SingleQuoted) fail_expected("the symbol or type to declare");
    Token at = tok_;
    std::string name = unquoted(tok_);
    advance();
    expect(Tok::Colon, "':'");
    TypeExpr type = type_expression();
    for (; parens > 0; --parens) expect(Tok::RParen, "')'");
    if (type.form == TypeExpr::TypeOfTypes) {
        declare_sort(at, name);
    } else {
        declare_symbol(at, name, type);
    }
}

TypeExpr Parser::type_expression() {
    Token start = tok_;
    TypeExpr type = unitary_type();
    if (tok_.kind == Tok::Star) fail(tok_, "a product of types needs parentheses, as in (a * b) > c");
    return tok_.kind == Tok::Arrow ? mapping_type(start, std::move(type)) : type;
}

// <arguments> > <result>, at the '>'.
TypeExpr Parser::mapping_type(const Token &start, TypeExpr arguments) {
    TypeExpr mapping;
    mapping.form = TypeExpr::Mapping;
    switch (arguments.form) {
    case TypeExpr::Sort: mapping.factors.push_back(arguments.sort); break;
    case TypeExpr::Product: mapping.factors = std::move(arguments.factors); break;
    case TypeExpr::Boolean:
        fail(start, "arguments of type $o belong to the extended typed language, which is not supported");
    case TypeExpr::TypeOfTypes: fail(start, "type constructors ($tType > ...) are not supported");
    case TypeExpr::Mapping:
        fail(start, "functions as arguments belong to the higher-order language, which is not supported");
    }
    advance();
    bool boolean = false, type_of_types = false;
    Token result_token = tok_;
    PyObject *result = atomic_type(boolean, type_of_types);
    if (type_of_types) fail(result_token, "type constructors (... > $tType) are not supported");
    mapping.sort = boolean ? nullptr : result;
    if (tok_.kind == Tok::Arrow) {
        fail(tok_, "curried types (a > b > c) belong to the higher-order language, which is not supported");
    }
    return mapping;
}

TypeExpr Parser::unitary_type() {
    RecursionGuard guard(" while reading a type");
    if (!guard.ok()) unwind();
    TypeExpr type;
    if (tok_.kind == Tok::LParen) {
        advance();
        Token start = tok_;
        TypeExpr first = unitary_type();
        if (tok_.kind == Tok::Arrow) {
            TypeExpr mapping = mapping_type(start, std::move(first));
            expect(Tok::RParen, "')'");
            return mapping;
        }
        if (tok_.kind != Tok::Star) {
            expect(Tok::RParen, "')'");
            return first;
        }
        if (first.form != TypeExpr::Sort) fail(start, "the factors of a product type must be types of individuals");
        type.form = TypeExpr::Product;
        type.factors.push_back(first.sort);
        while (tok_.kind == Tok::Star) {
            advance();
            Token factor = tok_;
            bool boolean = false, type_of_types = false;
            PyObject *sort = atomic_type(boolean, type_of_types);
            if (boolean || type_of_types) fail(factor, "the factors of a product type must be types of individuals");
            type.factors.push_back(sort);
        }
        expect(Tok::RParen, "'*' or ')'");
        return type;
    }
    bool boolean = false, type_of_types = false;
    PyObject *sort = atomic_type(boolean, type_of_types);
    type.form = boolean ? TypeExpr::Boolean : type_of_types ? TypeExpr::TypeOfTypes : TypeExpr::Sort;
    type.sort = sort;
    return type;
}

PyObject *Parser::atomic_type(bool &boolean, bool &type_of_types) {
    boolean = type_of_types = false;
    switch (tok_.kind) {
    case Tok::DollarWord: {
        std::string_view word = tok_.text();
        if (word == "$i" || word == "$iType") {
            advance();
            return g.ind;
        }
        if (word == "$o" || word == "$oType") {
            boolean = true;
            advance();
            return nullptr;
        }
        if (word == "$tType") {
            type_of_types = true;
            advance();
            return nullptr;
        }
        if (word == "$int" || word == "$rat" || word == "$real") {
            fail(tok_, cat("arithmetic types ('", word, "') are not supported"));
        }
        fail(tok_, cat("unknown defined type '", word, "'"));
    }
    case Tok::LowerWord:
    case Tok::SingleQuoted: {
        std::string name = unquoted(tok_);
        PyObject *sort = p_.sorts.find(name);
        if (sort == nullptr) {
            fail(tok_, cat("type '", name, "' is not declared (declare it first, as ", name, ": $tType)"));
        }
        advance();
        if (tok_.kind == Tok::LParen) fail(tok_, "types with arguments (polymorphism) are not supported");
        return sort;
    }
    case Tok::UpperWord:
        fail(tok_, "type variables (polymorphism) are not supported");
    case Tok::LBracket:
        fail(tok_, "tuple types belong to the extended typed language, which is not supported");
    case Tok::Other:
        fail_unsupported(tok_);
    default:
        fail_expected("a type");
    }
}

PyObject *Parser::variable_sort() {
    Token at = tok_;
    bool boolean = false, type_of_types = false;
    PyObject *sort = atomic_type(boolean, type_of_types);
    if (boolean) fail(at, "variables of type $o belong to the extended typed language, which is not supported");
    if (type_of_types) fail(at, "type variables (polymorphism) are not supported");
    return sort;
}

void Parser::declare_sort(const Token &at, std::string_view name) {
    if (p_.sorts.find(name) != nullptr) return;  // declared again: nothing new
    PyObject *py_name = intern(name);
    Ref sort = Ref::steal(check(PyObject_CallOneArg(g.primitive_sort, py_name)));
    if (sort.get() == g.ind) fail(at, cat("the type name '", name, "' is the library's name for $i"));
    p_.sorts.add(name, sort.release());
}

void Parser::declare_symbol(const Token &at, std::string_view key, const TypeExpr &type) {
    Use use = Use::Function;
    std::vector<PyObject *> args;
    PyObject *result = nullptr;
    switch (type.form) {
    case TypeExpr::Sort: result = type.sort; break;
    case TypeExpr::Boolean: use = Use::Predicate; break;
    case TypeExpr::Mapping:
        args = type.factors;
        result = type.sort;
        use = result == nullptr ? Use::Predicate : Use::Function;
        break;
    default: fail(at, "a product type must be followed by '>' and a result type");
    }
    bool created = false;
    Symbol &symbol = p_.symbols.find_or_add(key, created);
    if (created) {
        symbol.name = intern(key);
        symbol.spelling = Spelling::Word;
        symbol.use = use;
        symbol.arity = static_cast<int>(args.size());
        symbol.arg_sorts = std::move(args);
        symbol.result = result;
        symbol.declared = true;
        symbol.origin = Origin{source_, at.line, at.column()};
        return;
    }
    bool same = symbol.spelling == Spelling::Word && symbol.use == use &&
                symbol.arity == static_cast<int>(args.size()) && symbol.arg_sorts == args && symbol.result == result;
    if (same) {
        symbol.declared = true;
        return;
    }
    if (symbol.declared) fail(at, cat("'", key, "' is declared again with a different type"));
    fail(at, cat("'", key, "' is used at line ", symbol.origin.line, " before this declaration, with another type"));
}

}  // namespace zelqor::tptp
