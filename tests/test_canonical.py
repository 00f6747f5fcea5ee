"""canonicalize_bound_variables: pre-order numbering that skips free ids."""

import re

import pytest

from zelqor.core.ast import (
    And, Constant, Exists, Forall, FunctionApp, Not, Or, PredicateApp, Variable, VariableKind,
    canonicalize_bound_variables as canon,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.core.sorts import Nat
from zelqor.sol.ast_ext import ExistsPred, PredicateVariable


def v(i, **kw):
    return Variable(i, **kw)


def P(*args):
    return PredicateApp("P", len(args), args)


def Q(*args):
    return PredicateApp("Q", len(args), args)


def test_alpha_equivalent_formulas_become_equal():
    a, b = canon(Forall(v(5), P(v(5)))), canon(Forall(v(9), P(v(9))))
    assert a == b == Forall(v(0), P(v(0))) and hash(a) == hash(b)


def test_free_ids_are_skipped():
    assert canon(Forall(v(7), P(v(7), v(0)))) == Forall(v(1), P(v(1), v(0)))
    nested = Forall(v(10), Forall(v(11), Exists(v(12), P(v(10), v(11), v(12), v(0), v(1), v(3)))))
    assert canon(nested) == Forall(v(2), Forall(v(4), Exists(v(5), P(v(2), v(4), v(5), v(0), v(1), v(3)))))


def test_free_ids_are_reserved_whatever_their_sort():
    assert canon(Forall(v(0), P(v(0), v(0, sort=Nat)))) == Forall(v(1), P(v(1), v(0, sort=Nat)))


def test_numbering_is_preorder_and_scoped():
    assert canon(And(Forall(v(3), P(v(3))), Exists(v(3), Q(v(3))))) == \
        And(Forall(v(0), P(v(0))), Exists(v(1), Q(v(1))))
    assert canon(Forall(v(3), Forall(v(3), P(v(3))))) == Forall(v(0), Forall(v(1), P(v(1))))
    f = Forall(v(3), And(P(FunctionApp("f", 1, (v(3),))), Forall(v(4), Q(v(3), v(4)))))
    assert canon(f) == Forall(v(0), And(P(FunctionApp("f", 1, (v(0),))), Forall(v(1), Q(v(0), v(1)))))


def test_canonical_variable_keeps_sort_and_kind():
    x = v(4, sort=Nat, kind=VariableKind.FUNCTION)
    result = canon(Exists(x, P(x)))
    assert result.variable == v(0, sort=Nat, kind=VariableKind.FUNCTION)


def test_every_compound_node_is_rebuilt():
    f = Or(Not(P(v(1))), P(Constant("c")))
    out = canon(f)
    assert out == f and out is not f and out.left is not f.left
    assert out.right.args[0] is f.right.args[0]


def test_second_order_quantifier_keeps_its_variable():
    X = PredicateVariable("X", 1)
    out = canon(ExistsPred(X, Forall(v(7), P(v(7)))))
    assert type(out) is ExistsPred and out.variable is X and out.body == Forall(v(0), P(v(0)))


def test_subclasses_are_rebuilt_as_the_tested_class():
    class MyAnd(And):
        pass

    assert type(canon(MyAnd(P(v(0)), P(v(1))))) is And


def test_unsupported_inputs():
    with pytest.raises(InvalidFormulaError,
                       match=re.escape("Unsupported Formula node: <class 'zelqor.core.ast.Variable'>")):
        canon(v(0))
    with pytest.raises(InvalidFormulaError, match=re.escape("Unsupported AST node type: <class 'int'>")):
        canon(42)
