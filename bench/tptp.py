"""Reading and clausifying the whole corpus, and the largest problems against the prover E.

    python bench/tptp.py                   # everything
    python bench/tptp.py --skip-clausify   # reading and the comparison only
    python bench/tptp.py --cnf distribute --budget 100000 --timeout 20 --largest 20

1. Reads every problem of ../shared/corpora/iltp (includes resolved as provers do) and prints the
   failures (the target is none) and the reading speed in MB/s of TPTP text, includes counted;
   then writes every problem back as TPTP, reads that again and counts the formulas that do not
   come back equal (the target is none).
2. Clausifies each problem, in a child process with a time limit, and prints those that exceed
   the clause budget or the time limit.
3. Times reading plus clausifying each of the largest problems, in this process, against
   `eprover --cnf --no-preprocessing` on the same file, in the same run, and prints the ratio
   (E's time over ours: above 1 we are faster) with both clause counts.
"""

import argparse
import gc
import multiprocessing
import os
import resource
import shutil
import subprocess
import sys
import time

from zelqor.core.exceptions import ZelqorError
from zelqor.prover.problem import ClauseLimitError, clause_forms, clausify_problem
from zelqor.tptp import format_clauses, format_declarations, format_problem, parse_problem, read_problem

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "corpora", "iltp"))


def problem_files(corpus):
    found = []
    for part in ("firstorder", "propositional"):
        for folder, _, names in sorted(os.walk(os.path.join(corpus, part, "Problems"))):
            found.extend(os.path.join(folder, name) for name in sorted(names) if name.endswith(".p"))
    return found


def text_size(path, problem):
    """Bytes of TPTP text a problem is read from: its file and every file it includes."""
    sources = {path} | {formula.source for formula in problem}
    return sum(os.path.getsize(source) for source in sources)


# ---- 1. reading ------------------------------------------------------------------------------

def read_all(files, include_dirs):
    failures, sizes = [], {}
    seconds = 0.0
    for path in files:
        started = time.process_time()
        try:
            problem = read_problem(path, include_dirs=include_dirs)
        except ZelqorError as error:
            failures.append(error.summary)
            continue
        seconds += time.process_time() - started
        sizes[path] = text_size(path, problem)
    return failures, sizes, seconds


def round_trips(files, include_dirs):
    """Formulas written back and read again; those that do not come back equal."""
    formulas, different = 0, []
    for path in files:
        problem = read_problem(path, include_dirs=include_dirs)
        again = parse_problem(format_problem(problem))
        formulas += len(problem)
        for first, second in zip(problem, again):
            if (first.formula, first.name, first.role, first.variable_names) != \
                    (second.formula, second.name, second.role, second.variable_names):
                different.append(f"{path}: {first.name}")
        if len(again) != len(problem):
            different.append(f"{path}: {len(problem)} formulas written, {len(again)} read back")
    return formulas, different


# ---- 2. clausifying, each in a child process with a time limit -------------------------------

def clausify_child(path, include_dirs, cnf, budget, answer):
    try:
        problem = read_problem(path, include_dirs=include_dirs)
        clause_set = clausify_problem(problem, cnf=cnf, max_clauses=budget)
        answer.send(("ok", len(clause_set)))
    except ClauseLimitError as error:
        answer.send(("budget", error.summary))
    except Exception as error:  # noqa: BLE001 (reported, not raised)
        answer.send(("error", f"{path}: {type(error).__name__}: {error}"))


def clausify_all(files, include_dirs, cnf, budget, timeout, jobs):
    context = multiprocessing.get_context("fork")
    pending = list(files)
    running = []  # (path, process, pipe, started)
    results = {}
    while pending or running:
        while pending and len(running) < jobs:
            path = pending.pop(0)
            receive, send = context.Pipe(duplex=False)
            process = context.Process(target=clausify_child, args=(path, include_dirs, cnf, budget, send))
            process.start()
            send.close()
            running.append((path, process, receive, time.monotonic()))
        time.sleep(0.005)
        still = []
        for path, process, receive, started in running:
            if receive.poll():
                try:
                    results[path] = receive.recv()
                except EOFError:
                    results[path] = ("error", f"{path}: the child process died")
                process.join()
            elif not process.is_alive():
                results[path] = ("error", f"{path}: the child process died (exit {process.exitcode})")
            elif time.monotonic() - started > timeout:
                process.kill()
                process.join()
                results[path] = ("timeout", f"{path}: more than {timeout:g} s")
            else:
                still.append((path, process, receive, started))
                continue
            receive.close()
        running = still
    return results


# ---- 3. the largest problems against E ---------------------------------------------------------

def ours(path, include_dirs, cnf, budget, repeat):
    best, clauses = float("inf"), None
    for _ in range(repeat):
        gc.collect()
        started = time.process_time()
        problem = read_problem(path, include_dirs=include_dirs)
        try:
            clause_set = clausify_problem(problem, cnf=cnf, max_clauses=budget)
        except ClauseLimitError as error:
            return None, error.clauses
        text = format_declarations(clause_set.signature, clause_set.sorts) + format_clauses(clause_set)
        best = min(best, time.process_time() - started)
        clauses = text.count("\n") - text.count("type, ")
    return best, clauses


def child_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def e_cnf(path, env, repeat):
    best, clauses = float("inf"), None
    for _ in range(repeat):
        started = child_cpu()
        done = subprocess.run(["eprover", "--cnf", "--no-preprocessing", "-s", path], capture_output=True, text=True,
                              env=env, timeout=600)
        best = min(best, child_cpu() - started)
        clauses = sum(1 for line in done.stdout.splitlines() if line.startswith("cnf("))
    return best, clauses


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", default=CORPUS)
    parser.add_argument("--cnf", choices=clause_forms(), default="distribute")
    parser.add_argument("--budget", type=int, default=100_000, help="clause budget per formula")
    parser.add_argument("--timeout", type=float, default=20.0, help="seconds per problem when clausifying")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--largest", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--skip-clausify", action="store_true")
    args = parser.parse_args()
    sys.setrecursionlimit(200_000)
    first_order = os.path.join(args.corpus, "firstorder")
    include_dirs = [first_order]
    files = problem_files(args.corpus)
    if not files:
        sys.exit(f"no corpus at {args.corpus}")

    read_problem(files[0], include_dirs=include_dirs)  # warm up
    failures, sizes, seconds = read_all(files, include_dirs)
    total = sum(sizes.values())
    print(f"== reading: {len(files)} problems, {len(files) - len(failures)} read, {len(failures)} failed; "
          f"{total / 1e6:.1f} MB of TPTP text (includes counted) in {seconds:.2f} s = {total / seconds / 1e6:.1f} MB/s")
    for line in failures:
        print("   ", line)
    formulas, different = round_trips(list(sizes), include_dirs)
    print(f"   round trip: {formulas} formulas written and read back, {len(different)} different")
    for line in different[:20]:
        print("   ", line)

    if not args.skip_clausify:
        started = time.monotonic()
        results = clausify_all([f for f in files if f in sizes], include_dirs, args.cnf, args.budget, args.timeout,
                               args.jobs)
        done = [r for r in results.values() if r[0] == "ok"]
        print(f"\n== clausifying ({args.cnf}, budget {args.budget:,} clauses per formula, {args.timeout:g} s per "
              f"problem): {len(done)} of {len(results)} in {time.monotonic() - started:.0f} s, "
              f"{sum(r[1] for r in done):,} clauses")
        for kind, title in (("budget", "over the clause budget"), ("timeout", "over the time limit"),
                            ("error", "errors")):
            rows = sorted(r[1] for r in results.values() if r[0] == kind)
            print(f"   {title}: {len(rows)}")
            for row in rows:
                print("      ", row)

    largest = sorted(sizes, key=sizes.get, reverse=True)[:args.largest]
    print(f"\n== the {len(largest)} largest problems: read + clausify ({args.cnf}) + write, against "
          f"eprover --cnf --no-preprocessing (best of {args.repeat}, CPU time)")
    have_e = shutil.which("eprover") is not None
    env = dict(os.environ, TPTP=first_order)
    print(f"{'problem':22s}{'KB':>8s}{'zelqor ms':>11s}{'E ms':>9s}{'E / zelqor':>12s}{'clauses':>10s}{'E clauses':>11s}")
    ratios = []
    for path in largest:
        mine, clauses = ours(path, include_dirs, args.cnf, args.budget, args.repeat)
        theirs, e_clauses = e_cnf(path, env, args.repeat) if have_e else (None, None)
        name = os.path.basename(path)
        if mine is None:
            shown = f"{clauses:,}" if clauses < 2 ** 64 - 1 else ">10^19"
            print(f"{name:22s}{sizes[path] / 1e3:8.1f}{'-':>11s}{theirs * 1e3 if theirs else 0:9.1f}{'-':>12s}"
                  f"{'> budget':>10s}{e_clauses if e_clauses is not None else '-':>11}   (would give {shown})")
            continue
        ratio = theirs / mine if theirs else None
        if ratio:
            ratios.append(ratio)
        print(f"{name:22s}{sizes[path] / 1e3:8.1f}{mine * 1e3:11.1f}{theirs * 1e3 if theirs else 0:9.1f}"
              f"{ratio if ratio else 0:12.1f}{clauses:10,}{e_clauses if e_clauses is not None else '-':>11}")
    if ratios:
        print(f"E / zelqor over the {len(ratios)} clausified: min {min(ratios):.1f}, "
              f"median {sorted(ratios)[len(ratios) // 2]:.1f}, max {max(ratios):.1f}")


if __name__ == "__main__":
    main()
