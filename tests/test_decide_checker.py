"""The derivation checker: it accepts what its rules allow and nothing more."""

from dataclasses import replace

import pytest

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.constructive.decide import Derivation, Sequent, Step, decide
from zelqor.constructive.proof_check import ProofCheckError, check_derivation
from zelqor.core.ast import And, Iff, Implies, Not, Or

from propositional import atom, p, q, r, s


def derivation(*steps):
    return Derivation([Step(Sequent(tuple(h), g), rule, tuple(prem), principal, renaming)
                       for h, g, rule, prem, principal, renaming in steps])


def rejects(proof, formula=None, step=None, reason=""):
    with pytest.raises(ProofCheckError) as caught:
        check_derivation(proof, formula)
    assert caught.value.step == step and reason in str(caught.value)


def test_formulas_are_read_modulo_bracketing_order_and_repeats():
    # p ∧ (q ∧ p) and (q ∧ p) ∧ q ... are one formula: an axiom closes them.
    proof = derivation(([And(p, And(q, p))], And(And(q, p), q), "axiom", [], None, None))
    check_derivation(proof)
    # Negation is implication into falsum, an equivalence two implications.
    check_derivation(derivation(([Implies(p, FALSUM)], Not(p), "axiom", [], None, None)))
    check_derivation(derivation(([And(Implies(q, p), Implies(p, q))], Iff(p, q), "axiom", [], None, None)))


def test_the_root_must_be_the_formula_without_hypotheses():
    proof = derivation(([p], p, "axiom", [], p, None), ([], Implies(p, p), "implies_right", [0], None, None))
    check_derivation(proof, Implies(p, p))
    rejects(proof, Implies(q, q), step=1, reason="does not derive the formula")
    rejects(derivation(([p], p, "axiom", [], p, None)), p, step=0)


def test_premises_must_be_earlier_steps():
    proof = derivation(([], Implies(p, p), "implies_right", [1], None, None), ([p], p, "axiom", [], p, None))
    rejects(proof, step=0, reason="not an earlier step")
    rejects(derivation(([p], p, "axiom", [0], p, None)), step=0, reason="not an earlier step")


def test_unknown_rules_and_non_formulas_are_refused():
    rejects(derivation(([p], p, "magic", [], None, None)), step=0, reason="unknown rule")
    rejects(derivation(([p, 3], p, "axiom", [], None, None)), step=0, reason="not a propositional formula")


def test_left_rules_need_their_principal_formula_among_the_hypotheses():
    closed = ([q, Implies(q, r)], r, "implies_left", [0], Implies(q, r), None)
    premise = ([q, r], r, "axiom", [], r, None)
    check_derivation(derivation(premise, closed))
    # Without the antecedent there is no modus ponens.
    rejects(derivation(([r], r, "axiom", [], r, None), ([Implies(q, r)], r, "implies_left", [0], Implies(q, r), None)),
            step=1, reason="antecedent")
    # The principal formula must be a hypothesis.
    rejects(derivation(premise, ([q], r, "implies_left", [0], Implies(q, r), None)), step=1, reason="not a hypothesis")


def test_weakening_only_drops_hypotheses():
    check_derivation(derivation(([p], p, "axiom", [], p, None), ([p, q], p, "weaken", [0], None, None)))
    rejects(derivation(([p, q], p, "axiom", [], p, None), ([p], p, "weaken", [0], None, None)), step=1)


def test_or_right_takes_a_disjunct_or_some_of_them():
    base = ([p], p, "axiom", [], p, None)
    check_derivation(derivation(base, ([p], Or(q, p), "or_right", [0], Or(q, p), None)))
    sub = ([p], Or(p, q), "or_right", [0], Or(p, q), None)
    check_derivation(derivation(base, sub, ([p], Or(r, Or(q, p)), "or_right", [1], None, None)))
    rejects(derivation(base, sub, ([p], Or(r, p), "or_right", [1], None, None)), step=2, reason="neither")


def test_and_and_or_rules_need_every_part():
    and_right = derivation(([p, q], p, "axiom", [], p, None), ([p, q], And(p, q), "and_right", [0], None, None))
    rejects(and_right, step=1, reason="each conjunct")
    or_left = derivation(([p], Or(p, q), "or_right", [], None, None))
    rejects(or_left, step=0)
    case = derivation(([p], p, "axiom", [], p, None), ([q], p, "axiom", [], None, None))
    rejects(case, step=1, reason="goal is not a hypothesis")


def test_implication_rules_on_compound_antecedents():
    curried = Implies(p, Implies(q, r))
    steps = [
        ([p, q, r], r, "axiom", [], r, None),
        ([p, q, Implies(q, r)], r, "implies_left", [0], Implies(q, r), None),
        ([p, q, curried], r, "implies_left", [1], curried, None),
        ([p, q, Implies(And(p, q), r)], r, "implies_left_and", [2], Implies(And(p, q), r), None),
    ]
    check_derivation(derivation(*steps))
    # (p ∨ s) → r splits into p → r and s → r, not into p → r and q → r.
    split = [([p, r, Implies(q, r)], r, "axiom", [], r, None),
             ([p, Implies(p, r), Implies(q, r)], r, "implies_left", [0], Implies(p, r), None)]
    rejects(derivation(*split, ([p, Implies(Or(p, s), r)], r, "implies_left_or", [1], Implies(Or(p, s), r), None)),
            step=2, reason="does not split the disjunction")


def test_implies_left_implies_needs_both_premises_exactly():
    # ((p → q) → r), q ⊢ r: the left premise derives p → q from q → r, q.
    h = Implies(Implies(p, q), r)
    good = [
        ([Implies(q, r), q, p], q, "axiom", [], q, None),
        ([Implies(q, r), q], Implies(p, q), "implies_right", [0], None, None),
        ([r, q], r, "axiom", [], r, None),
        ([h, q], r, "implies_left_implies", [1, 2], h, None),
    ]
    check_derivation(derivation(*good))
    swapped = good[:3] + [([h, q], r, "implies_left_implies", [2, 1], h, None)]
    rejects(derivation(*swapped), step=3, reason="two sequents")


def test_renaming_must_give_the_sequent_exactly():
    a, b = atom("a"), atom("b")
    base = ([a], a, "axiom", [], a, None)
    check_derivation(derivation(base, ([b], b, "rename", [0], None, {a: b})))
    # Merging two atoms is a substitution too.
    two = ([a, b], And(a, b), "and_right", [], None, None)
    proof = derivation(([a, b], a, "axiom", [], a, None), ([a, b], b, "axiom", [], b, None),
                       replace_premises(two, [0, 1]), ([a], And(a, a), "rename", [2], None, {b: a}))
    check_derivation(proof)
    rejects(derivation(base, ([b], a, "rename", [0], None, {a: b})), step=1, reason="renamed premise")
    rejects(derivation(base, ([b], b, "rename", [0], None, {Not(a): b})), step=1, reason="other than atoms")
    rejects(derivation(base, ([b], b, "rename", [0], None, None)), step=1, reason="no renaming")


def replace_premises(step, premises):
    h, g, rule, _, principal, renaming = step
    return h, g, rule, premises, principal, renaming


def test_tampering_with_a_real_derivation_is_caught():
    formula = Implies(Implies(Implies(p, q), r), Implies(Or(q, Not(p)), Not(Not(r))))
    proof = decide(formula).proof
    check_derivation(proof, formula)
    for index, step in enumerate(proof.steps):
        if step.sequent.hypotheses:
            dropped = replace(step, sequent=Sequent(step.sequent.hypotheses[1:], step.sequent.goal))
            steps = list(proof.steps)
            steps[index] = dropped
            with pytest.raises(ProofCheckError):
                check_derivation(Derivation(steps), formula)
        retargeted = replace(step, sequent=Sequent(step.sequent.hypotheses, VERUM if step.sequent.goal != VERUM else p))
        steps = list(proof.steps)
        steps[index] = retargeted
        with pytest.raises(ProofCheckError):
            check_derivation(Derivation(steps), formula)
