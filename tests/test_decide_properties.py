"""decide on random formulas, against truth tables, Glivenko's theorem and
a brute-force search through small Kripke models. Every answer is verified
(decide checks its certificate before returning it)."""

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from zelqor.constructive.decide import _forcing_worlds, decide
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import Implies, Not

from propositional import atom, classically_valid, formulas, small_countermodel

SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@SETTINGS
@given(formulas())
def test_what_is_valid_is_a_classical_tautology(formula):
    if decide(formula).valid:
        assert classically_valid(formula)


@SETTINGS
@given(formulas(max_leaves=7))
def test_double_negation_is_valid_exactly_for_classical_tautologies(formula):
    # Glivenko's theorem: ¬¬A is intuitionistically valid iff A is classically valid.
    assert decide(Not(Not(formula))).valid == classically_valid(formula)


@SETTINGS
@given(formulas("pq", max_leaves=6))
def test_agrees_with_the_small_kripke_models(formula):
    result = decide(formula)
    small = small_countermodel(formula, max_worlds=3)
    if small is not None:
        assert not result.valid
    if not result.valid and len(result.model.worlds) <= 3:
        assert small is not None


@SETTINGS
@given(formulas(max_leaves=6), formulas(max_leaves=6))
def test_modus_ponens_and_weakening_are_respected(a, b):
    if decide(a).valid and decide(Implies(a, b)).valid:
        assert decide(b).valid
    if decide(b).valid:
        assert decide(Implies(a, b)).valid


@SETTINGS
@given(formulas(), st.lists(st.tuples(st.integers(0, 3), st.integers(0, 3)), max_size=6),
       st.lists(st.tuples(st.integers(0, 3), st.sampled_from("pqr")), max_size=6))
def test_the_deep_formula_fallback_forces_as_evaluate_does(formula, edges, marks):
    # verify() works forcing out by itself when a formula is too deep for evaluate.
    worlds = [World(i, f"w{i}") for i in range(4)]
    model = KripkeModel()
    for w in worlds:
        model.add_world(w)
    for a, b in edges:
        model.add_relation(worlds[a], worlds[b])
    for w, name in marks:
        model.add_valuation(worlds[w], atom(name))
    forcing = _forcing_worlds(model, formula)
    assert forcing == {w for w in worlds if model.evaluate(formula, w)}
