#include "zelqor/prover/definitional/alpha.hpp"

#include "common/guard.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

int equal(PyObject *a, PyObject *b) { return a == b ? 1 : PyObject_RichCompareBool(a, b, Py_EQ); }

}  // namespace

int AlphaEquality::operator()(int32_t a, int32_t b) {
    if (a == b) return 1;
    if (items_[static_cast<size_t>(a)].outline != items_[static_cast<size_t>(b)].outline) return 0;
    bound_.clear();
    return subformulas(a, b);
}

int AlphaEquality::subformulas(int32_t a, int32_t b) {
    if (a == b && bound_.empty()) return 1;
    const Subformula &x = items_[static_cast<size_t>(a)], &y = items_[static_cast<size_t>(b)];
    if (x.shape != y.shape || x.outline != y.outline) return 0;
    RecursionGuard guard(" while comparing subformulas");
    if (!guard.ok()) return -1;
    switch (x.shape) {
    case Shape::Atom: return atoms(x.node, y.node);
    case Shape::Forall:
    case Shape::Exists: {
        bound_.emplace_back(ast::field(x.node, slot::variable), ast::field(y.node, slot::variable));
        int r = subformulas(x.left, y.left);
        bound_.pop_back();
        return r;
    }
    case Shape::Not: return subformulas(x.left, y.left);
    default: {
        int r = subformulas(x.left, y.left);
        return r <= 0 ? r : subformulas(x.right, y.right);
    }
    }
}

int AlphaEquality::atoms(PyObject *a, PyObject *b) {
    int kind = kind_of(a);
    if (kind != kind_of(b)) return 0;
    if (is_kind(kind, Kind::Equality)) {
        int r = terms(ast::field(a, slot::eq_left), ast::field(b, slot::eq_left));
        return r <= 0 ? r : terms(ast::field(a, slot::eq_right), ast::field(b, slot::eq_right));
    }
    int same = equal(ast::field(a, slot::pred_pred), ast::field(b, slot::pred_pred));
    return same <= 0 ? same : arguments(ast::field(a, slot::pred_args), ast::field(b, slot::pred_args));
}

int AlphaEquality::arguments(PyObject *a, PyObject *b) {
    if (!PyTuple_Check(a) || !PyTuple_Check(b)) return equal(a, b);
    if (PyTuple_GET_SIZE(a) != PyTuple_GET_SIZE(b)) return 0;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(a); ++i) {
        int r = terms(PyTuple_GET_ITEM(a, i), PyTuple_GET_ITEM(b, i));
        if (r <= 0) return r;
    }
    return 1;
}

int AlphaEquality::terms(PyObject *a, PyObject *b) {
    RecursionGuard guard(" while comparing subformulas");
    if (!guard.ok()) return -1;
    int kind = kind_of(a);
    if (kind != kind_of(b)) return 0;
    if (is_kind(kind, Kind::Variable)) {
        // The innermost binder of either decides; both must be bound by
        // corresponding quantifiers, or both free and equal.
        for (size_t i = bound_.size(); i-- > 0;) {
            int is_left = equal(bound_[i].first, a);
            int is_right = is_left < 0 ? -1 : equal(bound_[i].second, b);
            if (is_right < 0) return -1;
            if (is_left || is_right) return is_left && is_right;
        }
        return equal(a, b);
    }
    if (is_kind(kind, Kind::FunctionApp)) {
        int same = equal(ast::field(a, slot::fn_func), ast::field(b, slot::fn_func));
        return same <= 0 ? same : arguments(ast::field(a, slot::fn_args), ast::field(b, slot::fn_args));
    }
    return equal(a, b);
}

}  // namespace zelqor::definitional
