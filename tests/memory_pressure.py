"""Operations run with almost no memory left, in this process.

    python memory_pressure.py OPERATION [HEADROOM ...]

builds the operation's input, then for each headroom (bytes) limits the
address space to what the process uses plus that headroom, runs the
operation, lifts the limit again and prints "HEADROOM outcome", where the
outcome is "ok", "MemoryError" or the name of any other exception. A run that
ends with the line "alive" shows the interpreter went on working afterwards;
a C++ exception escaping into the interpreter kills the process instead.
"""

import gc
import resource
import sys

from zelqor.core.ast import (
    And, Exists, Forall, Not, Or, PredicateApp, Variable, canonicalize_bound_variables, formula_depth,
)
from zelqor.core.visitors import ExportVisitor
from zelqor.prover import clausifier
from zelqor.prover.clausifier import Clause, Literal


def atom(i):
    return PredicateApp("P", 1, (Variable(i),))


def disjunction_of_conjunctions(width):
    """(a0 & b0) | (a1 & b1) | ...: its clause form has 2**width clauses."""
    formula = And(atom(0), atom(1))
    for i in range(1, width):
        formula = Or(formula, And(atom(2 * i), atom(2 * i + 1)))
    return formula


def quantifier_prefix(width):
    """Forall x0 Exists x1 Forall x2 ... over a wide atom: long Skolem argument lists, many renamings."""
    formula = PredicateApp("P", width, tuple(Variable(i) for i in range(width)))
    for i in reversed(range(width)):
        formula = (Exists if i % 2 else Forall)(Variable(i), formula)
    return formula


def operation(name):
    """The operation, with its input built before any limit is set."""
    if name == "clause":
        literals = frozenset(Literal(atom(i), i % 2 == 0) for i in range(200_000))
        return lambda: Clause(literals)
    if name in ("distribute_cnf", "formula_to_clauses", "to_cnf"):
        formula = disjunction_of_conjunctions(14)
        nnf = clausifier.to_nnf(formula)
        if name == "distribute_cnf":
            return lambda: clausifier.distribute_cnf(nnf)
        if name == "formula_to_clauses":
            cnf = clausifier.distribute_cnf(nnf)
            return lambda: clausifier.formula_to_clauses(cnf)
        return lambda: clausifier.to_cnf(formula)
    if name == "quantifiers":
        formula = quantifier_prefix(400)
        return lambda: (clausifier.standardize_variables(formula), canonicalize_bound_variables(formula),
                        clausifier.skolemize(formula))
    if name == "export":
        formula = PredicateApp("P", 100_000, tuple(Variable(i) for i in range(100_000)))
        return lambda: (ExportVisitor("latex").visit(formula), repr(formula))
    raise SystemExit(f"unknown operation {name}")


def map_the_stack():
    """Runs a walk as deep as the stack allows, so that growing the stack later needs no new address space."""
    formula = atom(0)
    for _ in range(300_000):
        formula = Not(formula)
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(10**6)
    try:
        formula_depth(formula)
    except RecursionError:
        pass
    finally:
        sys.setrecursionlimit(limit)


def address_space_in_use():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[0]) * resource.getpagesize()


def main():
    run = operation(sys.argv[1])
    headrooms = [int(arg) for arg in sys.argv[2:]]
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    map_the_stack()
    for headroom in headrooms:
        print(headroom, file=sys.stderr, flush=True)  # names the headroom that crashed, if one does
        gc.collect()
        resource.setrlimit(resource.RLIMIT_AS, (address_space_in_use() + headroom, hard))
        try:
            run()
            outcome = "ok"
        except MemoryError:
            outcome = "MemoryError"
        except Exception as error:
            outcome = type(error).__name__
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print(headroom, outcome, flush=True)
    run()  # with the limit lifted the operation succeeds again
    print("alive")


if __name__ == "__main__":
    main()
