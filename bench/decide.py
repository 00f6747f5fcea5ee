"""Decide every propositional problem of the ILTP corpus and certify each answer.

    python bench/decide.py [--timeout SECONDS] [--only PATTERN] [--no-check] [--quiet]

For each problem: our answer, the time to decide it, the time to check its
certificate (the derivation by the independent checker, the countermodel by
forcing), the size of the certificate (steps of the derivation, worlds of the
model) and the status the library gives. A problem is valid when its axioms
imply its conjecture. The summary sets our figures beside the published
comparison of five intuitionistic provers (Documents/ILTP-v1.1.2-prop-comparison.txt):
the best of them decided 238 of its 274 problems within 600 s each.
"""

import argparse
import os
import re
import signal
import sys
import time

from zelqor.constructive.decide import decide
from zelqor.core.ast import And, Iff, Implies, Not, Or
from zelqor.core.ast import PredicateApp
from zelqor.constructive.common import FALSUM, VERUM

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "..", "shared", "corpora", "iltp")
PROBLEMS = os.path.join(CORPUS, "propositional", "Problems")
COMPARISON = os.path.join(CORPUS, "Documents", "ILTP-v1.1.2-prop-comparison.txt")


# ---- a throwaway reader for the propositional corpus (plain fof, 0-ary atoms) -----------
# To be replaced by the library's TPTP reader.

_TOKEN = re.compile(r"\s*(<=>|=>|<=|<~>|~\||~&|[()~&|,.\[\]]|\$?[A-Za-z0-9_']+)")


def _tokens(text):
    text = re.sub(r"%[^\n]*", "", text)
    out, pos = [], 0
    while True:
        m = _TOKEN.match(text, pos)
        if not m:
            if text[pos:].strip():
                raise ValueError(f"cannot read {text[pos:pos + 40]!r}")
            return out
        out.append(m.group(1))
        pos = m.end()


class _Reader:
    def __init__(self, tokens):
        self.tokens, self.i = tokens, 0
        self.atoms = {}

    def peek(self):
        return self.tokens[self.i] if self.i < len(self.tokens) else None

    def take(self, expected=None):
        token = self.tokens[self.i]
        if expected is not None and token != expected:
            raise ValueError(f"expected {expected}, got {token}")
        self.i += 1
        return token

    def formula(self):
        left = self.unit()
        op = self.peek()
        if op in ("<=>", "=>", "<=", "<~>"):
            self.take()
            right = self.unit()
            return {"<=>": lambda: Iff(left, right), "=>": lambda: Implies(left, right),
                    "<=": lambda: Implies(right, left), "<~>": lambda: Not(Iff(left, right))}[op]()
        if op in ("&", "|"):
            parts = [left]
            while self.peek() == op:
                self.take()
                parts.append(self.unit())
            result = parts[-1]
            for part in reversed(parts[:-1]):
                result = And(part, result) if op == "&" else Or(part, result)
            return result
        return left

    def unit(self):
        token = self.take()
        if token == "(":
            f = self.formula()
            self.take(")")
            return f
        if token == "~":
            return Not(self.unit())
        if token == "$true":
            return VERUM
        if token == "$false":
            return FALSUM
        if token not in self.atoms:
            self.atoms[token] = PredicateApp(token, 0, ())
        return self.atoms[token]


def read_problem(path):
    """The formula axioms => conjecture of a propositional TPTP problem."""
    with open(path) as f:
        reader = _Reader(_tokens(f.read()))
    axioms, conjecture = [], None
    while reader.peek() is not None:
        reader.take("fof")
        reader.take("(")
        reader.take()
        reader.take(",")
        role = reader.take()
        reader.take(",")
        f = reader.formula()
        reader.take(")")
        reader.take(".")
        if role == "conjecture":
            conjecture = f
        else:
            axioms.append(f)
    if conjecture is None:
        conjecture = FALSUM
    if not axioms:
        return conjecture
    hypotheses = axioms[-1]
    for a in reversed(axioms[:-1]):
        hypotheses = And(a, hypotheses)
    return Implies(hypotheses, conjecture)

# ---- end of the throwaway reader ----------------------------------------------------------


def known_status(path):
    with open(path) as f:
        m = re.search(r"Status \(intuit\.\) : (\S+)", f.read())
    return m.group(1) if m else "?"


def published_results():
    """Per problem name, the published provers' results: 'proved', 'refuted' or None (not solved)."""
    results = {}
    with open(COMPARISON) as f:
        for line in f:
            fields = line.split()
            if len(fields) != 6 or not re.match(r"[A-Z]{3}\d{3}\+1", fields[0]):
                continue
            results[fields[0]] = ["refuted" if c.startswith("(") else None if c.startswith((">", "stack", "mem",
                                  "large")) else "proved" for c in fields[1:]]
    return results


class _Timeout(Exception):
    pass


def _alarm(signum, frame):
    raise _Timeout()


def problems(root, only):
    for folder, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            if name.endswith(".p") and (only is None or re.search(only, name)):
                yield os.path.join(folder, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds per problem (default 60)")
    parser.add_argument("--only", help="a regular expression the problem file names must match")
    parser.add_argument("--no-check", action="store_true", help="do not check the certificates")
    parser.add_argument("--quiet", action="store_true", help="only the summary")
    parser.add_argument("--dir", default=PROBLEMS, help="a folder of problems instead of the corpus")
    args = parser.parse_args()
    sys.setrecursionlimit(max(sys.getrecursionlimit(), 100000))  # the throwaway reader recurses
    signal.signal(signal.SIGALRM, _alarm)

    paths = list(problems(args.dir, args.only))
    rows = []
    for n, path in enumerate(paths, 1):
        name = os.path.basename(path)[:-2]
        print(f"\r[{n:>3}/{len(paths)}] {name:<16}", end="", file=sys.stderr, flush=True)
        status = known_status(path)
        formula = read_problem(path)
        answer, size, check_time, note = "timeout", "", 0.0, ""
        start = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, args.timeout)
        try:
            result = decide(formula, verify=False)
        except _Timeout:
            result = None
        except RecursionError as error:
            result, note = None, f"RecursionError: {error}"
            answer = "error"
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
        elapsed = time.perf_counter() - start
        if result is not None:
            answer = "Theorem" if result.valid else "Non-Theorem"
            size = f"{len(result.proof)} steps" if result.valid else f"{len(result.model.worlds)} worlds"
            if not args.no_check:
                t = time.perf_counter()
                try:
                    result.verify()
                    note = "certified"
                except Exception as error:  # noqa: BLE001 - reported, not hidden
                    note = f"CERTIFICATE FAILS: {error}"
                check_time = time.perf_counter() - t
        rows.append((name, status, answer, elapsed, check_time, size, note))
    print("\r" + " " * 40 + "\r", end="", file=sys.stderr)

    if not args.quiet:
        print(f"{'problem':<16} {'known':<12} {'answer':<12} {'decide s':>9} {'check s':>8}  {'certificate':<14} note")
        for name, status, answer, elapsed, check_time, size, note in rows:
            print(f"{name:<16} {status:<12} {answer:<12} {elapsed:>9.3f} {check_time:>8.3f}  {size:<14} {note}")

    decided = [r for r in rows if r[2] in ("Theorem", "Non-Theorem")]
    disagree = [r for r in decided if r[1] in ("Theorem", "Non-Theorem") and r[1] != r[2]]
    certified = [r for r in decided if r[6] == "certified"]
    unsolved_before = [r for r in decided if r[1] == "Unsolved"]
    times = sorted(r[3] for r in decided)
    published = published_results()
    best = sum(1 for r in rows if any(published.get(r[0], [None]))) if published else 0
    print()
    print(f"problems                         {len(rows)}")
    print(f"decided (limit {args.timeout:g} s)            {len(decided)}  "
          f"({sum(r[2] == 'Theorem' for r in decided)} theorems, {sum(r[2] == 'Non-Theorem' for r in decided)} "
          f"non-theorems)")
    print(f"  within 1 s / 10 s              {sum(t <= 1 for t in times)} / {sum(t <= 10 for t in times)}")
    print(f"  of those unsolved in 2007      {len(unsolved_before)}")
    if not args.no_check:
        print(f"certificates checked             {len(certified)} of {len(decided)}")
    print(f"disagreements with known status  {len(disagree)}" + (
        "  " + ", ".join(r[0] for r in disagree) if disagree else ""))
    if times:
        print(f"decide time: median {times[len(times) // 2]:.3f} s, max {times[-1]:.3f} s, total {sum(times):.1f} s")
    print(f"published, best of five provers: {best} of these {len(rows)} within 600 s "
          f"(238 of the library's 274)")
    return 1 if disagree or (not args.no_check and len(certified) != len(decided)) else 0


if __name__ == "__main__":
    sys.exit(main())
