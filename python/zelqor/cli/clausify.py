"""Clausify TPTP problems: print the clauses a refutation prover is given.

The axioms of each problem become clauses and its conjectures, negated together, become
clauses too; truth constants are simplified away first. The output is TPTP (one cnf line per
clause, named after the formula it comes from) or readable infix. Includes are looked for next
to the including file, then in the -I folders, then under $TPTP.

examples:
  zelqor clausify examples/socrates.p
  zelqor clausify problem.p -o problem.cnf --stats
  zelqor clausify Problems/SYN/*.p -o clauses/ --jobs 2
"""

from __future__ import annotations

import os
import sys
import time
from typing import List, NamedTuple, Optional

from zelqor.cli.common import (
    EXIT_FAILURE, EXIT_OK, Progress, add_include_option, allow_deep_formulas, error_line, expand, positive_int,
    run_all, write_atomically,
)
from zelqor.prover.problem import clause_form, clause_forms, clausify_problem
from zelqor.tptp import format_clauses, format_declarations, read_problem

DEFAULT_MAX_CLAUSES = 1_000_000


def add_arguments(parser) -> None:
    parser.add_argument("problems", nargs="+", metavar="PROBLEM",
                        help="TPTP problem files, or folders whose *.p files to take")
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="write to OUT instead of standard output; with several problems OUT is a folder "
                             "and each problem's clauses go to OUT/<problem>.cnf (or .txt in infix)")
    parser.add_argument("--format", choices=("tptp", "infix"), default="tptp",
                        help="TPTP cnf lines (the default) or infix text with logical symbols")
    forms = "; ".join(f"{name}: {clause_form(name).description}" for name in clause_forms())
    parser.add_argument("--cnf", choices=clause_forms(), default=clause_forms()[0], metavar="FORM",
                        help=f"how formulas become clauses ({forms}; default: %(default)s)")
    parser.add_argument("--max-clauses", type=positive_int, default=DEFAULT_MAX_CLAUSES, metavar="N",
                        help="refuse a formula that would give more than N clauses (default: %(default)s)")
    parser.add_argument("--stats", action="store_true", help="print counts and times for each problem on stderr")
    parser.add_argument("-j", "--jobs", type=positive_int, default=1, metavar="N",
                        help="clausify N problems at a time, in separate processes")
    add_include_option(parser)


class Task(NamedTuple):
    path: str
    output: Optional[str]
    include_dirs: List[str]
    cnf: str
    max_clauses: int
    notation: str


class Outcome(NamedTuple):
    path: str
    error: Optional[str]
    text: Optional[str]  # None when written to the output file
    stats: str


def render(path: str, clause_set, notation: str, cnf: str) -> str:
    header = f"% clauses of {path} ({cnf} clause form)\n"
    if notation == "infix":
        return header + format_clauses(clause_set, notation="infix")
    return header + format_declarations(clause_set.signature, clause_set.sorts) + format_clauses(clause_set)


def clausify_one(task: Task) -> Outcome:
    """Read, clausify and write one problem; an expected error becomes its one-line message."""
    started = time.perf_counter()
    try:
        problem = read_problem(task.path, include_dirs=task.include_dirs)
        read = time.perf_counter()
        clause_set = clausify_problem(problem, cnf=task.cnf, max_clauses=task.max_clauses)
        clausified = time.perf_counter()
        text = render(task.path, clause_set, task.notation, task.cnf)
        if task.output is not None:
            write_atomically(task.output, text)
            text = None
        written = time.perf_counter()
    except Exception as error:  # noqa: BLE001 (expected errors become one line; others propagate)
        line = error_line(error)
        if line is None:
            raise
        return Outcome(task.path, line, None, "")
    clauses = clause_set.clauses()
    literals = sum(len(clause.literals) for clause in clauses)
    stats = (f"{task.path}: {len(problem)} formulas, {len(clauses)} clauses, {literals} literals; "
             f"read {1e3 * (read - started):.1f} ms, clausify {1e3 * (clausified - read):.1f} ms, "
             f"write {1e3 * (written - clausified):.1f} ms")
    return Outcome(task.path, None, text, stats)


def output_paths(files: List[str], output: Optional[str], notation: str) -> List[Optional[str]]:
    if output is None:
        return [None] * len(files)
    if len(files) == 1 and not os.path.isdir(output):
        return [output]
    os.makedirs(output, exist_ok=True)
    suffix = ".txt" if notation == "infix" else ".cnf"
    paths = [os.path.join(output, os.path.splitext(os.path.basename(f))[0] + suffix) for f in files]
    seen = {}
    for source, path in zip(files, paths):
        if path in seen:
            raise ValueError(f"{source} and {seen[path]} would both be written to {path}")
        seen[path] = source
    return paths


def run(args) -> int:
    allow_deep_formulas()
    files = expand(args.problems)
    if not files:
        print("zelqor clausify: no problem files found", file=sys.stderr)
        return EXIT_FAILURE
    try:
        outputs = output_paths(files, args.output, args.format)
    except ValueError as error:
        print(f"zelqor clausify: {error}", file=sys.stderr)
        return EXIT_FAILURE
    tasks = [Task(f, out, args.include_dirs, args.cnf, args.max_clauses, args.format) for f, out in zip(files, outputs)]
    progress = Progress(len(tasks), enabled=None if len(tasks) > 1 else False)
    status = EXIT_OK
    try:
        for outcome in run_all(clausify_one, tasks, args.jobs):
            if outcome.error is not None:
                progress.message(outcome.error)
                status = EXIT_FAILURE
            else:
                if outcome.text is not None:
                    sys.stdout.write(outcome.text)
                    sys.stdout.flush()
                if args.stats:
                    progress.message(outcome.stats)
            progress.advance(os.path.basename(outcome.path), failed=outcome.error is not None)
    finally:
        progress.close()
    return status
