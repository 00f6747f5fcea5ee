// Canonical renumbering of bound variables: each quantifier, in pre-order,
// gets the next id not used by a free variable; an environment copied per
// quantifier maps bound variables to their canonical replacements.
#include "zelqor/core/ast/canonical.hpp"

#include "common/guard.hpp"
#include "zelqor/core/ast/construct.hpp"
#include "zelqor/core/ast/queries.hpp"

namespace zelqor::ast {

namespace {

class IndexGenerator {
public:
    explicit IndexGenerator(PyObject *reserved) : reserved_(reserved) {}

    PyObject *get_next() {
        for (;;) {
            Ref candidate = Ref::steal(PyLong_FromSsize_t(current_));
            if (!candidate) return nullptr;
            int taken = PySet_Contains(reserved_, candidate.get());
            if (taken < 0) return nullptr;
            ++current_;
            if (!taken) return candidate.release();
        }
    }

private:
    PyObject *reserved_;  // borrowed set of ints
    Py_ssize_t current_ = 0;
};

class Canonicalizer {
public:
    explicit Canonicalizer(PyObject *reserved) : ids_(reserved) {}

    PyObject *term(PyObject *t, PyObject *env) {
        RecursionGuard guard(" while canonicalizing a term");
        if (!guard.ok()) return nullptr;
        if (is_a(t, Kind::Variable)) {
            PyObject *image = PyDict_GetItemWithError(env, t);
            if (image != nullptr) return new_ref(image);
            return PyErr_Occurred() ? nullptr : new_ref(t);
        }
        if (is_a(t, Kind::FunctionApp)) {
            Ref args = map_args(field(t, slot::fn_args), env);
            if (!args) return nullptr;
            auto values = function_app_fields(field(t, slot::fn_func), field(t, slot::fn_arity), args.get(),
                                              field(t, slot::fn_return_sort));
            return make_node(Kind::FunctionApp, values.data());
        }
        return new_ref(t);  // constants and anything unrecognised
    }

    PyObject *formula(PyObject *f, PyObject *env) {
        RecursionGuard guard(" while canonicalizing a formula");
        if (!guard.ok()) return nullptr;
        if (is_a(f, Kind::PredicateApp)) {
            Ref args = map_args(field(f, slot::pred_args), env);
            if (!args) return nullptr;
            PyObject *values[3] = {field(f, slot::pred_pred), field(f, slot::pred_arity), args.get()};
            return make_node(Kind::PredicateApp, values);
        }
        if (is_a(f, Kind::Equality)) {
            Ref left = Ref::steal(term(field(f, slot::eq_left), env));
            if (!left) return nullptr;
            Ref right = Ref::steal(term(field(f, slot::eq_right), env));
            if (!right) return nullptr;
            PyObject *values[2] = {left.get(), right.get()};
            return make_node(Kind::Equality, values);
        }
        if (is_a(f, Kind::Not)) {
            Ref operand = Ref::steal(formula(field(f, slot::operand), env));
            if (!operand) return nullptr;
            PyObject *values[1] = {operand.get()};
            return make_node(Kind::Not, values);
        }
        for (Kind k : {Kind::And, Kind::Or, Kind::Implies, Kind::Iff}) {
            if (is_a(f, k)) return binary(k, f, env);
        }
        for (Kind k : {Kind::Forall, Kind::Exists}) {
            if (is_a(f, k)) return quantifier(k, f, env);
        }
        int second_order = is_second_order_quantifier(f);
        if (second_order < 0) return nullptr;
        if (second_order) return second_order_quantifier(f, env);
        return raise_invalid_with_type("Unsupported Formula node: ", f);
    }

private:
    Ref map_args(PyObject *args, PyObject *env) {
        Ref seq = Ref::steal(PySequence_Fast(args, "args must be a sequence"));
        if (!seq) return Ref();
        Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
        Ref out = Ref::steal(PyTuple_New(n));
        if (!out) return Ref();
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *item = term(PySequence_Fast_GET_ITEM(seq.get(), i), env);
            if (item == nullptr) return Ref();
            PyTuple_SET_ITEM(out.get(), i, item);
        }
        return out;
    }

    PyObject *binary(Kind k, PyObject *f, PyObject *env) {
        Ref left = Ref::steal(formula(field(f, slot::left), env));
        if (!left) return nullptr;
        Ref right = Ref::steal(formula(field(f, slot::right), env));
        if (!right) return nullptr;
        PyObject *values[2] = {left.get(), right.get()};
        return make_node(k, values);
    }

    PyObject *quantifier(Kind k, PyObject *f, PyObject *env) {
        PyObject *old = field(f, slot::variable);
        Ref id = Ref::steal(ids_.get_next());
        if (!id) return nullptr;
        Ref sort = Ref::steal(PyObject_GetAttr(old, g.str_sort));
        if (!sort) return nullptr;
        Ref kind = Ref::steal(PyObject_GetAttrString(old, "kind"));
        if (!kind) return nullptr;
        Ref canonical = Ref::steal(make_node(Kind::Variable, variable_fields(id.get(), kind.get(), sort.get()).data()));
        if (!canonical) return nullptr;
        Ref inner = Ref::steal(PyDict_Copy(env));
        if (!inner || PyDict_SetItem(inner.get(), old, canonical.get()) < 0) return nullptr;
        Ref body = Ref::steal(formula(field(f, slot::body), inner.get()));
        if (!body) return nullptr;
        PyObject *values[2] = {canonical.get(), body.get()};
        return make_node(k, values);
    }

    PyObject *second_order_quantifier(PyObject *f, PyObject *env) {
        Ref old_body = Ref::steal(PyObject_GetAttr(f, g.str_body));
        if (!old_body) return nullptr;
        Ref variable = Ref::steal(PyObject_GetAttrString(f, "variable"));
        if (!variable) return nullptr;
        Ref body = Ref::steal(formula(old_body.get(), env));
        if (!body) return nullptr;
        Ref kwargs = Ref::steal(Py_BuildValue("{sOsO}", "variable", variable.get(), "body", body.get()));
        Ref noargs = Ref::steal(PyTuple_New(0));
        if (!kwargs || !noargs) return nullptr;
        return PyObject_Call(reinterpret_cast<PyObject *>(Py_TYPE(f)), noargs.get(), kwargs.get());
    }

    IndexGenerator ids_;
};

}  // namespace

PyObject *canonicalize_bound_variables(PyObject *formula) {
    Ref free = Ref::steal(free_variables(formula));
    if (!free) return nullptr;
    Ref reserved = Ref::steal(PySet_New(nullptr));
    if (!reserved) return nullptr;
    Ref it = Ref::steal(PyObject_GetIter(free.get()));
    if (!it) return nullptr;
    while (PyObject *var = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(var);
        Ref id = Ref::steal(PyObject_GetAttrString(var, "id"));
        if (!id || PySet_Add(reserved.get(), id.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    Ref env = Ref::steal(PyDict_New());
    if (!env) return nullptr;
    Canonicalizer canon(reserved.get());
    return canon.formula(formula, env.get());
}

}  // namespace zelqor::ast
