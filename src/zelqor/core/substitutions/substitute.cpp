// Substitution walks. Unchanged subtrees are returned as the identical
// objects; an atom none of whose free variables is a key is not entered. A
// quantifier whose variable would capture a free variable of a replacement is
// renamed to a variable with a fresh id (above every id in sight) first.
#include "zelqor/core/substitutions/substitute.hpp"

#include "common/args.hpp"
#include "common/dict_lookup.hpp"
#include "common/guard.hpp"

namespace zelqor::subst {

using ast::Kind;
using ast::field;
namespace slot = ast::slot;

Context ctx;

namespace {

bool is_a(PyObject *o, Kind k) { return PyObject_TypeCheck(o, ctx.api->type(k)); }
bool is_exact(PyObject *o, Kind k) { return Py_TYPE(o) == ctx.api->type(k); }

PyObject *raise_with_type(PyObject *error, const char *prefix, PyObject *obj) {
    Ref display = type_display(obj);
    if (display) PyErr_Format(error, "%s%U", prefix, display.get());
    return nullptr;
}

int second_order(PyObject *node) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(node)));
    if (!name) return -1;
    for (PyObject *candidate : ctx.second_order_names) {
        if (PyUnicode_Compare(name.get(), candidate) == 0) return 1;
        if (PyErr_Occurred()) return -1;
    }
    return 0;
}

// Rebuilds `node` with new value fields: our exact classes through the C
// constructor, subclasses through their own class called by field name.
PyObject *rebuild(PyObject *node, Kind k, PyObject *const *values, const char *const *names, int n) {
    if (is_exact(node, k)) return ctx.api->make(k, values);
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs) return nullptr;
    for (int i = 0; i < n; ++i) {
        if (names[i] != nullptr && PyDict_SetItemString(kwargs.get(), names[i], values[i]) < 0) return nullptr;
    }
    Ref none = Ref::steal(PyTuple_New(0));
    return none ? PyObject_Call(reinterpret_cast<PyObject *>(Py_TYPE(node)), none.get(), kwargs.get()) : nullptr;
}

// A field of a node of the kind just recognised, read as every operation
// reads it (in place from our exact classes, as an attribute otherwise).
ast::Field part(PyObject *node, Kind k, int slot, PyObject *name) {
    return ast::Field(node, is_exact(node, k), slot, name);
}

// The free variables of a term or atom of exactly our classes, as the node
// keeps them (borrowed: the node holds the set); null for anything else.
PyObject *cached_free(PyObject *node) {
    if (is_exact(node, Kind::FunctionApp)) return field(node, slot::fn_free);
    if (is_exact(node, Kind::PredicateApp)) return field(node, slot::pred_free);
    if (is_exact(node, Kind::Equality)) return field(node, slot::eq_free);
    return nullptr;
}

// Whether any key of `mapping` is free in the atom or application `node`;
// a node that is not of exactly our class is entered in any case.
int touches(PyObject *node, PyObject *mapping) {
    PyObject *free = cached_free(node);
    if (free == nullptr) return 1;
    Py_ssize_t nfree = PySet_GET_SIZE(free);
    if (nfree == 0) return 0;
    if (PyDict_GET_SIZE(mapping) < nfree) {
        // The mapping is the walk's own: comparing cannot change it.
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(mapping, &pos, &key, &value)) {
            int in = PySet_Contains(free, key);
            if (in != 0) return in;
        }
        return 0;
    }
    Ref it = Ref::steal(PyObject_GetIter(free));
    if (!it) return -1;
    while (PyObject *var = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(var);
        int in = PyDict_Contains(mapping, var);
        if (in != 0) return in;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// The walk. Its mapping is a dict no caller code can reach (a copy of the
// caller's, or a renaming of the clausifier's), so that its keys and values
// may be read in place.
class Substitution {
public:
    explicit Substitution(PyObject *mapping) : mapping_(mapping) {}

    PyObject *term(PyObject *t) {
        RecursionGuard guard(" while substituting in a term");
        if (!guard.ok()) return nullptr;
        if (is_a(t, Kind::Variable)) {
            Ref image = dict_lookup(mapping_, t);
            if (image) return image.release();
            return PyErr_Occurred() ? nullptr : new_ref(t);
        }
        if (is_a(t, Kind::Constant)) return new_ref(t);
        if (is_a(t, Kind::FunctionApp)) {
            int hit = touches(t, mapping_);
            if (hit <= 0) return hit < 0 ? nullptr : new_ref(t);
            ast::Field old_args = part(t, Kind::FunctionApp, slot::fn_args, ctx.str_args);
            if (!old_args) return nullptr;
            Ref args = map_args(old_args.get());
            if (!args) return nullptr;
            if (args.get() == old_args.get()) return new_ref(t);
            ast::Field func = part(t, Kind::FunctionApp, slot::fn_func, ctx.str_func);
            if (!func) return nullptr;
            ast::Field arity = part(t, Kind::FunctionApp, slot::fn_arity, ctx.str_arity);
            if (!arity) return nullptr;
            ast::Field return_sort = part(t, Kind::FunctionApp, slot::fn_return_sort, ctx.str_return_sort);
            if (!return_sort) return nullptr;
            static const char *const names[] = {nullptr, "func", "arity", "args", "return_sort"};
            auto values = ast::function_app_fields(func.get(), arity.get(), args.get(), return_sort.get());
            return rebuild(t, Kind::FunctionApp, values.data(), names, 5);
        }
        return raise_with_type(ctx.invalid_formula_error, "Unsupported AST node type: ", t);
    }

    PyObject *formula(PyObject *f) {
        RecursionGuard guard(" while substituting in a formula");
        if (!guard.ok()) return nullptr;
        if (is_a(f, Kind::PredicateApp)) {
            int hit = touches(f, mapping_);
            if (hit <= 0) return hit < 0 ? nullptr : new_ref(f);
            ast::Field old_args = part(f, Kind::PredicateApp, slot::pred_args, ctx.str_args);
            if (!old_args) return nullptr;
            Ref args = map_args(old_args.get());
            if (!args) return nullptr;
            if (args.get() == old_args.get()) return new_ref(f);
            ast::Field pred = part(f, Kind::PredicateApp, slot::pred_pred, ctx.str_pred);
            if (!pred) return nullptr;
            ast::Field arity = part(f, Kind::PredicateApp, slot::pred_arity, ctx.str_arity);
            if (!arity) return nullptr;
            static const char *const names[] = {"pred", "arity", "args"};
            PyObject *values[3] = {pred.get(), arity.get(), args.get()};
            return rebuild(f, Kind::PredicateApp, values, names, 3);
        }
        if (is_a(f, Kind::Equality)) {
            int hit = touches(f, mapping_);
            if (hit <= 0) return hit < 0 ? nullptr : new_ref(f);
            return pair(f, Kind::Equality, slot::eq_left, slot::eq_right, &Substitution::term);
        }
        if (is_a(f, Kind::Not)) {
            ast::Field old = part(f, Kind::Not, slot::operand, ctx.str_operand);
            if (!old) return nullptr;
            Ref operand = Ref::steal(formula(old.get()));
            if (!operand) return nullptr;
            if (operand.get() == old.get()) return new_ref(f);
            static const char *const names[] = {"operand"};
            PyObject *values[1] = {operand.get()};
            return rebuild(f, Kind::Not, values, names, 1);
        }
        for (Kind k : {Kind::And, Kind::Or, Kind::Implies, Kind::Iff}) {
            if (is_a(f, k)) return pair(f, k, slot::left, slot::right, &Substitution::formula);
        }
        for (Kind k : {Kind::Forall, Kind::Exists}) {
            if (is_a(f, k)) return quantifier(f, k);
        }
        int so = second_order(f);
        if (so < 0) return nullptr;
        if (so) return second_order_quantifier(f);
        return raise_with_type(ctx.invalid_formula_error, "Unsupported AST node type: ", f);
    }

private:
    using Walk = PyObject *(Substitution::*)(PyObject *);

    // The arguments substituted: a new tuple if any changed (or they were not
    // a tuple), else `args` itself.
    Ref map_args(PyObject *args) {
        Ref seq = ast::argument_tuple(args, "args must be a sequence");
        if (!seq) return Ref();
        Py_ssize_t n = PyTuple_GET_SIZE(seq.get());
        Ref out = Ref::steal(PyTuple_New(n));
        if (!out) return Ref();
        bool changed = !PyTuple_CheckExact(args);
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *old = PyTuple_GET_ITEM(seq.get(), i);
            PyObject *item = term(old);
            if (item == nullptr) return Ref();
            changed |= item != old;
            PyTuple_SET_ITEM(out.get(), i, item);
        }
        return changed ? std::move(out) : Ref::borrow(args);
    }

    PyObject *pair(PyObject *f, Kind k, int a, int b, Walk walk) {
        ast::Field first = part(f, k, a, ctx.str_left);
        if (!first) return nullptr;
        Ref left = Ref::steal((this->*walk)(first.get()));
        if (!left) return nullptr;
        ast::Field second = part(f, k, b, ctx.str_right);
        if (!second) return nullptr;
        Ref right = Ref::steal((this->*walk)(second.get()));
        if (!right) return nullptr;
        if (left.get() == first.get() && right.get() == second.get()) return new_ref(f);
        static const char *const names[] = {"left", "right"};
        PyObject *values[2] = {left.get(), right.get()};
        return rebuild(f, k, values, names, 2);
    }

    PyObject *quantifier(PyObject *f, Kind k) {
        ast::Field variable = part(f, k, slot::variable, ctx.str_variable);
        if (!variable) return nullptr;
        ast::Field old_body = part(f, k, slot::body, ctx.str_body);
        if (!old_body) return nullptr;
        PyObject *var = variable.get(), *body = old_body.get();
        // The bound variable shadows its own entry.
        Ref inner = Ref::steal(PyDict_Copy(mapping_));
        if (!inner) return nullptr;
        if (PyDict_DelItem(inner.get(), var) < 0) {
            if (!PyErr_ExceptionMatches(PyExc_KeyError)) return nullptr;
            PyErr_Clear();
        }
        if (PyDict_GET_SIZE(inner.get()) == 0) return new_ref(f);

        int capture = captures(var, body, inner.get());
        if (capture < 0) return nullptr;
        Ref new_var = Ref::borrow(var);
        if (capture) {
            new_var = fresh_variable(var, body, inner.get());
            if (!new_var || PyDict_SetItem(inner.get(), var, new_var.get()) < 0) return nullptr;
        }
        Substitution nested(inner.get());
        Ref new_body = Ref::steal(nested.formula(body));
        if (!new_body) return nullptr;
        if (new_body.get() == body && new_var.get() == var) return new_ref(f);
        static const char *const names[] = {"variable", "body"};
        PyObject *values[2] = {new_var.get(), new_body.get()};
        return rebuild(f, k, values, names, 2);
    }

    // Whether some replacement that can reach the body mentions `var` free.
    int captures(PyObject *var, PyObject *body, PyObject *mapping) {
        Ref body_free;
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(mapping, &pos, &key, &value)) {
            int mentions;
            if (is_a(value, Kind::Variable)) {
                mentions = PyObject_RichCompareBool(value, var, Py_EQ);
            } else if (PyObject *free = cached_free(value)) {
                mentions = PySet_Contains(free, var);
            } else if (is_exact(value, Kind::Constant)) {
                mentions = 0;
            } else {
                Ref free_of_value = Ref::steal(ctx.api->free_variables(value));
                mentions = free_of_value ? PySet_Contains(free_of_value.get(), var) : -1;
            }
            if (mentions <= 0) {
                if (mentions < 0) return -1;
                continue;
            }
            if (!body_free) {
                body_free = Ref::steal(ctx.api->free_variables(body));
                if (!body_free) return -1;
            }
            int reaches = PySet_Contains(body_free.get(), key);
            if (reaches != 0) return reaches;
        }
        return 0;
    }

    // A variable like `var` whose id exceeds every id in the body, the keys
    // and the replacements, so that nothing can capture or be captured by it.
    Ref fresh_variable(PyObject *var, PyObject *body, PyObject *mapping) {
        Ref highest = Ref::steal(PyLong_FromLong(-1));
        if (!highest || !raise_max_id(highest, var)) return Ref();
        Ref in_body = Ref::steal(ctx.api->free_variables(body));
        Ref bound = in_body ? Ref::steal(ctx.api->bound_variables(body)) : Ref();
        if (!bound || !raise_max_ids(highest, in_body.get()) || !raise_max_ids(highest, bound.get())) return Ref();
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(mapping, &pos, &key, &value)) {
            if (!raise_max_id(highest, key)) return Ref();
            Ref free = Ref::steal(ctx.api->free_variables(value));
            if (!free || !raise_max_ids(highest, free.get())) return Ref();
        }
        Ref one = Ref::steal(PyLong_FromLong(1));
        Ref id = one ? Ref::steal(PyNumber_Add(highest.get(), one.get())) : Ref();
        if (!id) return Ref();
        ast::Field kind = part(var, Kind::Variable, slot::var_kind, ctx.str_kind);
        if (!kind) return Ref();
        ast::Field sort = part(var, Kind::Variable, slot::sort, ctx.str_sort);
        if (!sort) return Ref();
        auto values = ast::variable_fields(id.get(), kind.get(), sort.get());
        return Ref::steal(ctx.api->make(Kind::Variable, values.data()));
    }

    static bool raise_max_id(Ref &highest, PyObject *var) {
        if (!is_a(var, Kind::Variable)) return true;
        ast::Field id = part(var, Kind::Variable, slot::var_id, ctx.str_id);
        if (!id) return false;
        int greater = PyObject_RichCompareBool(id.get(), highest.get(), Py_GT);
        if (greater < 0) return false;
        if (greater) highest = id.ref();
        return true;
    }

    static bool raise_max_ids(Ref &highest, PyObject *vars) {
        Ref it = Ref::steal(PyObject_GetIter(vars));
        if (!it) return false;
        while (PyObject *var = PyIter_Next(it.get())) {
            Ref owned = Ref::steal(var);
            if (!raise_max_id(highest, var)) return false;
        }
        return !PyErr_Occurred();
    }

    PyObject *second_order_quantifier(PyObject *f) {
        Ref body = Ref::steal(PyObject_GetAttr(f, ctx.str_body));
        if (!body) return nullptr;
        Ref new_body = Ref::steal(formula(body.get()));
        if (!new_body) return nullptr;
        if (new_body.get() == body.get()) return new_ref(f);
        Ref variable = Ref::steal(PyObject_GetAttr(f, ctx.str_variable));
        if (!variable) return nullptr;
        Ref kwargs = Ref::steal(Py_BuildValue("{OOOO}", ctx.str_variable, variable.get(), ctx.str_body, new_body.get()));
        Ref none = Ref::steal(PyTuple_New(0));
        if (!kwargs || !none) return nullptr;
        return PyObject_Call(reinterpret_cast<PyObject *>(Py_TYPE(f)), none.get(), kwargs.get());
    }

    PyObject *mapping_;  // borrowed: held by the caller, reachable by nobody else
};

// Keys must be variables and values terms of the key's sort. The mapping is
// the walk's own copy: what caller code run here does cannot change it.
bool check_mapping(PyObject *mapping) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(mapping, &pos, &key, &value)) {
        if (!is_a(key, Kind::Variable)) {
            raise_with_type(PyExc_TypeError, "substitution keys must be Variable nodes, got ", key);
            return false;
        }
        if (!PyObject_TypeCheck(value, ctx.api->term_type)) {
            raise_with_type(PyExc_TypeError, "substitution values must be terms, got ", value);
            return false;
        }
        Ref value_sort = Ref::steal(PyObject_GetAttr(value, ctx.str_sort));
        if (!value_sort) return false;
        ast::Field key_sort = part(key, Kind::Variable, slot::sort, ctx.str_sort);
        if (!key_sort) return false;
        int same = PyObject_RichCompareBool(value_sort.get(), key_sort.get(), Py_EQ);
        if (same < 0) return false;
        if (!same) {
            PyErr_Format(ctx.sort_error, "cannot substitute %R of sort %S for %R of sort %S", value, value_sort.get(),
                         key, key_sort.get());
            return false;
        }
    }
    return true;
}

}  // namespace

PyObject *substitute_term(PyObject *term, PyObject *mapping) {
    if (PyDict_GET_SIZE(mapping) == 0) return new_ref(term);
    Ref own = Ref::steal(PyDict_Copy(mapping));
    if (!own || !check_mapping(own.get())) return nullptr;
    return Substitution(own.get()).term(term);
}

PyObject *substitute_formula(PyObject *formula, PyObject *mapping) {
    if (PyDict_GET_SIZE(mapping) == 0) return new_ref(formula);
    Ref own = Ref::steal(PyDict_Copy(mapping));
    if (!own || !check_mapping(own.get())) return nullptr;
    return substitute_formula_presorted(formula, own.get());
}

PyObject *substitute_formula_presorted(PyObject *formula, PyObject *mapping) {
    if (PyDict_GET_SIZE(mapping) == 0) return new_ref(formula);
    return Substitution(mapping).formula(formula);
}

}  // namespace zelqor::subst
