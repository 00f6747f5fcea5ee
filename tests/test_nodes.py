"""Construction, validation, equality, hashing and text form of the node classes."""

import copy
import dataclasses
import pickle

import pytest

from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, Formula, FunctionApp, Iff, Implies, Not, Or,
    PredicateApp, Term, Variable, VariableKind,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.core.sorts import Ind, Nat
from zelqor.sol.ast_ext import FunctionVariable, PredicateVariable

IND = "PrimitiveSort(name='Ind')"
KIND = "<VariableKind.INDIVIDUAL: 'INDIVIDUAL'>"


def invalid(message):
    return pytest.raises(InvalidFormulaError, match="^" + __import__("re").escape(message) + "$")


class TestValidation:
    def test_variable_id(self):
        with invalid("Variable ID must be non-negative, got -1."):
            Variable(-1)
        assert Variable(0).id == 0
        with pytest.raises(TypeError):
            Variable("3")

    def test_constant_name(self):
        for empty in ("", None):
            with invalid("Constant name cannot be empty."):
                Constant(empty)

    @pytest.mark.parametrize("cls, word, symbol_class", [
        (FunctionApp, "Function", "FunctionVariable"),
        (PredicateApp, "Predicate", "PredicateVariable"),
    ])
    def test_application_checks_in_order(self, cls, word, symbol_class, x):
        with invalid(f"{word} name cannot be empty."):
            cls("", -1, (x,))
        with invalid(f"{word} symbol must be str or {symbol_class}, got <class 'int'>."):
            cls(42, -1, ())
        with invalid(f"{word} arity must be non-negative, got -1."):
            cls("f", -1, ())
        with invalid(f"{cls.__name__} 'f' expected arity 2, got 1 arguments."):
            cls("f", 2, (x,))
        with invalid(f"{cls.__name__} 'f' expected arity 0, got 1 arguments."):
            cls("f", 0, (x,))

    def test_arity_message_names_a_second_order_symbol_by_its_text(self, x):
        var = FunctionVariable("F", 2)
        with invalid(f"FunctionApp '{var}' expected arity 2, got 1 arguments."):
            FunctionApp(var, 2, (x,))
        # Only the count against `arity` is checked, not the symbol's own arity.
        assert FunctionApp(var, 3, (x, x, x)).arity == 3

    def test_errors_from_outside_the_checks_pass_through(self, x):
        with pytest.raises(TypeError, match="unhashable"):
            PredicateApp("P", 1, [x])
        with pytest.raises(TypeError, match="not supported"):
            PredicateApp("P", "1", (x,))
        with invalid("Unsupported AST node type: <class 'int'>"):
            PredicateApp("P", 1, (42,))
        with invalid("Unsupported AST node type: <class 'str'>"):
            Equality(x, "y")

    def test_argument_binding(self, x):
        assert Variable(id=3, sort=Nat, kind=VariableKind.PREDICATE).kind is VariableKind.PREDICATE
        assert FunctionApp(func="f", arity=1, args=(x,), return_sort=Nat) == FunctionApp("f", 1, (x,), Nat)
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'id'"):
            Variable()
        with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
            Not(operand=x, bogus=1)
        with pytest.raises(TypeError, match="multiple values for argument 'left'"):
            And(x, left=x)
        with pytest.raises(TypeError, match="positional arguments but 4 were given"):
            Variable(1, VariableKind.INDIVIDUAL, Ind)


class TestFields:
    def test_defaults_and_sort_of_applications(self, x):
        v = Variable(3)
        assert (v.sort, v.kind) == (Ind, VariableKind.INDIVIDUAL)
        f = FunctionApp("f", 1, (x,), return_sort=Nat, sort=Ind)
        assert f.sort is Nat and f.return_sort is Nat
        args = (x,)
        assert PredicateApp("P", 1, args).args is args

    def test_free_variable_caches(self, x, y, c):
        g = FunctionApp("g", 2, (x, y))
        assert FunctionApp("f", 2, (x, g))._free_vars == frozenset({x, y})
        assert PredicateApp("P", 1, (c,))._free_vars == frozenset()
        assert Equality(x, FunctionApp("f", 1, (y,)))._free_vars == frozenset({x, y})
        assert isinstance(FunctionApp("c", 0, ())._free_vars, frozenset)

    def test_frozen(self, x, p):
        for node, name in [(x, "id"), (p, "pred"), (p, "_hash_cache"), (p, "_free_vars"), (Not(p), "other")]:
            with pytest.raises(dataclasses.FrozenInstanceError, match=f"cannot assign to field '{name}'"):
                setattr(node, name, 1)
        with pytest.raises(dataclasses.FrozenInstanceError, match="cannot delete field 'operand'"):
            del Not(p).operand

    def test_variable_kind(self):
        assert [m.name for m in VariableKind] == ["INDIVIDUAL", "PREDICATE", "FUNCTION"]
        assert [m.value for m in VariableKind] == ["INDIVIDUAL", "PREDICATE", "FUNCTION"]
        assert VariableKind.__doc__ == "Distinguishes variable usage in logic expressions."

    def test_classes(self):
        assert issubclass(Variable, Term) and issubclass(Forall, Formula)
        assert not issubclass(PredicateApp, Term)
        assert repr(Implies) == "<class 'zelqor.core.ast.Implies'>"
        assert Not.__doc__ == "Represents logical negation ~operand."


class TestEqualityAndHash:
    def test_variables(self):
        assert Variable(0) == Variable(0) and hash(Variable(0)) == hash(Variable(0))
        assert Variable(0) != Variable(0, VariableKind.PREDICATE)
        assert Variable(0) != Variable(0, sort=Nat)

    def test_class_is_part_of_equality_and_hash(self, p, q):
        nodes = [And(p, q), Or(p, q), Implies(p, q), Iff(p, q)]
        assert len(set(nodes)) == 4
        assert len({hash(n) for n in nodes}) == 4
        assert And(p, q) == And(PredicateApp("P", 1, (Variable(0),)), q)
        assert And(p, q) != And(q, p)
        assert Equality(Constant("a"), Constant("b")) != Equality(Constant("b"), Constant("a"))

    def test_hash_is_cached_and_matches_field_tuple(self, p, q, x):
        node = Forall(x, And(p, q))
        assert hash(node) == node._hash_cache == hash((Forall, x, And(p, q)))
        assert hash(x) == hash((Ind, 0, VariableKind.INDIVIDUAL))

    def test_no_ordering_and_foreign_types(self, p):
        assert (p == 1) is False and p != "P"
        with pytest.raises(TypeError):
            p < p

    def test_subclass_is_not_equal_to_base(self, p):
        class MyNot(Not):
            pass

        assert MyNot(p) != Not(p) and MyNot(p) == MyNot(p)

    def test_foreign_field_equality_is_consulted(self):
        class Weird:
            def __eq__(self, other):
                raise RuntimeError("boom")

            def __hash__(self):
                return 1

        a, b = Constant(Weird()), Constant(Weird())
        with pytest.raises(RuntimeError, match="boom"):
            PredicateApp("P", 1, (a,)) == PredicateApp("P", 1, (b,))


class TestTextForm:
    def test_variable_and_constant(self):
        assert repr(Variable(3)) == f"Variable(sort={IND}, id=3, kind={KIND})"
        assert str(Constant("it's")) == f"Constant(sort={IND}, name=\"it's\")"

    def test_application_and_tuples(self, x):
        assert repr(FunctionApp("c", 0, ())) == (
            f"FunctionApp(sort={IND}, func='c', arity=0, args=(), return_sort={IND})")
        one = repr(PredicateApp("P", 1, (x,)))
        assert one == f"PredicateApp(pred='P', arity=1, args=(Variable(sort={IND}, id=0, kind={KIND}),))"

    def test_connectives(self, p):
        text = repr(Not(p))
        assert text == f"Not(operand={p!r})"
        assert repr(Forall(Variable(0), p)) == f"Forall(variable={Variable(0)!r}, body={p!r})"

    def test_subclass_uses_its_own_name(self, p):
        class Negation(Not):
            pass

        assert repr(Negation(p)).startswith("TestTextForm.test_subclass_uses_its_own_name.<locals>.Negation(")

    @pytest.mark.parametrize("name", ["é", "λx", "\U0001d513", "\ud800", "a\udfffé"])
    def test_every_code_point_is_kept(self, name):
        # Latin-1, the wider planes and lone surrogates, also after a wider character.
        c = Constant(name)
        assert repr(c) == f"Constant(sort={IND}, name={name!r})"
        assert repr(PredicateApp(name, 1, (c,))) == f"PredicateApp(pred={name!r}, arity=1, args=({c!r},))"


class TestPythonProtocols:
    def nodes(self, x, p, q):
        return [
            x, Variable(2, VariableKind.FUNCTION, sort=Nat), Constant("c", sort=Nat),
            FunctionApp("f", 1, (x,), Nat), FunctionApp(FunctionVariable("F", 1), 1, (x,)),
            PredicateApp(PredicateVariable("X", 1), 1, (x,)), Equality(x, x), Not(p), And(p, q),
            Or(p, q), Implies(p, q), Iff(p, q), Forall(x, p), Exists(x, q),
        ]

    def test_pickle_and_copy(self, x, p, q):
        for node in self.nodes(x, p, q):
            for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
                clone = pickle.loads(pickle.dumps(node, protocol))
                assert clone == node and hash(clone) == hash(node) and clone.sort if isinstance(node, Term) \
                    else clone == node
            assert copy.copy(node) is node and copy.deepcopy(node) is node

    def test_pickle_subclass_keeps_its_state(self, p):
        clone = pickle.loads(pickle.dumps(_Tagged(p)))
        assert type(clone) is _Tagged and clone.operand == p

        tagged = _Tagged(p)
        tagged.note = "kept"
        assert pickle.loads(pickle.dumps(tagged)).note == "kept"

    def test_match(self, x, p, q):
        match And(p, Not(q)):
            case And(PredicateApp(name, 1, (arg,)), Not(operand)):
                assert (name, arg, operand) == ("P", x, q)
            case _:
                pytest.fail("no match")
        match Variable(5):
            case Variable(5, VariableKind.INDIVIDUAL):
                pass
            case _:
                pytest.fail("no match")

    def test_frozen_dataclass_subclasses(self, x):
        @dataclasses.dataclass(frozen=True)
        class Box(Formula):
            content: object

        @dataclasses.dataclass(frozen=True)
        class Name(Term):
            label: str

        assert Box(x) == Box(x) and hash(Box(x)) == hash(Box(x))
        assert isinstance(Name("n"), Term)
        with pytest.raises(dataclasses.FrozenInstanceError):
            Box(x).content = 1


class _Tagged(Not):
    pass
