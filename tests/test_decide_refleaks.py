"""The search and its certificates, error paths included, run many times: allocated blocks must not grow."""

from zelqor.constructive._search import search
from zelqor.constructive.decide import SearchLimitReached, decide
from zelqor.core.ast import Constant, Forall, Iff, Implies, Not, Or, PredicateApp, Variable
from zelqor.core.exceptions import InvalidFormulaError

from leakcheck import assert_steady, expect
from propositional import p, pigeonhole, q, random_clauses

grid = pigeonhole(3, name=lambda i, h: "x" if (i, h) in ((1, 3), (3, 1)) else f"o{i}{h}")
hard = random_clauses(40, 200, seed=3)
formulas = [Or(p, Not(p)), Not(Not(Or(p, Not(p)))), Iff(Not(Not(Not(p))), Not(p)), pigeonhole(3), grid,
            Implies(Implies(Implies(p, q), p), p)]


def search_operations():
    for f in formulas:
        search(f)
    search(hard, budget=50)
    expect(InvalidFormulaError, search, Forall(Variable(0), p))
    expect(InvalidFormulaError, search, PredicateApp("P", 1, (Constant("a"),)))
    expect(TypeError, search, p, budget="x")
    expect(ValueError, search, p, budget=-2)
    expect(TypeError, search)


def decide_operations():
    for f in formulas[:2]:
        str(decide(f))
    expect(SearchLimitReached, decide, hard, budget=50)


def test_search_leaks_nothing():
    assert_steady("test_decide_refleaks", "search_operations")


def test_decide_leaks_nothing():
    assert_steady("test_decide_refleaks", "decide_operations")
