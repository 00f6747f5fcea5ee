// Implication elimination and negation normal form.
//
// Natively, a negation that to_nnf pushes inward is never built as a node
// unless it ends up in the result (over an atom), or the operand is foreign
// and building it is what reports the error.
#include "common/guard.hpp"
#include "zelqor/prover/clausifier/steps.hpp"

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

PyObject *nnf_of_negation(const Ctx &c, PyObject *negation, PyObject *op);

// to_nnf(Not(x)), as bound.
PyObject *nnf_of_not(const Ctx &c, PyObject *x) {
    if (c.pure) return nnf_of_negation(c, nullptr, x);
    Ref negation = Ref::steal(c.make(Kind::Not, {x}));
    return negation ? bound_step<kToNnf>(c, negation.get()) : nullptr;
}

// Both operands of a binary node through `walk`, left first, into kind `k`.
template <PyObject *(*Walk)(const Ctx &, PyObject *)>
PyObject *binary(const Ctx &c, PyObject *f, Kind k) {
    Ref left = c.get(f, slot::left, g.str_left);
    if (!left) return nullptr;
    Ref a = Ref::steal(Walk(c, left.get()));
    if (!a) return nullptr;
    Ref right = c.get(f, slot::right, g.str_right);
    if (!right) return nullptr;
    Ref b = Ref::steal(Walk(c, right.get()));
    if (!b) return nullptr;
    return c.make(k, {a.get(), b.get()});
}

// A quantifier of kind `k` over the same variable, with its body through `walk`.
template <PyObject *(*Walk)(const Ctx &, PyObject *)>
PyObject *quantifier(const Ctx &c, PyObject *f, Kind k) {
    Ref variable = c.get(f, slot::variable, g.str_variable);
    if (!variable) return nullptr;
    Ref body = c.get(f, slot::body, g.str_body);
    if (!body) return nullptr;
    Ref new_body = Ref::steal(Walk(c, body.get()));
    if (!new_body) return nullptr;
    return c.make(k, {variable.get(), new_body.get()});
}

// The operands of `op` each negated and normalised, joined by `join`.
PyObject *de_morgan(const Ctx &c, PyObject *op, Kind join) {
    Ref left = c.get(op, slot::left, g.str_left);
    if (!left) return nullptr;
    Ref a = Ref::steal(nnf_of_not(c, left.get()));
    if (!a) return nullptr;
    Ref right = c.get(op, slot::right, g.str_right);
    if (!right) return nullptr;
    Ref b = Ref::steal(nnf_of_not(c, right.get()));
    if (!b) return nullptr;
    return c.make(join, {a.get(), b.get()});
}

// to_nnf(negation) where `negation` is Not(op); null `negation`: not built yet.
PyObject *nnf_of_negation(const Ctx &c, PyObject *negation, PyObject *op) {
    RecursionGuard guard(" while converting to negation normal form");
    if (!guard.ok()) return nullptr;
    Kind k;
    if (!c.classify(op, k, {Kind::Not, Kind::And, Kind::Or, Kind::Forall, Kind::Exists, Kind::Implies, Kind::Iff,
                            Kind::PredicateApp, Kind::Equality})) {
        return nullptr;
    }
    switch (k) {
    case Kind::Not: {
        Ref inner = c.get(op, slot::operand, g.str_operand);
        return inner ? bound_step<kToNnf>(c, inner.get()) : nullptr;
    }
    case Kind::And: return de_morgan(c, op, Kind::Or);
    case Kind::Or: return de_morgan(c, op, Kind::And);
    case Kind::Forall:
    case Kind::Exists: {
        Ref variable = c.get(op, slot::variable, g.str_variable);
        if (!variable) return nullptr;
        Ref body = c.get(op, slot::body, g.str_body);
        if (!body) return nullptr;
        Ref new_body = Ref::steal(nnf_of_not(c, body.get()));
        if (!new_body) return nullptr;
        Kind dual = k == Kind::Forall ? Kind::Exists : Kind::Forall;
        return c.make(dual, {variable.get(), new_body.get()});
    }
    case Kind::Implies:
    case Kind::Iff: {
        Ref expanded = Ref::steal(bound_step<kEliminate>(c, op));
        return expanded ? nnf_of_not(c, expanded.get()) : nullptr;
    }
    case Kind::PredicateApp:
    case Kind::Equality:
        return negation != nullptr ? new_ref(negation) : c.make(Kind::Not, {op});
    default: {
        // The negation the caller would have built first: its own errors win.
        Ref built = negation != nullptr ? Ref::borrow(negation) : Ref::steal(c.make(Kind::Not, {op}));
        if (!built) return nullptr;
        return raise_value_error("Unsupported negated formula operand: ", op);
    }
    }
}

}  // namespace

PyObject *eliminate_implications(const Ctx &c, PyObject *f) {
    RecursionGuard guard(" while eliminating implications");
    if (!guard.ok()) return nullptr;
    Kind k;
    if (!c.classify(f, k, {Kind::PredicateApp, Kind::Equality, Kind::Not, Kind::Implies, Kind::Iff, Kind::And,
                           Kind::Or, Kind::Forall, Kind::Exists})) {
        return nullptr;
    }
    switch (k) {
    case Kind::PredicateApp:
    case Kind::Equality: return new_ref(f);
    case Kind::Not: {
        Ref operand = c.get(f, slot::operand, g.str_operand);
        if (!operand) return nullptr;
        Ref a = Ref::steal(bound_step<kEliminate>(c, operand.get()));
        return a ? c.make(Kind::Not, {a.get()}) : nullptr;
    }
    case Kind::Implies:
    case Kind::Iff: {
        Ref left = c.get(f, slot::left, g.str_left);
        if (!left) return nullptr;
        Ref a = Ref::steal(bound_step<kEliminate>(c, left.get()));
        if (!a) return nullptr;
        Ref right = c.get(f, slot::right, g.str_right);
        if (!right) return nullptr;
        Ref b = Ref::steal(bound_step<kEliminate>(c, right.get()));
        if (!b) return nullptr;
        Ref not_a = Ref::steal(c.make(Kind::Not, {a.get()}));
        if (!not_a) return nullptr;
        Ref imp1 = Ref::steal(c.make(Kind::Or, {not_a.get(), b.get()}));
        if (!imp1 || k == Kind::Implies) return imp1.release();
        Ref not_b = Ref::steal(c.make(Kind::Not, {b.get()}));
        if (!not_b) return nullptr;
        Ref imp2 = Ref::steal(c.make(Kind::Or, {not_b.get(), a.get()}));
        if (!imp2) return nullptr;
        return c.make(Kind::And, {imp1.get(), imp2.get()});
    }
    case Kind::And:
    case Kind::Or: return binary<bound_step<kEliminate>>(c, f, k);
    case Kind::Forall:
    case Kind::Exists: return quantifier<bound_step<kEliminate>>(c, f, k);
    default: return raise_value_error("Unsupported formula node: ", f);
    }
}

PyObject *to_nnf(const Ctx &c, PyObject *f) {
    RecursionGuard guard(" while converting to negation normal form");
    if (!guard.ok()) return nullptr;
    Kind k;
    if (!c.classify(f, k, {Kind::PredicateApp, Kind::Equality, Kind::Not, Kind::And, Kind::Or, Kind::Forall,
                           Kind::Exists, Kind::Implies, Kind::Iff})) {
        return nullptr;
    }
    switch (k) {
    case Kind::PredicateApp:
    case Kind::Equality: return new_ref(f);
    case Kind::Not: {
        Ref operand = c.get(f, slot::operand, g.str_operand);
        return operand ? nnf_of_negation(c, f, operand.get()) : nullptr;
    }
    case Kind::And:
    case Kind::Or: return binary<bound_step<kToNnf>>(c, f, k);
    case Kind::Forall:
    case Kind::Exists: return quantifier<bound_step<kToNnf>>(c, f, k);
    case Kind::Implies:
    case Kind::Iff: {
        Ref expanded = Ref::steal(bound_step<kEliminate>(c, f));
        return expanded ? bound_step<kToNnf>(c, expanded.get()) : nullptr;
    }
    default: return raise_value_error("Unsupported formula node: ", f);
    }
}

}  // namespace zelqor::clausifier
