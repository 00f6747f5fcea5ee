// FreeVariableCollector. Sets that our own operations have just built belong
// to nobody else yet, so unions and removals update them in place instead of
// copying; a set produced by a caller's override is never modified.
#include "common/args.hpp"
#include "common/guard.hpp"
#include "zelqor/core/visitors/dispatch.hpp"
#include "zelqor/core/visitors/fields.hpp"

#include <optional>

namespace zelqor::visitors {

namespace {

struct SetVal {
    Ref obj;
    bool owned = false;  // a plain set built here and seen by no one else
};

using CollectFn = bool (*)(PyObject *self, PyObject *node, SetVal &out);

bool collect_child(PyObject *self, PyObject *child, SetVal &out) {
    Route route;
    Ref value;
    if (!visit_child(as_visitor(self), child, route, value)) return false;
    if (route.impl != nullptr) {
        std::optional<RecursionGuard> guard;
        if (needs_guard(route) && !guard.emplace(" while collecting free variables").ok()) return false;
        if (route.impl->family == kFamilyCollect) {
            return reinterpret_cast<CollectFn>(route.impl->fast)(self, child, out);
        }
        value = Ref::steal(route.impl->value(self, child));
        if (!value) return false;
    }
    out.obj = std::move(value);
    out.owned = false;
    return true;
}

bool new_set(SetVal &out) {
    out.obj = Ref::steal(PySet_New(nullptr));
    out.owned = true;
    return bool(out.obj);
}

// The result check of the operations that may pass on a caller's value.
bool checked(SetVal &out) { return check_exact_result(out.obj.get(), &PySet_Type, "set"); }

// target.update(values), `target` being an owned set.
bool update(SetVal &target, SetVal &values) {
    if (values.owned && PySet_GET_SIZE(values.obj.get()) > PySet_GET_SIZE(target.obj.get())) {
        std::swap(target.obj, values.obj);  // same elements either way; merge the smaller one
    }
    if (PyAnySet_Check(values.obj.get())) {
        Ref merged = Ref::steal(PyNumber_InPlaceOr(target.obj.get(), values.obj.get()));
        return bool(merged);
    }
    Ref done = Ref::steal(PyObject_CallMethodOneArg(target.obj.get(), g.str_update, values.obj.get()));
    return bool(done);
}

// l | r
bool join(SetVal &l, SetVal &r, SetVal &out) {
    if (l.owned && (r.owned || PyAnySet_Check(r.obj.get()))) {
        if (!update(l, r)) return false;
        out.obj = std::move(l.obj);
        out.owned = true;
        return true;
    }
    out.obj = Ref::steal(PyNumber_Or(l.obj.get(), r.obj.get()));
    out.owned = false;
    return bool(out.obj);
}

extern const OpImpl ops[kOpCount];

// target.update(visit(arg)) for an argument of an application, `target` being
// an owned set. A term that our own operations handle adds its variables
// straight into `target`: updating with a set built from the same updates
// gives the same set.
bool collect_arg_into(PyObject *self, PyObject *arg, PyObject *target) {
    Route route;
    Ref value;
    if (!visit_child(as_visitor(self), arg, route, value)) return false;
    if (route.impl == &ops[kVariable]) return PySet_Add(target, arg) == 0;
    std::optional<RecursionGuard> guard;
    if (needs_guard(route) && !guard.emplace(" while collecting free variables").ok()) return false;
    if (route.impl == &ops[kConstant]) return true;
    if (route.impl == &ops[kFunctionApp]) {
        Ref args = app_args(arg, kFunctionApp);
        return args && for_each_arg(args.get(), [&](PyObject *a) { return collect_arg_into(self, a, target); });
    }
    SetVal child, into;
    if (route.impl != nullptr) {
        if (route.impl->family == kFamilyCollect) {
            if (!reinterpret_cast<CollectFn>(route.impl->fast)(self, arg, child)) return false;
        } else if (!(child.obj = Ref::steal(route.impl->value(self, arg)))) {
            return false;
        }
    } else {
        child.obj = std::move(value);
    }
    into.obj = Ref::borrow(target);
    child.owned = false;  // never swapped in for `target`
    return update(into, child);
}

bool collect_variable(PyObject *, PyObject *node, SetVal &out) {
    return new_set(out) && PySet_Add(out.obj.get(), node) == 0;
}

bool collect_constant(PyObject *, PyObject *, SetVal &out) { return new_set(out); }

template <int K>
bool collect_app(PyObject *self, PyObject *node, SetVal &out) {
    Ref args = app_args(node, K);
    if (!args || !new_set(out)) return false;
    return for_each_arg(args.get(), [&](PyObject *arg) { return collect_arg_into(self, arg, out.obj.get()); });
}

template <int K>
bool collect_pair(PyObject *self, PyObject *node, SetVal &out) {
    Ref left = node_field(node, K, first_slot(K), first_name(K));
    SetVal l, r;
    if (!left || !collect_child(self, left.get(), l)) return false;
    Ref right = node_field(node, K, second_slot(K), second_name(K));
    if (!right || !collect_child(self, right.get(), r)) return false;
    return join(l, r, out) && checked(out);
}

// Not and the second-order quantifiers: the child's set itself.
template <int K>
bool collect_single(PyObject *self, PyObject *node, SetVal &out) {
    Ref child = K == kNot ? node_field(node, K, ast::slot::operand, g.str_operand)
                          : Ref::steal(PyObject_GetAttr(node, g.str_body));
    return child && collect_child(self, child.get(), out) && checked(out);
}

// body - {variable}
template <int K>
bool collect_quantifier(PyObject *self, PyObject *node, SetVal &out) {
    Ref body = node_field(node, K, ast::slot::body, g.str_body);
    if (!body || !collect_child(self, body.get(), out)) return false;
    Ref variable = node_field(node, K, ast::slot::variable, g.str_variable);
    if (!variable) return false;
    if (out.owned) {
        if (PySet_Discard(out.obj.get(), variable.get()) < 0) return false;
    } else {
        Ref removed = Ref::steal(PySet_New(nullptr));
        if (!removed || PySet_Add(removed.get(), variable.get()) < 0) return false;
        out.obj = Ref::steal(PyNumber_Subtract(out.obj.get(), removed.get()));
        if (!out.obj) return false;
    }
    return checked(out);
}

template <CollectFn Fn>
PyObject *as_value(PyObject *self, PyObject *node) {
    SetVal out;
    if (!Fn(self, node, out)) return nullptr;
    return out.obj.release();
}

#define ZQ_C(name, fn) ZQ_OP(name, as_value<fn>, kFamilyCollect, fn, "FreeVariableCollector." name)

const OpImpl ops[kOpCount] = {
    ZQ_C("visit_variable", collect_variable),
    ZQ_C("visit_constant", collect_constant),
    ZQ_C("visit_function_app", collect_app<kFunctionApp>),
    ZQ_C("visit_predicate_app", collect_app<kPredicateApp>),
    ZQ_C("visit_equality", collect_pair<kEquality>),
    ZQ_C("visit_not", collect_single<kNot>),
    ZQ_C("visit_and", collect_pair<kAnd>),
    ZQ_C("visit_or", collect_pair<kOr>),
    ZQ_C("visit_implies", collect_pair<kImplies>),
    ZQ_C("visit_iff", collect_pair<kIff>),
    ZQ_C("visit_forall", collect_quantifier<kForall>),
    ZQ_C("visit_exists", collect_quantifier<kExists>),
    ZQ_C("visit_forall_pred", collect_single<kForallPred>),
    ZQ_C("visit_exists_pred", collect_single<kExistsPred>),
    ZQ_C("visit_forall_func", collect_single<kForallFunc>),
    ZQ_C("visit_exists_func", collect_single<kExistsFunc>),
};

}  // namespace

const ClassParts kCollectorFamily = {ops, kOpCount, nullptr, nullptr};

}  // namespace zelqor::visitors
