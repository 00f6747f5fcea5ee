#include "zelqor/prover/definitional/clause_walk.hpp"

#include "common/guard.hpp"
#include "zelqor/prover/definitional/clause_set.hpp"
#include "zelqor/prover/skolem.hpp"
#include "zelqor/prover/walk_scope.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

bool ClauseWalk::run(int32_t root, Cnf &out) {
    if (!walk(root, true, out)) return false;
    // Writing a definition may meet further named subformulas: the queue grows.
    for (size_t q = 0; q < queue_.size(); ++q) {
        Cnf part;
        if (!definition_clauses(queue_[q].first, queue_[q].second, part)) return false;
        prover::append(out, std::move(part));
    }
    return true;
}

bool ClauseWalk::walk(int32_t index, bool positive, Cnf &out, bool expand_name) {
    const Subformula &item = items_[static_cast<size_t>(index)];
    if (item.named && !expand_name) {
        Ref atom;
        return definition_for(index, positive, atom) >= 0 && literal(atom.get(), positive, out);
    }
    if (item.shape == Shape::Atom) return atom(item.node, positive, out);
    RecursionGuard guard(" while clausifying");
    if (!guard.ok()) return false;
    switch (item.shape) {
    case Shape::Not: return walk(item.left, !positive, out);
    case Shape::And: return positive ? both(item, true, true, false, out) : both(item, false, false, true, out);
    case Shape::Or: return positive ? both(item, true, true, true, out) : both(item, false, false, false, out);
    case Shape::Implies:
        // ¬a ∨ b, or a ∧ ¬b under a negation.
        return positive ? both(item, false, true, true, out) : both(item, true, false, false, out);
    case Shape::Iff: return equivalence(item, positive, out);
    case Shape::Forall:
    case Shape::Exists: return quantifier(item, positive, (item.shape == Shape::Forall) == positive, out);
    case Shape::Atom: break;
    }
    return true;
}

namespace {

// The clauses of a subformula that always holds (none) or never does (the
// empty clause).
Cnf constant(bool holds) {
    Cnf out;
    if (!holds) out.ends.push_back(0);
    return out;
}

}  // namespace

// Operands left then right with the given polarities, joined as a
// disjunction (product) or a conjunction (concatenation).
bool ClauseWalk::both(const Subformula &item, bool left_positive, bool right_positive, bool disjunction, Cnf &out) {
    int same = same_operands(item);
    if (same < 0) return false;
    if (same) {
        // A ∧ A and A ∨ A are A; A ⟹ A holds and its negation fails.
        if (left_positive == right_positive) return walk(item.left, left_positive, out);
        out = constant(disjunction);
        return true;
    }
    Cnf a, b;
    if (!walk(item.left, left_positive, a) || !walk(item.right, right_positive, b)) return false;
    out = prover::join(std::move(a), std::move(b), disjunction);
    return true;
}

// Where an equivalence fails, (a ∧ ¬b) ∨ (b ∧ ¬a) distributes into four
// products of which two, a ∨ ¬a and ¬b ∨ b, always hold: the equivalent
// (a ∨ b) ∧ (¬a ∨ ¬b) leaves them out.
bool ClauseWalk::equivalence(const Subformula &item, bool positive, Cnf &out) {
    int same = same_operands(item);
    if (same < 0) return false;
    if (same) {
        out = constant(positive);  // A ⟺ A holds
        return true;
    }
    if (!positive && !exact_) {
        Cnf a, b, not_a, not_b;
        if (!walk(item.left, true, a) || !walk(item.right, true, b) || !walk(item.left, false, not_a) ||
            !walk(item.right, false, not_b)) {
            return false;
        }
        out = prover::product(a, b);
        prover::append(out, prover::product(not_a, not_b));
        return true;
    }
    Cnf parts[4];
    if (!walk(item.left, !positive, parts[0]) || !walk(item.right, positive, parts[1]) ||
        !walk(item.right, !positive, parts[2]) || !walk(item.left, positive, parts[3])) {
        return false;
    }
    out = prover::equivalence(positive, parts);
    return true;
}

// Whether the walk may read the operands of `item` as one subformula: 1,
// 0, -1 with an exception set. The distributing pipeline does not.
int ClauseWalk::same_operands(const Subformula &item) { return exact_ ? 0 : alpha_equal_(item.left, item.right); }

// Every quantifier gets a fresh id, as standardization gives it; a universal
// one stands for its fresh variable, an existential one for a Skolem term.
bool ClauseWalk::quantifier(const Subformula &item, bool positive, bool universal, Cnf &out) {
    PyObject *var = ast::field(item.node, slot::variable);
    Ref id = Ref::steal(ids_.next());
    if (!id) return false;
    return scope_.quantified(
        g.api, var, id.get(), universal, universals_, [this](PyObject *sort) { return skolem_term(sort); },
        [&] { return walk(item.left, positive, out); });
}

Ref ClauseWalk::skolem_term(PyObject *sort) {
    return prover::skolem_term(g.api, sort, universals_, signature_,
                               {g.str_register_constant, g.str_register_function}, [](prover::SkolemSymbol symbol) {
                                   return draw_clausifier_counter(
                                       symbol == prover::SkolemSymbol::kConstant ? kConstantCounter : kFunctionCounter);
                               });
}

// The atom with the current images of its variables, as a one-literal clause.
bool ClauseWalk::atom(PyObject *atom, bool positive, Cnf &out) {
    Ref image = Ref::steal(scope_.apply(g.subst_api, atom));
    return image && literal(image.get(), positive, out);
}

bool ClauseWalk::literal(PyObject *atom, bool positive, Cnf &out) {
    PyObject *args[2] = {atom, positive ? Py_True : Py_False};
    PyObject *made = PyObject_Vectorcall(g.literal_type, args, 2, nullptr);
    if (made == nullptr) return false;
    literals_.add_unit(made, out);
    return true;
}

PyObject *ClauseWalk::clauses(const Cnf &cnf) {
    ClauseSet set;
    for (size_t i = 0; i < cnf.size(); ++i) {
        ClauseLiterals literals;
        for (size_t k = cnf.begin_of(i); k < cnf.ends[i]; ++k) literals.push_back(Ref::borrow(literals_[cnf.pool[k]]));
        if (!set.add(std::move(literals), exact_)) return nullptr;
    }
    return set.finish(exact_);
}

}  // namespace zelqor::definitional
