"""Implication elimination and negation normal form."""

import re

import pytest

from zelqor.core.ast import And, Equality, Exists, Forall, Iff, Implies, Not, Or, PredicateApp, Variable
from zelqor.prover.clausifier import eliminate_implications, to_nnf
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

x = Variable(0)
A, B, C = (PredicateApp(n, 0, ()) for n in "ABC")
second_order = ForallPred(PredicateVariable("X", 0), A)


def value_error(message):
    return pytest.raises(ValueError, match="^" + re.escape(message) + "$")


class TestEliminateImplications:
    def test_atoms_shared_connectives_rebuilt(self):
        assert eliminate_implications(A) is A
        neg = Not(A)
        out = eliminate_implications(neg)
        assert out == neg and out is not neg and out.operand is A

    def test_rewrites(self):
        assert eliminate_implications(Implies(A, B)) == Or(Not(A), B)
        iff = eliminate_implications(Iff(A, Implies(B, C)))
        b = Or(Not(B), C)
        assert iff == And(Or(Not(A), b), Or(Not(b), A))
        assert iff.left.right is iff.right.left.operand  # converted operands are shared
        q = eliminate_implications(Forall(x, Exists(x, Implies(A, B))))
        assert q == Forall(x, Exists(x, Or(Not(A), B))) and q.variable is x and q.body.variable is x

    def test_unsupported(self):
        with value_error("Unsupported formula node: <class 'zelqor.sol.ast_ext.ForallPred'>"):
            eliminate_implications(And(A, Not(second_order)))
        with value_error("Unsupported formula node: <class 'zelqor.core.ast.Variable'>"):
            eliminate_implications(x)


class TestToNnf:
    @pytest.mark.parametrize("formula, expected", [
        (Not(Implies(A, B)), And(A, Not(B))),
        (Implies(A, B), Or(Not(A), B)),
        (Not(Iff(A, B)), Or(And(A, Not(B)), And(B, Not(A)))),
        (Not(And(A, Or(B, Not(C)))), Or(Not(A), And(Not(B), C))),
        (Not(Forall(x, Exists(x, A))), Exists(x, Forall(x, Not(A)))),
    ])
    def test_shapes(self, formula, expected):
        assert to_nnf(formula) == expected

    def test_identity_of_kept_nodes(self):
        inner = Not(A)
        assert to_nnf(Not(Not(inner))) is inner
        ne = Not(Equality(x, x))
        assert to_nnf(ne) is ne and to_nnf(A) is A
        assert to_nnf(Not(Forall(x, A))).variable is x

    def test_unsupported(self):
        with value_error("Unsupported negated formula operand: <class 'zelqor.sol.ast_ext.ForallPred'>"):
            to_nnf(Not(second_order))
        with value_error("Unsupported negated formula operand: <class 'zelqor.sol.ast_ext.ForallPred'>"):
            to_nnf(Not(And(A, second_order)))
        with value_error("Unsupported formula node: <class 'zelqor.sol.ast_ext.ForallPred'>"):
            to_nnf(Or(second_order, Not(x)))
        with value_error("Unsupported negated formula operand: <class 'zelqor.core.ast.Variable'>"):
            to_nnf(Not(x))

    def test_errors_of_the_negation_built_on_the_way_come_first(self):
        # Hashable while And is built, not when the negation of it is built.
        odd = _HashOnce()
        formula = Not(And(A, odd))
        with pytest.raises(TypeError, match="hashed once"):
            to_nnf(formula)


class _HashOnce:
    hashed = False

    def __hash__(self):
        if self.hashed:
            raise TypeError("hashed once")
        self.hashed = True
        return 1
