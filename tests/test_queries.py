"""free_variables, bound_variables, formula_depth and formula_size."""

import re

import pytest

from zelqor.core.ast import (
    And, Equality, Forall, FunctionApp, Not, PredicateApp, Variable,
    bound_variables, formula_depth, formula_size, free_variables,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.core.sorts import Nat
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

X_TYPE = "<class 'zelqor.core.ast.Variable'>"


def invalid(message):
    return pytest.raises(InvalidFormulaError, match="^" + re.escape(message) + "$")


def test_free_and_bound(x, y):
    f = Forall(x, PredicateApp("P", 2, (x, y)))
    assert free_variables(f) == {y} and bound_variables(f) == {x}
    both = And(Forall(x, PredicateApp("P", 1, (x,))), PredicateApp("Q", 1, (x,)))
    assert free_variables(both) == {x} and bound_variables(both) == {x}


def test_removal_is_by_equality_only(x):
    other_sort = Variable(x.id, sort=Nat)
    assert free_variables(Forall(x, PredicateApp("P", 1, (other_sort,)))) == {other_sort}


def test_results_are_fresh_sets(x, y, c):
    term = FunctionApp("f", 2, (x, FunctionApp("g", 1, (y,))))
    result = free_variables(term)
    assert result == {x, y} and type(result) is set
    result.clear()
    assert term._free_vars == frozenset({x, y})
    assert free_variables(c) == set() and bound_variables(term) == set()


def test_depth(x, y, p, q):
    assert formula_depth(PredicateApp("P", 1, (FunctionApp("f", 1, (FunctionApp("g", 1, (x,)),)),))) == 1
    assert formula_depth(Not(p)) == 2
    assert formula_depth(And(p, Not(q))) == 3
    assert formula_depth(Forall(x, Forall(y, PredicateApp("P", 2, (x, y))))) == 3


def test_size(x, y, c, p):
    assert formula_size(PredicateApp("P", 0, ())) == 1
    assert formula_size(PredicateApp("P", 2, (FunctionApp("f", 1, (x,)), c))) == 4
    assert formula_size(Equality(x, y)) == 3
    assert formula_size(Forall(x, p)) == 4


def test_second_order_quantifier(x, p):
    node = ForallPred(PredicateVariable("X", 1), Forall(x, And(p, p)))
    assert free_variables(node) == set() and bound_variables(node) == {x}
    assert formula_depth(node) == 4
    assert formula_size(ForallPred(PredicateVariable("X", 1), p)) == 3


def test_unsupported_nodes(x, p):
    with invalid(f"Expected Formula, got {X_TYPE}"):
        formula_depth(x)
    with invalid(f"Expected Formula, got {X_TYPE}"):
        formula_size(x)
    with invalid("Unsupported AST node type: <class 'int'>"):
        free_variables(42)
    with invalid("Unsupported AST node type: <class 'int'>"):
        bound_variables(And(p, 42))
    with invalid("Expected Term, got <class 'zelqor.core.ast.Not'>"):
        formula_size(Forall(Not(p), p))


def test_first_unsupported_node_decides(p):
    with invalid("Unsupported AST node type: <class 'str'>"):
        free_variables(And(Not("a"), 42))


def test_objects_carrying_a_cache_answer_from_it(x):
    class Carrier:
        _free_vars = frozenset({x})

    assert free_variables(Carrier()) == {x}


def test_subclasses_are_accepted(x, p):
    class MyAnd(And):
        pass

    assert formula_depth(MyAnd(p, Not(p))) == 3 and free_variables(MyAnd(p, p)) == {x}


def test_keyword_call(p):
    assert formula_depth(formula=p) == 1 and free_variables(node=p) == p._free_vars
