// Distribution of disjunction over conjunction, clause extraction and the
// whole pipeline.
//
// Natively, distribution builds each disjunction of two conjunctive normal
// forms once: the documented procedure distributes the rebuilt conjunction
// again, which walks parts already in normal form and only rebuilds them
// equal; the resulting tree is the same.
#include "common/compat.hpp"
#include "common/guard.hpp"
#include "zelqor/prover/clausifier/clause.hpp"
#include "zelqor/prover/clausifier/clause_form.hpp"
#include "zelqor/prover/clausifier/literal.hpp"
#include "zelqor/prover/clausifier/steps.hpp"

#include <vector>

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

bool is_own_and(PyObject *f) { return PyObject_TypeCheck(f, g.api->type(Kind::And)); }

// distribute_cnf(Or(left, right)) for `left` and `right` already distributed.
PyObject *combine(PyObject *left, PyObject *right) {
    RecursionGuard guard(" while distributing disjunctions");
    if (!guard.ok()) return nullptr;
    PyObject *split = is_own_and(left) ? left : is_own_and(right) ? right : nullptr;
    if (split == nullptr) {
        PyObject *fields[2] = {left, right};
        return g.api->make(Kind::Or, fields);
    }
    PyObject *parts[2] = {ast::field(split, slot::left), ast::field(split, slot::right)};
    Ref halves[2];
    for (int i = 0; i < 2; ++i) {
        halves[i] = Ref::steal(split == left ? combine(parts[i], right) : combine(left, parts[i]));
        if (!halves[i]) return nullptr;
    }
    PyObject *fields[2] = {halves[0].get(), halves[1].get()};
    return g.api->make(Kind::And, fields);
}

// The documented step for a disjunction, through the module's bindings.
PyObject *distribute_or(const Ctx &c, PyObject *left, PyObject *right) {
    PyObject *operands[2] = {left, right};
    for (int side = 0; side < 2; ++side) {
        Kind k;
        if (!c.classify(operands[side], k, {Kind::And})) return nullptr;
        if (k != Kind::And) continue;
        PyObject *split = operands[side];
        Ref a = c.get(split, slot::left, g.str_left);
        Ref b = a ? c.get(split, slot::right, g.str_right) : Ref();
        if (!b) return nullptr;
        Ref first = Ref::steal(side == 0 ? c.make(Kind::Or, {a.get(), right}) : c.make(Kind::Or, {left, a.get()}));
        if (!first) return nullptr;
        Ref second = Ref::steal(side == 0 ? c.make(Kind::Or, {b.get(), right}) : c.make(Kind::Or, {left, b.get()}));
        if (!second) return nullptr;
        Ref conjunction = Ref::steal(c.make(Kind::And, {first.get(), second.get()}));
        return conjunction ? bound_step<kDistribute>(c, conjunction.get()) : nullptr;
    }
    return c.make(Kind::Or, {left, right});
}

class ClauseReader {
public:
    explicit ClauseReader(const Ctx &c) : c_(c), check_atoms_(assertions_enabled()) {}

    bool collect_and(PyObject *f) {
        RecursionGuard guard(" while reading clauses");
        if (!guard.ok()) return false;
        Kind k;
        if (!c_.classify(f, k, {Kind::And})) return false;
        if (k != Kind::And) {
            conjunctions.push_back(Ref::borrow(f));
            return true;
        }
        Ref left = c_.get(f, slot::left, g.str_left);
        if (!left || !collect_and(left.get())) return false;
        Ref right = c_.get(f, slot::right, g.str_right);
        return right && collect_and(right.get());
    }

    // The clause of one conjunct (new reference).
    PyObject *clause_of(PyObject *conjunct) {
        lits_ = Ref::steal(c_.pure ? PyFrozenSet_New(nullptr) : PySet_New(nullptr));
        if (!lits_ || !collect_or(conjunct)) return nullptr;
        Ref literals = std::move(lits_);
        if (c_.pure) return new_clause(g.clause_type, literals.get());
        Ref frozen = Ref::steal(PyFrozenSet_New(literals.get()));
        if (!frozen) return nullptr;
        if (!c_.clause) return g.globals.raise_unbound(kClause);
        return PyObject_CallOneArg(c_.clause.get(), frozen.get());
    }

    std::vector<Ref> conjunctions;

private:
    bool collect_or(PyObject *f) {
        RecursionGuard guard(" while reading clauses");
        if (!guard.ok()) return false;
        Kind k;
        if (!c_.classify(f, k, {Kind::Or, Kind::Not, Kind::PredicateApp, Kind::Equality})) return false;
        switch (k) {
        case Kind::Or: {
            Ref left = c_.get(f, slot::left, g.str_left);
            if (!left || !collect_or(left.get())) return false;
            Ref right = c_.get(f, slot::right, g.str_right);
            return right && collect_or(right.get());
        }
        case Kind::Not: {
            Ref operand = c_.get(f, slot::operand, g.str_operand);
            if (!operand) return false;
            if (check_atoms_) {
                Kind atom;
                if (!c_.classify(operand.get(), atom, {Kind::PredicateApp, Kind::Equality})) return false;
                if (atom == kNoKind) {
                    PyErr_SetNone(PyExc_AssertionError);
                    return false;
                }
            }
            return add(operand.get(), Py_False);
        }
        case Kind::PredicateApp:
        case Kind::Equality: return add(f, Py_True);
        default: raise_value_error("Unexpected formula inside clause: ", f); return false;
        }
    }

    bool add(PyObject *atom, PyObject *positive) {
        Ref literal;
        if (c_.pure) {
            literal = Ref::steal(new_literal(g.literal_type, atom, positive));
        } else if (!c_.literal) {
            g.globals.raise_unbound(kLiteral);
        } else {
            PyObject *args[2] = {atom, positive};
            literal = Ref::steal(PyObject_Vectorcall(c_.literal.get(), args, 0, g.kw_literal));
        }
        return literal && PySet_Add(lits_.get(), literal.get()) == 0;
    }

    const Ctx &c_;
    bool check_atoms_;
    Ref lits_;
};

}  // namespace

PyObject *distribute_cnf(const Ctx &c, PyObject *f) {
    RecursionGuard guard(" while distributing disjunctions");
    if (!guard.ok()) return nullptr;
    Kind k;
    if (!c.classify(f, k, {Kind::PredicateApp, Kind::Equality, Kind::Not, Kind::And, Kind::Or})) return nullptr;
    switch (k) {
    case Kind::PredicateApp:
    case Kind::Equality:
    case Kind::Not: return new_ref(f);
    case Kind::And:
    case Kind::Or: {
        Ref left = c.get(f, slot::left, g.str_left);
        Ref a = left ? Ref::steal(bound_step<kDistribute>(c, left.get())) : Ref();
        if (!a) return nullptr;
        Ref right = c.get(f, slot::right, g.str_right);
        Ref b = right ? Ref::steal(bound_step<kDistribute>(c, right.get())) : Ref();
        if (!b) return nullptr;
        if (k == Kind::And) return c.make(Kind::And, {a.get(), b.get()});
        return c.pure ? combine(a.get(), b.get()) : distribute_or(c, a.get(), b.get());
    }
    default: return raise_value_error("Unsupported formula in CNF distribution: ", f);
    }
}

PyObject *formula_to_clauses(const Ctx &c, PyObject *formula) {
    ClauseReader reader(c);
    if (!reader.collect_and(formula)) return nullptr;
    Ref clauses = Ref::steal(PyList_New(0));
    if (!clauses) return nullptr;
    for (const Ref &conjunct : reader.conjunctions) {
        Ref clause = Ref::steal(reader.clause_of(conjunct.get()));
        if (!clause) return nullptr;
        int tautology;
        if (c.pure) {
            tautology = reinterpret_cast<ClauseObject *>(clause.get())->is_tautology;
        } else {
            Ref flag = Ref::steal(PyObject_GetAttr(clause.get(), g.str_is_tautology));
            tautology = flag ? PyObject_IsTrue(flag.get()) : -1;
        }
        if (tautology < 0) return nullptr;
        if (!tautology && PyList_Append(clauses.get(), clause.get()) < 0) return nullptr;
    }
    return clauses.release();
}

PyObject *to_cnf(const Ctx &c, PyObject *formula, PyObject *signature) {
    if (signature == nullptr) signature = Py_None;
    bool taken = false;
    PyObject *clauses = clause_form(c, formula, signature, taken);
    if (taken) return clauses;
    Ref f = Ref::steal(c.call_own(kEliminate, formula));
    if (f) f = Ref::steal(c.call_own(kToNnf, f.get()));
    if (f) f = Ref::steal(c.call_own(kStandardize, f.get()));
    if (f) f = Ref::steal(c.call_own(kSkolemize, f.get(), signature));
    if (f) f = Ref::steal(c.call_own(kDropUniversals, f.get()));
    if (f) f = Ref::steal(c.call_own(kDistribute, f.get()));
    return f ? c.call_own(kToClauses, f.get()) : nullptr;
}

}  // namespace zelqor::clausifier
