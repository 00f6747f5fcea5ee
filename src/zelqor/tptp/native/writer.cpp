#include "zelqor/tptp/native/writer.hpp"

#include "common/args.hpp"
#include "common/guard.hpp"
#include "zelqor/tptp/native/lexer.hpp"
#include "zelqor/tptp/native/names.hpp"
#include "zelqor/tptp/native/state.hpp"

#include <algorithm>

namespace zelqor::tptp {

namespace ns = ast::slot;

namespace {

struct Spelling {
    const char *conjunction, *disjunction, *implication, *equivalence, *negation;
    const char *forall, *exists, *variable_separator, *quantifier_end;
    const char *equal, *unequal, *verum, *falsum, *argument_separator, *empty_clause;
};

const Spelling kTptp = {" & ", " | ", " => ", " <=> ", "~ ", "! [", "? [", ",", "] : ",
                        " = ", " != ", "$true", "$false", ",", "$false"};
const Spelling kInfix = {" ∧ ", " ∨ ", " → ", " ↔ ", "¬", "∀", "∃", " ", ". ",
                         " = ", " ≠ ", "⊤", "⊥", ", ", "□"};

const Spelling &spelling(Style style) { return style == Style::Tptp ? kTptp : kInfix; }

constexpr int kVariable = static_cast<int>(Kind::Variable), kConstant = static_cast<int>(Kind::Constant),
              kFunction = static_cast<int>(Kind::FunctionApp), kPredicate = static_cast<int>(Kind::PredicateApp),
              kEquality = static_cast<int>(Kind::Equality), kNot = static_cast<int>(Kind::Not),
              kAnd = static_cast<int>(Kind::And), kOr = static_cast<int>(Kind::Or),
              kImplies = static_cast<int>(Kind::Implies), kIff = static_cast<int>(Kind::Iff),
              kForall = static_cast<int>(Kind::Forall), kExists = static_cast<int>(Kind::Exists);

std::string_view utf8(PyObject *string) {
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(string, &size);
    if (data == nullptr) unwind();
    return {data, static_cast<size_t>(size)};
}

[[noreturn]] void fail_invalid(const std::string &message) {
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(g.invalid_formula, text.get());
    unwind();
}

}  // namespace

bool append_formula_name(std::string &out, std::string_view name) {
    bool integer = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return is_digit(c); }) &&
                   (name.size() == 1 || name[0] != '0');
    if (integer) {
        out.append(name);
        return true;
    }
    return append_atomic_word(out, name);
}

void Writer::reset(bool typed_binders) {
    out.clear();
    typed_binders_ = typed_binders;
    met_sorts_ = false;
    naming_ = Naming::Named;
    counter_ = 0;
    scope_.clear();
    free_.clear();
    shadow_budget_ = kShadowBudget;
}

void Writer::fail_node(const char *what, PyObject *node) const {
    Ref display = type_display(node);
    if (!display) unwind();
    fail_invalid(cat("cannot write ", what, " ", text_of(display.get()), style_ == Style::Tptp ? " in TPTP" : ""));
}

// ---- variables ------------------------------------------------------------------------

bool Writer::same_variable(PyObject *a, PyObject *b) const {
    if (a == b) return true;
    PyTypeObject *variable_type = node_type(Kind::Variable);
    if (Py_TYPE(a) == variable_type && Py_TYPE(b) == variable_type) {
        if (ast::field(a, ns::sort) != ast::field(b, ns::sort) ||
            ast::field(a, ns::var_kind) != ast::field(b, ns::var_kind)) {
            return false;
        }
        PyObject *ida = ast::field(a, ns::var_id), *idb = ast::field(b, ns::var_id);
        if (ida == idb) return true;
        if (PyLong_CheckExact(ida) && PyLong_CheckExact(idb)) {
            int overflow_a = 0, overflow_b = 0;
            long long va = PyLong_AsLongLongAndOverflow(ida, &overflow_a);
            long long vb = PyLong_AsLongLongAndOverflow(idb, &overflow_b);
            if (overflow_a == 0 && overflow_b == 0) return va == vb;
        }
    }
    int equal = PyObject_RichCompareBool(a, b, Py_EQ);
    if (equal < 0) unwind();
    return equal == 1;
}

bool Writer::preferred_name(PyObject *variable, std::string &name) {
    if (preferred_ == nullptr) return false;
    PyObject *found = PyDict_GetItemWithError(preferred_, ast::field(variable, ns::var_id));
    if (found == nullptr) {
        if (PyErr_Occurred()) unwind();
        return false;
    }
    if (!PyUnicode_Check(found)) return false;
    Ref owned = Ref::borrow(found);
    std::string_view text = utf8(found);
    if (style_ == Style::Tptp ? !is_upper_word(text) : text.empty()) return false;
    name.assign(text);
    return true;
}

bool Writer::name_taken(const std::string &name, PyObject *variable, bool) const {
    for (const Named &n : scope_) {
        if (n.name == name && !same_variable(n.variable, variable)) return true;
    }
    for (const Named &n : free_) {
        if (n.name == name && !same_variable(n.variable, variable)) return true;
    }
    return false;
}

std::string Writer::choose_name(PyObject *variable, bool binder) {
    std::string name;
    if (preferred_name(variable, name) && !name_taken(name, variable, binder)) return name;
    for (;;) {
        name = cat("X", counter_++);
        if (!name_taken(name, variable, binder)) return name;
    }
}

// A binder takes its preferred name even where an outer binder holds it, as
// long as its body never mentions the outer variable: TPTP scopes are lexical,
// so the text read back binds the same variables (`! [P] : (q(P) & ! [P] : r(P))`
// is written as it was read). Within one run (`! [X,X]`) and over free
// variables no name is shared.
std::string Writer::binder_name(PyObject *variable, PyObject *body, size_t run_start) {
    std::string name;
    if (preferred_name(variable, name)) {
        bool possible = true;
        for (const Named &n : free_) {
            if (n.name == name && !same_variable(n.variable, variable)) possible = false;
        }
        shadowed_.clear();
        for (size_t i = 0; possible && i < scope_.size(); ++i) {
            if (scope_[i].name != name || same_variable(scope_[i].variable, variable)) continue;
            if (i >= run_start) possible = false;
            shadowed_.push_back(scope_[i].variable);
        }
        if (possible && (shadowed_.empty() || !mentions(body, shadowed_))) return name;
    }
    return choose_name(variable, true);
}

// Whether a variable of `variables` occurs in the tree at `root`; true as well
// once the budget is spent or for arguments that are not a tuple, so that the
// caller renames instead.
bool Writer::mentions(PyObject *root, const std::vector<PyObject *> &variables) {
    pending_.clear();
    pending_.push_back(root);
    while (!pending_.empty()) {
        if (shadow_budget_ == 0) return true;
        --shadow_budget_;
        PyObject *node = pending_.back();
        pending_.pop_back();
        switch (kind_of(node)) {
        case kVariable:
            for (PyObject *variable : variables) {
                if (same_variable(variable, node)) return true;
            }
            break;
        case kFunction:
        case kPredicate: {
            PyObject *args = ast::field(node, kind_of(node) == kFunction ? ns::fn_args : ns::pred_args);
            if (!PyTuple_CheckExact(args)) return true;
            for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) pending_.push_back(PyTuple_GET_ITEM(args, i));
            break;
        }
        case kNot:
            pending_.push_back(ast::field(node, ns::operand));
            break;
        case kEquality:
        case kAnd:
        case kOr:
        case kImplies:
        case kIff:
            pending_.push_back(ast::field(node, 0));
            pending_.push_back(ast::field(node, 1));
            break;
        case kForall:
        case kExists:
            pending_.push_back(ast::field(node, ns::body));
            break;
        default:
            break;
        }
    }
    return false;
}

const std::string *Writer::name_in_scope(PyObject *variable) {
    for (size_t i = scope_.size(); i-- > 0;) {
        if (same_variable(scope_[i].variable, variable)) return &scope_[i].name;
    }
    for (const Named &n : free_) {
        if (same_variable(n.variable, variable)) return &n.name;
    }
    return nullptr;
}

void Writer::collect_free(PyObject *node, std::vector<PyObject *> &bound) {
    RecursionGuard guard(" while writing a formula");
    if (!guard.ok()) unwind();
    switch (kind_of(node)) {
    case kVariable: {
        for (PyObject *b : bound) {
            if (same_variable(b, node)) return;
        }
        for (const Named &n : free_) {
            if (same_variable(n.variable, node)) return;
        }
        std::string name = choose_name(node, false);
        free_.push_back(Named{node, std::move(name)});
        return;
    }
    case kFunction:
    case kPredicate: {
        PyObject *args = ast::field(node, kind_of(node) == kFunction ? ns::fn_args : ns::pred_args);
        Ref items = Ref::steal(PySequence_Fast(args, "arguments must be a sequence"));
        if (!items) unwind();
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
            collect_free(PySequence_Fast_GET_ITEM(items.get(), i), bound);
        }
        return;
    }
    case kNot:
        collect_free(ast::field(node, ns::operand), bound);
        return;
    case kEquality:
    case kAnd:
    case kOr:
    case kImplies:
    case kIff:
        collect_free(ast::field(node, 0), bound);
        collect_free(ast::field(node, 1), bound);
        return;
    case kForall:
    case kExists:
        bound.push_back(ast::field(node, ns::variable));
        collect_free(ast::field(node, ns::body), bound);
        bound.pop_back();
        return;
    default:
        return;  // constants; anything unwritable fails when written
    }
}

void Writer::name_free_variables(PyObject *formula) {
    std::vector<PyObject *> bound;
    collect_free(formula, bound);
}

void Writer::variable(PyObject *node) {
    if (kind_of(node) != kVariable) fail_node("the bound variable", node);
    note_sort(ast::field(node, ns::sort));
    switch (naming_) {
    case Naming::Skeleton:
        out.push_back('_');
        return;
    case Naming::ById: {
        Ref id = Ref::steal(PyObject_Str(ast::field(node, ns::var_id)));
        if (!id) unwind();
        out.push_back('X');
        out.append(utf8(id.get()));
        return;
    }
    case Naming::Named:
        break;
    }
    if (const std::string *name = name_in_scope(node)) {
        out.append(*name);
        return;
    }
    std::string name = choose_name(node, false);
    out.append(name);
    free_.push_back(Named{node, std::move(name)});
}

void Writer::free_variable_prefix() {
    const Spelling &s = spelling(style_);
    out.append(s.forall);
    for (size_t i = 0; i < free_.size(); ++i) {
        if (i > 0) out.append(s.variable_separator);
        out.append(free_[i].name);
        PyObject *sort = ast::field(free_[i].variable, ns::sort);
        if (style_ == Style::Tptp && sort != g.ind) {
            out.append(": ");
            sort_name(sort);
        }
    }
    out.append(s.quantifier_end);
}

// ---- symbols and sorts ------------------------------------------------------------------

void Writer::note_sort(PyObject *sort) {
    if (sort != g.ind) met_sorts_ = true;
}

void Writer::symbol(PyObject *name, bool constant) {
    if (!PyUnicode_Check(name)) fail_node("the symbol", name);
    std::string_view text = utf8(name);
    if (style_ == Style::Infix) {
        out.append(text);
        return;
    }
    bool bare = is_system_word(text) ||
                (constant && (is_distinct_object(text) || (!typed_binders_ && is_number_text(text))));
    if (bare) {
        out.append(text);
    } else if (!append_atomic_word(out, text)) {
        fail_invalid(cat("the name '", text, "' cannot be written in TPTP: quoted names hold printable ASCII only"));
    }
}

void append_sort_name(std::string &out, PyObject *sort) {
    if (sort == g.ind) {
        out.append("$i");
        return;
    }
    Ref name;
    if (Py_TYPE(sort) == reinterpret_cast<PyTypeObject *>(g.primitive_sort)) {
        name = Ref::steal(PyObject_GetAttr(sort, g.str_name));
        if (!name) unwind();
    }
    if (!name || !PyUnicode_Check(name.get())) {
        Ref display = Ref::steal(PyObject_Repr(sort));
        if (!display) unwind();
        fail_invalid(cat("cannot write the sort ", text_of(display.get()), " in TPTP: only named sorts are types"));
    }
    std::string_view text = utf8(name.get());
    if (!append_atomic_word(out, text)) {
        fail_invalid(cat("the type name '", text,
                         "' cannot be written in TPTP: quoted names hold printable ASCII only"));
    }
}

void Writer::sort_name(PyObject *sort) { append_sort_name(out, sort); }

// ---- terms and atoms ---------------------------------------------------------------------

void Writer::arguments(PyObject *args) {
    Ref items = Ref::steal(PySequence_Fast(args, "arguments must be a sequence"));
    if (!items) unwind();
    Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
    if (count == 0) return;
    out.push_back('(');
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i > 0) out.append(spelling(style_).argument_separator);
        term(PySequence_Fast_GET_ITEM(items.get(), i));
    }
    out.push_back(')');
}

void Writer::term(PyObject *node) {
    RecursionGuard guard(" while writing a term");
    if (!guard.ok()) unwind();
    switch (kind_of(node)) {
    case kVariable:
        variable(node);
        return;
    case kConstant:
        symbol(ast::field(node, ns::const_name), true);
        note_sort(ast::field(node, ns::sort));
        return;
    case kFunction: {
        PyObject *args = ast::field(node, ns::fn_args);
        Py_ssize_t count = PyObject_Length(args);
        if (count < 0) unwind();
        symbol(ast::field(node, ns::fn_func), count == 0);
        arguments(args);
        note_sort(ast::field(node, ns::fn_return_sort));
        return;
    }
    default:
        fail_node("the term", node);
    }
}

void Writer::atom(PyObject *node) {
    const Spelling &s = spelling(style_);
    switch (kind_of(node)) {
    case kPredicate: {
        bool value = false;
        if (is_truth_atom(node, value)) {
            out.append(value ? s.verum : s.falsum);
            return;
        }
        symbol(ast::field(node, ns::pred_pred), false);
        arguments(ast::field(node, ns::pred_args));
        return;
    }
    case kEquality:
        term(ast::field(node, ns::eq_left));
        out.append(s.equal);
        term(ast::field(node, ns::eq_right));
        return;
    default:
        fail_node("the atom", node);
    }
}

void Writer::literal(PyObject *node, bool positive) {
    const Spelling &s = spelling(style_);
    int kind = kind_of(node);
    if (kind == kEquality && !positive) {
        term(ast::field(node, ns::eq_left));
        out.append(s.unequal);
        term(ast::field(node, ns::eq_right));
        return;
    }
    if (kind != kPredicate && kind != kEquality) fail_node("the literal", node);
    if (!positive) out.append(s.negation);
    atom(node);
}

// ---- formulas ----------------------------------------------------------------------------

void Writer::formula(PyObject *f) { formula_in(f, Context::Top); }

void Writer::formula_in(PyObject *f, Context context) {
    RecursionGuard guard(" while writing a formula");
    if (!guard.ok()) unwind();
    const Spelling &s = spelling(style_);
    // An equation under ~ or a quantifier is bracketed, as the grammar's
    // authors advise, so that no reader takes `! [X] : X = a` apart wrongly.
    bool bracket_equation = context == Context::Unit && style_ == Style::Tptp;
    int kind = kind_of(f);
    switch (kind) {
    case kPredicate:
        atom(f);
        return;
    case kEquality:
        if (bracket_equation) out.push_back('(');
        atom(f);
        if (bracket_equation) out.push_back(')');
        return;
    case kNot: {
        PyObject *operand = ast::field(f, ns::operand);
        if (kind_of(operand) == kEquality) {
            if (bracket_equation) out.push_back('(');
            literal(operand, false);
            if (bracket_equation) out.push_back(')');
            return;
        }
        out.append(s.negation);
        formula_in(operand, Context::Unit);
        return;
    }
    case kAnd:
    case kOr:
        binary_chain(f, kind, context);
        return;
    case kImplies:
    case kIff:
        if (context != Context::Top) out.push_back('(');
        formula_in(ast::field(f, ns::left), Context::Operand);
        out.append(kind == kImplies ? s.implication : s.equivalence);
        formula_in(ast::field(f, ns::right), Context::Operand);
        if (context != Context::Top) out.push_back(')');
        return;
    case kForall:
    case kExists:
        quantifiers(f, kind, context);
        return;
    default:
        fail_node("the formula", f);
    }
}

// A & b & c: the left spine of one connective prints as one chain, which
// reads back as the same left-nested tree.
void Writer::binary_chain(PyObject *f, int kind, Context context) {
    std::vector<PyObject *> operands;
    PyObject *node = f;
    while (kind_of(node) == kind) {
        operands.push_back(ast::field(node, ns::right));
        node = ast::field(node, ns::left);
    }
    operands.push_back(node);
    const char *connective = kind == kAnd ? spelling(style_).conjunction : spelling(style_).disjunction;
    if (context != Context::Top) out.push_back('(');
    for (size_t i = operands.size(); i-- > 0;) {
        formula_in(operands[i], Context::Operand);
        if (i > 0) out.append(connective);
    }
    if (context != Context::Top) out.push_back(')');
}

// ! [X,Y] : body for a run of quantifiers of one kind.
void Writer::quantifiers(PyObject *f, int kind, Context context) {
    const Spelling &s = spelling(style_);
    if (context == Context::Operand) out.push_back('(');
    out.append(kind == kForall ? s.forall : s.exists);
    size_t mark = scope_.size();
    PyObject *node = f;
    for (;;) {
        PyObject *bound = ast::field(node, ns::variable);
        if (kind_of(bound) != kVariable) fail_node("the bound variable", bound);
        std::string name = binder_name(bound, ast::field(node, ns::body), mark);
        out.append(name);
        PyObject *sort = ast::field(bound, ns::sort);
        note_sort(sort);
        if (typed_binders_ && style_ == Style::Tptp && sort != g.ind) {
            out.append(": ");
            sort_name(sort);
        }
        scope_.push_back(Named{bound, std::move(name)});
        node = ast::field(node, ns::body);
        if (kind_of(node) != kind) break;
        out.append(s.variable_separator);
    }
    out.append(s.quantifier_end);
    formula_in(node, Context::Unit);
    scope_.resize(mark);
    if (context == Context::Operand) out.push_back(')');
}

// ---- clauses -----------------------------------------------------------------------------

void Writer::clause_tree(PyObject *f) {
    std::vector<PyObject *> pending{f};
    std::vector<PyObject *> literals;
    while (!pending.empty()) {
        PyObject *node = pending.back();
        pending.pop_back();
        if (kind_of(node) == kOr) {
            pending.push_back(ast::field(node, ns::right));
            pending.push_back(ast::field(node, ns::left));
        } else {
            literals.push_back(node);
        }
    }
    for (size_t i = 0; i < literals.size(); ++i) {
        if (i > 0) out.append(spelling(style_).disjunction);
        PyObject *node = literals[i];
        if (kind_of(node) == kNot) {
            literal(ast::field(node, ns::operand), false);
        } else {
            literal(node, true);
        }
    }
}

void Writer::clause(PyObject *clause) {
    struct Entry {
        Ref atom;
        bool positive;
        std::string key;
    };
    Ref literals = Ref::steal(PyObject_GetAttr(clause, g.str_literals));
    if (!literals) unwind();
    Ref iterator = Ref::steal(PyObject_GetIter(literals.get()));
    if (!iterator) unwind();
    std::vector<Entry> entries;
    std::string saved;
    saved.swap(out);
    // The order: each literal with its variables blanked; literals alike
    // in that are then told apart by their variables' ids. So the order is
    // fixed whatever the set's own iteration order.
    naming_ = Naming::Skeleton;
    while (PyObject *item = PyIter_Next(iterator.get())) {
        Ref literal_object = Ref::steal(item);
        Ref atom_object = Ref::steal(PyObject_GetAttr(item, g.str_atom));
        if (!atom_object) unwind();
        Ref positive_object = Ref::steal(PyObject_GetAttr(item, g.str_positive));
        if (!positive_object) unwind();
        int positive = PyObject_IsTrue(positive_object.get());
        if (positive < 0) unwind();
        out.clear();
        literal(atom_object.get(), positive == 1);
        entries.push_back(Entry{std::move(atom_object), positive == 1, out});
    }
    if (PyErr_Occurred()) unwind();
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.key < b.key; });
    for (size_t i = 0; i + 1 < entries.size(); ++i) {
        size_t j = i + 1;
        while (j < entries.size() && entries[j].key == entries[i].key) ++j;
        if (j - i > 1) {
            naming_ = Naming::ById;
            for (size_t k = i; k < j; ++k) {
                out.clear();
                literal(entries[k].atom.get(), entries[k].positive);
                entries[k].key.push_back('\0');
                entries[k].key.append(out);
            }
            std::sort(entries.begin() + static_cast<ptrdiff_t>(i), entries.begin() + static_cast<ptrdiff_t>(j),
                      [](const Entry &a, const Entry &b) { return a.key < b.key; });
        }
        i = j - 1;
    }
    naming_ = Naming::Named;
    saved.swap(out);
    if (entries.empty()) {
        out.append(spelling(style_).empty_clause);
        return;
    }
    std::vector<PyObject *> bound;
    for (const Entry &e : entries) collect_free(e.atom.get(), bound);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) out.append(spelling(style_).disjunction);
        literal(entries[i].atom.get(), entries[i].positive);
    }
}

}  // namespace zelqor::tptp
