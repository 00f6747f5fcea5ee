"""Sort-checked, capture-avoiding substitution."""

import pytest

from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Not, PredicateApp, Variable, VariableKind,
)
from zelqor.core.exceptions import SortError
from zelqor.core.sorts import Nat
from zelqor.core.substitutions import substitute_formula, substitute_term
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

x, y, z = Variable(1), Variable(2), Variable(3)
a, b = Constant("a"), Constant("b")


def P(*args):
    return PredicateApp("P", len(args), args)


def f(*args):
    return FunctionApp("f", len(args), args)


def test_terms_are_replaced_simultaneously():
    assert substitute_term(f(x, y), {x: y, y: x}) == f(y, x)
    assert substitute_term(x, {x: f(x)}) == f(x)


def test_unchanged_subtrees_are_shared():
    left, right = P(x), P(y)
    formula = And(left, Not(right))
    out = substitute_formula(formula, {x: a})
    assert out == And(P(a), Not(right)) and out.right is formula.right
    assert substitute_formula(formula, {z: a}) is formula
    assert substitute_formula(formula, {}) is formula


def test_only_free_occurrences_are_replaced():
    formula = And(Forall(x, P(x)), P(x))
    assert substitute_formula(formula, {x: a}) == And(Forall(x, P(x)), P(a))


def test_capture_is_avoided_by_renaming():
    formula = Forall(y, P(x, y))
    out = substitute_formula(formula, {x: f(y)})
    fresh = out.variable
    assert fresh not in (x, y) and fresh.sort == y.sort and fresh.kind == y.kind
    assert out.body == P(f(y), fresh)


def test_renaming_avoids_ids_bound_inside():
    formula = Forall(y, And(P(x, y), Exists(Variable(9), P(Variable(9)))))
    out = substitute_formula(formula, {x: y})
    assert out.variable.id > 9 and out.body.left == P(y, out.variable)


def test_no_renaming_when_the_captured_key_does_not_occur():
    formula = Forall(y, P(y))
    assert substitute_formula(formula, {x: f(y)}) is formula


def test_equality_and_second_order_bodies():
    assert substitute_formula(Equality(x, y), {y: b}) == Equality(x, b)
    X = PredicateVariable("X", 1)
    out = substitute_formula(ForallPred(X, P(x)), {x: a})
    assert type(out) is ForallPred and out.variable is X and out.body == P(a)


def test_sorts_are_checked():
    with pytest.raises(SortError):
        substitute_formula(P(x), {x: Constant("n", sort=Nat)})
    nat_var = Variable(1, sort=Nat, kind=VariableKind.INDIVIDUAL)
    assert substitute_formula(P(nat_var), {nat_var: Constant("n", sort=Nat)}) == P(Constant("n", sort=Nat))


def test_bad_arguments():
    with pytest.raises(TypeError, match="expected dict, got list"):
        substitute_formula(P(x), [(x, a)])
    with pytest.raises(TypeError, match="keys must be Variable"):
        substitute_formula(P(x), {a: b})
    with pytest.raises(TypeError, match="values must be terms"):
        substitute_formula(P(x), {x: P(a)})
