// Implication elimination and negation normal form.
//
// Natively, a negation that to_nnf pushes inward is never built as a node
// unless it ends up in the result (over an atom), or the operand is foreign
// and building it is what reports the error.
#include "common/guard.hpp"
#include "zelqor/prover/clausifier/rebuild.hpp"
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

// to_nnf(negation) where `negation` is Not(op); null `negation`: not built yet.
PyObject *nnf_of_negation(const Ctx &c, PyObject *negation, PyObject *op) {
    RecursionGuard guard(" while converting to negation normal form");
    if (!guard.ok()) return nullptr;
    Kind k;
    if (!c.classify(op, k, {Kind::Not, Kind::And, Kind::Or, Kind::Forall, Kind::Exists, Kind::Implies, Kind::Iff,
                            Kind::PredicateApp, Kind::Equality})) {
        return nullptr;
    }
    // De Morgan's laws and the quantifier duals: each operand negated and normalised.
    auto negated = [&c](PyObject *operand) { return nnf_of_not(c, operand); };
    switch (k) {
    case Kind::Not: {
        Ref inner = c.get(op, slot::operand, g.str_operand);
        return inner ? bound_step<kToNnf>(c, inner.get()) : nullptr;
    }
    case Kind::And: return rebuild_binary(c, op, Kind::Or, negated);
    case Kind::Or: return rebuild_binary(c, op, Kind::And, negated);
    case Kind::Forall: return rebuild_quantifier(c, op, Kind::Exists, negated);
    case Kind::Exists: return rebuild_quantifier(c, op, Kind::Forall, negated);
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
    auto eliminate = [&c](PyObject *operand) { return bound_step<kEliminate>(c, operand); };
    switch (k) {
    case Kind::PredicateApp:
    case Kind::Equality: return new_ref(f);
    case Kind::Not: return rebuild_not(c, f, eliminate);
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
    case Kind::Or: return rebuild_binary(c, f, k, eliminate);
    case Kind::Forall:
    case Kind::Exists: return rebuild_quantifier(c, f, k, eliminate);
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
    auto normalise = [&c](PyObject *operand) { return bound_step<kToNnf>(c, operand); };
    switch (k) {
    case Kind::PredicateApp:
    case Kind::Equality: return new_ref(f);
    case Kind::Not: {
        Ref operand = c.get(f, slot::operand, g.str_operand);
        return operand ? nnf_of_negation(c, f, operand.get()) : nullptr;
    }
    case Kind::And:
    case Kind::Or: return rebuild_binary(c, f, k, normalise);
    case Kind::Forall:
    case Kind::Exists: return rebuild_quantifier(c, f, k, normalise);
    case Kind::Implies:
    case Kind::Iff: {
        Ref expanded = Ref::steal(bound_step<kEliminate>(c, f));
        return expanded ? bound_step<kToNnf>(c, expanded.get()) : nullptr;
    }
    default: return raise_value_error("Unsupported formula node: ", f);
    }
}

}  // namespace zelqor::clausifier
