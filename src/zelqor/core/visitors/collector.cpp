// FreeVariableCollector. While the operations reached are our own, every
// node adds its free variables into one set owned by the walk instead of
// building a set of its own: a union is then nothing but the two additions,
// and a quantifier removes its variable only if the set did not hold it before
// its body was added. A value produced by a caller's override is combined
// with the interpreter's own set operators, as the operations define it.
#include "common/args.hpp"
#include "common/guard.hpp"
#include "zelqor/core/visitors/dispatch.hpp"
#include "zelqor/core/visitors/fields.hpp"

#include <cstdint>
#include <optional>

namespace zelqor::visitors {

namespace {

// The set a walk adds free variables into, and the variables it has just
// added, by identity: adding one of them again can skip hashing. The entries
// are compared, never followed; the set keeps each alive until it is reset.
// It belongs to one call: a visitor may be used by several threads at once,
// and a hash or comparison run by the walk may switch to another.
struct Target {
    static constexpr int kRecent = 16;
    Ref set;
    PyObject *recent[kRecent] = {};

    bool open() {
        set = Ref::steal(PySet_New(nullptr));
        return bool(set);
    }
    void forget_recent() {
        for (PyObject *&entry : recent) entry = nullptr;
    }
};

// Adds the node's free variables into `target`, or leaves the node's result
// in `value` when it is not such a set.
using IntoFn = bool (*)(PyObject *self, PyObject *node, Target &target, Ref &value);

bool child_into(PyObject *self, PyObject *child, Target &target, Ref &value) {
    Route route;
    if (!visit_child(as_visitor(self), child, route, value)) return false;
    if (route.impl == nullptr) return true;
    std::optional<RecursionGuard> guard;
    if (needs_guard(route) && !guard.emplace(" while collecting free variables").ok()) return false;
    if (route.impl->family == kFamilyCollect) {
        return reinterpret_cast<IntoFn>(route.impl->fast)(self, child, target, value);
    }
    value = Ref::steal(route.impl->value(self, child));
    return bool(value);
}

// The result of visiting `child` as a value of its own.
PyObject *child_value(PyObject *self, PyObject *child) {
    Target target;
    Ref value;
    if (!target.open() || !child_into(self, child, target, value)) return nullptr;
    return value ? value.release() : target.set.release();
}

// target.update(values)
bool update(PyObject *target, PyObject *values) {
    if (PyAnySet_Check(values)) return bool(Ref::steal(PyNumber_InPlaceOr(target, values)));
    return bool(Ref::steal(PyObject_CallMethodOneArg(target, g.str_update, values)));
}

// The checked result of an operation, kept as the node's value (the object
// itself: Not passes its operand's set on unchanged).
bool finish_checked(Ref result, Ref &value) {
    if (!result || !check_exact_result(result.get(), &PySet_Type, "set")) return false;
    value = std::move(result);
    return true;
}

bool into_variable(PyObject *, PyObject *node, Target &target, Ref &) {
    PyObject **slot = &target.recent[(reinterpret_cast<uintptr_t>(node) >> 4) % Target::kRecent];
    if (*slot == node) return true;  // the very object is in the set already
    if (PySet_Add(target.set.get(), node) < 0) return false;
    *slot = node;
    return true;
}

bool into_constant(PyObject *, PyObject *, Target &, Ref &) { return true; }

// A new set updated with each argument's result: the same as updating `target`.
template <int K>
bool into_app(PyObject *self, PyObject *node, Target &target, Ref &) {
    Field args = app_args(node, K);
    return args && for_each_arg(args.get(), [&](PyObject *arg) {
        Ref value;
        return child_into(self, arg, target, value) && (!value || update(target.set.get(), value.get()));
    });
}

// l | r. The left side is added to `target` only when the right side is known
// to come from our own operations, whose values are plain sets or None: then
// `l | r` is exactly the two additions (or the interpreter's error for None).
template <int K>
bool into_pair(PyObject *self, PyObject *node, Target &target, Ref &value) {
    Field left = node_field(node, K, first_slot(K), first_name(K));
    if (!left) return false;
    if (!is_exact(node, K) ||
        !routes_to(as_visitor(self), ast::field(node, second_slot(K)), kFamilyCollect)) {
        Ref left_value = Ref::steal(child_value(self, left.get()));
        if (!left_value) return false;
        Field right = node_field(node, K, second_slot(K), second_name(K));
        Ref right_value = right ? Ref::steal(child_value(self, right.get())) : Ref();
        if (!right_value) return false;
        return finish_checked(Ref::steal(PyNumber_Or(left_value.get(), right_value.get())), value);
    }
    Ref left_value;
    if (!child_into(self, left.get(), target, left_value)) return false;
    Field right = node_field(node, K, second_slot(K), second_name(K));
    if (!right) return false;
    if (left_value) {
        Ref right_value = Ref::steal(child_value(self, right.get()));
        if (!right_value) return false;
        return finish_checked(Ref::steal(PyNumber_Or(left_value.get(), right_value.get())), value);
    }
    Ref right_value;
    if (!child_into(self, right.get(), target, right_value)) return false;
    if (!right_value) return true;
    if (PyAnySet_CheckExact(right_value.get())) return update(target.set.get(), right_value.get());
    // Only if the class changed during the walk: combine as an empty plain set would.
    Ref left_set = Ref::steal(PySet_New(nullptr));
    if (!left_set) return false;
    return finish_checked(Ref::steal(PyNumber_Or(left_set.get(), right_value.get())), value);
}

// Not and the second-order quantifiers: the child's result itself.
template <int K>
bool into_single(PyObject *self, PyObject *node, Target &target, Ref &value) {
    Field child = node_field(node, K, K == kNot ? ast::slot::operand : ast::slot::body,
                               K == kNot ? g.str_operand : g.str_body);
    Ref child_value;
    if (!child || !child_into(self, child.get(), target, child_value)) return false;
    return !child_value || finish_checked(std::move(child_value), value);
}

// body - {variable}
template <int K>
bool into_quantifier(PyObject *self, PyObject *node, Target &target, Ref &value) {
    Field body = node_field(node, K, ast::slot::body, g.str_body);
    if (!body) return false;
    Ref body_value;
    if (is_exact(node, K)) {
        // Our own node: the bound variable can be looked at before the body.
        PyObject *variable = ast::field(node, ast::slot::variable);
        int had = PySet_Contains(target.set.get(), variable);
        if (had < 0 || !child_into(self, body.get(), target, body_value)) return false;
        if (!body_value) {
            if (had) return true;
            target.forget_recent();  // an entry may leave the set
            return PySet_Discard(target.set.get(), variable) >= 0;
        }
    } else if (!(body_value = Ref::steal(child_value(self, body.get())))) {
        return false;
    }
    Field variable = node_field(node, K, ast::slot::variable, g.str_variable);
    Ref removed = Ref::steal(PySet_New(nullptr));
    if (!variable || !removed || PySet_Add(removed.get(), variable.get()) < 0) return false;
    return finish_checked(Ref::steal(PyNumber_Subtract(body_value.get(), removed.get())), value);
}

template <IntoFn Fn>
PyObject *as_value(PyObject *self, PyObject *node) {
    Target target;
    Ref value;
    if (!target.open() || !Fn(self, node, target, value)) return nullptr;
    return value ? value.release() : target.set.release();
}

#define ZQ_C(name, fn) ZQ_OP(name, as_value<fn>, kFamilyCollect, fn, "FreeVariableCollector." name)

const OpImpl ops[kOpCount] = {
    ZQ_C("visit_variable", into_variable),
    ZQ_C("visit_constant", into_constant),
    ZQ_C("visit_function_app", into_app<kFunctionApp>),
    ZQ_C("visit_predicate_app", into_app<kPredicateApp>),
    ZQ_C("visit_equality", into_pair<kEquality>),
    ZQ_C("visit_not", into_single<kNot>),
    ZQ_C("visit_and", into_pair<kAnd>),
    ZQ_C("visit_or", into_pair<kOr>),
    ZQ_C("visit_implies", into_pair<kImplies>),
    ZQ_C("visit_iff", into_pair<kIff>),
    ZQ_C("visit_forall", into_quantifier<kForall>),
    ZQ_C("visit_exists", into_quantifier<kExists>),
    ZQ_C("visit_forall_pred", into_single<kForallPred>),
    ZQ_C("visit_exists_pred", into_single<kExistsPred>),
    ZQ_C("visit_forall_func", into_single<kForallFunc>),
    ZQ_C("visit_exists_func", into_single<kExistsFunc>),
};

}  // namespace

const ClassParts kCollectorFamily = {ops, kOpCount, nullptr, nullptr};

}  // namespace zelqor::visitors
