"""Literal and Clause: construction, caches, equality, text, substitution, pickling."""

import copy
import dataclasses
import pickle

import pytest

import zelqor.prover.clausifier as cz
from zelqor.core.ast import Constant, Equality, FunctionApp, PredicateApp, Variable
from zelqor.core.exceptions import SortError
from zelqor.core.sorts import Nat
from zelqor.prover.clausifier import Clause, Literal

x, y, z = Variable(0), Variable(1), Variable(2)
a = Constant("a")


def P(*args):
    return PredicateApp("P", len(args), args)


def clause(*lits):
    return Clause(frozenset(lits))


class TestLiteral:
    def test_fields_and_defaults(self):
        lit = Literal(P(x))
        assert lit == Literal(atom=P(x), positive=True) and lit.positive is True
        assert lit._free_vars == frozenset({x}) and isinstance(lit._free_vars, frozenset)
        assert hash(lit) == lit._hash_cache == hash(Literal(P(x), True))
        assert Literal(P(x)) != Literal(P(x), False) and Literal(P(x)) != P(x)
        with pytest.raises(TypeError, match=r"Literal.__init__\(\) missing 1 required positional argument: 'atom'"):
            Literal()
        with pytest.raises(TypeError, match="unexpected keyword argument 'sign'"):
            Literal(P(x), sign=True)

    def test_negate_twice(self):
        lit = Literal(P(x, y), False)
        back = lit.negate().negate()
        assert back == lit and hash(back) == hash(lit) and back.atom is lit.atom
        assert lit.negate().positive is True

    def test_frozen(self):
        lit = Literal(P(x))
        for name in ("atom", "positive", "_hash_cache", "_free_vars", "other"):
            with pytest.raises(dataclasses.FrozenInstanceError, match=f"cannot assign to field '{name}'"):
                setattr(lit, name, 1)
        with pytest.raises(dataclasses.FrozenInstanceError, match="cannot delete field 'atom'"):
            del lit.atom

    def test_free_variables_is_a_fresh_copy(self):
        lit = Literal(Equality(x, FunctionApp("f", 1, (y,))))
        got = lit.free_variables()
        got.add(z)
        assert lit.free_variables() == {x, y} and type(got) is set

    def test_text(self):
        assert str(Literal(P(a))) == repr(P(a))
        assert Literal(P(a), False).to_string() == "¬" + repr(P(a))
        assert str(Literal(Equality(x, y))) == f"{x!r} = {y!r}"
        assert str(Literal(Equality(x, y), False)) == f"{x!r} ≠ {y!r}"
        assert repr(Literal(P(a), False)) == f"Literal(atom={P(a)!r}, positive=False)"

    def test_substitute(self):
        lit = Literal(P(x, y), False)
        assert lit.substitute({}) is lit
        assert lit.substitute({x: a}) == Literal(P(a, y), False)
        with pytest.raises(SortError):
            lit.substitute({x: Constant("n", sort=Nat)})
        for bad in (None, [(x, a)], type("D", (dict,), {})({x: a})):
            with pytest.raises(TypeError, match=r"^Argument 'subst' has incorrect type \(expected dict, got "):
                lit.substitute(bad)

    def test_substitute_checks_the_result_is_an_atom(self, monkeypatch):
        monkeypatch.setattr(cz, "substitute_formula", lambda f, m: f"{f!r} under {len(m)}")
        with pytest.raises(AssertionError):
            Literal(P(x)).substitute({x: a})

    def test_pickle_and_copy(self):
        lit = Literal(Equality(x, a), False)
        for clone in (pickle.loads(pickle.dumps(lit)), copy.copy(lit), copy.deepcopy(lit)):
            assert clone == lit and hash(clone) == hash(lit)
        match lit:
            case Literal(Equality(left, _), False):
                assert left is x


class TestClause:
    def test_empty_clause(self):
        empty = Clause()
        assert empty.is_empty and not empty.is_unit and not empty.is_tautology
        assert empty.free_variables() == set() and empty.to_string() == "□" == str(empty)
        assert Clause() == Clause(frozenset()) and Clause().literals is not Clause().literals

    def test_literals_stored_as_given(self):
        lits = frozenset({Literal(P(x)), Literal(P(y), False)})
        c = Clause(literals=lits)
        assert c.literals is lits and not c.is_unit and c.free_variables() == {x, y}
        assert hash(c) == c._hash_cache == hash(Clause(frozenset(lits)))
        assert repr(c) == f"Clause(literals={lits!r})"
        with pytest.raises(TypeError, match="unhashable"):
            Clause([Literal(P(x))])

    def test_tautology_needs_a_complementary_pair(self):
        assert clause(Literal(P(x)), Literal(P(x), False)).is_tautology
        assert not clause(Literal(Equality(x, x))).is_tautology
        assert not clause(Literal(P(x)), Literal(P(y), False)).is_tautology
        assert clause(Literal(P(x))).is_unit

    def test_text_sorts_by_code_point(self):
        pos, neg = Literal(P(a)), Literal(P(a), False)
        eq, ne = Literal(Equality(x, y)), Literal(Equality(x, y), False)
        assert clause(neg, pos).to_string() == f"{pos} ∨ {neg}"
        assert clause(ne, eq).to_string() == f"{eq} ∨ {ne}"
        texts = sorted([str(eq), str(pos), str(neg)])
        assert str(clause(neg, eq, pos)) == " ∨ ".join(texts)

    def test_substitute_merges_and_recomputes(self):
        c = clause(Literal(P(x)), Literal(P(y)), Literal(P(z), False))
        assert c.substitute({}) is c
        merged = c.substitute({y: x})
        assert merged.literals == {Literal(P(x)), Literal(P(z), False)} and not merged.is_tautology
        assert c.substitute({z: x}).is_tautology
        assert merged.free_variables() == {x, z}
        with pytest.raises(TypeError, match="expected dict, got NoneType"):
            c.substitute(None)

    def test_overrides_in_subclasses_are_used(self):
        class Loud(Literal):
            def to_string(self):
                return "LOUD"

            def substitute(self, subst):
                return Literal(P(a))

        c = clause(Loud(P(x)), Literal(P(y)))
        assert c.to_string() == f"LOUD ∨ {Literal(P(y))}" and str(Loud(P(x))) == "LOUD"
        assert c.substitute({x: a}).literals == {Literal(P(a)), Literal(P(y))}
        assert Loud(P(x)) != Literal(P(x)) and repr(Loud(P(x))).startswith("TestClause.")

    def test_pickle(self):
        c = clause(Literal(P(x)), Literal(Equality(x, a), False))
        assert pickle.loads(pickle.dumps(c)) == c
        with pytest.raises(dataclasses.FrozenInstanceError):
            c.literals = frozenset()
