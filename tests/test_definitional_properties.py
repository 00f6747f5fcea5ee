"""Definitional clause form on random formulas: satisfiability, models, and the plain pipeline."""

import itertools

from hypothesis import given, settings
from hypothesis import strategies as st

import zelqor.prover.clausifier as cz
import zelqor.prover.definitional as zd
from zelqor.core.ast import (
    And, Equality, Exists, Forall, Iff, Implies, Not, Or, PredicateApp, Variable, free_variables,
)
from zelqor.prover.clausifier import reset_skolem_counters

from sat import agrees_on_atoms, evaluate_finite, one_point, one_point_atom
from strategies import atoms, variables, SubAnd

settings.register_profile("default", max_examples=150, deadline=None)
settings.load_profile("default")

NAMES = "ABCDEF"


def _connectives(inner):
    """The connectives, and the shapes that multiply clauses: disjunctions of conjunctions, equivalences."""
    return st.one_of(
        st.builds(Not, inner),
        st.builds(lambda cls, a, b: cls(a, b), st.sampled_from([And, Or, Implies, Iff, SubAnd]), inner, inner),
        st.builds(lambda a, b, c, d: Or(And(a, b), SubAnd(c, d)), inner, inner, inner, inner),
        st.builds(lambda a, b, c, d: Iff(Or(a, b), Implies(c, d)), inner, inner, inner, inner),
    )


propositional = st.recursive(st.sampled_from([PredicateApp(name, 0, ()) for name in NAMES]), _connectives,
                             max_leaves=24)


def _first_order(max_leaves):
    return st.recursive(
        atoms,
        lambda inner: st.one_of(
            _connectives(inner),
            st.builds(lambda cls, v, b: cls(v, b), st.sampled_from([Forall, Exists]), variables, inner),
        ),
        max_leaves=max_leaves,
    )


first_order = _first_order(16)

thresholds = st.sampled_from([1, 2, 3, 4, 8, 16])


@given(propositional, thresholds, st.booleans())
def test_clauses_agree_with_the_formula_on_its_atoms(f, threshold, negate):
    clausify = zd.negate_and_clausify if negate else zd.to_cnf
    assert agrees_on_atoms(Not(f) if negate else f, clausify(f, threshold=threshold))


class Recorder:
    """A signature that records every registration, in order."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        return lambda *args: self.calls.append((name, *args))


@given(_first_order(10))
def test_without_naming_the_clauses_are_the_pipelines(f):
    theirs, ours = Recorder(), Recorder()
    reset_skolem_counters()
    expected = cz.to_cnf(f, theirs)
    reset_skolem_counters()
    assert zd.to_cnf(f, ours, threshold=None) == expected
    assert ours.calls == theirs.calls


@given(first_order, thresholds, st.booleans())
def test_one_point_models_agree(f, threshold, miniscope):
    """Over a one-element domain Skolem terms and definitions change nothing: the clauses must agree
    with the formula there on every valuation of its predicate symbols."""
    clauses = zd.to_cnf(f, threshold=threshold, miniscope=miniscope)
    assert agrees_on_atoms(one_point(f), clauses, one_point_atom)


# Function-free formulas over three variables, for checking mini-scoping on a two-element domain.
x, y, z = Variable(1), Variable(2), Variable(3)
small_atoms = st.one_of(
    st.builds(lambda v: PredicateApp("P", 1, (v,)), st.sampled_from([x, y, z])),
    st.builds(lambda v, w: PredicateApp("Q", 2, (v, w)), st.sampled_from([x, y, z]), st.sampled_from([x, y, z])),
    st.just(PredicateApp("R", 0, ())),
    st.builds(Equality, st.sampled_from([x, y]), st.sampled_from([y, z])),
)
function_free = st.recursive(
    small_atoms,
    lambda inner: st.one_of(
        st.builds(Not, inner),
        st.builds(lambda cls, a, b: cls(a, b), st.sampled_from([And, Or, Implies, Iff]), inner, inner),
        st.builds(lambda cls, v, b: cls(v, b), st.sampled_from([Forall, Exists]), st.sampled_from([x, y, z]),
                  inner),
    ),
    max_leaves=8,
)


def _interpretations():
    domain = (0, 1)
    pairs = list(itertools.product(domain, repeat=2))
    for p, q, r in itertools.product(range(4), range(16), range(2)):
        yield {("P", 1): {(d,) for d in domain if p >> d & 1}, ("Q", 2): {t for i, t in enumerate(pairs) if q >> i & 1},
               ("R", 0): {()} if r else set()}


INTERPRETATIONS = list(_interpretations())


@settings(max_examples=60)
@given(function_free)
def test_miniscoping_keeps_the_meaning(f):
    scoped = zd._miniscope(f)
    free = sorted(free_variables(f), key=lambda v: v.id)
    for interpretation in INTERPRETATIONS:
        for values in itertools.product((0, 1), repeat=len(free)):
            env = dict(zip(free, values))
            assert evaluate_finite(scoped, (0, 1), interpretation, env) == evaluate_finite(
                f, (0, 1), interpretation, env)
