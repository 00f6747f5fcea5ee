"""Every visitor, error paths and caller overrides included, run many times: allocated blocks must not grow."""

import copy
import pickle

from zelqor.core.ast import And, Constant, Equality, Exists, Forall, FunctionApp, Not, Or, PredicateApp, Variable
from zelqor.core.visitors import (
    ASTTransformer, DepthVisitor, ExportVisitor, FreeVariableCollector, SizeVisitor, SubstitutionTransformer,
)
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

from leakcheck import assert_steady, expect

x, y = Variable(0), Variable(1)
fx = FunctionApp("f", 2, (x, Constant("c")))
tree = ForallPred(PredicateVariable("X", 0), Forall(x, And(Or(PredicateApp("P", 2, (x, fx)), Not(Equality(y, fx))),
                                                         Exists(y, PredicateApp("Q", 1, (y,))))))


class Renaming(ASTTransformer):
    def visit_variable(self, node):
        return Variable(7) if node.id == 1 else node


class Odd(FreeVariableCollector):
    def visit_constant(self, node):
        return frozenset()


class Sorted(ExportVisitor):
    def visit_variable(self, node):
        return node.id




def visitor_operations():
    for notation in ("infix", "prefix", "latex"):
        ExportVisitor(notation).visit(tree)
    Sorted().visit(Not(Equality(x, y)))
    SizeVisitor().visit(tree), DepthVisitor().visit(tree), FreeVariableCollector().visit(tree)
    Odd().visit(fx)
    ASTTransformer().visit(tree), Renaming().visit(tree)
    SubstitutionTransformer({x: FunctionApp("g", 1, (y,)), y: x}).visit(tree)
    copy.deepcopy(SubstitutionTransformer({x: y})), pickle.loads(pickle.dumps(ExportVisitor("latex")))
    expect(TypeError, SizeVisitor().visit, And(tree, 42))
    expect(TypeError, ExportVisitor().visit, Constant(5))
    expect(TypeError, Sorted().visit, PredicateApp("P", 1, (x,)))
    expect(TypeError, Odd().visit, Equality(Constant("c"), x))
    expect(AssertionError, Renaming().visit, Forall(Variable(1), Constant("c")))
    expect(ValueError, ExportVisitor, "LaTeX")
    expect(TypeError, SubstitutionTransformer, [])


def test_visitor_operations_leak_nothing():
    assert_steady("test_visitors_refleaks", "visitor_operations")
