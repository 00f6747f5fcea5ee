"""ExportVisitor: the three notations, their templates and the checks on returned values."""

import pytest

import zelqor.core.visitors as visitors
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
    VariableKind,
)
from zelqor.core.sorts import Nat, Sort
from zelqor.core.visitors import ExportVisitor
from zelqor.sol.ast_ext import ExistsFunc, ExistsPred, ForallFunc, ForallPred, FunctionVariable, PredicateVariable

p, q = PredicateApp("p", 0, ()), PredicateApp("q", 0, ())
v1 = Variable(1)
NOTATIONS = ("infix", "prefix", "latex")


def render(node):
    return tuple(ExportVisitor(n).visit(node) for n in NOTATIONS)


class TestConstruction:
    def test_default_and_accepted_notations(self):
        assert ExportVisitor().notation == "infix"
        assert ExportVisitor(notation="latex").notation == "latex"
        with pytest.raises(AttributeError):
            ExportVisitor().notation = "prefix"

    @pytest.mark.parametrize("bad", ["LaTeX", "Infix", "", "infix "])
    def test_unsupported_notation(self, bad):
        with pytest.raises(ValueError, match=f"^Unsupported notation: {bad}$"):
            ExportVisitor(bad)

    @pytest.mark.parametrize("bad, name", [(None, "NoneType"), (1, "int"), (type("S", (str,), {})("infix"), "S")])
    def test_notation_must_be_a_genuine_str(self, bad, name):
        with pytest.raises(TypeError, match=rf"^Argument 'notation' has incorrect type \(expected str, got {name}\)$"):
            ExportVisitor(bad)


class TestTemplates:
    @pytest.mark.parametrize("node, expected", [
        (Variable(3, VariableKind.PREDICATE, sort=Nat), ("v3", "v3", "v_{3}")),
        (Constant("a"), ("a", "a", "a")),
        (p, ("p", "p", "p")),
        (FunctionApp("f", 0, ()), ("f()", "f", "f()")),
        (FunctionApp("f", 2, (v1, Constant("c"))), ("f(v1, c)", "(f v1 c)", "f(v_{1}, c)")),
        (PredicateApp("P", 2, (v1, v1)), ("P(v1, v1)", "(P v1 v1)", "P(v_{1}, v_{1})")),
        (Equality(Constant("a"), Constant("b")), ("a = b", "(= a b)", "a = b")),
        (Not(And(p, q)), ("~((p & q))", "(not (and p q))", "\\neg ((p \\land q))")),
        (Not(Not(p)), ("~~p", "(not (not p))", "\\neg \\neg p")),
        (Or(p, q), ("(p | q)", "(or p q)", "(p \\lor q)")),
        (Implies(p, q), ("(p => q)", "(=> p q)", "(p \\implies q)")),
        (Iff(p, q), ("(p <=> q)", "(<=> p q)", "(p \\iff q)")),
        (Exists(v1, p), ("exists v1 : Ind, p", "(exists (v1 : Ind) p)", "\\exists v_{1} : Ind, p")),
        (Forall(v1, p), ("forall v1 : Ind, p", "(forall (v1 : Ind) p)", "\\forall v_{1} : Ind, p")),
        (ForallPred(PredicateVariable("P", 1), q), ("forall_pred P, q", "(forall_pred (P) q)", "\\forall P, q")),
        (ExistsPred(PredicateVariable("P", 1), q), ("exists_pred P, q", "(exists_pred (P) q)", "\\exists P, q")),
        (ForallFunc(FunctionVariable("F", 1), q), ("forall_func F, q", "(forall_func (F) q)", "\\forall F, q")),
        (ExistsFunc(FunctionVariable("F", 1), q), ("exists_func F, q", "(exists_func (F) q)", "\\exists F, q")),
    ])
    def test_each_node_kind(self, node, expected):
        assert render(node) == expected

    def test_composition(self):
        tree = And(Exists(v1, p), Not(Exists(v1, Equality(v1, Constant("c")))))
        assert render(tree) == (
            "(exists v1 : Ind, p & ~exists v1 : Ind, v1 = c)",
            "(and (exists (v1 : Ind) p) (not (exists (v1 : Ind) (= v1 c))))",
            "(\\exists v_{1} : Ind, p \\land \\neg \\exists v_{1} : Ind, v_{1} = c)",
        )

    def test_second_order_symbols_print_their_name(self):
        node = PredicateApp(PredicateVariable("X", 1), 1, (FunctionApp(FunctionVariable("G", 0), 0, ()),))
        assert render(node) == ("X(G())", "(X G)", "X(G())")

    def test_non_text_values_are_converted(self):
        class Numbered(Sort):
            name = 7

        class Symbol:
            index = arity = 0

            def __str__(self):
                return "sym"

        assert render(Forall(Variable(2, sort=Numbered()), p))[0] == "forall v2 : 7, p"
        assert render(FunctionApp(Symbol(), 0, ())) == ("sym()", "sym", "sym()")

    def test_wide_characters(self):
        class Wide(Sort):
            name = "Ω𝔸"

        node = And(PredicateApp("Φ", 0, ()), Forall(Variable(0, sort=Wide()), p))
        assert ExportVisitor().visit(node) == "(Φ & forall v0 : Ω𝔸, p)"


class TestReturnedValues:
    def test_bare_field_values_must_be_str(self):
        with pytest.raises(TypeError, match="^Expected str, got int$"):
            ExportVisitor().visit(Constant(5))
        with pytest.raises(TypeError, match="^Expected str, got int$"):
            ExportVisitor().visit(Equality(Constant(5), v1))
        name = Constant("n").name
        assert ExportVisitor().visit(Constant(name)) is name

    def test_a_symbol_named_none_is_returned_as_none(self):
        class Anonymous:
            name, index, arity = None, 0, 0

        assert ExportVisitor("prefix").visit(FunctionApp(Anonymous(), 0, ())) is None
        assert ExportVisitor().visit(PredicateApp(Anonymous(), 0, ())) is None
        assert ExportVisitor().visit(Equality(FunctionApp(Anonymous(), 0, ()), v1)) == "None() = v1"
        with pytest.raises(TypeError, match="^sequence item 0: expected str instance, NoneType found$"):
            ExportVisitor("prefix").visit(PredicateApp("P", 1, (FunctionApp(Anonymous(), 0, ()),)))

    def test_overrides_returning_other_values(self):
        class Counting(ExportVisitor):
            def visit_variable(self, node):
                return node.id

        assert Counting().visit(Not(Equality(v1, Variable(2)))) == "~1 = 2"
        with pytest.raises(TypeError, match="^sequence item 0: expected str instance, int found$"):
            Counting().visit(PredicateApp("P", 1, (v1,)))

    def test_without_init_the_notation_is_missing_after_the_children(self):
        seen = []

        class NoInit(ExportVisitor):
            def __init__(self):
                pass

            def visit_predicate_app(self, node):
                seen.append(node)
                return "x"

        v = NoInit()
        assert v.visit(Constant("c")) == "c"
        with pytest.raises(AttributeError, match="notation"):
            v.visit(And(p, q))
        assert seen == [p, q]


class TestModuleNames:
    def test_compound_test_uses_the_current_module_names(self, monkeypatch):
        class Other:
            pass

        monkeypatch.setattr(visitors, "And", Other)
        assert ExportVisitor().visit(Not(And(p, q))) == "~(p & q)"
        monkeypatch.setattr(visitors, "Or", And)
        assert ExportVisitor("latex").visit(Not(And(p, q))) == "\\neg ((p \\land q))"


@pytest.mark.parametrize("notation", NOTATIONS)
def test_large_trees_render_in_one_pass(notation):
    leaves = [PredicateApp("P", 1, (Variable(i),)) for i in range(1 << 17)]
    leaves = [ForallPred(PredicateVariable("X", 0), leaf) if i % 8 == 0 else leaf for i, leaf in enumerate(leaves)]
    while len(leaves) > 1:
        leaves = [And(leaves[i], leaves[i + 1]) for i in range(0, len(leaves), 2)]
    text = ExportVisitor(notation).visit(leaves[0])
    expected_first = {"infix": "forall_pred X, P(v0)", "prefix": "(forall_pred (X) (P v0))",
                      "latex": "\\forall X, P(v_{0})"}[notation]
    assert text.count("X") == 1 << 14 and expected_first in text[:120]


def test_sort_name_is_read_after_the_body():
    log = []

    class Logged(Sort):
        @property
        def name(self):
            log.append("sort")
            return "L"

    class Empty(Sort):
        __slots__ = ("name",)

    class Spy(ExportVisitor):
        def visit_predicate_app(self, node):
            log.append("body")
            return "b"

    assert Spy().visit(Forall(Variable(0, sort=Logged()), p)) == "forall v0 : L, b"
    assert log == ["body", "sort"]
    with pytest.raises(AttributeError):
        Spy().visit(Exists(Variable(0, sort=Empty()), p))
    assert log[-1] == "body"
