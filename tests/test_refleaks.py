"""Every public operation, error paths included, run many times: allocated blocks must not grow."""

import copy
import pickle


from zelqor.core import ast
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.substitutions import substitute_formula, substitute_term
from zelqor.core.sorts import Nat
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

from leakcheck import assert_steady, expect

x, y = Variable(0), Variable(1)
c = Constant("c")
fx = FunctionApp("f", 1, (x,))
p, q = PredicateApp("P", 2, (x, fx)), PredicateApp("Q", 1, (y,))
tree = Forall(x, Iff(Implies(p, Or(q, Not(p))), Exists(y, And(Equality(x, c), q))))
second_order = ForallPred(PredicateVariable("X", 1), tree)




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


def test_ast_operations_leak_nothing():
    assert_steady("test_refleaks", "ast_operations")
