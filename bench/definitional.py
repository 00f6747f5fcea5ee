"""Definitional clause form against the distributing pipeline, on formulas that blow up, in one run.

    python bench/definitional.py            # every workload
    python bench/definitional.py --quick    # smaller sizes, for a smoke run

Compared on the same formulas:
  - distribute:   zelqor.prover.clausifier.to_cnf (distribution, no naming)
  - definitional: zelqor.prover.definitional.to_cnf at its default threshold (and mini-scoping default)

Workloads:
  - or-of-n-ands: the disjunction of n two-atom conjunctions (2^n clauses when distributed);
  - iff-chain-n:  a1 <=> (a2 <=> (... <=> an)) over distinct atoms;
  - set-defs-k:   k set-theory definitions of the shape of real problems, each
                  ![A,B,C]: (C = op(A,B) <=> ![D]: (in(D,C) <=> (in(D,A) | in(D,B)) & ...)),
                  nested one inside the next (the definiens of one holds the next);
  - fo-random:    the seeded random first-order problems of bench/clausify.py (little to name).
The distributing pipeline is skipped where its clause count (counted without building the clauses)
passes SKIP_ABOVE; the table then shows that count. Times are the process's CPU time, the best of
five runs (the machine may be shared).
"""

import argparse
import gc
import os
import sys
import time

import zelqor.prover.clausifier as cz
import zelqor.prover.definitional as zd
from zelqor.core.ast import (
    And, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable, formula_size,
)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from clausify import Generator, clause_count, disjunction_of_conjunctions  # noqa: E402
from tables import fmt_time, print_rows  # noqa: E402

SKIP_ABOVE = 2_000_000


def iff_chain(n):
    atoms = [PredicateApp(f"a{i}", 0, ()) for i in range(n)]
    f = atoms[-1]
    for atom in reversed(atoms[:-1]):
        f = Iff(atom, f)
    return f


def set_definitions(k):
    """k nested definitions: C = op_i(A,B) <=> ![D]: (in(D,C) <=> (in(D,A) | in(D,B)) & (rest))."""
    a, b, c, d = (Variable(i) for i in range(4))

    def member(x, s):
        return PredicateApp("r2_hidden", 2, (x, s))

    f = Or(member(d, a), member(d, b))
    for i in reversed(range(k)):
        op = FunctionApp(f"k{i}_xboole_0", 2, (a, b))
        body = Forall(d, Iff(member(d, c), And(Or(member(d, a), Not(member(d, b))), f)))
        f = Forall(a, Forall(b, Forall(c, Iff(Equality(c, op), body))))
    return f


def timed(fn, formulas, repeat):
    best, result = None, None
    for _ in range(repeat):
        cz.reset_skolem_counters()
        gc.collect()
        start = time.process_time()
        result = [fn(f) for f in formulas]
        elapsed = time.process_time() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, sum(len(r) for r in result), result


def definitions(results):
    return len({lit.atom.pred for clauses in results for clause in clauses for lit in clause.literals
                if isinstance(lit.atom, PredicateApp) and isinstance(lit.atom.pred, str)
                and lit.atom.pred.startswith("def_")})


def measure(name, formulas, repeat=5):
    row = {"workload": name, "formulas": len(formulas),
           "nodes": sum(formula_size(f) for f in formulas) // len(formulas)}
    expected = sum(clause_count(f) for f in formulas)
    if expected > SKIP_ABOVE:
        row["distribute"], row["distribute_clauses"] = None, f"~{expected:.2e}"
    else:
        row["distribute"], row["distribute_clauses"], _ = timed(cz.to_cnf, formulas, repeat)
    row["definitional"], row["definitional_clauses"], results = timed(zd.to_cnf, formulas, repeat)
    row["definitions"] = definitions(results)
    return row


def print_table(rows):
    head = ["workload", "formulas", "nodes", "distribute clauses", "distribute time", "definitional clauses",
            "definitions", "definitional time", "time × faster"]
    lines = [head]
    for r in rows:
        speedup = "-" if r["distribute"] is None else f"{r['distribute'] / r['definitional']:.1f}×"
        lines.append([r["workload"], str(r["formulas"]), str(r["nodes"]), str(r["distribute_clauses"]),
                      fmt_time("skipped" if r["distribute"] is None else r["distribute"]), str(r["definitional_clauses"]), str(r["definitions"]),
                      fmt_time(r["definitional"]), speedup])
    print_rows(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller sizes")
    args = parser.parse_args()
    print(f"Python {sys.version.split()[0]}; distribution skipped above {SKIP_ABOVE:,} clauses")
    rows = []
    for n in (4, 8, 12, 16) if args.quick else (4, 8, 12, 16, 20, 24, 64):
        rows.append(measure(f"or-of-{n}-ands", [disjunction_of_conjunctions(n)]))
    for n in (4, 8, 12) if args.quick else (4, 8, 12, 16, 20, 32):
        rows.append(measure(f"iff-chain-{n}", [iff_chain(n)]))
    for k in (1, 2, 3) if args.quick else (1, 2, 3, 4, 6, 8):
        rows.append(measure(f"set-defs-{k}", [set_definitions(k)]))
    for size, count in ((100, 25), (1000, 5)) if args.quick else ((100, 100), (1000, 20), (10_000, 4)):
        gen = Generator(seed=1000 + size)
        rows.append(measure(f"fo-random-{size}", [gen.problem(size) for _ in range(count)]))
    print_table(rows)


if __name__ == "__main__":
    main()
