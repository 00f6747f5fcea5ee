// SizeVisitor and DepthVisitor. Results stay machine integers while every
// operation involved is ours; a value from a caller's override joins the
// arithmetic as the Python object it is, with the interpreter's operators.
#include "common/guard.hpp"
#include "zelqor/core/visitors/dispatch.hpp"
#include "zelqor/core/visitors/fields.hpp"

#include <optional>

namespace zelqor::visitors {

namespace {

struct Num {
    long long v = 0;
    Ref obj;  // set: a Python value

    bool boxed() const { return bool(obj); }
    PyObject *box() const { return obj ? new_ref(obj.get()) : PyLong_FromLongLong(v); }
    void set(long long x) { v = x; obj.reset(); }
    // Takes a Python result, unboxing plain ints that fit.
    void take(Ref value) {
        if (PyLong_CheckExact(value.get())) {
            int overflow = 0;
            long long x = PyLong_AsLongLongAndOverflow(value.get(), &overflow);
            if (overflow == 0 && !(x == -1 && PyErr_Occurred())) {
                set(x);
                return;
            }
            PyErr_Clear();
        }
        obj = std::move(value);
    }
};

// a + b, in that order.
bool add(const Num &a, const Num &b, Num &out) {
    long long sum;
    if (!a.boxed() && !b.boxed() && !__builtin_add_overflow(a.v, b.v, &sum)) {
        out.set(sum);
        return true;
    }
    Ref x = Ref::steal(a.box());
    Ref y = Ref::steal(b.box());
    if (!x || !y) return false;
    Ref r = Ref::steal(PyNumber_Add(x.get(), y.get()));
    if (!r) return false;
    out.take(std::move(r));
    return true;
}

bool add_one(Num &n) {
    Num one;
    one.set(1);
    return add(one, n, n);
}

// max(a, b): b replaces a only when b > a.
bool max2(Num &a, const Num &b) {
    if (!a.boxed() && !b.boxed()) {
        if (b.v > a.v) a.v = b.v;
        return true;
    }
    Ref x = Ref::steal(a.box());
    Ref y = Ref::steal(b.box());
    if (!x || !y) return false;
    int greater = PyObject_RichCompareBool(y.get(), x.get(), Py_GT);
    if (greater < 0) return false;
    a.take(greater ? std::move(y) : std::move(x));
    return true;
}

using MeasureFn = bool (*)(PyObject *self, PyObject *node, Num &out);

template <int F>
bool measure_child(PyObject *self, PyObject *child, Num &out) {
    Route route;
    Ref value;
    if (!visit_child(as_visitor(self), child, route, value)) return false;
    if (route.impl != nullptr) {
        std::optional<RecursionGuard> guard;
        if (needs_guard(route) && !guard.emplace(" while measuring a syntax tree").ok()) return false;
        if (route.impl->family == F) return reinterpret_cast<MeasureFn>(route.impl->fast)(self, child, out);
        value = Ref::steal(route.impl->value(self, child));
        if (!value) return false;
    }
    out.take(std::move(value));
    return true;
}

// builtins.<name>(values): sum and max of a list with the interpreter's rules.
bool reduce_list(const char *name, PyObject *values, Num &out) {
    PyObject *builtins = PyEval_GetBuiltins();  // borrowed
    // Held for the call: the values' own code may rebind the builtin.
    Ref fn = Ref::borrow(builtins != nullptr ? PyDict_GetItemString(builtins, name) : nullptr);
    if (!fn) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        return false;
    }
    Ref r = Ref::steal(PyObject_CallOneArg(fn.get(), values));
    if (!r) return false;
    out.take(std::move(r));
    return true;
}

// The argument results of an application reduced by sum (Size) or max (Depth).
// Machine integers while possible; a list for the builtin once a Python value appears.
template <int F>
bool reduce_args(PyObject *self, PyObject *args, Num &out, bool &empty) {
    Ref list;
    empty = true;
    out.set(0);
    bool ok = for_each_arg(args, [&](PyObject *arg) {
        Num n;
        if (!measure_child<F>(self, arg, n)) return false;
        bool first = empty;
        empty = false;
        if (!list && !n.boxed()) {
            long long sum;
            if (F == kFamilyDepth) {
                if (first || n.v > out.v) out.v = n.v;
                return true;
            }
            if (!__builtin_add_overflow(out.v, n.v, &sum)) {
                out.v = sum;
                return true;
            }
        }
        if (!list) {
            // Switch to collecting Python values; the partial result stands in for the earlier ones.
            list = Ref::steal(PyList_New(0));
            if (!list) return false;
            if (!first) {
                Ref partial = Ref::steal(out.box());
                if (!partial || PyList_Append(list.get(), partial.get()) < 0) return false;
            }
        }
        Ref item = Ref::steal(n.box());
        return item && PyList_Append(list.get(), item.get()) == 0;
    });
    if (!ok) return false;
    if (!list) return true;
    return reduce_list(F == kFamilySize ? "sum" : "max", list.get(), out);
}

// ---- SizeVisitor ------------------------------------------------------------------

bool size_leaf(PyObject *, PyObject *, Num &out) {
    out.set(1);
    return true;
}

template <int K>
bool size_app(PyObject *self, PyObject *node, Num &out) {
    Field args = app_args(node, K);
    bool empty;
    if (!args || !reduce_args<kFamilySize>(self, args.get(), out, empty)) return false;
    return add_one(out);
}

// 1 + first + second (Equality, connectives, and Forall/Exists with their variable).
template <int K>
bool size_pair(PyObject *self, PyObject *node, Num &out) {
    Field first = node_field(node, K, first_slot(K), first_name(K));
    Num l, r;
    if (!first || !measure_child<kFamilySize>(self, first.get(), l)) return false;
    Field second = node_field(node, K, second_slot(K), second_name(K));
    if (!second || !measure_child<kFamilySize>(self, second.get(), r)) return false;
    Num one;
    one.set(1);
    return add(one, l, out) && add(out, r, out);
}

// 1 + the single child measured (Not, and second-order quantifiers' body).
template <int F, int K>
bool measure_single(PyObject *self, PyObject *node, Num &out) {
    Field child = node_field(node, K, K == kNot ? ast::slot::operand : ast::slot::body,
                               K == kNot ? g.str_operand : g.str_body);
    if (!child || !measure_child<F>(self, child.get(), out)) return false;
    return add_one(out);
}

// ---- DepthVisitor -----------------------------------------------------------------

template <int K>
bool depth_app(PyObject *self, PyObject *node, Num &out) {
    Field args = app_args(node, K);
    bool empty;
    if (!args || !reduce_args<kFamilyDepth>(self, args.get(), out, empty)) return false;
    if (empty) {
        out.set(1);
        return true;
    }
    return add_one(out);
}

template <int K>
bool depth_pair(PyObject *self, PyObject *node, Num &out) {
    Field left = node_field(node, K, first_slot(K), first_name(K));
    if (!left || !measure_child<kFamilyDepth>(self, left.get(), out)) return false;
    Field right = node_field(node, K, second_slot(K), second_name(K));
    Num r;
    if (!right || !measure_child<kFamilyDepth>(self, right.get(), r)) return false;
    return max2(out, r) && add_one(out);
}

// ---- entry points -----------------------------------------------------------------

template <MeasureFn Fn>
PyObject *as_value(PyObject *self, PyObject *node) {
    Num n;
    if (!Fn(self, node, n)) return nullptr;
    return n.box();
}

#define ZQ_M(family, cls, name, fn) ZQ_OP(name, as_value<fn>, family, fn, cls "." name)
#define ZQ_SIZE(name, fn) ZQ_M(kFamilySize, "SizeVisitor", name, fn)
#define ZQ_DEPTH(name, fn) ZQ_M(kFamilyDepth, "DepthVisitor", name, fn)

const OpImpl size_ops[kOpCount] = {
    ZQ_SIZE("visit_variable", size_leaf),
    ZQ_SIZE("visit_constant", size_leaf),
    ZQ_SIZE("visit_function_app", size_app<kFunctionApp>),
    ZQ_SIZE("visit_predicate_app", size_app<kPredicateApp>),
    ZQ_SIZE("visit_equality", size_pair<kEquality>),
    ZQ_SIZE("visit_not", (measure_single<kFamilySize, kNot>)),
    ZQ_SIZE("visit_and", size_pair<kAnd>),
    ZQ_SIZE("visit_or", size_pair<kOr>),
    ZQ_SIZE("visit_implies", size_pair<kImplies>),
    ZQ_SIZE("visit_iff", size_pair<kIff>),
    ZQ_SIZE("visit_forall", size_pair<kForall>),
    ZQ_SIZE("visit_exists", size_pair<kExists>),
    ZQ_SIZE("visit_forall_pred", (measure_single<kFamilySize, kForallPred>)),
    ZQ_SIZE("visit_exists_pred", (measure_single<kFamilySize, kExistsPred>)),
    ZQ_SIZE("visit_forall_func", (measure_single<kFamilySize, kForallFunc>)),
    ZQ_SIZE("visit_exists_func", (measure_single<kFamilySize, kExistsFunc>)),
};

const OpImpl depth_ops[kOpCount] = {
    ZQ_DEPTH("visit_variable", size_leaf),
    ZQ_DEPTH("visit_constant", size_leaf),
    ZQ_DEPTH("visit_function_app", depth_app<kFunctionApp>),
    ZQ_DEPTH("visit_predicate_app", depth_app<kPredicateApp>),
    ZQ_DEPTH("visit_equality", depth_pair<kEquality>),
    ZQ_DEPTH("visit_not", (measure_single<kFamilyDepth, kNot>)),
    ZQ_DEPTH("visit_and", depth_pair<kAnd>),
    ZQ_DEPTH("visit_or", depth_pair<kOr>),
    ZQ_DEPTH("visit_implies", depth_pair<kImplies>),
    ZQ_DEPTH("visit_iff", depth_pair<kIff>),
    ZQ_DEPTH("visit_forall", (measure_single<kFamilyDepth, kForall>)),
    ZQ_DEPTH("visit_exists", (measure_single<kFamilyDepth, kExists>)),
    ZQ_DEPTH("visit_forall_pred", (measure_single<kFamilyDepth, kForallPred>)),
    ZQ_DEPTH("visit_exists_pred", (measure_single<kFamilyDepth, kExistsPred>)),
    ZQ_DEPTH("visit_forall_func", (measure_single<kFamilyDepth, kForallFunc>)),
    ZQ_DEPTH("visit_exists_func", (measure_single<kFamilyDepth, kExistsFunc>)),
};

}  // namespace

const ClassParts kSizeFamily = {size_ops, kOpCount, nullptr, nullptr};
const ClassParts kDepthFamily = {depth_ops, kOpCount, nullptr, nullptr};

}  // namespace zelqor::visitors
