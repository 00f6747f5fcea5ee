import pytest

from zelqor.core.ast import (
    And,
    Constant,
    Equality,
    Exists,
    Forall,
    FunctionApp,
    Iff,
    Implies,
    Not,
    Or,
    PredicateApp,
    Variable,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.core.parser import to_string
from zelqor.sol.ast_ext import ExistsFunc, ExistsPred, ForallFunc, ForallPred, FunctionVariable, PredicateVariable

x1, x2 = Variable(1), Variable(2)
c = Constant("c")
P = PredicateApp("P", 1, (x1,))
Q = PredicateApp("Q", 0, ())
X = PredicateVariable("X", 1)
F = FunctionVariable("F", 2)


@pytest.mark.parametrize(
    "node, text",
    [
        (Variable(3), "x3"),
        (c, "c"),
        (FunctionApp("zero", 0, ()), "zero"),
        (FunctionApp("f", 2, (x1, FunctionApp("g", 1, (c,)))), "f(x1, g(c))"),
        (PredicateApp("R", 3, (x1, x2, c)), "R(x1, x2, c)"),
        (Q, "Q"),
        (Equality(x1, FunctionApp("f", 1, (x2,))), "x1 = f(x2)"),
        (Not(Not(P)), "¬¬P(x1)"),
        (Not(Equality(x1, x2)), "¬(x1 = x2)"),
        (And(P, Q), "(P(x1) ∧ Q)"),
        (Or(P, Q), "(P(x1) ∨ Q)"),
        (Implies(P, Q), "(P(x1) → Q)"),
        (Iff(P, Q), "(P(x1) ↔ Q)"),
        (Implies(And(P, Q), Or(Q, Not(P))), "((P(x1) ∧ Q) → (Q ∨ ¬P(x1)))"),
        (Forall(x1, Exists(x2, Equality(x1, x2))), "∀x1. ∃x2. x1 = x2"),
        (Not(Forall(x1, And(P, Q))), "¬∀x1. (P(x1) ∧ Q)"),
        (ForallPred(X, PredicateApp(X, 1, (x1,))), "∀X. X(x1)"),
        (ExistsPred(X, Not(Q)), "∃X. ¬Q"),
        (ForallFunc(F, Equality(FunctionApp(F, 2, (x1, c)), c)), "∀F. F(x1, c) = c"),
        (ExistsFunc(F, Q), "∃F. Q"),
        (PredicateApp("⊥", 0, ()), "⊥"),
        (Implies(P, PredicateApp("⊤", 0, ())), "(P(x1) → ⊤)"),
    ],
)
def test_each_node_kind(node, text):
    assert to_string(node) == text


def test_deep_chains_do_not_recurse():
    n = 100_000
    f = Q
    for _ in range(n):
        f = Not(f)
    assert to_string(f) == "¬" * n + "Q"
    g = Q
    for _ in range(n // 10):
        g = And(P, g)
    assert to_string(g) == "(P(x1) ∧ " * (n // 10) + "Q" + ")" * (n // 10)


@pytest.mark.parametrize(
    "node, culprit",
    [(42, int), ("P", str), (X, PredicateVariable), (ForallPred(X, And(Q, object())), object),
     (ExistsPred(X, "text"), str)],
)
def test_unsupported_nodes(node, culprit):
    with pytest.raises(InvalidFormulaError) as err:
        to_string(node)
    assert str(err.value) == "Unsupported AST node type: " + repr(culprit)
