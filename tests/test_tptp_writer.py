"""Writing TPTP: names quoted where the grammar needs it, variables named without capture, and
reading back what was written gives the same tree."""

import os
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
    canonicalize_bound_variables, free_variables,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.core.sorts import Nat
from zelqor.prover.clausifier import Clause, Literal
from zelqor.sol.ast_ext import ForallPred, PredicateVariable
from zelqor.tptp import (
    AnnotatedFormula, format_annotated, format_clause, format_clauses, format_formula, format_problem, parse_formula,
    parse_problem,
)

x, y, z = Variable(0), Variable(1), Variable(2)


def atom(name, *args):
    return PredicateApp(name, len(args), tuple(args))


@pytest.mark.parametrize("formula, text", [
    (atom("p", Constant("a"), FunctionApp("f", 1, (Constant("b"),))), "p(a,f(b))"),
    (atom("Big", Constant("it's"), Constant("back\\slash")), r"'Big'('it\'s','back\\slash')"),
    (atom("p", Constant('"distinct"'), Constant("-12"), Constant("1/3"), Constant("$$sys")),
     'p("distinct",-12,1/3,$$sys)'),
    (atom("$true"), "'$true'"),
    (And(VERUM, Not(FALSUM)), "$true & ~ $false"),
    (Not(Equality(Constant("a"), Constant("b"))), "a != b"),
    (Or(And(atom("p"), atom("q")), atom("r")), "(p & q) | r"),
    (And(atom("p"), And(atom("q"), atom("r"))), "p & (q & r)"),
    (And(And(atom("p"), atom("q")), atom("r")), "p & q & r"),
    (Implies(Not(Or(atom("p"), atom("q"))), Iff(atom("p"), atom("q"))), "~ (p | q) => (p <=> q)"),
    (Forall(x, Exists(y, Forall(z, atom("p", x, y, z)))), "! [X0] : ? [X1] : ! [X2] : p(X0,X1,X2)"),
    (Forall(x, Forall(y, Equality(x, y))), "! [X0,X1] : (X0 = X1)"),
    (And(Forall(x, atom("p", x)), atom("q")), "(! [X0] : p(X0)) & q"),
])
def test_text(formula, text):
    assert format_formula(formula) == text


def test_variables_take_their_names_unless_that_would_capture():
    f = Forall(x, Exists(y, atom("p", x, y)))
    assert format_formula(f, {0: "A", 1: "B"}) == "! [A] : ? [B] : p(A,B)"
    # Both want the name X: the inner one must not capture the outer.
    assert format_formula(f, {0: "X", 1: "X"}) == "! [X] : ? [X0] : p(X,X0)"
    # A name that is not a TPTP variable is not used.
    assert format_formula(f, {0: "lower", 1: "B"}) == "! [X0] : ? [B] : p(X0,B)"
    # The same variable bound twice, or in two places, keeps one name.
    g = Forall(x, And(atom("p", x), Forall(x, atom("q", x))))
    assert format_formula(g, {0: "X"}) == "! [X] : (p(X) & (! [X] : q(X)))"
    # A free variable keeps its name; a binder that wants the same name steps aside.
    h = And(atom("p", y), Forall(x, atom("q", x, y)))
    assert format_formula(h, {0: "Y", 1: "Y"}) == "p(Y) & (! [X0] : q(X0,Y))"
    # An inner binder may hide an outer one its body never mentions, as sources do; not one it
    # mentions, and not a binder of the same list.
    shadowing = Forall(x, And(atom("p", x), Forall(y, atom("q", y))))
    assert format_formula(shadowing, {0: "P", 1: "P"}) == "! [P] : (p(P) & (! [P] : q(P)))"
    assert format_formula(Forall(x, Forall(y, atom("q", y))), {0: "P", 1: "P"}) == "! [P,X0] : q(X0)"
    capture = Forall(x, Forall(z, And(atom("p", x), Forall(y, atom("q", y, z)))))
    assert format_formula(capture, {0: "P", 1: "Q", 2: "Q"}) == "! [P,Q] : (p(P) & (! [X0] : q(X0,Q)))"


def test_infix_notation():
    f = Forall(x, Implies(atom("p", x), Or(Not(atom("q", x)), Not(Equality(x, Constant("a"))))))
    assert format_formula(f, notation="infix") == "∀X0. (p(X0) → (¬q(X0) ∨ X0 ≠ a))"
    with pytest.raises(ValueError, match="unsupported notation"):
        format_formula(f, notation="latex")


@pytest.mark.parametrize("formula, message", [
    (ForallPred(PredicateVariable("P", 1), atom("q")), "cannot write the formula <class 'zelqor.sol.ast_ext.ForallPred'>"),
    (atom("p", Constant("Löwe")), "'Löwe' cannot be written in TPTP"),
    (PredicateApp(PredicateVariable("P", 0), 0, ()), "cannot write the symbol"),
    (Forall(Variable(0, sort=Nat), atom("p", Variable(0, sort=Nat))), "sorts other than $i, which only tff can write"),
])
def test_what_tptp_cannot_say(formula, message):
    with pytest.raises(InvalidFormulaError) as caught:
        format_formula(formula)
    assert message in str(caught.value)


def test_typed_binders():
    n = Variable(0, sort=Nat)
    f = Forall(n, atom("p", n, Constant("12", sort=Nat)))
    assert format_formula(f, typed=True) == "! [X0: 'Nat'] : p(X0,'12')"  # a number would be arithmetic
    assert format_annotated(AnnotatedFormula("t", "axiom", "tff", f)) == "tff(t, axiom, ! [X0: 'Nat'] : p(X0,'12'))."


def test_annotated_formulas():
    f = AnnotatedFormula("1", "axiom", "fof", Forall(x, atom("p", x)), variable_names={0: "X"})
    assert format_annotated(f) == "fof(1, axiom, ! [X] : p(X))."
    clause = AnnotatedFormula("c one", "negated_conjecture", "cnf", Or(Not(atom("p", x)), Equality(x, y)))
    assert format_annotated(clause) == "cnf('c one', negated_conjecture, ~ p(X0) | X0 = X1)."
    sorted_clause = AnnotatedFormula("t", "axiom", "cnf", atom("p", Variable(0, sort=Nat)))
    assert format_annotated(sorted_clause) == "tcf(t, axiom, ! [X0: 'Nat'] : (p(X0)))."
    with pytest.raises(InvalidFormulaError, match="has free variables"):
        format_annotated(AnnotatedFormula("f", "axiom", "fof", atom("p", x)))
    with pytest.raises(ValueError, match="unknown role"):
        format_annotated(AnnotatedFormula("f", "axim", "fof", atom("p")))


def test_clauses_print_in_a_fixed_order_whatever_the_hash_seed():
    code = ("from zelqor.core.ast import *; from zelqor.prover.clausifier import Clause, Literal; "
            "from zelqor.tptp import format_clause; x, y = Variable(7), Variable(3); "
            "lits = [Literal(PredicateApp(n, 2, (x, y)), s) for n in 'pqrs' for s in (True, False)]; "
            "lits.append(Literal(Equality(y, Constant('a')), False)); "
            "print(format_clause(Clause(frozenset(lits))))")
    outputs = set()
    for seed in ("1", "2", "3"):
        env = dict(os.environ, PYTHONHASHSEED=seed)
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True)
        outputs.add(done.stdout)
    assert len(outputs) == 1
    assert outputs.pop().strip() == ("X0 != a | p(X1,X0) | q(X1,X0) | r(X1,X0) | s(X1,X0) | ~ p(X1,X0) | ~ q(X1,X0) "
                                     "| ~ r(X1,X0) | ~ s(X1,X0)")
    assert format_clause(Clause()) == "$false"
    assert format_clause(Clause(frozenset({Literal(atom("p", x), False)})), notation="infix") == "¬p(X0)"


# ---- round trips ----------------------------------------------------------------------------

PREDICATES = {"p": 0, "q": 1, "r": 2, "Big p": 1, "it's": 2}
FUNCTIONS = {"f": 1, "g": 2, "h h": 1}
CONSTANTS = ["a", "b", '"obj"', "12", "$$s", "c d"]
VARIABLES = [Variable(i) for i in range(4)]

terms = st.recursive(
    st.sampled_from(VARIABLES) | st.sampled_from(CONSTANTS).map(Constant),
    lambda inner: st.sampled_from(sorted(FUNCTIONS)).flatmap(
        lambda name: st.lists(inner, min_size=FUNCTIONS[name], max_size=FUNCTIONS[name]).map(
            lambda args: FunctionApp(name, len(args), tuple(args)))),
    max_leaves=5,
)
atoms = (st.sampled_from(sorted(PREDICATES)).flatmap(
    lambda name: st.lists(terms, min_size=PREDICATES[name], max_size=PREDICATES[name]).map(
        lambda args: PredicateApp(name, len(args), tuple(args))))
         | st.builds(Equality, terms, terms) | st.sampled_from([VERUM, FALSUM]))
formulas = st.recursive(atoms, lambda inner: (
    st.builds(Not, inner) | st.builds(And, inner, inner) | st.builds(Or, inner, inner)
    | st.builds(Implies, inner, inner) | st.builds(Iff, inner, inner)
    | st.builds(Forall, st.sampled_from(VARIABLES), inner) | st.builds(Exists, st.sampled_from(VARIABLES), inner)),
    max_leaves=12)


def closed(formula):
    for variable in sorted(free_variables(formula), key=lambda v: v.id, reverse=True):
        formula = Forall(variable, formula)
    return formula


@settings(max_examples=120, deadline=None)
@given(formulas.map(closed), st.dictionaries(st.integers(0, 3), st.sampled_from(["X", "Y", "Zed", "bad"])))
def test_reading_what_was_written_gives_the_same_tree(formula, names):
    text = format_formula(formula, names)
    again = parse_formula(text)
    assert canonicalize_bound_variables(again) == canonicalize_bound_variables(formula), text


def test_a_problem_round_trips_exactly():
    text = ("tff(s_type, type, s: $tType).\ntff(g_type, type, g: (s * $i) > s).\n"
            "fof(a, axiom, ! [X, Y] : (p(X, Y) => ~ q(Y))).\n"
            "cnf(b, axiom, ~ p(X, 'a b') | X = \"o\").\n"
            "tff(c, conjecture, ! [U: s] : ? [V] : g(U, V) = U).\n"
            "fof(d, axiom, ! [P, Q] : (on(P, Q) <=> ? [C] : (! [P] : in(P, C) & at(C, P)))).\n")
    problem = parse_problem(text)
    written = format_problem(problem)
    again = parse_problem(written)
    assert [f.formula for f in again] == [f.formula for f in problem]
    assert [(f.name, f.role, f.language, f.variable_names) for f in again] == \
        [(f.name, f.role, f.language, f.variable_names) for f in problem]
    assert again.sorts == problem.sorts and again.signature.functions == problem.signature.functions
    assert format_problem(again) == written


@pytest.mark.parametrize("group", [1, ("a",), ["a", "axiom", []], ("a", 2, [])])
def test_groups_that_are_not_name_role_clauses_triples_are_type_errors(group):
    with pytest.raises(TypeError, match="format_clauses"):
        format_clauses([group])
