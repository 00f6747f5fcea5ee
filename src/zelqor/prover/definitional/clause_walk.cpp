#include "zelqor/prover/definitional/clause_walk.hpp"

#include "common/guard.hpp"
#include "zelqor/prover/definitional/clause_set.hpp"
#include "zelqor/prover/skolem.hpp"
#include "zelqor/prover/walk_scope.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

bool ClauseWalk::run(int32_t root, Cnf &out) {
    if (!walk(root, true, out)) return false;
    // Walking a definition may name further subformulas: the list grows.
    for (size_t d = 0; d < definitions_.size(); ++d) {
        uint8_t polarity = items_[static_cast<size_t>(definitions_[d].subformula)].polarity;
        for (uint8_t direction : {kPositive, kNegative}) {
            if ((polarity & direction) == 0) continue;
            Cnf part;
            if (!definition_clauses(static_cast<int>(d), direction == kPositive, part)) return false;
            prover::append(out, std::move(part));
        }
    }
    return true;
}

bool ClauseWalk::walk(int32_t index, bool positive, Cnf &out, bool expand_name) {
    const Subformula &item = items_[static_cast<size_t>(index)];
    if (item.named && !expand_name) {
        int definition = definition_for(index);
        if (definition < 0) return false;
        PyObject *atom = definitions_[static_cast<size_t>(definition)].atom.get();
        return this->atom(atom, positive, out);
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
    Ref image = universal ? Ref::steal(prover::fresh_variable(g.api, var, id.get()))
                          : skolem_term(ast::field(var, slot::sort));
    Ref previous;
    if (!image || !scope_.bind(var, image.get(), previous)) return false;
    if (universal) universals_.push_back(Ref::borrow(image.get()));
    bool ok = walk(item.left, positive, out);
    if (universal) universals_.pop_back();
    return scope_.unbind(var, previous) && ok;
}

Ref ClauseWalk::skolem_term(PyObject *sort) {
    static const prover::SkolemNames names{g.str_constant_counter, g.str_function_counter, g.str_register_constant,
                                           g.str_register_function};
    return prover::skolem_term(g.api, sort, universals_, signature_, names, draw_clausifier_counter);
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

// The definition of a named subformula, made when its name is first met:
// a fresh predicate over the subformula's free variables, registered in the
// signature with their sorts.
int ClauseWalk::definition_for(int32_t index) {
    int &known = definition_of_[static_cast<size_t>(index)];
    if (known >= 0) return known;
    PyObject *free = free_variables_.of(index);
    if (free == nullptr) return -1;
    Ref variables = Ref::steal(PyList_GetSlice(free, 0, PyList_GET_SIZE(free)));
    Ref name = Ref::steal(names_.next());
    if (!variables || !name) return -1;
    Py_ssize_t arity = PyList_GET_SIZE(variables.get());
    Ref args = Ref::steal(PyList_AsTuple(variables.get()));
    Ref arg_sorts = Ref::steal(PyTuple_New(arity));
    Ref arity_value = Ref::steal(PyLong_FromSsize_t(arity));
    if (!args || !arg_sorts || !arity_value) return -1;
    for (Py_ssize_t i = 0; i < arity; ++i) {
        PyTuple_SET_ITEM(arg_sorts.get(), i, new_ref(ast::field(PyTuple_GET_ITEM(args.get(), i), slot::sort)));
    }
    PyObject *fields[3] = {name.get(), arity_value.get(), args.get()};
    Ref atom = Ref::steal(g.api->make(Kind::PredicateApp, fields));
    if (!atom) return -1;
    if (signature_ != Py_None &&
        !prover::register_symbol(signature_, g.str_register_predicate, {name.get(), arity_value.get(), arg_sorts.get()})) {
        return -1;
    }
    definitions_.push_back(Definition{index, std::move(atom), std::move(variables)});
    known = static_cast<int>(definitions_.size() - 1);
    return known;
}

// ∀x̄ (¬d(x̄) ∨ φ) for the positive direction, ∀x̄ (d(x̄) ∨ ¬φ) for the
// negative one: the free variables become fresh universal variables.
bool ClauseWalk::definition_clauses(int definition, bool positive, Cnf &out) {
    int32_t index = definitions_[static_cast<size_t>(definition)].subformula;
    Ref atom = Ref::borrow(definitions_[static_cast<size_t>(definition)].atom.get());
    Ref variables = Ref::borrow(definitions_[static_cast<size_t>(definition)].variables.get());
    Py_ssize_t count = PyList_GET_SIZE(variables.get());
    std::vector<Ref> previous(static_cast<size_t>(count));
    Py_ssize_t bound = 0;
    bool ok = true;
    for (; ok && bound < count; ++bound) {
        PyObject *var = PyList_GET_ITEM(variables.get(), bound);
        Ref id = Ref::steal(ids_.next());
        Ref fresh = id ? Ref::steal(prover::fresh_variable(g.api, var, id.get())) : Ref();
        ok = fresh && scope_.bind(var, fresh.get(), previous[static_cast<size_t>(bound)]);
        if (!ok) break;
        universals_.push_back(std::move(fresh));
    }
    Cnf head, body;
    ok = ok && this->atom(atom.get(), !positive, head) && walk(index, positive, body, true);
    if (ok) out = prover::product(head, body);
    for (Py_ssize_t i = bound; i-- > 0;) {
        universals_.pop_back();
        ok = scope_.unbind(PyList_GET_ITEM(variables.get(), i), previous[static_cast<size_t>(i)]) && ok;
    }
    return ok;
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
