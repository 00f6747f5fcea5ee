"""Typed problems (tff without arithmetic): declared types become sorts, uses are checked."""

import pytest

from zelqor.core.ast import Constant, Equality, FunctionApp, PredicateApp, Variable
from zelqor.core.sorts import Ind, PrimitiveSort
from zelqor.tptp import TPTPError, parse_problem

DECLARATIONS = """
tff(person_type, type, person: $tType).
tff(city_type, type, ('city': $tType)).
tff(alice_type, type, alice: person).
tff(home_type, type, home: person > city).
tff(lives_type, type, lives: (person * city) > $o).
tff(rich_type, type, rich: $o).
"""


def test_declarations_give_sorts_and_a_typed_signature():
    problem = parse_problem(DECLARATIONS + "tff(a, axiom, ! [P: person, C: city] : (lives(P, C) => (P = alice | rich))).")
    person, city = PrimitiveSort("person"), PrimitiveSort("city")
    assert problem.sorts == (person, city)
    sig = problem.signature
    assert sig.constants == {"alice": person}
    assert sig.functions == {"home": (1, (person,), city)}
    assert sig.predicates == {"lives": (2, (person, city)), "rich": (0, ())}
    (axiom,) = problem.formulas
    p, c = Variable(0, sort=person), Variable(1, sort=city)
    assert axiom.language == "tff" and axiom.formula.variable == p and axiom.formula.body.variable == c
    assert axiom.formula.body.body.left == PredicateApp("lives", 2, (p, c))


def test_terms_carry_their_declared_sorts():
    problem = parse_problem(DECLARATIONS + "tff(a, axiom, lives(alice, home(alice))).")
    atom = problem.formulas[0].formula
    person, city = PrimitiveSort("person"), PrimitiveSort("city")
    assert atom.args[0] == Constant("alice", sort=person)
    assert atom.args[1] == FunctionApp("home", 1, (Constant("alice", sort=person),), city)


def test_undeclared_symbols_default_to_individuals_and_untyped_variables_to_i():
    problem = parse_problem("tff(a, axiom, ! [X] : (p(X) | X = f(c))).")
    assert problem.signature.functions == {"f": (1, (Ind,), Ind)}
    assert problem.formulas[0].formula.variable == Variable(0)


def test_typed_clauses():
    problem = parse_problem(DECLARATIONS + "tcf(c, axiom, ! [P: person] : (~ lives(P, home(P)) | P = alice | X = c)).")
    clause = problem.formulas[0]
    assert clause.language == "tcf"
    person = PrimitiveSort("person")
    p = Variable(0, sort=person)
    assert clause.formula.left.left.operand.args[0] == p  # the clause's variables stay free
    assert clause.formula.left.right == Equality(p, Constant("alice", sort=person))
    assert clause.formula.right == Equality(Variable(1), Constant("c"))
    assert clause.variable_names == {0: "P", 1: "X"}


@pytest.mark.parametrize("text, message", [
    ("tff(a, axiom, lives(home(alice), alice)).", "argument 1 of 'lives' has type city where 'lives' takes person"),
    ("tff(a, axiom, alice = home(alice)).", "the two sides of '=' have different types: person and city"),
    ("tff(a, axiom, ! [X: town] : rich).", "type 'town' is not declared"),
    ("tff(b, type, alice: city).", "'alice' is declared again with a different type"),
    ("tff(a, axiom, p(c)).\ntff(b, type, p: city > $o).", "'p' is used at line 8 before this declaration"),
    ("tff(a, axiom, home(alice)).", "'home' is used here as a predicate but as a function in its type declaration"),
    ("tff(a, axiom, p(1)).", "numbers are arithmetic in tff ('1'), which is not supported"),
    ("tff(b, type, n: $int).", "arithmetic types ('$int') are not supported"),
    ("tff(b, type, l: !> [T: $tType] : T).", "polymorphic types ('!>') are not supported"),
    ("tff(b, type, l: $tType > $tType).", "type constructors ($tType > ...) are not supported"),
    ("tff(a, axiom, ! [B: $o] : B).", "variables of type $o belong to the extended typed language"),
    ("tff(b, type, f: person * city > $o).", "a product of types needs parentheses"),
    ("tff(b, type, f: (person > city) > $o).", "functions as arguments belong to the higher-order language"),
    ("tff(b, type, 'Ind': $tType).", "the type name 'Ind' is the library's name for $i"),
    ("tff(a, axiom, p: $o).", "a type declaration needs the role 'type'"),
])
def test_type_errors(text, message):
    with pytest.raises(TPTPError) as caught:
        parse_problem(DECLARATIONS + text, source="typed.p")
    assert message in caught.value.message, caught.value.summary
    assert caught.value.line >= 8


def test_curried_and_nested_declarations():
    problem = parse_problem("tff(s, type, s: $tType).\ntff(f, type, ((f: ((s * s) > s)))).")
    assert problem.signature.functions["f"] == (2, (PrimitiveSort("s"),) * 2, PrimitiveSort("s"))
    assert problem.formulas == ()
