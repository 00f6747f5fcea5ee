"""TPTP corpus: reading, the definitional clause form and E on the same files, in one run.

    python bench/tptp.py                       # counts and times on the whole corpus
    python bench/tptp.py --prove               # also E's proofs, from our clauses and from the files
    python bench/tptp.py --sample 200          # a seeded random sample of the problems
    python bench/tptp.py --prove --miniscope both   # E's proofs with and without mini-scoping

For every problem of the corpus (default ../shared/corpora/iltp/firstorder, includes resolved with
TPTP pointing at it):
  - read it (zelqor.tptp.read_problem) and clausify it: truth constants simplified away, every
    axiom through zelqor.prover.definitional.to_cnf, the conjectures (their conjunction) through
    negate_and_clausify, the problem's signature receiving the new symbols, then
    simplify_clauses over the whole set; CPU time of reading plus clausifying;
  - count E's clauses for the same file (eprover --cnf --no-preprocessing) and E's CPU time for it;
  - with --prove, give E (eprover --auto, 5 s of CPU) our clauses and the original file. E must
    never refute our clauses of a CounterSatisfiable or Satisfiable problem, nor find a model
    (Satisfiable, CounterSatisfiable) of our clauses of a Theorem; the table counts the Theorem
    problems E proves each way.
Times are CPU times (ours of the thread that reads and clausifies, E's of its own process), so a
busy machine, or --jobs, does not skew the comparison.
"""

import argparse
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Dict, List, Optional

import zelqor.prover.clausifier as cz
import zelqor.prover.definitional as zd
from zelqor.core.ast import And
from zelqor.tptp import AXIOM_ROLES, format_clauses, read_problem
from zelqor.tptp._native import simplify_truth_constants

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tables import print_rows  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "corpora", "iltp", "firstorder"))
CPU_LIMIT = 5
CLAUSIFYING = threading.Lock()
VERUM, FALSUM = "⊤", "⊥"
UNSOUND = {  # SZS answers about our clauses that contradict a problem's status
    "Theorem": {"Satisfiable", "CounterSatisfiable"},
    "Unsatisfiable": {"Satisfiable", "CounterSatisfiable"},
    "CounterSatisfiable": {"Unsatisfiable", "Theorem"},
    "Satisfiable": {"Unsatisfiable", "Theorem"},
}


# ---- the problems ----------------------------------------------------------------------------

def corpus_problems(root=CORPUS):
    """(path, status) of every problem below root/Problems, sorted by path."""
    found = []
    for folder, _, files in os.walk(os.path.join(root, "Problems")):
        for name in files:
            if name.endswith(".p"):
                path = os.path.join(folder, name)
                with open(path, encoding="latin-1") as handle:
                    match = re.search(r"^% Status\s*:\s*(\w+)", handle.read(), re.M)
                found.append((path, match.group(1) if match else "Unknown"))
    return sorted(found)


def _truth(formula):
    """The formula without $true and $false: the formula, or True or False."""
    formula = simplify_truth_constants(formula)
    pred = getattr(formula, "pred", None)
    return True if pred == VERUM else False if pred == FALSUM else formula


def clausify_problem(problem, options=None):
    """The clauses of a read problem, simplified across the whole set, and a function giving each
    clause its role: "plain" for the axioms' and "negated_conjecture" for the negated
    conjecture's. `options` are keyword arguments of to_cnf (threshold, miniscope)."""
    kwargs = dict(options or {})
    cz.reset_skolem_counters()
    signature = problem.signature
    axioms, conjectures = [], []
    for annotated in problem.formulas:
        if annotated.role == "conjecture":
            conjectures.append(annotated.formula)
        elif annotated.role in AXIOM_ROLES:
            axioms.append(annotated.formula)
    roles = {}
    clauses = []
    for formula in axioms:
        formula = _truth(formula)
        if formula is True:
            continue
        made = [cz.Clause()] if formula is False else zd.to_cnf(formula, signature, **kwargs)
        roles.update((id(c), "plain") for c in made)
        clauses += made
    if conjectures:
        goal = conjectures[0]
        for other in conjectures[1:]:
            goal = And(goal, other)
        goal = _truth(goal)
        if goal is not True:
            made = [] if goal is False else zd.negate_and_clausify(goal, signature, **kwargs)
            roles.update((id(c), "negated_conjecture") for c in made)
            clauses += made
    return zd.simplify_clauses(clauses), lambda simplified: _with_roles(simplified, clauses, roles)


def _with_roles(simplified, original, roles):
    """Each clause with the role of the clause it came from: itself, or the one it was shortened
    from (a clause whose literals include its own), a conjecture's first."""
    by_literals = {}
    for clause in original:
        by_literals.setdefault(clause.literals, roles[id(clause)])
    out = []
    for clause in simplified:
        role = by_literals.get(clause.literals)
        if role is None:
            role = "plain"
            for source in original:
                if clause.literals <= source.literals and roles[id(source)] == "negated_conjecture":
                    role = "negated_conjecture"
                    break
        out.append((role, clause))
    return out


def clause_text(tagged):
    return format_clauses([(f"c{i}", role, [clause]) for i, (role, clause) in enumerate(tagged)])


# ---- E -----------------------------------------------------------------------------------------

def _eprover(args, root, timeout=120):
    """E's output and the CPU time it took (its own, so runs may overlap)."""
    # E runs as itself: nothing this process preloads (a sanitizer runtime, say) goes with it.
    env = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
    proc = subprocess.Popen(["eprover", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=dict(env, TPTP=root))
    killer = threading.Timer(timeout, proc.kill)
    killer.start()
    try:
        output = proc.stdout.read().decode("utf-8", "replace")
        _, _, usage = os.wait4(proc.pid, 0)
        proc.returncode = 0  # reaped here
    finally:
        killer.cancel()
        proc.stdout.close()
    return output, usage.ru_utime + usage.ru_stime


def e_clause_count(path, root=CORPUS):
    """(clauses, CPU seconds) of eprover --cnf --no-preprocessing on a file."""
    output, cpu = _eprover(["--cnf", "--no-preprocessing", "-s", path], root)
    return sum(1 for line in output.splitlines() if line.startswith(("cnf(", "tcf("))), cpu


def e_status(path, root=CORPUS, cpu_limit=CPU_LIMIT):
    """E's SZS status for a file, with `cpu_limit` seconds of CPU."""
    output, _ = _eprover(["--auto", f"--cpu-limit={cpu_limit}", "-s", path], root, timeout=cpu_limit * 20)
    match = re.search(r"SZS status (\w+)", output)
    return match.group(1) if match else "Unknown"


def proved(status, answer):
    """Whether an SZS answer about a problem (or about our clauses for it) settles it."""
    if status in ("Theorem", "Unsatisfiable"):
        return answer in ("Theorem", "Unsatisfiable")
    if status in ("CounterSatisfiable", "Satisfiable"):
        return answer in ("CounterSatisfiable", "Satisfiable")
    return False


# ---- one problem -------------------------------------------------------------------------------

@dataclass
class Row:
    path: str
    status: str
    size: int = 0
    clauses: Optional[int] = None
    seconds: float = 0.0
    error: str = ""
    e_clauses: Optional[int] = None
    e_seconds: float = 0.0
    ours_answer: Dict[str, str] = field(default_factory=dict)
    file_answer: str = ""

    @property
    def name(self):
        return os.path.basename(self.path)

    @property
    def ratio(self):
        return None if not self.clauses or not self.e_clauses else self.clauses / self.e_clauses


def measure(path, status, settings, root=CORPUS, prove=False, workdir=None):
    """A Row for one problem; `settings` maps a label to clausification options."""
    row = Row(path, status, size=os.path.getsize(path))
    texts = {}
    for label, options in settings.items():
        start = time.thread_time()
        try:
            # The Skolem and definition counters are the process's: one problem at a time.
            with CLAUSIFYING:
                clauses, tag = clausify_problem(read_problem(path, include_dirs=[root]), options=options)
        except Exception as error:  # reported in the table, not fatal to the run
            row.error = f"{type(error).__name__}: {error}".splitlines()[0][:120]
            row.e_clauses, row.e_seconds = e_clause_count(path, root)
            return row
        if label == next(iter(settings)):
            row.seconds = time.thread_time() - start
            row.clauses = len(clauses)
        if prove:
            texts[label] = clause_text(tag(clauses))
    row.e_clauses, row.e_seconds = e_clause_count(path, root)
    if prove:
        row.file_answer = e_status(path, root)
        for label, text in texts.items():
            with tempfile.NamedTemporaryFile("w", suffix=".p", dir=workdir, delete=False) as handle:
                handle.write(text)
            try:
                row.ours_answer[label] = e_status(handle.name, root)
            finally:
                os.unlink(handle.name)
    return row


# ---- the run -------------------------------------------------------------------------------------

def progress(done, total, started):
    width = 30
    filled = width * done // max(total, 1)
    elapsed = time.time() - started
    rest = elapsed / done * (total - done) if done else 0
    sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{total}  {elapsed:.0f} s, "
                     f"about {rest:.0f} s left ")
    sys.stderr.flush()
    if done == total:
        sys.stderr.write("\n")


def summary(rows, settings, prove):
    done = [r for r in rows if r.clauses is not None]
    ratios = [r.ratio for r in done if r.ratio is not None]
    lines = [["measure", "value"]]
    lines.append(["problems", str(len(rows))])
    lines.append(["clausified", f"{len(done)} ({len(rows) - len(done)} failed)"])
    lines.append(["slowest read + clausify (CPU)", f"{max((r.seconds for r in done), default=0):.3f} s"])
    lines.append(["problems over 1 s", str(sum(r.seconds > 1 for r in done))])
    lines.append(["our clauses / E's: median", f"{statistics.median(ratios):.3f}" if ratios else "-"])
    lines.append(["our clauses / E's: mean", f"{statistics.mean(ratios):.3f}" if ratios else "-"])
    lines.append(["our clauses / E's: largest", f"{max(ratios):.3f}" if ratios else "-"])
    lines.append(["problems above 2× E's clauses", str(sum(r > 2 for r in ratios))])
    lines.append(["clauses in all: ours / E's",
                  f"{sum(r.clauses for r in done)} / {sum(r.e_clauses or 0 for r in done)}"])
    if prove:
        theorems = [r for r in done if r.status == "Theorem"]
        lines.append([f"Theorems E proves from the files ({CPU_LIMIT} s)",
                      f"{sum(proved('Theorem', r.file_answer) for r in theorems)} of {len(theorems)}"])
        for label in settings:
            lines.append([f"Theorems E proves from our clauses, {label}",
                          f"{sum(proved('Theorem', r.ours_answer.get(label, '')) for r in theorems)} of {len(theorems)}"])
            wrong = [r.name for r in done if r.ours_answer.get(label) in UNSOUND.get(r.status, ())]
            lines.append([f"answers contradicting the status, {label}", ", ".join(wrong) or "none"])
        decided = [r for r in done if r.status in ("CounterSatisfiable", "Satisfiable", "Unsatisfiable")]
        for label in settings:
            lines.append([f"other statuses E settles from our clauses, {label}",
                          f"{sum(proved(r.status, r.ours_answer.get(label, '')) for r in decided)} of {len(decided)}"])
    print_rows([[a, b] for a, b in lines])


def largest_table(rows, count=20):
    largest = sorted((r for r in rows if r.clauses is not None), key=lambda r: -r.size)[:count]
    lines = [["largest files", "bytes", "our clauses", "E clauses", "read + clausify", "eprover --cnf",
              "ours faster"]]
    for r in largest:
        lines.append([r.name, str(r.size), str(r.clauses), str(r.e_clauses), f"{r.seconds * 1e3:.1f} ms",
                      f"{r.e_seconds * 1e3:.1f} ms", "yes" if r.seconds < r.e_seconds else "NO"])
    print_rows(lines)


def worst_table(rows, count=10):
    worst = sorted((r for r in rows if r.ratio is not None), key=lambda r: -r.ratio)[:count]
    lines = [["largest ratios", "status", "our clauses", "E clauses", "ratio"]]
    lines += [[r.name, r.status, str(r.clauses), str(r.e_clauses), f"{r.ratio:.2f}"] for r in worst]
    print_rows(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", default=CORPUS, help="folder holding Problems/ and Axioms/")
    parser.add_argument("--sample", type=int, default=0, help="a random sample of this many problems")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--prove", action="store_true", help=f"run E with {CPU_LIMIT} s of CPU on both forms")
    parser.add_argument("--threshold", type=int, default=None, help="naming threshold (default: the module's)")
    parser.add_argument("--miniscope", choices=["default", "on", "off", "both"], default="default")
    parser.add_argument("--jobs", type=int, default=1, help="problems measured at once (E runs in parallel)")
    args = parser.parse_args()
    if subprocess.run(["which", "eprover"], capture_output=True).returncode != 0:
        sys.exit("eprover is needed: apt-get install eprover")
    base = {} if args.threshold is None else {"threshold": args.threshold}
    choices = {"default": [None], "on": [True], "off": [False], "both": [False, True]}[args.miniscope]
    settings = {}
    for choice in choices:
        label = "defaults" if choice is None else f"miniscope {'on' if choice else 'off'}"
        settings[label] = base if choice is None else dict(base, miniscope=choice)
    problems = corpus_problems(args.corpus)
    if args.sample:
        random.Random(args.seed).shuffle(problems)
        problems = sorted(problems[:args.sample])
    print(f"{len(problems)} problems from {args.corpus}; {', '.join(settings)}; E: "
          f"{subprocess.run(['eprover', '--version'], capture_output=True, text=True).stdout.strip()}")
    rows, started = [], time.time()
    with tempfile.TemporaryDirectory() as workdir, ThreadPoolExecutor(max(1, args.jobs)) as pool:
        runs = [pool.submit(measure, path, status, settings, args.corpus, args.prove, workdir)
                for path, status in problems]
        for i, run in enumerate(runs):
            rows.append(run.result())
            progress(i + 1, len(problems), started)
    summary(rows, settings, args.prove)
    print()
    largest_table(rows)
    print()
    worst_table(rows)
    failed = [r for r in rows if r.error]
    if failed:
        print()
        print_rows([["failed", "E's clauses", "error"]] + [[r.name, str(r.e_clauses), r.error] for r in failed])


if __name__ == "__main__":
    main()
