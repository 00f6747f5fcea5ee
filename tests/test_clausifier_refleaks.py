"""Every clausifier operation, error paths included, run many times: allocated blocks must not grow."""

import pickle

import zelqor.core.ast as ast
import zelqor.prover.clausifier as cz
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.signature import Signature
from zelqor.core.sorts import Nat
from zelqor.prover.clausifier import Clause, Literal
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

from leakcheck import assert_steady, expect

x, y = Variable(0), Variable(1)
fx = FunctionApp("f", 1, (x,))
p, q = PredicateApp("P", 2, (x, fx)), PredicateApp("Q", 1, (y,))
tree = Forall(x, Iff(Implies(p, Or(q, Not(p))), Exists(y, And(Equality(x, Constant("c")), q))))
bad = Or(q, ForallPred(PredicateVariable("X", 0), q))


class Refusing:
    def register_constant(self, *args):
        raise RuntimeError("no")

    register_function = register_constant




def operations():
    lit = Literal(p, False)
    clause = Clause(frozenset({lit, Literal(q), lit.negate()}))
    str(clause), repr(clause), hash(clause), clause.free_variables(), lit.free_variables()
    clause.substitute({x: Constant("k")}), pickle.loads(pickle.dumps(clause))
    expect(Exception, lit.substitute, {x: Constant("n", sort=Nat)})
    expect(TypeError, clause.substitute, None)
    expect(Exception, setattr, lit, "atom", q)
    for step in (cz.eliminate_implications, cz.to_nnf, cz.standardize_variables, cz.to_cnf):
        step(tree)
        expect(ValueError, step, bad)
    f = cz.to_nnf(tree)
    g = cz.drop_universals(cz.skolemize(cz.standardize_variables(f), Signature()))
    cz.formula_to_clauses(cz.distribute_cnf(g))
    cz.to_cnf(tree, Refusing()), cz.negate_and_clausify(tree, Signature())
    expect(ValueError, cz.skolemize, Implies(p, q))
    expect(ValueError, cz.formula_to_clauses, Or(p, And(p, q)))
    expect(AssertionError, cz.formula_to_clauses, Not(Not(p)))
    expect(TypeError, cz.to_cnf, tree, None, None)
    cz.reset_skolem_counters()


def literal_path():
    """The same operations with a module attribute replaced: every step by its name."""
    saved = cz.free_variables
    cz.free_variables = ast.free_variables.__call__
    try:
        operations()
    finally:
        cz.free_variables = saved


def test_operations_leak_nothing():
    assert_steady("test_clausifier_refleaks", "operations")


def test_literal_path_leak_nothing():
    assert_steady("test_clausifier_refleaks", "literal_path")
