#include "zelqor/prover/definitional/free_variables.hpp"

#include "common/guard.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

// A list of variables without repeats, with a set to tell repeats in
// constant time: atoms may have many thousands of arguments.
struct OrderedFreeVariables::Collected {
    Ref list = Ref::steal(PyList_New(0));
    Ref seen = Ref::steal(PySet_New(nullptr));

    bool ok() const { return list && seen; }
    bool add(PyObject *var) {
        int present = PySet_Contains(seen.get(), var);
        if (present != 0) return present > 0;
        return PySet_Add(seen.get(), var) == 0 && PyList_Append(list.get(), var) == 0;
    }
    bool add_all(PyObject *from) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(from); ++i) {
            if (!add(PyList_GET_ITEM(from, i))) return false;
        }
        return true;
    }
};

bool OrderedFreeVariables::add_term(PyObject *term, Collected &into) {
    RecursionGuard guard(" while listing free variables");
    if (!guard.ok()) return false;
    switch (ast::kind_at(kind_of(term))) {
    case Kind::Variable: return into.add(term);
    case Kind::FunctionApp: {
        PyObject *args = ast::field(term, slot::fn_args);
        if (!PyTuple_Check(args)) return true;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
            if (!add_term(PyTuple_GET_ITEM(args, i), into)) return false;
        }
        return true;
    }
    default: return true;
    }
}

PyObject *OrderedFreeVariables::of(int32_t index) {
    Ref &memo = memo_[static_cast<size_t>(index)];
    if (memo) return memo.get();
    RecursionGuard guard(" while listing free variables");
    if (!guard.ok()) return nullptr;
    const Subformula &item = subformulas_.items[static_cast<size_t>(index)];
    Collected vars;
    if (!vars.ok()) return nullptr;
    switch (item.shape) {
    case Shape::Atom:
        if (is_kind(kind_of(item.node), Kind::Equality)) {
            if (!add_term(ast::field(item.node, slot::eq_left), vars) ||
                !add_term(ast::field(item.node, slot::eq_right), vars)) {
                return nullptr;
            }
        } else {
            PyObject *args = ast::field(item.node, slot::pred_args);
            for (Py_ssize_t i = 0; PyTuple_Check(args) && i < PyTuple_GET_SIZE(args); ++i) {
                if (!add_term(PyTuple_GET_ITEM(args, i), vars)) return nullptr;
            }
        }
        break;
    case Shape::Forall:
    case Shape::Exists: {
        PyObject *body = of(item.left);
        if (body == nullptr) return nullptr;
        PyObject *bound = ast::field(item.node, slot::variable);
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(body); ++i) {
            PyObject *var = PyList_GET_ITEM(body, i);
            int same = var == bound ? 1 : PyObject_RichCompareBool(var, bound, Py_EQ);
            if (same < 0 || (!same && !vars.add(var))) return nullptr;
        }
        break;
    }
    default: {
        PyObject *left = of(item.left);
        if (left == nullptr || !vars.add_all(left)) return nullptr;
        if (item.right >= 0) {
            PyObject *right = of(item.right);
            if (right == nullptr || !vars.add_all(right)) return nullptr;
        }
        break;
    }
    }
    memo = std::move(vars.list);
    return memo.get();
}

}  // namespace zelqor::definitional

namespace zelqor::definitional {

PyObject *OrderedFreeVariables::of_terms(PyObject *terms) {
    Collected vars;
    if (!vars.ok()) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(terms); ++i) {
        if (!add_term(PyTuple_GET_ITEM(terms, i), vars)) return nullptr;
    }
    return vars.list.release();
}

}  // namespace zelqor::definitional
