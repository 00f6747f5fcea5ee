"""Decide TPTP problems in intuitionistic propositional logic, with a certificate for each answer.

A problem is a theorem when its axioms imply its conjecture (several conjectures: their
conjunction); without a conjecture, the question is whether the axioms are contradictory.
Each problem gets one status line:

  % SZS status Theorem for NAME              a derivation exists (checked step by step)
  % SZS status CounterSatisfiable for NAME   a Kripke countermodel exists (checked by forcing)
  % SZS status Unsatisfiable / Satisfiable   the same, for a problem without a conjecture
  % SZS status ResourceOut / Timeout         --budget or --time-limit ran out first
  % SZS status Inappropriate                 the problem is not propositional (message on stderr)
  % SZS status InputError / OSError          the problem could not be read (message on stderr)

--proof and --model print the certificate between SZS output lines; --picture draws the
countermodel with Graphviz (svg, png or pdf; a .dot file needs no Graphviz).

exit status: 0 every problem decided, 1 some ran out of budget or time, 2 some could not be
read or decided (errors take precedence).

examples:
  zelqor decide problem.p --proof
  zelqor decide --formula 'p | ~p' --model --picture lem.svg
  zelqor decide Problems/SYJ/ --jobs 2 --time-limit 10
  zelqor decide Problems/SYJ/ --picture pictures/ --picture-format png
"""

from __future__ import annotations

import os
import signal
import sys
import time
from typing import List, NamedTuple, Optional

from zelqor.cli.common import (
    ExitStatus, Progress, add_include_option, allow_deep_formulas, error_line, expand, positive_int,
    run_all, write_atomically,
)
from zelqor.constructive.decide import CertificateError, SearchLimitReached, decide, describe_model, problem_formula
from zelqor.constructive.formula_text import formula_text
from zelqor.constructive.pictures import dot_available, render, to_dot
from zelqor.core.exceptions import InvalidFormulaError, TPTPError
from zelqor.tptp import parse_formula, read_problem

PICTURE_FORMATS = ("svg", "png", "pdf", "dot")


def add_arguments(parser) -> None:
    parser.add_argument("problems", nargs="*", metavar="PROBLEM",
                        help="TPTP problem files, or folders whose *.p files to take")
    parser.add_argument("-f", "--formula", metavar="TEXT",
                        help="decide this one TPTP formula (fof syntax) instead of problem files")
    parser.add_argument("--proof", action="store_true", help="print the derivation of each theorem")
    parser.add_argument("--tree", action="store_true", help="print derivations as indented trees")
    parser.add_argument("--model", action="store_true", help="print the countermodel of each non-theorem")
    parser.add_argument("--picture", metavar="FILE",
                        help="draw the countermodel to FILE (its suffix chooses the format); with several "
                             "problems FILE is a folder and each picture goes to FILE/<problem>.<format>")
    parser.add_argument("--picture-format", choices=PICTURE_FORMATS,
                        help="format of the pictures (default: the suffix of FILE, else svg)")
    parser.add_argument("--budget", type=positive_int, metavar="N",
                        help="give up on a problem after N units of search work (default: no limit)")
    parser.add_argument("--time-limit", type=float, metavar="SECONDS",
                        help="give up on a problem after SECONDS (default: no limit)")
    parser.add_argument("--stats", action="store_true",
                        help="print time and certificate size of each problem on stderr")
    parser.add_argument("-j", "--jobs", type=positive_int, default=1, metavar="N",
                        help="decide N problems at a time, in separate processes")
    add_include_option(parser)


class Task(NamedTuple):
    name: Optional[str]  # None for --formula: its status line names nothing
    path: Optional[str]
    formula_text: Optional[str]
    include_dirs: List[str]
    proof: bool
    tree: bool
    model: bool
    picture: Optional[str]
    picture_format: str
    budget: Optional[int]
    time_limit: Optional[float]


class Outcome(NamedTuple):
    label: str
    exit: ExitStatus
    text: str  # status line and certificates, for standard output
    error: Optional[str]  # one line for standard error
    stats: str


class _OutOfTime(Exception):
    pass


def _out_of_time(signum, frame):
    raise _OutOfTime()


def _status_line(status: str, name: Optional[str]) -> str:
    return f"% SZS status {status}" + (f" for {name}" if name is not None else "") + "\n"


def _block(form: str, name: Optional[str], body: str) -> str:
    suffix = f" for {name}" if name is not None else ""
    return f"% SZS output start {form}{suffix}\n{body}\n% SZS output end {form}{suffix}\n"


def _question(task: Task):
    """The formula to decide and whether it has a conjecture."""
    if task.path is None:
        return parse_formula(task.formula_text), True
    problem = read_problem(task.path, include_dirs=task.include_dirs)
    return problem_formula(problem), bool(problem.conjectures)


def _search(task: Task, formula):
    """`decide` under the task's limits; None when one of them runs out."""
    if task.time_limit is None:
        return decide(formula, budget=task.budget)
    previous = signal.signal(signal.SIGALRM, _out_of_time)
    try:
        signal.setitimer(signal.ITIMER_REAL, task.time_limit)
        return decide(formula, budget=task.budget)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def _draw(task: Task, result) -> None:
    title = task.name
    if title is None:
        title = formula_text(result.formula)
        title = title if len(title) <= 80 else title[:79] + "…"
    if task.picture_format == "dot":
        write_atomically(task.picture, to_dot(result.model, failing=result.world, title=title))
    else:
        write_atomically(task.picture, render(result.model, format=task.picture_format, failing=result.world,
                                              title=title))


def decide_one(task: Task) -> Outcome:
    """Read, decide and report one problem; expected failures become a status and one line."""
    label = task.name if task.name is not None else "formula"
    started = time.perf_counter()
    try:
        formula, has_conjecture = _question(task)
        result = _search(task, formula)
    except (_OutOfTime, SearchLimitReached) as limit:
        status = "Timeout" if isinstance(limit, _OutOfTime) else "ResourceOut"
        return Outcome(label, ExitStatus.UNDECIDED, _status_line(status, task.name), None,
                       f"{label}: {status} after {time.perf_counter() - started:.2f} s")
    except CertificateError as error:
        # A certificate that does not check is a fault of the search: never reported as an answer.
        return Outcome(label, ExitStatus.FAILURE, _status_line("Error", task.name), f"{label}: {error}", "")
    except Exception as error:  # noqa: BLE001 (expected errors become one line; others propagate)
        line = error_line(error)
        if line is None:
            raise
        status = ("Inappropriate" if isinstance(error, InvalidFormulaError) else
                  "InputError" if isinstance(error, TPTPError) else "OSError" if isinstance(error, OSError) else
                  "Error")
        return Outcome(label, ExitStatus.FAILURE, _status_line(status, task.name), f"{label}: {line}" if
                       task.path is None else line, "")
    elapsed = time.perf_counter() - started
    if result.valid:
        status = "Theorem" if has_conjecture else "Unsatisfiable"
        size = f"a derivation of {len(result.proof)} steps"
    else:
        status = "CounterSatisfiable" if has_conjecture else "Satisfiable"
        size = f"a countermodel of {len(result.model.worlds)} worlds"
    text = _status_line(status, task.name)
    if task.proof and result.valid:
        text += _block("Proof", task.name, result.proof.format(tree=task.tree))
    if task.model and not result.valid:
        text += _block("Model", task.name, f"fails at {result.world.name}\n{describe_model(result.model, result.world)}")
    error = None
    if task.picture is not None and not result.valid:
        try:
            _draw(task, result)
        except (OSError, RuntimeError) as failure:
            error = f"{task.picture}: {failure.strerror if isinstance(failure, OSError) else failure}"
    stats = f"{label}: {status} in {1e3 * elapsed:.1f} ms, {size}"
    return Outcome(label, ExitStatus.FAILURE if error else ExitStatus.OK, text, error, stats)


def _picture_paths(args, names: List[str]) -> List[Optional[str]]:
    """Where each problem's picture goes; raises ValueError for a request that cannot be met."""
    if args.picture is None:
        return [None] * len(names)
    if _format_of(args) != "dot" and not dot_available():
        raise ValueError("Graphviz 'dot' is not installed (Debian package graphviz); "
                         "draw to a .dot file or with --picture-format dot instead")
    folder = len(names) > 1 or os.path.isdir(args.picture) or args.picture.endswith(os.sep)
    if not folder:
        return [args.picture]
    os.makedirs(args.picture, exist_ok=True)
    paths = [os.path.join(args.picture, f"{name}.{_format_of(args)}") for name in names]
    if len(set(paths)) < len(paths):
        raise ValueError("two problems of the same name would draw to the same picture file")
    return paths


def _format_of(args) -> str:
    if args.picture_format is not None:
        return args.picture_format
    suffix = os.path.splitext(args.picture or "")[1].lstrip(".").lower()
    return suffix if suffix in PICTURE_FORMATS else "svg"


def _tasks(args) -> List[Task]:
    if args.formula is not None:
        if args.problems:
            raise ValueError("give either --formula or problem files, not both")
        sources = [(None, None)]
    else:
        files = expand(args.problems)
        if not files:
            raise ValueError("no problem files given" if not args.problems else "no problem files found")
        sources = [(os.path.splitext(os.path.basename(path))[0], path) for path in files]
    if args.time_limit is not None and not args.time_limit > 0:
        raise ValueError("--time-limit must be a positive number of seconds")
    pictures = _picture_paths(args, [name or "formula" for name, _ in sources])
    return [Task(name, path, args.formula, args.include_dirs, args.proof, args.tree, args.model, picture,
                 _format_of(args), args.budget, args.time_limit)
            for (name, path), picture in zip(sources, pictures)]


def run(args) -> int:
    allow_deep_formulas()
    try:
        tasks = _tasks(args)
    except ValueError as error:
        print(f"zelqor decide: {error}", file=sys.stderr)
        return ExitStatus.FAILURE
    progress = Progress(len(tasks), enabled=None if len(tasks) > 1 else False)
    status = ExitStatus.OK
    try:
        for outcome in run_all(decide_one, tasks, args.jobs):
            sys.stdout.write(outcome.text)
            sys.stdout.flush()
            if outcome.error is not None:
                progress.message(outcome.error)
            if args.stats and outcome.stats:
                progress.message(outcome.stats)
            status = max(status, outcome.exit)
            progress.advance(outcome.label, failed=outcome.exit != ExitStatus.OK)
    finally:
        progress.close()
    return status
