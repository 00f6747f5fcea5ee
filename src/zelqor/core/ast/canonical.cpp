// Canonical renumbering of bound variables: each quantifier, in pre-order,
// gets the next id not used by a free variable; an environment copied per
// quantifier maps bound variables to their canonical replacements.
#include "zelqor/core/ast/canonical.hpp"

#include "common/dict_lookup.hpp"
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
            Ref image = dict_lookup(env, t);
            if (image) return image.release();
            return PyErr_Occurred() ? nullptr : new_ref(t);
        }
        if (is_a(t, Kind::FunctionApp)) {
            Field old_args = part(t, slot::fn_args, g.str_args);
            if (!old_args) return nullptr;
            Ref args = map_args(old_args.get(), env);
            if (!args) return nullptr;
            Field func = part(t, slot::fn_func, g.str_func);
            if (!func) return nullptr;
            Field arity = part(t, slot::fn_arity, g.str_arity);
            if (!arity) return nullptr;
            Field return_sort = part(t, slot::fn_return_sort, g.str_return_sort);
            if (!return_sort) return nullptr;
            auto values = function_app_fields(func.get(), arity.get(), args.get(), return_sort.get());
            return make_node(Kind::FunctionApp, values.data());
        }
        return new_ref(t);  // constants and anything unrecognised
    }

    PyObject *formula(PyObject *f, PyObject *env) {
        RecursionGuard guard(" while canonicalizing a formula");
        if (!guard.ok()) return nullptr;
        if (is_a(f, Kind::PredicateApp)) {
            Field old_args = part(f, slot::pred_args, g.str_args);
            if (!old_args) return nullptr;
            Ref args = map_args(old_args.get(), env);
            if (!args) return nullptr;
            Field pred = part(f, slot::pred_pred, g.str_pred);
            if (!pred) return nullptr;
            Field arity = part(f, slot::pred_arity, g.str_arity);
            if (!arity) return nullptr;
            PyObject *values[3] = {pred.get(), arity.get(), args.get()};
            return make_node(Kind::PredicateApp, values);
        }
        if (is_a(f, Kind::Equality)) {
            Ref left = walk_part(f, slot::eq_left, g.str_left, env, &Canonicalizer::term);
            if (!left) return nullptr;
            Ref right = walk_part(f, slot::eq_right, g.str_right, env, &Canonicalizer::term);
            if (!right) return nullptr;
            PyObject *values[2] = {left.get(), right.get()};
            return make_node(Kind::Equality, values);
        }
        if (is_a(f, Kind::Not)) {
            Ref operand = walk_part(f, slot::operand, g.str_operand, env, &Canonicalizer::formula);
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
    using Walk = PyObject *(Canonicalizer::*)(PyObject *, PyObject *);

    // walk(field `slot` of `node`), the field read as every operation reads it.
    Ref walk_part(PyObject *node, int slot, PyObject *name, PyObject *env, Walk walk) {
        Field child = part(node, slot, name);
        return child ? Ref::steal((this->*walk)(child.get(), env)) : Ref();
    }

    Ref map_args(PyObject *args, PyObject *env) {
        Ref seq = argument_tuple(args, "args must be a sequence");
        if (!seq) return Ref();
        Py_ssize_t n = PyTuple_GET_SIZE(seq.get());
        Ref out = Ref::steal(PyTuple_New(n));
        if (!out) return Ref();
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *item = term(PyTuple_GET_ITEM(seq.get(), i), env);
            if (item == nullptr) return Ref();
            PyTuple_SET_ITEM(out.get(), i, item);
        }
        return out;
    }

    PyObject *binary(Kind k, PyObject *f, PyObject *env) {
        Ref left = walk_part(f, slot::left, g.str_left, env, &Canonicalizer::formula);
        if (!left) return nullptr;
        Ref right = walk_part(f, slot::right, g.str_right, env, &Canonicalizer::formula);
        if (!right) return nullptr;
        PyObject *values[2] = {left.get(), right.get()};
        return make_node(k, values);
    }

    PyObject *quantifier(Kind k, PyObject *f, PyObject *env) {
        Field variable = part(f, slot::variable, g.str_variable);
        if (!variable) return nullptr;
        PyObject *old = variable.get();
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
        Ref body = walk_part(f, slot::body, g.str_body, inner.get(), &Canonicalizer::formula);
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
