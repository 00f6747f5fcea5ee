#include "zelqor/prover/definitional/names.hpp"

#include "common/compat.hpp"
#include "common/guard.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

constexpr char kPrefix[] = "def_";
constexpr long kMaxAttempts = 1000000;

bool has_prefix(PyObject *symbol) {
    if (!PyUnicode_Check(symbol)) return false;
    Py_ssize_t length = PyUnicode_GET_LENGTH(symbol);
    if (length < static_cast<Py_ssize_t>(sizeof kPrefix - 1)) return false;
    for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(sizeof kPrefix - 1); ++i) {
        if (PyUnicode_READ_CHAR(symbol, i) != static_cast<Py_UCS4>(kPrefix[i])) return false;
    }
    return true;
}

// Adds to `used` the symbols of `term` that carry the prefix.
bool collect_term(PyObject *term, PyObject *used) {
    RecursionGuard guard(" while collecting symbol names");
    if (!guard.ok()) return false;
    PyObject *symbol = nullptr;
    PyObject *args = nullptr;
    switch (ast::kind_at(kind_of(term))) {
    case Kind::Constant: symbol = ast::field(term, slot::const_name); break;
    case Kind::FunctionApp:
        symbol = ast::field(term, slot::fn_func);
        args = ast::field(term, slot::fn_args);
        break;
    default: return true;
    }
    if (has_prefix(symbol) && PySet_Add(used, symbol) < 0) return false;
    if (args == nullptr || !PyTuple_Check(args)) return true;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        if (!collect_term(PyTuple_GET_ITEM(args, i), used)) return false;
    }
    return true;
}

}  // namespace

bool DefinitionNames::collect_used() {
    used_ = Ref::steal(PySet_New(nullptr));
    if (!used_) return false;
    for (const Subformula &item : subformulas_.items) {
        if (item.shape != Shape::Atom) continue;
        PyObject *atom = item.node;
        if (is_kind(kind_of(atom), Kind::Equality)) {
            if (!collect_term(ast::field(atom, slot::eq_left), used_.get()) ||
                !collect_term(ast::field(atom, slot::eq_right), used_.get())) {
                return false;
            }
            continue;
        }
        PyObject *symbol = ast::field(atom, slot::pred_pred);
        if (has_prefix(symbol) && PySet_Add(used_.get(), symbol) < 0) return false;
        PyObject *args = ast::field(atom, slot::pred_args);
        if (!PyTuple_Check(args)) continue;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
            if (!collect_term(PyTuple_GET_ITEM(args, i), used_.get())) return false;
        }
    }
    return true;
}

int DefinitionNames::taken(PyObject *name) {
    int in_formula = PySet_Contains(used_.get(), name);
    if (in_formula != 0) return in_formula;
    if (signature_ == Py_None) return 0;
    // The signature's symbol tables, where it has them; a table that cannot
    // answer counts as not holding the name.
    for (PyObject *table_name : {g.str_predicates, g.str_functions, g.str_constants}) {
        PyObject *table = nullptr;
        int found = get_optional_attr(signature_, table_name, &table);
        Ref owned = Ref::steal(table);
        int in_table = found > 0 ? PySequence_Contains(table, name) : found;
        if (in_table > 0) return 1;
        if (in_table < 0) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) return -1;
            PyErr_Clear();
        }
    }
    return 0;
}

PyObject *DefinitionNames::next() {
    if (!used_ && !collect_used()) return nullptr;
    // A counter replaced by one that keeps handing out taken numbers must
    // not hang the call.
    for (long attempt = 0;; ++attempt) {
        if (attempt == kMaxAttempts) {
            PyErr_SetString(PyExc_RuntimeError, "no fresh name for a definition: every name drawn is taken");
            return nullptr;
        }
        if (attempt % 1024 == 1023 && PyErr_CheckSignals() < 0) return nullptr;
        Ref number = Ref::steal(draw_definition_number());
        Ref name = number ? Ref::steal(PyUnicode_FromFormat("%s%S", kPrefix, number.get())) : Ref();
        if (!name) return nullptr;
        int clash = taken(name.get());
        if (clash < 0) return nullptr;
        if (clash == 0) return name.release();
    }
}

}  // namespace zelqor::definitional
