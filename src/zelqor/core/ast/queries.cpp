// free_variables, bound_variables, formula_depth and formula_size.
//
// Class tests accept subclasses and run in a fixed order; the second-order
// quantifiers are recognised by class name after every class test. Each level
// of recursion passes the recursion guard.
#include "zelqor/core/ast/queries.hpp"

#include "common/args.hpp"
#include "common/compat.hpp"
#include "common/guard.hpp"
#include "zelqor/core/ast/kinds.hpp"

namespace zelqor::ast {

int is_second_order_quantifier(PyObject *node) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(node)));
    if (!name) return -1;
    for (PyObject *candidate : g.second_order_names) {
        int eq = PyUnicode_Compare(name.get(), candidate);
        if (eq == -1 && PyErr_Occurred()) return -1;
        if (eq == 0) return 1;
    }
    return 0;
}

static bool is_binary(PyObject *node) {
    return is_a(node, Kind::And) || is_a(node, Kind::Or) || is_a(node, Kind::Implies) || is_a(node, Kind::Iff);
}

static bool is_quantifier(PyObject *node) { return is_a(node, Kind::Forall) || is_a(node, Kind::Exists); }

// set |= other, in place.
static bool merge_into(PyObject *set, PyObject *other) {
    PyObject *r = PyNumber_InPlaceOr(set, other);
    if (r == nullptr) return false;
    Py_DECREF(r);
    return true;
}

static PyObject *second_order_body(PyObject *node) { return PyObject_GetAttr(node, g.str_body); }

// ---- free_variables ---------------------------------------------------------

PyObject *free_variables(PyObject *node) {
    RecursionGuard guard(" while collecting free variables");
    if (!guard.ok()) return nullptr;

    // 1. Any object carrying a `_free_vars` set answers from it.
    for (Kind kind : {Kind::FunctionApp, Kind::PredicateApp, Kind::Equality}) {
        if (is_exact(node, kind)) return PySet_New(field(node, info(kind_index(kind)).free_slot));
    }
    if (!is_node_class(Py_TYPE(node))) {
        PyObject *cached = nullptr;
        int found = get_optional_attr(node, g.str_free_vars, &cached);
        if (found < 0) return nullptr;
        if (found > 0) {
            Ref owned = Ref::steal(cached);
            if (cached != Py_None) return PySet_New(cached);
        }
    }
    if (is_a(node, Kind::Variable)) {
        Ref set = Ref::steal(PySet_New(nullptr));
        if (!set || PySet_Add(set.get(), node) < 0) return nullptr;
        return set.release();
    }
    if (is_a(node, Kind::Constant)) return PySet_New(nullptr);
    if (is_a(node, Kind::Not)) {
        Field operand = part(node, slot::operand, g.str_operand);
        return operand ? free_variables(operand.get()) : nullptr;
    }
    if (is_binary(node)) {
        Field left_node = part(node, slot::left, g.str_left);
        Ref left = left_node ? Ref::steal(free_variables(left_node.get())) : Ref();
        if (!left) return nullptr;
        Field right_node = part(node, slot::right, g.str_right);
        Ref right = right_node ? Ref::steal(free_variables(right_node.get())) : Ref();
        if (!right || !merge_into(left.get(), right.get())) return nullptr;
        return left.release();
    }
    if (is_quantifier(node)) {
        Field body_node = part(node, slot::body, g.str_body);
        Ref body = body_node ? Ref::steal(free_variables(body_node.get())) : Ref();
        if (!body) return nullptr;
        Field variable = part(node, slot::variable, g.str_variable);
        if (!variable || PySet_Discard(body.get(), variable.get()) < 0) return nullptr;
        return body.release();
    }
    int second_order = is_second_order_quantifier(node);
    if (second_order < 0) return nullptr;
    if (second_order) {
        Ref body = Ref::steal(second_order_body(node));
        return body ? free_variables(body.get()) : nullptr;
    }
    return raise_invalid_with_type("Unsupported AST node type: ", node);
}

// ---- bound_variables --------------------------------------------------------

PyObject *bound_variables(PyObject *node) {
    RecursionGuard guard(" while collecting bound variables");
    if (!guard.ok()) return nullptr;

    if (is_a(node, Kind::Variable) || is_a(node, Kind::Constant) || is_a(node, Kind::FunctionApp) ||
        is_a(node, Kind::PredicateApp) || is_a(node, Kind::Equality)) {
        return PySet_New(nullptr);
    }
    if (is_a(node, Kind::Not)) {
        Field operand = part(node, slot::operand, g.str_operand);
        return operand ? bound_variables(operand.get()) : nullptr;
    }
    if (is_binary(node)) {
        Field left_node = part(node, slot::left, g.str_left);
        Ref left = left_node ? Ref::steal(bound_variables(left_node.get())) : Ref();
        if (!left) return nullptr;
        Field right_node = part(node, slot::right, g.str_right);
        Ref right = right_node ? Ref::steal(bound_variables(right_node.get())) : Ref();
        if (!right || !merge_into(left.get(), right.get())) return nullptr;
        return left.release();
    }
    if (is_quantifier(node)) {
        Ref set = Ref::steal(PySet_New(nullptr));
        if (!set) return nullptr;
        Field variable = part(node, slot::variable, g.str_variable);
        if (!variable || PySet_Add(set.get(), variable.get()) < 0) return nullptr;
        Field body_node = part(node, slot::body, g.str_body);
        Ref body = body_node ? Ref::steal(bound_variables(body_node.get())) : Ref();
        if (!body || !merge_into(set.get(), body.get())) return nullptr;
        return set.release();
    }
    int second_order = is_second_order_quantifier(node);
    if (second_order < 0) return nullptr;
    if (second_order) {
        Ref body = Ref::steal(second_order_body(node));
        return body ? bound_variables(body.get()) : nullptr;
    }
    return raise_invalid_with_type("Unsupported AST node type: ", node);
}

// ---- depth and size -----------------------------------------------------------
// Counted in C integers: a tree too large to overflow them cannot be built.

template <typename Measure>
static Py_ssize_t measure_part(PyObject *node, int slot, PyObject *name, Measure measure) {
    Field child = part(node, slot, name);
    return child ? measure(child.get()) : -1;
}

static Py_ssize_t depth_of(PyObject *f) {
    RecursionGuard guard(" while measuring formula depth");
    if (!guard.ok()) return -1;
    if (is_a(f, Kind::PredicateApp) || is_a(f, Kind::Equality)) return 1;
    if (is_a(f, Kind::Not)) {
        Py_ssize_t d = measure_part(f, slot::operand, g.str_operand, depth_of);
        return d < 0 ? -1 : d + 1;
    }
    if (is_binary(f)) {
        Py_ssize_t l = measure_part(f, slot::left, g.str_left, depth_of);
        if (l < 0) return -1;
        Py_ssize_t r = measure_part(f, slot::right, g.str_right, depth_of);
        if (r < 0) return -1;
        return (l > r ? l : r) + 1;
    }
    if (is_quantifier(f)) {
        Py_ssize_t d = measure_part(f, slot::body, g.str_body, depth_of);
        return d < 0 ? -1 : d + 1;
    }
    int second_order = is_second_order_quantifier(f);
    if (second_order < 0) return -1;
    if (second_order) {
        Ref body = Ref::steal(second_order_body(f));
        if (!body) return -1;
        Py_ssize_t d = depth_of(body.get());
        return d < 0 ? -1 : d + 1;
    }
    raise_invalid_with_type("Expected Formula, got ", f);
    return -1;
}

static Py_ssize_t term_size(PyObject *t);

// 1 + the sizes of an application's arguments.
static Py_ssize_t application_size(PyObject *node, int slot) {
    Field field_args = part(node, slot, g.str_args);
    if (!field_args) return -1;
    Ref args = argument_tuple(field_args.get(), "args must be a sequence");
    if (!args) return -1;
    Py_ssize_t total = 1;
    for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(args.get()); i < n; ++i) {
        Py_ssize_t s = term_size(PyTuple_GET_ITEM(args.get(), i));
        if (s < 0) return -1;
        total += s;
    }
    return total;
}

static Py_ssize_t term_size(PyObject *t) {
    RecursionGuard guard(" while measuring term size");
    if (!guard.ok()) return -1;
    if (is_a(t, Kind::Variable) || is_a(t, Kind::Constant)) return 1;
    if (is_a(t, Kind::FunctionApp)) return application_size(t, slot::fn_args);
    raise_invalid_with_type("Expected Term, got ", t);
    return -1;
}

static Py_ssize_t size_of(PyObject *f) {
    RecursionGuard guard(" while measuring formula size");
    if (!guard.ok()) return -1;
    if (is_a(f, Kind::PredicateApp)) return application_size(f, slot::pred_args);
    if (is_a(f, Kind::Equality)) {
        Py_ssize_t l = measure_part(f, slot::eq_left, g.str_left, term_size);
        if (l < 0) return -1;
        Py_ssize_t r = measure_part(f, slot::eq_right, g.str_right, term_size);
        return r < 0 ? -1 : 1 + l + r;
    }
    if (is_a(f, Kind::Not)) {
        Py_ssize_t s = measure_part(f, slot::operand, g.str_operand, size_of);
        return s < 0 ? -1 : s + 1;
    }
    if (is_binary(f)) {
        Py_ssize_t l = measure_part(f, slot::left, g.str_left, size_of);
        if (l < 0) return -1;
        Py_ssize_t r = measure_part(f, slot::right, g.str_right, size_of);
        return r < 0 ? -1 : 1 + l + r;
    }
    if (is_quantifier(f)) {
        Py_ssize_t v = measure_part(f, slot::variable, g.str_variable, term_size);
        if (v < 0) return -1;
        Py_ssize_t b = measure_part(f, slot::body, g.str_body, size_of);
        return b < 0 ? -1 : 1 + v + b;
    }
    int second_order = is_second_order_quantifier(f);
    if (second_order < 0) return -1;
    if (second_order) {
        Ref body = Ref::steal(second_order_body(f));
        if (!body) return -1;
        Py_ssize_t b = size_of(body.get());
        return b < 0 ? -1 : b + 1;
    }
    raise_invalid_with_type("Expected Formula, got ", f);
    return -1;
}

PyObject *formula_depth(PyObject *formula) {
    Py_ssize_t d = depth_of(formula);
    return d < 0 ? nullptr : PyLong_FromSsize_t(d);
}

PyObject *formula_size(PyObject *formula) {
    Py_ssize_t s = size_of(formula);
    return s < 0 ? nullptr : PyLong_FromSsize_t(s);
}

}  // namespace zelqor::ast
