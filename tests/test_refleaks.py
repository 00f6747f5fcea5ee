"""Every public operation, error paths included, run many times: allocated blocks must not grow."""

import copy
import gc
import pickle
import sys

import pytest

from zelqor.core import ast
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.substitutions import substitute_formula, substitute_term
from zelqor.core.sorts import Nat
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

x, y = Variable(0), Variable(1)
c = Constant("c")
fx = FunctionApp("f", 1, (x,))
p, q = PredicateApp("P", 2, (x, fx)), PredicateApp("Q", 1, (y,))
tree = Forall(x, Iff(Implies(p, Or(q, Not(p))), Exists(y, And(Equality(x, c), q))))
second_order = ForallPred(PredicateVariable("X", 1), tree)


def expect(error, fn, *args, **kwargs):
    try:
        fn(*args, **kwargs)
    except error:
        return
    raise AssertionError(f"{fn} did not raise {error}")


class Unhashable:
    __hash__ = None


def ast_operations():
    # Construction, valid and invalid
    Variable(5, sort=Nat)
    FunctionApp("g", 2, (x, fx), Nat)
    PredicateApp("P", 2, (x, fx))
    Equality(fx, c)
    And(p, Not(q))
    expect(Exception, Variable, -1)
    expect(Exception, Constant, "")
    expect(Exception, FunctionApp, "", 0, ())
    expect(Exception, FunctionApp, 42, 0, ())
    expect(Exception, PredicateApp, "P", -1, ())
    expect(Exception, PredicateApp, "P", 2, (x,))
    expect(Exception, PredicateApp, "P", 1, [x])
    expect(Exception, PredicateApp, "P", 1, (42,))
    expect(Exception, And, Unhashable(), p)
    expect(TypeError, Variable)
    expect(TypeError, Not, p, bogus=1)
    # Protocols
    hash(tree), tree == copy.deepcopy(tree), tree != second_order, repr(tree), str(c)
    pickle.loads(pickle.dumps(tree))
    expect(AttributeError, setattr, tree, "body", p)
    # Queries
    ast.free_variables(tree), ast.bound_variables(tree), ast.formula_depth(tree), ast.formula_size(tree)
    ast.free_variables(second_order), ast.canonicalize_bound_variables(second_order)
    expect(Exception, ast.free_variables, 42)
    expect(Exception, ast.formula_depth, x)
    expect(Exception, ast.formula_size, Forall(Not(p), p))
    expect(Exception, ast.canonicalize_bound_variables, x)
    # Substitution
    substitute_formula(tree, {y: fx})
    substitute_formula(Forall(y, p), {x: FunctionApp("h", 1, (y,))})
    substitute_term(fx, {x: c})
    expect(Exception, substitute_formula, p, {x: Constant("n", sort=Nat)})
    expect(TypeError, substitute_formula, p, [])


OPERATIONS = [ast_operations]


@pytest.mark.parametrize("operation", OPERATIONS, ids=lambda f: f.__name__)
def test_no_growth(operation):
    """A leak grows the heap in every batch; caches and allocator noise settle down."""

    def blocks():
        gc.collect()
        return sys.getallocatedblocks()

    for _ in range(300):
        operation()
    growth = []
    for _ in range(4):
        before = blocks()
        for _ in range(200):
            operation()
        growth.append(blocks() - before)
    assert min(growth) < 10, f"blocks left behind per batch of 200 rounds: {growth}"
