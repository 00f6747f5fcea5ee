"""ASTVisitor: abstractness, generic subclassing, dispatch tables, routing and overrides."""

import re
import subprocess
import sys
import types
import weakref

import pytest

import zelqor.core.visitors as visitors
from zelqor.core.ast import And, Forall, Not, Or, PredicateApp, Variable
from zelqor.core.visitors import (
    ASTTransformer, ASTVisitor, DepthVisitor, ExportVisitor, FreeVariableCollector, SizeVisitor,
    SubstitutionTransformer,
)
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

OPS = [
    "visit_variable", "visit_constant", "visit_function_app", "visit_predicate_app", "visit_equality",
    "visit_not", "visit_and", "visit_or", "visit_implies", "visit_iff", "visit_forall", "visit_exists",
    "visit_forall_pred", "visit_exists_pred", "visit_forall_func", "visit_exists_func",
]
A = PredicateApp("a", 0, ())
CONCRETE = [ASTTransformer, DepthVisitor, SizeVisitor, FreeVariableCollector, SubstitutionTransformer,
            ExportVisitor]


def make(cls):
    return cls({}) if issubclass(cls, SubstitutionTransformer) else cls()


def test_module_surface_in_order():
    names = [n for n in vars(visitors) if not n.startswith("__")]
    assert names == [
        "ABC", "abstractmethod", "Generic", "TypeVar", "Union", "Any", "Set", "Dict", "Optional", "Tuple",
        "List", "Term", "Variable", "Constant", "FunctionApp", "Formula", "PredicateApp", "Equality", "Not",
        "And", "Or", "Implies", "Iff", "Forall", "Exists", "ForallPred", "ExistsPred", "ForallFunc",
        "ExistsFunc", "PredicateVariable", "FunctionVariable", "Sort", "PrimitiveSort", "ParameterizedSort",
        "FunctionSort", "Ind", "Nat", "Bool", "T", "ASTVisitor", "ASTTransformer", "DepthVisitor",
        "SizeVisitor", "FreeVariableCollector", "SubstitutionTransformer", "ExportVisitor",
    ]
    assert visitors.T.__name__ == "T"


class TestAbstractAndGeneric:
    def test_base_and_incomplete_subclasses_cannot_be_instantiated(self):
        assert ASTVisitor.__abstractmethods__ == frozenset(OPS)
        with pytest.raises(TypeError, match="abstract"):
            ASTVisitor()

        class Partial(ASTVisitor[int]):
            def visit_variable(self, node):
                return 1

        with pytest.raises(TypeError, match="visit_constant"):
            Partial()

    def test_base_declarations_do_nothing(self):
        assert ASTVisitor.visit_not(SizeVisitor(), Not(A)) is None

    def test_generic_subclass_implementing_everything(self):
        namespace = {op: (lambda self, node, op=op: op) for op in OPS}
        Named = types.new_class("Named", (ASTVisitor[str],), exec_body=lambda ns: ns.update(namespace))
        assert Named().visit(Not(A)) == "visit_not"
        assert Named.__orig_bases__ == (ASTVisitor[str],)
        assert ASTVisitor.__parameters__ == (visitors.T,)

    @pytest.mark.parametrize("cls", CONCRETE)
    def test_concrete_visitors_instantiate_and_refuse_stray_arguments(self, cls):
        assert not cls.__abstractmethods__
        make(cls)
        if cls in (ASTTransformer, DepthVisitor, SizeVisitor, FreeVariableCollector):
            with pytest.raises(TypeError, match=rf"^{cls.__name__}\(\) takes no arguments$"):
                cls(1)


class TestDispatchTables:
    def test_each_class_owns_sixteen_entries(self):
        assert ASTVisitor._dispatch_table == {}
        tables = [cls._dispatch_table for cls in CONCRETE]
        assert len({id(t) for t in tables}) == len(CONCRETE)
        for table in tables:
            assert list(table.values()) == OPS
            assert list(table)[:2] == [Variable, visitors.Constant] and list(table)[-4] is ForallPred

    def test_caller_subclasses_get_their_own_and_keywords_reach_the_next_hook(self):
        seen = []

        class Mixin:
            def __init_subclass__(cls, **kwargs):
                seen.append(kwargs)
                super().__init_subclass__()

        class Mine(SizeVisitor, Mixin, flavour="x"):
            pass

        class Deeper(Mine):
            pass

        assert seen == [{"flavour": "x"}, {}]
        assert Deeper._dispatch_table == SizeVisitor._dispatch_table
        assert Deeper._dispatch_table is not Mine._dispatch_table
        with pytest.raises(TypeError, match="takes no keyword arguments"):
            class Bad(SizeVisitor, bogus=1):
                pass

    def test_table_is_built_from_the_current_module_names(self):
        class Marker(Not):
            pass

        saved = visitors.Not
        visitors.Not = Marker
        try:
            class Later(SizeVisitor):
                pass
        finally:
            visitors.Not = saved
        assert Marker in Later._dispatch_table and Not not in Later._dispatch_table
        assert Later().visit(Marker(A)) == 2

    def test_mutating_a_table_is_obeyed(self):
        class Local(SizeVisitor):
            pass

        v = Local()
        assert v.visit(Not(A)) == 2
        del Local._dispatch_table[Not]
        with pytest.raises(TypeError, match="^Unsupported AST node type: Not$"):
            v.visit(Not(A))
        Local._dispatch_table[Not] = "visit_constant"
        assert v.visit(Not(A)) == 1


class TestRouting:
    @pytest.mark.parametrize("node, name", [
        (PredicateVariable("P", 1), "PredicateVariable"),
        (42, "int"),
        (type("Sub", (Not,), {})(PredicateApp("p", 0, ())), "Sub"),
    ])
    @pytest.mark.parametrize("cls", CONCRETE)
    def test_unsupported_nodes_name_their_bare_class(self, cls, node, name):
        with pytest.raises(TypeError, match=f"^Unsupported AST node type: {name}$"):
            make(cls).visit(node)
        # ... anywhere in the tree
        with pytest.raises(TypeError, match=f"^Unsupported AST node type: {name}$"):
            make(cls).visit(And(PredicateApp("p", 0, ()), ForallPred(PredicateVariable("Q", 0), node)))

    def test_argument_binding(self):
        v = SizeVisitor()
        assert v.visit(node=A) == 1 and v.visit_not(node=Not(A)) == 2
        with pytest.raises(TypeError, match=re.escape("ASTVisitor.visit() missing 1 required positional")):
            v.visit()
        with pytest.raises(TypeError, match=re.escape("SizeVisitor.visit_not() takes 2 positional")):
            v.visit_not(A, A)
        with pytest.raises(TypeError, match="doesn't apply"):
            ExportVisitor.visit_not(SizeVisitor(), Not(A))

    def test_visitors_are_weakly_referencable(self):
        v = ExportVisitor()
        assert weakref.ref(v)() is v


class TestOverrides:
    @pytest.mark.parametrize("cls", CONCRETE)
    def test_an_override_is_reached_at_every_depth(self, cls, p):
        calls = []

        class Spy(cls):
            def visit_predicate_app(self, node):
                calls.append(node)
                return super().visit_predicate_app(node)

        # (inside a quantifier the substitution hands its body to a plain transformer)
        tree = And(Not(p), Or(p, Not(Not(p))))
        make(Spy).visit(cls is SubstitutionTransformer and tree or Forall(Variable(0), tree))
        assert calls == [p, p, p]

    def test_overriding_visit_is_used_for_children(self):
        class Tenfold(SizeVisitor):
            def visit(self, node):
                return super().visit(node) * 10

        # p: 10; Not p: (1 + 10) * 10
        assert Tenfold().visit(Not(A)) == 110

    def test_instance_attributes_shadow_operations(self):
        class Plain(SizeVisitor):
            pass

        v = Plain()
        v.visit_predicate_app = lambda node: 100
        assert v.visit(And(A, A)) == 201
        del v.visit_predicate_app
        assert v.visit(And(A, A)) == 3

    def test_class_changes_after_use_are_noticed(self):
        class Plain(SizeVisitor):
            pass

        v = Plain()
        assert v.visit(Not(A)) == 2
        Plain.visit_predicate_app = lambda self, node: 40
        assert v.visit(Not(A)) == 41
        del Plain.visit_predicate_app
        assert v.visit(Not(A)) == 2
        SizeVisitor.visit_not, saved = (lambda self, node: -1), SizeVisitor.__dict__["visit_not"]
        try:
            assert v.visit(Not(A)) == -1
        finally:
            SizeVisitor.visit_not = saved
        assert v.visit(Not(A)) == 2

    def test_attribute_hooks_on_the_class(self):
        class Hooked(SizeVisitor):
            def __getattribute__(self, name):
                if name == "visit_predicate_app":
                    return lambda node: 5
                return super().__getattribute__(name)

        assert Hooked().visit(Not(A)) == 6

    def test_exceptions_from_operations_pass_through(self, p):
        class Failing(SizeVisitor):
            def visit_predicate_app(self, node):
                raise KeyError("deep")

        with pytest.raises(KeyError, match="deep"):
            Failing().visit(And(p, Not(p)))

    def test_operation_of_another_family_mixed_in(self, c):
        class Mixed(ExportVisitor):
            visit_constant = SizeVisitor.__dict__["visit_constant"]

        with pytest.raises(TypeError, match="doesn't apply"):
            Mixed().visit(c)

        class Both(ExportVisitor, SizeVisitor):
            visit_constant = SizeVisitor.__dict__["visit_constant"]

        assert Both().visit(Not(PredicateApp("P", 0, ()))) == "~P"
        assert Both().visit(c) == 1
        with pytest.raises(TypeError, match="^sequence item 1: expected str instance, int found$"):
            Both().visit(PredicateApp("P", 2, (Variable(0), c)))


class Tagged(ExportVisitor):
    def __init__(self, tag):
        super().__init__("prefix")
        self.tag = tag


@pytest.mark.parametrize("copier", [
    __import__("copy").copy, __import__("copy").deepcopy,
    lambda v: __import__("pickle").loads(__import__("pickle").dumps(v, 0)),
    lambda v: __import__("pickle").loads(__import__("pickle").dumps(v)),
])
def test_visitors_copy_and_pickle_with_their_state(copier):
    assert copier(ExportVisitor("latex")).visit(Not(A)) == "\\neg a"
    twin = copier(SubstitutionTransformer({Variable(1): Variable(2)}))
    assert twin.mapping == {Variable(1): Variable(2)} and twin.visit(Variable(1)) == Variable(2)
    tagged = copier(Tagged("t"))
    assert tagged.tag == "t" and tagged.notation == "prefix" and tagged.visit(Not(A)) == "(not a)"
    assert copier(SizeVisitor()).visit(Not(A)) == 2


def test_a_missing_second_order_module_fails_only_this_import():
    code = ("import importlib.abc, sys\n"
            "class Block(importlib.abc.MetaPathFinder):\n"
            "    def find_spec(self, name, path=None, target=None):\n"
            "        if name == 'zelqor.sol.ast_ext':\n"
            "            raise ModuleNotFoundError(name, name=name)\n"
            "sys.meta_path.insert(0, Block())\n"
            "import zelqor.core.ast\n"
            "try:\n    import zelqor.core.visitors\nexcept ImportError:\n    print('refused')\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout == "refused\n", done.stderr
