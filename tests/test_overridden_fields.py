"""A node subclass may redefine a field as a property: every operation then reads the field as the
visitors do, through the attribute, and never the value stored at construction."""

from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, Not, PredicateApp, Variable, bound_variables,
    canonicalize_bound_variables, formula_depth, formula_size, free_variables,
)
from zelqor.core.substitutions import substitute_formula
from zelqor.core.visitors import FreeVariableCollector, SizeVisitor
from zelqor.prover.clausifier import (
    Literal, distribute_cnf, drop_universals, eliminate_implications, formula_to_clauses, skolemize,
    standardize_variables, to_cnf, to_nnf,
)

x7, x9 = Variable(7), Variable(9)
P7 = PredicateApp("P", 1, (x7,))
Q = PredicateApp("Q", 0, ())
c = Constant("c")


class NotP7(Not):
    """Built over anything, reads as ~P(x7)."""

    @property
    def operand(self):
        return P7


class AndP7(And):
    """Its left operand reads as P(x7)."""

    @property
    def left(self):
        return P7


class ExistsX9(Exists):
    """Binds x9, whatever it was built with."""

    @property
    def variable(self):
        return x9


class EqualsX7(Equality):
    @property
    def left(self):
        return x7


class Renumbered(Variable):
    """A variable whose id reads as 100."""

    @property
    def id(self):
        return 100


def texts(clauses):
    return sorted(str(clause) for clause in clauses)


def test_structural_queries():
    assert free_variables(NotP7(Q)) == {x7} == FreeVariableCollector().visit_not(NotP7(Q))
    assert free_variables(ExistsX9(x7, P7)) == {x7}
    assert bound_variables(ExistsX9(x7, P7)) == {x9}
    assert bound_variables(NotP7(Exists(x9, Q))) == set()
    assert formula_depth(NotP7(And(Q, Not(Q)))) == 2
    deep = NotP7(And(Q, Not(Q)))
    assert formula_size(deep) == 3 == SizeVisitor().visit_not(deep)


def test_canonicalization():
    canonical = canonicalize_bound_variables(ExistsX9(x7, P7))
    assert canonical == Exists(Variable(0), P7)  # x7 stays free: the quantifier binds x9


def test_substitution():
    result = substitute_formula(NotP7(Q), {x7: c})
    assert Not.operand.__get__(result) == PredicateApp("P", 1, (c,))
    rebuilt = substitute_formula(AndP7(Q, Q), {x7: c})  # rebuilt in the node's own class
    assert type(rebuilt) is AndP7
    assert (And.left.__get__(rebuilt), And.right.__get__(rebuilt)) == (PredicateApp("P", 1, (c,)), Q)


def test_clausifier_steps():
    assert texts(formula_to_clauses(AndP7(Q, Q))) == texts(formula_to_clauses(And(P7, Q)))
    assert texts(to_cnf(NotP7(Q))) == texts(to_cnf(Not(P7)))
    assert eliminate_implications(NotP7(Q)) == Not(P7)
    assert distribute_cnf(AndP7(Q, Q)) == And(P7, Q)
    assert to_nnf(Not(AndP7(Q, Q))) == to_nnf(Not(And(P7, Q)))
    assert drop_universals(Forall(x7, AndP7(Q, Q))) == And(P7, Q)
    assert skolemize(ExistsX9(x7, PredicateApp("R", 1, (x9,)))).args[0].name.startswith("sk_c")
    standardized = standardize_variables(Forall(Renumbered(0), P7))
    assert standardized.variable.id == 101  # above every id in sight, the renumbered one included


def test_literal_text():
    assert str(Literal(EqualsX7(c, c))) == str(Literal(Equality(x7, c)))


def test_single_walk_clausifier_reads_ids_as_attributes():
    (clause,) = to_cnf(Forall(Variable(0), PredicateApp("P", 2, (Variable(0), Renumbered(5)))))
    (literal,) = clause.literals
    assert literal.atom.args[0].id == 101


def test_forcing():
    w = World(0, "w0")
    model = KripkeModel()
    model.add_valuation(w, Q)
    assert model.evaluate(And(Q, Q), w) is True
    assert model.evaluate(AndP7(Q, Q), w) is False
    assert model.evaluate(NotP7(Q), w) is True  # built over Q, reads as ~P(x7)
