#include "zelqor/prover/definitional/clause_simplify.hpp"

#include "common/guard.hpp"
#include "zelqor/prover/clausifier/layout.hpp"
#include "zelqor/prover/definitional/state.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

using clausifier::as_literal;

// The equality a literal stands on, or null.
PyObject *equality_of(PyObject *literal) {
    PyObject *atom = as_literal(literal)->atom;
    return is_kind(kind_of(atom), Kind::Equality) ? atom : nullptr;
}

bool is_negative(PyObject *literal) { return as_literal(literal)->positive != Py_True; }

// 1 when `var` occurs in `term`, 0 when not, -1 with an exception set.
int occurs(PyObject *var, PyObject *term) {
    RecursionGuard guard(" while simplifying a clause");
    if (!guard.ok()) return -1;
    switch (ast::kind_at(kind_of(term))) {
    case Kind::Variable: return term == var ? 1 : PyObject_RichCompareBool(term, var, Py_EQ);
    case Kind::FunctionApp: {
        PyObject *args = ast::field(term, slot::fn_args);
        for (Py_ssize_t i = 0; PyTuple_Check(args) && i < PyTuple_GET_SIZE(args); ++i) {
            int found = occurs(var, PyTuple_GET_ITEM(args, i));
            if (found != 0) return found;
        }
        return 0;
    }
    default: return 0;
    }
}

// 1 when X ≠ t can be resolved away with `var` = X and `value` = t, 0 when
// not, -1 with an exception set.
int eliminable(PyObject *var, PyObject *value) {
    if (!is_kind(kind_of(var), Kind::Variable) || kind_of(value) < 0) return 0;
    PyObject *var_sort = ast::field(var, slot::sort), *value_sort = ast::field(value, slot::sort);
    int same_sort = var_sort == value_sort ? 1 : PyObject_RichCompareBool(var_sort, value_sort, Py_EQ);
    if (same_sort <= 0) return same_sort;
    int inside = occurs(var, value);
    return inside < 0 ? -1 : !inside;
}

// The literals other than `skip`, with `value` for `var`.
bool substitute_others(std::vector<Ref> &literals, size_t skip, PyObject *var, PyObject *value) {
    Ref mapping = Ref::steal(PyDict_New());
    if (!mapping || PyDict_SetItem(mapping.get(), var, value) < 0) return false;
    std::vector<Ref> rest;
    rest.reserve(literals.size() - 1);
    for (size_t i = 0; i < literals.size(); ++i) {
        if (i == skip) continue;
        PyObject *literal = literals[i].get();
        Ref atom = Ref::steal(g.subst_api->substitute_formula_presorted(as_literal(literal)->atom, mapping.get()));
        if (!atom) return false;
        if (atom.get() == as_literal(literal)->atom) {
            rest.push_back(std::move(literals[i]));
            continue;
        }
        PyObject *args[2] = {atom.get(), as_literal(literal)->positive};
        Ref made = Ref::steal(PyObject_Vectorcall(g.literal_type, args, 2, nullptr));
        if (!made) return false;
        rest.push_back(std::move(made));
    }
    literals = std::move(rest);
    return true;
}

}  // namespace

ClauseFate simplify_clause(std::vector<Ref> &literals) {
    for (size_t i = 0; i < literals.size();) {
        PyObject *equality = equality_of(literals[i].get());
        if (equality == nullptr) {
            ++i;
            continue;
        }
        PyObject *left = ast::field(equality, slot::eq_left), *right = ast::field(equality, slot::eq_right);
        int same = left == right ? 1 : PyObject_RichCompareBool(left, right, Py_EQ);
        if (same < 0) return ClauseFate::Failed;
        bool negative = is_negative(literals[i].get());
        if (same) {
            if (!negative) return ClauseFate::Dropped;
            literals.erase(literals.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (!negative) {
            ++i;
            continue;
        }
        PyObject *var = left, *value = right;
        int can = eliminable(left, right);
        if (can == 0) {
            var = right;
            value = left;
            can = eliminable(right, left);
        }
        if (can < 0) return ClauseFate::Failed;
        if (can == 0) {
            ++i;
            continue;
        }
        // The substitution changes the other literals: look at all again.
        Ref held_var = Ref::borrow(var), held_value = Ref::borrow(value);
        if (!substitute_others(literals, i, held_var.get(), held_value.get())) return ClauseFate::Failed;
        i = 0;
    }
    return ClauseFate::Kept;
}

}  // namespace zelqor::definitional
