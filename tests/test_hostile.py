"""Callers that misbehave: their exception reaches the caller, and nothing is left half-built."""

import gc

import pytest

import zelqor.constructive.kripke as kripke
import zelqor.prover.clausifier as clausifier
from zelqor.core.ast import And, Constant, Exists, Forall, Not, PredicateApp, Variable
from zelqor.core.sorts import Sort
from zelqor.core.visitors import FreeVariableCollector, SizeVisitor


class Boom(Exception):
    pass


class HostileSort(Sort):
    """A sort whose comparisons and hash fail on demand."""

    __slots__ = ()
    armed = False

    def __new__(cls):
        return object.__new__(cls)

    def __hash__(self):
        if HostileSort.armed:
            raise Boom("hash")
        return 1

    def __eq__(self, other):
        if HostileSort.armed:
            raise Boom("eq")
        return self is other


@pytest.fixture
def armed():
    HostileSort.armed = True
    yield
    HostileSort.armed = False


def test_failing_hash_of_a_sort(armed):
    x = Variable(0, sort=HostileSort())  # construction does not hash
    with pytest.raises(Boom):
        hash(x)
    with pytest.raises(Boom):
        PredicateApp("P", 1, (x,))  # hashing the arguments fails
    with pytest.raises(Boom):
        Not(x)  # a compound node hashes its children when it is built
    gc.collect()


def test_failing_equality_of_a_sort():
    s1, s2 = HostileSort(), HostileSort()
    a, b = Constant("c", sort=s1), Constant("c", sort=s2)
    p, q = PredicateApp("P", 1, (a,)), PredicateApp("P", 1, (b,))
    HostileSort.armed = True
    try:
        with pytest.raises(Boom):
            And(p, p) == And(q, q)  # noqa: B015
    finally:
        HostileSort.armed = False


def test_symbol_that_fails_to_hash():
    class Symbol:
        index, arity = 0, 1

        def __hash__(self):
            raise Boom("symbol")

    with pytest.raises(Boom):
        PredicateApp(Symbol(), 0, ())


def test_visitor_override_returning_a_wrong_type():
    class Broken(FreeVariableCollector):
        def visit_predicate_app(self, node):
            return 42

    with pytest.raises(TypeError, match="Expected set, got int"):
        Broken().visit(Not(PredicateApp("P", 0, ())))

    class Sized(SizeVisitor):
        def visit_predicate_app(self, node):
            return "one"

    with pytest.raises(TypeError):
        Sized().visit(Not(PredicateApp("P", 0, ())))


def test_replaced_substitution_that_raises(monkeypatch):
    def refuse(formula, mapping):
        raise Boom("substitution")

    monkeypatch.setattr(clausifier, "substitute_formula", refuse)
    x = Variable(0)
    with pytest.raises(Boom):
        clausifier.to_cnf(Forall(x, Exists(Variable(1), PredicateApp("P", 2, (x, Variable(1))))))


def test_replaced_outside_predicates_of_the_kripke_module(monkeypatch):
    def refuse(formula):
        raise Boom("predicate")

    model = kripke.KripkeModel()
    w = kripke.World(0, "w0")
    p = PredicateApp("p", 0, ())
    model.add_valuation(w, p)
    monkeypatch.setattr(kripke, "_is_atomic", refuse)
    with pytest.raises(Boom):
        model.evaluate(p, w)
    monkeypatch.setattr(kripke, "to_string", refuse)
    with pytest.raises(Boom):
        model.to_dict()
    assert model.worlds == [w] and model.valuations == {w: {p}}  # the model is untouched
