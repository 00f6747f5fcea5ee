"""SubstitutionTransformer: simultaneous, capture-avoiding, sharing what it does not touch."""

import pytest

import zelqor.core.visitors as visitors
from zelqor.core.ast import And, Constant, Exists, Forall, FunctionApp, Not, PredicateApp, Variable, VariableKind
from zelqor.core.sorts import Nat
from zelqor.core.visitors import FreeVariableCollector, SubstitutionTransformer
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

v1, v2, v3 = Variable(1), Variable(2), Variable(3)


def P(*args):
    return PredicateApp("P", len(args), args)


def f(*args):
    return FunctionApp("f", len(args), args)


class TestConstruction:
    def test_keeps_the_given_dict(self):
        mapping = {v1: v2}
        assert SubstitutionTransformer(mapping).mapping is mapping
        assert SubstitutionTransformer(mapping={}).mapping == {}

    @pytest.mark.parametrize("bad, name", [(None, "NoneType"), ([], "list"), (type("D", (dict,), {})(), "D")])
    def test_only_a_genuine_dict(self, bad, name):
        with pytest.raises(TypeError, match=rf"^Argument 'mapping' has incorrect type \(expected dict, got {name}\)$"):
            SubstitutionTransformer(bad)


class TestSubstitution:
    def test_simultaneous_and_shared_replacement(self):
        term = f(v2)
        result = SubstitutionTransformer({v1: term, v2: v1}).visit(P(v1, v2, v1))
        assert result == P(term, v1, term) and result.args[0] is term and result.args[2] is term

    def test_empty_mapping_rebuilds_only_quantifiers_and_their_ancestors(self):
        atom = P(v1)
        tree = And(Not(atom), Forall(v1, And(atom, Not(atom))))
        result = SubstitutionTransformer({}).visit(tree)
        assert result == tree and result is not tree
        assert result.left is tree.left and result.right is not tree.right
        assert result.right.body is tree.right.body  # unchanged below the quantifier

    def test_bound_occurrences_stay(self):
        tree = Forall(v1, P(v1))
        assert SubstitutionTransformer({v1: Constant("c")}).visit(tree) == tree

    def test_capture_renames_the_bound_variable(self):
        tree = Forall(v2, P(v1, v2))
        assert SubstitutionTransformer({v1: f(v2)}).visit(tree) == Forall(v3, P(f(v2), v3))

    def test_fresh_id_counts_body_replacements_and_keys_and_keeps_sort_and_kind(self):
        bound = Variable(2, VariableKind.FUNCTION, sort=Nat)
        tree = Exists(bound, P(v1, bound))
        mapping = {v1: f(bound), Variable(7): Constant("c")}
        fresh = Variable(8, VariableKind.FUNCTION, sort=Nat)
        assert SubstitutionTransformer(mapping).visit(tree) == Exists(fresh, P(f(bound), fresh))
        assert type(SubstitutionTransformer(mapping).visit(tree)) is Exists

    def test_variables_bound_deeper_are_renamed_in_turn(self):
        tree = Forall(v2, Forall(v3, P(v1, v2, v3)))
        result = SubstitutionTransformer({v1: f(v2)}).visit(tree)
        # v2 -> v3 (one above {v1, v2}); the inner v3 then clashes and becomes v4
        assert result == Forall(v3, Forall(Variable(4), P(f(v2), v3, Variable(4))))

    def test_an_entry_for_the_bound_variable_is_no_capture(self):
        tree = Forall(v1, P(v1, v2))
        assert SubstitutionTransformer({v1: f(v1), v2: v3}).visit(tree) == Forall(v1, P(v1, v3))

    def test_second_order_quantifiers_pass_the_substitution_through(self):
        tree = ForallPred(PredicateVariable("R", 1), P(v1))
        assert SubstitutionTransformer({v1: v2}).visit(tree) == ForallPred(PredicateVariable("R", 1), P(v2))

    def test_bodies_that_are_not_formulas_fail_the_assertion(self):
        with pytest.raises(AssertionError):
            SubstitutionTransformer({}).visit(Forall(v1, v2))


class TestCallerCode:
    def test_subclass_overrides_do_not_reach_inside_quantifiers(self):
        class Loud(SubstitutionTransformer):
            def visit_predicate_app(self, node):
                return PredicateApp("Loud", 0, ())

        result = Loud({}).visit(And(P(v1), Forall(v1, P(v1))))
        assert result == And(PredicateApp("Loud", 0, ()), Forall(v1, P(v1)))

    def test_replaced_module_classes_are_used(self, monkeypatch):
        calls = []

        class Collector(FreeVariableCollector):
            def visit(self, node):
                calls.append(node)
                return super().visit(node)

        monkeypatch.setattr(visitors, "FreeVariableCollector", Collector)
        SubstitutionTransformer({v1: f(v2)}).visit(Forall(v2, P(v1, v2)))
        assert calls[:3] == [f(v2), v2, P(v1, v2)]
