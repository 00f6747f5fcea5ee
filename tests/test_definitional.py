"""Definitional clause form: naming, definitions, symbols and counters."""

import itertools
import re

import pytest

import zelqor.prover.clausifier as cz
import zelqor.prover.definitional as zd
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.signature import Signature
from zelqor.core.sorts import Nat
from zelqor.prover.clausifier import Clause, Literal, reset_skolem_counters
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

A, B, C, D, E, F, G, H = (PredicateApp(n, 0, ()) for n in "ABCDEFGH")
x, y, z = Variable(1), Variable(2), Variable(3)


def P(*args):
    return PredicateApp("P", len(args), args)


def Q(*args):
    return PredicateApp("Q", len(args), args)


@pytest.fixture(autouse=True)
def fresh_counters():
    reset_skolem_counters()
    yield
    reset_skolem_counters()


def texts(clauses):
    return [str(c) for c in clauses]


def definition_names(clauses):
    return sorted({lit.atom.pred for c in clauses for lit in c.literals
                   if isinstance(lit.atom, PredicateApp) and lit.atom.pred.startswith("def_")})


def disjunction_of_conjunctions(n, width=2):
    atoms = iter(PredicateApp(f"p{i}", 0, ()) for i in itertools.count())
    parts = []
    for _ in range(n):
        conj = next(atoms)
        for _ in range(width - 1):
            conj = And(conj, next(atoms))
        parts.append(conj)
    f = parts[0]
    for part in parts[1:]:
        f = Or(f, part)
    return f


class Recorder:
    """A signature that records every registration, in order."""

    def __init__(self):
        self.calls = []

    def register_constant(self, *args):
        self.calls.append(("constant", *args))

    def register_function(self, *args):
        self.calls.append(("function", *args))

    def register_predicate(self, *args):
        self.calls.append(("predicate", *args))


class TestWithoutNaming:
    def test_same_clauses_order_and_skolem_symbols_as_the_clausifier(self):
        f = And(Forall(x, Iff(P(x), Exists(y, Q(x, y)))), Or(And(A, B), Exists(z, And(C, P(z)))))
        ours, theirs = Recorder(), Recorder()
        mine = zd.to_cnf(f, ours, threshold=None)
        reset_skolem_counters()
        assert mine == cz.to_cnf(f, theirs)
        assert ours.calls == theirs.calls and ours.calls

    def test_small_formulas_are_left_alone_by_default(self):
        f = Implies(And(A, Or(B, C)), Or(D, And(E, F)))
        assert zd.to_cnf(f) == cz.to_cnf(f)
        assert zd.negate_and_clausify(f) == cz.negate_and_clausify(f)


class TestNaming:
    def test_disjunction_of_conjunctions_stays_linear(self):
        f = disjunction_of_conjunctions(12)
        assert len(cz.to_cnf(f)) == 2 ** 12
        clauses = zd.to_cnf(f, threshold=4)
        assert len(clauses) <= 4 * 12
        assert all(isinstance(c, Clause) and all(isinstance(l, Literal) for l in c.literals) for c in clauses)

    def test_nested_equivalences_stay_linear(self):
        f = A
        for atom in [B, C, D, E, F, G, H] * 3:
            f = Iff(atom, f)
        assert len(zd.to_cnf(f, threshold=8)) < 200

    def test_positive_occurrence_defines_one_direction(self):
        big = And(A, And(B, C))
        clauses = zd.to_cnf(Or(big, And(D, And(E, F))), threshold=4)
        (name,) = definition_names(clauses)
        d = PredicateApp(name, 0, ())
        # Only d -> its conjunction: d never occurs positively in a clause of its own.
        defining = [c for c in clauses if Literal(d, False) in c.literals]
        assert {frozenset(c.literals) - {Literal(d, False)} for c in defining} in (
            {frozenset({Literal(a)}) for a in (A, B, C)}, {frozenset({Literal(a)}) for a in (D, E, F)})
        assert all(Literal(d, True) in c.literals for c in clauses if c not in defining)

    def test_negative_occurrence_defines_the_other_direction(self):
        clauses = zd.negate_and_clausify(Or(And(A, And(B, C)), And(D, And(E, F))), threshold=4)
        assert len(cz.negate_and_clausify(Or(And(A, And(B, C)), And(D, And(E, F))))) == 2
        assert clauses == cz.negate_and_clausify(Or(And(A, And(B, C)), And(D, And(E, F))))
        # Under a negation a disjunction is a conjunction: nothing to name. A
        # negated conjunction of disjunctions is, and its definition goes the
        # other way round: subformula -> d.
        g = Not(And(Or(A, Or(B, C)), Or(D, Or(E, F))))
        clauses = zd.to_cnf(g, threshold=4)
        (name,) = definition_names(clauses)
        d = PredicateApp(name, 0, ())
        defining = [c for c in clauses if Literal(d, True) in c.literals]
        assert len(defining) == 3 and all(len(c.literals) == 2 for c in defining)
        assert all(next(iter(c.literals - {Literal(d, True)})).positive is False for c in defining)

    def test_equivalence_defines_both_directions(self):
        big = Or(And(A, B), And(C, D))
        clauses = zd.to_cnf(Iff(Or(And(E, F), And(G, H)), big), threshold=2)
        names = definition_names(clauses)
        assert names
        for name in names:
            d = PredicateApp(name, 0, ())
            assert any(Literal(d, True) in c.literals for c in clauses)
            assert any(Literal(d, False) in c.literals for c in clauses)

    def test_equal_subformulas_share_one_definition(self):
        def shared():  # a new object each time
            return And(A, And(B, C))

        f = And(Or(shared(), And(D, And(E, F))), Or(And(G, And(H, D)), shared()))
        clauses = zd.to_cnf(f, threshold=4)
        (name,) = definition_names(clauses)
        d = PredicateApp(name, 0, ())
        defining = [c for c in clauses if Literal(d, False) in c.literals]
        assert {frozenset(c.literals) for c in defining} == {
            frozenset({Literal(d, False), Literal(a)}) for a in (A, B, C)}
        # Named in both disjunctions, with d in place of the conjunction (d ∨ D only once).
        assert {frozenset(c.literals) - {Literal(d, True)} for c in clauses if Literal(d, True) in c.literals} == {
            frozenset({Literal(a)}) for a in (D, E, F, G, H)}
        assert len(clauses) == 8

    def test_arguments_are_the_variables_of_what_the_free_variables_stand_for(self):
        n = Variable(7, sort=Nat)
        big = And(P(x, n), And(Q(n), P(y)))
        f = Forall(x, Exists(n, Forall(y, Or(big, And(Q(x), And(Q(y), A))))))
        signature = Recorder()
        clauses = zd.to_cnf(f, signature, threshold=4)
        (name,) = definition_names(clauses)
        # x and y are universal: arguments; n is the Skolem term sk_f0(x), inside the definition too.
        assert signature.calls[-1] == ("predicate", name, 2, (x.sort, y.sort))
        defining = [c for c in clauses if any(not l.positive and l.atom.pred == name for l in c.literals)]
        assert len(defining) == 3
        (d,) = {l.atom for c in defining for l in c.literals if l.atom.pred == name}
        assert all(isinstance(t, Variable) for t in d.args) and len(set(d.args)) == 2
        skolem = {t for c in defining for l in c.literals for t in l.atom.args if isinstance(t, FunctionApp)}
        assert skolem == {FunctionApp("sk_f0", 1, (d.args[0],), Nat)}

    def test_skolem_constants_stay_constants_in_definitions(self):
        # The negated conjecture's variables are Skolem constants: the definition speaks of them.
        goal = Forall(x, Forall(y, And(Or(P(x), Or(Q(y), A)), Or(Q(x), Or(P(y), B)))))
        clauses = zd.negate_and_clausify(goal, threshold=2)
        assert definition_names(clauses)
        assert all(not l.atom.args or not isinstance(l.atom.args[0], Variable) for c in clauses for l in c.literals)

    def test_existentials_in_a_definition_depend_on_its_variables_only(self):
        inner = Exists(z, And(Q(x, z), And(Q(z), P(z))))
        f = Forall(x, Forall(y, Or(And(P(x, y), And(P(y), A)), Or(inner, And(B, And(C, D))))))
        clauses = zd.to_cnf(f, threshold=2)
        skolem = {t for c in clauses for l in c.literals for t in l.atom.args
                  if isinstance(t, FunctionApp) and t.func.startswith("sk_f")}
        assert skolem and all(t.arity == 1 for t in skolem)
        assert all(t.arity == 2 for c in cz.to_cnf(f) for l in c.literals for t in l.atom.args
                   if isinstance(t, FunctionApp))

    @pytest.mark.parametrize("bad, error", [(0, ValueError), (-3, ValueError), (1.5, TypeError), (True, TypeError),
                                            ("8", TypeError)])
    def test_threshold_is_a_positive_int_or_none(self, bad, error):
        with pytest.raises(error, match="threshold"):
            zd.to_cnf(A, threshold=bad)
        assert zd.to_cnf(disjunction_of_conjunctions(3), threshold=10 ** 30) == cz.to_cnf(
            disjunction_of_conjunctions(3))


def clause_set(clauses):
    return [frozenset(str(l) for l in c.literals) for c in clauses]


class TestSimplification:
    """Named clause forms drop what provers drop on reading: the pipeline without naming keeps it all."""

    def test_failing_equivalence_gives_two_products_not_four(self):
        # (∃x P(x) ∧ ¬B) ∨ (B ∧ ∀x ¬P(x)) distributes into P(sk) ∨ ¬P(x), which no tautology check
        # catches; (∃x P(x) ∨ B) ∧ (∀x ¬P(x) ∨ ¬B) says the same.
        f = Not(Iff(Exists(x, P(x)), B))
        assert len(cz.to_cnf(f)) == 3
        assert clause_set(zd.to_cnf(f)) == [{"PredicateApp(pred='B', arity=0, args=())", str(Literal(P(
            Constant("sk_c1"))))}, {"¬PredicateApp(pred='B', arity=0, args=())", str(Literal(P(Variable(3)), False))}]

    def test_equalities_resolved_away(self):
        a, b = Constant("a"), Constant("b")
        # ∀x∀y (x = y ∧ P(x) → P(y)): x ≠ y ∨ ¬P(x) ∨ P(y) becomes ¬P(y) ∨ P(y), a tautology.
        substitution = Forall(x, Forall(y, Implies(And(Equality(x, y), P(x)), P(y))))
        assert zd.to_cnf(substitution) == [] and len(cz.to_cnf(substitution)) == 1
        (clause,) = zd.to_cnf(Forall(x, Or(Not(Equality(FunctionApp("f", 1, (y,)), x)), Q(x, a))))
        (literal,) = clause.literals
        assert literal == Literal(Q(FunctionApp("f", 1, (y,)), a))
        # t = t makes a clause true; t ≠ t is false; x ≠ f(x) stays.
        assert zd.to_cnf(Or(Equality(a, a), P(b))) == []
        assert clause_set(zd.to_cnf(Or(Not(Equality(a, a)), P(b)))) == [frozenset({str(Literal(P(b)))})]
        fx = FunctionApp("f", 1, (x,))
        assert len(next(iter(zd.to_cnf(Forall(x, Or(Not(Equality(x, fx)), P(x)))))).literals) == 2

    def test_unit_clauses_simplify_the_rest(self):
        a = Constant("a")
        f = And(Forall(x, P(x)), And(Or(Not(P(a)), Q(a)), Or(P(a), B)))
        assert clause_set(zd.to_cnf(f)) == clause_set(zd.to_cnf(And(Forall(x, P(x)), Q(a))))
        assert zd.to_cnf(And(Forall(x, P(x)), Not(P(a)))) == [Clause()]
        assert zd.to_cnf(And(A, A)) == [Clause(frozenset({Literal(A)}))]
        # Equalities match either way round; a unit's variable stands for one term throughout.
        b, fx, fb = Constant("b"), FunctionApp("f", 1, (x,)), FunctionApp("f", 1, (Constant("b"),))
        g = And(Forall(x, Equality(fx, a)), Or(Not(Equality(a, fb)), B))
        assert clause_set(zd.to_cnf(g)) == clause_set(zd.to_cnf(And(Forall(x, Equality(fx, a)), B)))
        h = And(Forall(x, Q(x, x)), And(Or(Not(Q(a, b)), B), Or(Not(Q(b, b)), C)))
        kept = And(Forall(x, Q(x, x)), And(Or(Not(Q(a, b)), B), C))
        assert clause_set(zd.to_cnf(h)) == clause_set(zd.to_cnf(kept))

    def test_operands_equal_up_to_bound_variables_are_one(self):
        every_x, every_y = Forall(x, P(x)), Forall(y, P(y))
        assert zd.negate_and_clausify(Iff(every_x, every_y)) == [Clause()]
        assert zd.to_cnf(Implies(every_x, every_y)) == []
        assert len(zd.to_cnf(Or(every_x, every_y))) == 1 and len(cz.to_cnf(Or(every_x, every_y))) == 1
        assert len(next(iter(zd.to_cnf(Or(every_x, every_y)))).literals) == 1
        # Not equal: the bound variable against a free one.
        assert zd.to_cnf(Implies(every_x, Forall(y, P(x)))) != []


    def test_clauses_of_several_formulas_simplified_together(self):
        a = Constant("a")
        clauses = zd.to_cnf(Forall(x, P(x))) + zd.to_cnf(Or(Not(P(a)), B)) + zd.to_cnf(Or(A, B)) + zd.to_cnf(Or(B, A))
        assert clause_set(zd.simplify_clauses(clauses)) == clause_set(zd.to_cnf(Forall(x, P(x))) + zd.to_cnf(B))
        assert zd.simplify_clauses(clauses + zd.to_cnf(Not(B))) == [Clause()]
        assert zd.simplify_clauses([]) == []

    def test_simplify_clauses_takes_a_list_of_our_clauses(self):
        with pytest.raises(TypeError, match="expected list, got tuple"):
            zd.simplify_clauses(tuple(zd.to_cnf(A)))
        with pytest.raises(TypeError, match="expected a Clause of Literal values"):
            zd.simplify_clauses([Clause(frozenset({Literal(A, 1)}))])
        with pytest.raises(TypeError, match="expected a Clause"):
            zd.simplify_clauses([A])


class TestSymbols:
    def test_names_skip_symbols_of_the_formula(self):
        clash = And(PredicateApp("def_0", 1, (FunctionApp("def_1", 1, (Constant("def_2"),)),)),
                    Equality(Constant("def_3"), Constant("c")))
        f = And(clash, disjunction_of_conjunctions(4, width=3))
        clauses = zd.to_cnf(f, threshold=4)
        names = [n for n in definition_names(clauses) if n != "def_0"]
        assert names and not set(names) & {"def_1", "def_2", "def_3"}
        assert [l.atom.arity for c in clauses for l in c.literals
                if getattr(l.atom, "pred", None) == "def_0"] == [1]

    def test_names_skip_symbols_of_the_signature_and_are_registered(self):
        signature = Signature()
        signature.register_predicate("def_0", 0, ())
        signature.register_function("def_1", 1, (Nat,), Nat)
        signature.register_constant("def_2", Nat)
        clauses = zd.to_cnf(disjunction_of_conjunctions(4, width=3), signature, threshold=4)
        names = definition_names(clauses)
        assert names and not set(names) & {"def_0", "def_1", "def_2"}
        assert all(signature.predicates[name] == (0, ()) for name in names)

    def test_numbering_continues_across_calls_and_restarts_with_the_skolem_counters(self):
        f = disjunction_of_conjunctions(4, width=3)
        first = definition_names(zd.to_cnf(f, threshold=4))
        second = definition_names(zd.to_cnf(f, threshold=4))
        assert not set(first) & set(second)
        reset_skolem_counters()
        assert definition_names(zd.to_cnf(f, threshold=4)) == first

    def test_skolem_symbols_come_from_the_clausifier_counters(self):
        f = Exists(x, Forall(y, Exists(z, P(x, y, z))))
        zd.to_cnf(f)
        (clause,) = zd.to_cnf(f)
        (literal,) = clause.literals
        a, _, b = literal.atom.args
        assert a == Constant("sk_c1") and b.func == "sk_f1"
        assert next(cz._skolem_constant_counter) == 2

    def test_failing_registrations_are_ignored(self):
        class Refusing:
            def register_predicate(self, *args):
                raise RuntimeError("no")

            predicates = property(lambda self: 1 / 0)

        f = disjunction_of_conjunctions(4, width=3)
        assert len(zd.to_cnf(f, Refusing(), threshold=4)) == len(zd.to_cnf(f, object(), threshold=4))


class TestMiniscope:
    def test_skolem_functions_take_fewer_arguments(self):
        f = Forall(x, Forall(y, Or(P(x, y), Exists(z, Q(y, z)))))
        plain = zd.to_cnf(f, threshold=None)
        reset_skolem_counters()
        scoped = zd.to_cnf(f, threshold=None, miniscope=True)
        arity = lambda clauses: {t.arity for c in clauses for l in c.literals for t in l.atom.args
                                 if isinstance(t, FunctionApp)}
        assert arity(plain) == {2} and arity(scoped) == {1}

    def test_quantifiers_split_over_their_connectives(self):
        f = Exists(x, Or(P(x), And(Q(x), Not(Forall(y, Implies(P(y), Q(x)))))))
        clauses = zd.to_cnf(f, threshold=None, miniscope=True)
        constants = {t.name for c in clauses for l in c.literals for t in l.atom.args if isinstance(t, Constant)}
        assert len(constants) == 3  # ∃x P(x) ∨ ∃x (Q(x) ∧ ∃y (P(y) ∧ ¬Q(x)))
        vacuous = Forall(x, Exists(y, A))
        assert zd.to_cnf(vacuous, miniscope=True) == [Clause(frozenset({Literal(A)}))]


class TestErrors:
    def test_unsupported_nodes_are_reported_before_anything_is_drawn(self):
        bad = And(Exists(x, P(x)), ForallPred(PredicateVariable("X", 1), A))
        for options in ({}, {"threshold": None}, {"miniscope": True}):
            with pytest.raises(ValueError, match=re.escape(
                    "Unsupported formula node: <class 'zelqor.sol.ast_ext.ForallPred'>")):
                zd.to_cnf(bad, **options)
        assert next(cz._skolem_constant_counter) == 0
        with pytest.raises(ValueError, match="Unsupported formula node: <class 'zelqor.core.ast.Variable'>"):
            zd.to_cnf(Or(A, x))

    def test_counter_that_hands_out_taken_names_does_not_hang(self, monkeypatch):
        f = And(PredicateApp("def_0", 0, ()), disjunction_of_conjunctions(4, width=3))
        zd.to_cnf(f, threshold=4)
        monkeypatch.setattr(zd, "_definition_counter", itertools.repeat(0))
        with pytest.raises(RuntimeError, match="no fresh name"):
            zd.to_cnf(f, threshold=4)
