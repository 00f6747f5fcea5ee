"""`python -m zelqor`: a short tour of the library; with arguments, the `zelqor` command line."""

import sys

from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import (
    And, Exists, Forall, FunctionApp, Implies, Not, Or, PredicateApp, Variable,
    canonicalize_bound_variables, formula_depth, formula_size, free_variables,
)
from zelqor.core.parser import to_string
from zelqor.core.signature import Signature
from zelqor.core.visitors import ExportVisitor, SizeVisitor
from zelqor.prover.clausifier import negate_and_clausify, reset_skolem_counters


def section(title):
    print(f"\n== {title}")


def trees():
    section("Formulas as immutable trees")
    x, y = Variable(0), Variable(1)
    loves = lambda a, b: PredicateApp("Loves", 2, (a, b))  # noqa: E731
    mother = lambda a: FunctionApp("mother", 1, (a,))  # noqa: E731
    f = And(Forall(x, loves(x, mother(x))), Exists(Variable(2), loves(Variable(2), y)))
    print("formula:          ", to_string(f))
    print("free variables:   ", sorted(to_string(v) for v in free_variables(f)))
    print("depth, size:      ", formula_depth(f), formula_size(f), "(SizeVisitor:", SizeVisitor().visit(f), end=")\n")
    g = And(Forall(Variable(7), loves(Variable(7), mother(Variable(7)))), Exists(Variable(9), loves(Variable(9), y)))
    print("alpha-variant:    ", to_string(g))
    print("equal trees:      ", f == g, "| equal up to bound names:",
          canonicalize_bound_variables(f) == canonicalize_bound_variables(g))
    for notation in ("infix", "prefix", "latex"):
        print(f"{notation + ':':18s}", ExportVisitor(notation).visit(f))


def clauses():
    section("Clausifying the negation of a conjecture")
    x = Variable(0)
    man = lambda t: PredicateApp("Man", 1, (t,))  # noqa: E731
    mortal = lambda t: PredicateApp("Mortal", 1, (t,))  # noqa: E731
    conjecture = Implies(Forall(x, Implies(man(x), mortal(x))), Forall(x, Implies(man(x), Exists(Variable(1),
                                                                                                 mortal(x)))))
    print("conjecture:", ExportVisitor().visit(conjecture))
    reset_skolem_counters()
    signature = Signature()
    for clause in negate_and_clausify(conjecture, signature):
        print("  clause:", clause.to_string())
    print("Skolem symbols registered:", sorted(signature.constants) + sorted(signature.functions))


def kripke():
    section("A Kripke countermodel to excluded middle")
    p = PredicateApp("p", 0, ())
    w0, w1 = World(0, "w0"), World(1, "w1")
    model = KripkeModel()
    model.add_relation(w0, w1)
    model.add_valuation(w1, p)
    print(model)
    excluded_middle = Or(p, Not(p))
    print(f"w0 forces {ExportVisitor().visit(excluded_middle)}:", model.evaluate(excluded_middle, w0))
    print(f"w0 forces {ExportVisitor().visit(Not(Not(p)))}:", model.evaluate(Not(Not(p)), w0))


def tour():
    trees()
    clauses()
    kripke()


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv:
        tour()
        return 0
    from zelqor.cli import main as command_line

    return command_line(argv)


if __name__ == "__main__":
    sys.exit(main())
