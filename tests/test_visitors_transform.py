"""ASTTransformer: identity, sharing of unchanged subtrees, rebuilding and its checks."""

import subprocess
import sys

import pytest

import zelqor.core.visitors as visitors
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.core.sorts import Nat
from zelqor.core.visitors import ASTTransformer
from zelqor.sol.ast_ext import ExistsFunc, ForallPred, FunctionVariable, PredicateVariable

x0, x1, x2 = Variable(0), Variable(1), Variable(2)


def tree():
    f = FunctionApp("f", 2, (x1, Constant("c")), Nat)
    return Forall(x0, And(
        Or(PredicateApp("P", 2, (x0, f)), Equality(x2, x1)),
        ForallPred(PredicateVariable("R", 0), Implies(Not(PredicateApp("Q", 1, (x2,))), Iff(
            Exists(x1, PredicateApp("S", 0, ())), ExistsFunc(FunctionVariable("G", 1), PredicateApp("T", 0, ())))))))


class Renumber(ASTTransformer):
    """Replaces variable 1 by variable 9."""

    def visit_variable(self, node):
        return Variable(9) if node.id == 1 else node


def walk(node):
    """Every node with the path of attribute names leading to it."""
    yield (), node
    for name in ("args", "left", "right", "operand", "variable", "body"):
        child = getattr(node, name, None)
        if isinstance(child, tuple):
            for i, arg in enumerate(child):
                for path, sub in walk(arg):
                    yield (name, i) + path, sub
        elif child is not None and not isinstance(child, (PredicateVariable, FunctionVariable)):
            for path, sub in walk(child):
                yield (name,) + path, sub


def at(node, path):
    for step in path:
        node = node[step] if isinstance(step, int) else getattr(node, step)
    return node


def test_identity_returns_the_same_object():
    t = tree()
    assert ASTTransformer().visit(t) is t
    assert ASTTransformer().visit(x0) is x0


def test_only_the_paths_to_changes_are_rebuilt():
    old = tree()
    new = Renumber().visit(old)
    changed = {path for path, node in walk(old) if any(isinstance(n, Variable) and n.id == 1
                                                       for _, n in walk(node))}
    for path, node in walk(old):
        if path in changed:
            assert at(new, path) is not node
        else:
            assert at(new, path) is node
    f = at(new, ("body", "left", "left", "args", 1))
    assert f.sort is Nat and f.args[0] == Variable(9) and f.return_sort is Nat
    assert type(at(new, ("body", "right"))) is ForallPred


def test_a_variable_equal_but_new_counts_as_changed():
    class Copying(ASTTransformer):
        def visit_variable(self, node):
            return Variable(node.id, node.kind, sort=node.sort)

    t = Not(PredicateApp("P", 1, (x0,)))
    result = Copying().visit(t)
    assert result == t and result is not t and result.operand is not t.operand


class TestChecks:
    class ToFormula(ASTTransformer):
        def visit_variable(self, node):
            return PredicateApp("Z", 0, ()) if node.id == 2 else node

    def test_applications_drop_non_terms_and_let_the_constructor_decide(self):
        with pytest.raises(InvalidFormulaError, match="^PredicateApp 'P' expected arity 2, got 1 arguments.$"):
            self.ToFormula().visit(PredicateApp("P", 2, (x0, x2)))

    @pytest.mark.parametrize("node", [
        Equality(x2, x0), Equality(x0, x2), Forall(x2, PredicateApp("S", 0, ())),
    ])
    def test_assertions(self, node):
        with pytest.raises(AssertionError) as info:
            self.ToFormula().visit(node)
        assert info.value.args == ()

    def test_formula_positions(self):
        class ToTerm(ASTTransformer):
            def visit_predicate_app(self, node):
                return Constant("c")

        for node in (Not(PredicateApp("S", 0, ())), And(PredicateApp("S", 0, ()), PredicateApp("S", 0, ())),
                     ForallPred(PredicateVariable("R", 0), PredicateApp("S", 0, ()))):
            with pytest.raises(AssertionError):
                ToTerm().visit(node)

    def test_checks_are_skipped_without_assertions(self):
        script = ("from zelqor.core.ast import *\nfrom zelqor.core.visitors import ASTTransformer\n"
                  "class T(ASTTransformer):\n    def visit_predicate_app(self, node): return Constant('c')\n"
                  "print(T().visit(Not(PredicateApp('S', 0, ()))))")
        done = subprocess.run([sys.executable, "-O", "-c", script], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        assert done.stdout.startswith("Not(operand=Constant(")


def test_rebuilding_uses_the_current_module_names(monkeypatch):
    built = []

    def fake_and(left, right):
        built.append((left, right))
        return "rebuilt"

    monkeypatch.setattr(visitors, "And", fake_and)
    result = Renumber().visit(And(PredicateApp("P", 1, (x1,)), PredicateApp("S", 0, ())))
    assert result == "rebuilt" and built[0][0].args == (Variable(9),)
