"""SizeVisitor, DepthVisitor and FreeVariableCollector."""

import pytest

from zelqor.core.ast import And, Constant, Equality, Exists, Forall, FunctionApp, Not, Or, PredicateApp, Variable
from zelqor.core.sorts import Nat
from zelqor.core.visitors import DepthVisitor, FreeVariableCollector, SizeVisitor
from zelqor.sol.ast_ext import ExistsFunc, ForallPred, FunctionVariable, PredicateVariable

x1, x2 = Variable(1), Variable(2)


def P(*args):
    return PredicateApp("P", len(args), args)


def measures(node):
    return SizeVisitor().visit(node), DepthVisitor().visit(node), FreeVariableCollector().visit(node)


@pytest.mark.parametrize("node, size, depth, free", [
    (x1, 1, 1, {x1}),
    (Constant("c"), 1, 1, set()),
    (P(), 1, 1, set()),
    (P(x1), 2, 2, {x1}),
    (FunctionApp("f", 0, ()), 1, 1, set()),
    (P(x1, FunctionApp("f", 2, (x2, Constant("c")))), 5, 3, {x1, x2}),
    (Forall(x1, P(x1)), 4, 3, set()),
    (Exists(x1, P(x1, x2)), 5, 3, {x2}),
    (And(P(x1), Forall(x1, PredicateApp("Q", 1, (x1,)))), 7, 4, {x1}),
    (And(Forall(x1, P(x1, x1)), Or(P(x1), Exists(x2, P(x1)))), 13, 5, {x1}),
    (Not(Equality(x1, Constant("c"))), 4, 3, {x1}),
    (Forall(x1, P(Variable(1, sort=Nat))), 4, 3, {Variable(1, sort=Nat)}),
    (ForallPred(PredicateVariable("P", 1), Or(P(x1), P())), 5, 4, {x1}),
    (ExistsFunc(FunctionVariable("F", 0), P(FunctionApp(FunctionVariable("F", 0), 0, ()))), 3, 3, set()),
])
def test_measures(node, size, depth, free):
    got_size, got_depth, got_free = measures(node)
    assert (got_size, got_depth, got_free) == (size, depth, free)
    assert type(got_size) is int and type(got_free) is set


def test_sets_are_new_except_where_passed_through():
    seen = []

    class Remember(FreeVariableCollector):
        def visit_predicate_app(self, node):
            result = super().visit_predicate_app(node)
            seen.append(result)
            return result

    v = Remember()
    atom = P(x1)
    assert v.visit(Not(atom)) is seen[-1]
    assert v.visit(ForallPred(PredicateVariable("R", 0), atom)) is seen[-1]
    for node in (And(atom, atom), Forall(x1, atom), Or(atom, Not(atom))):
        result = v.visit(node)
        assert all(result is not s for s in seen)
    assert all(s == {x1} for s in seen)  # a caller's set is never changed


class TestOverrides:
    def test_sizes_of_bound_variables_and_python_values(self):
        class Heavy(SizeVisitor):
            def visit_variable(self, node):
                return 10

        assert Heavy().visit(Forall(x1, P(x1))) == 22
        assert Heavy().visit(Forall(x1, P())) == 12  # second-order variables are not counted, first-order are

        class Fractional(SizeVisitor):
            def visit_constant(self, node):
                return 0.5

        assert Fractional().visit(P(Constant("a"), x1, Constant("b"))) == 3.0

    def test_depth_with_python_values(self):
        class Deep(DepthVisitor):
            def visit_constant(self, node):
                return 10**30

        assert Deep().visit(P(x1, Constant("c"))) == 10**30 + 1
        assert Deep().visit(Not(Equality(Constant("c"), x1))) == 10**30 + 2

    def test_set_results_are_checked(self):
        class Frozen(FreeVariableCollector):
            def visit_variable(self, node):
                return frozenset({node})

        assert Frozen().visit(P(x1, x2)) == {x1, x2}  # applications only update a new set
        for node in (Equality(x1, x2), Forall(x1, Equality(x1, x2))):
            with pytest.raises(TypeError, match="^Expected set, got frozenset$"):
                Frozen().visit(node)

        class Listing(FreeVariableCollector):
            def visit_predicate_app(self, node):
                return [x1]

        with pytest.raises(TypeError, match="^Expected set, got list$"):
            Listing().visit(Not(P()))
        with pytest.raises(TypeError, match="unsupported operand"):
            Listing().visit(And(P(), P()))

        class Silent(FreeVariableCollector):
            def visit_predicate_app(self, node):
                return None

        assert Silent().visit(Not(P())) is None


def test_unions_with_caller_values_see_the_real_left_set():
    class Reflect:
        def __ror__(self, other):
            return set(other) | {"reflected"}

    class Odd(FreeVariableCollector):
        def visit_predicate_app(self, node):
            return Reflect() if node.pred == "Q" else super().visit_predicate_app(node)

    q = PredicateApp("Q", 0, ())
    assert Odd().visit(And(P(x1), q)) == {x1, "reflected"}
    assert Odd().visit(Or(Not(P(x2)), And(P(x1), q))) == {x1, x2, "reflected"}
    assert Odd().visit(Forall(x1, And(P(x1, x2), q))) == {x2, "reflected"}
