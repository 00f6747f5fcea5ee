"""Our clause sets against the prover E, on every problem of the corpus: a soundness check.

    python bench/tptp_prover.py                    # the whole corpus (takes a while)
    python bench/tptp_prover.py --limit 100        # the first 100 problems
    python bench/tptp_prover.py --every 5          # every fifth problem: a sample of all domains
    python bench/tptp_prover.py --cpu 5 --jobs 2   # E's time per run, runs at a time

For each problem with a known status (the `% Status :` line of its header) the script clausifies
it with `zelqor clausify` and runs E on our clauses and on the original file, with the same time
limit. E's verdict on our clauses must agree with the problem's status: Theorem and Unsatisfiable
problems must give an unsatisfiable clause set (when E finds one), CounterSatisfiable and
Satisfiable ones must never. Disagreements are listed; the target is none.
"""

import argparse
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "corpora", "iltp"))

# What each status means for the clause set: unsatisfiable (True), satisfiable (False).
EXPECTED = {"Theorem": True, "Unsatisfiable": True, "CounterSatisfiable": False, "Satisfiable": False}
STATUS_LINE = re.compile(r"^% Status\s*:\s*(\w+)\s*$", re.MULTILINE)


def problems(corpus):
    found = []
    for part in ("firstorder", "propositional"):
        root = os.path.join(corpus, part, "Problems")
        for folder, _, names in sorted(os.walk(root)):
            found.extend(os.path.join(folder, name) for name in sorted(names) if name.endswith(".p"))
    return found


def status_of(path):
    with open(path, encoding="utf-8", errors="replace") as handle:
        match = STATUS_LINE.search(handle.read(8192))
    return match.group(1) if match else None


def run_e(path, cpu, env):
    """E's SZS status for a file, or 'Timeout'/'Error'."""
    try:
        done = subprocess.run(["eprover", "--auto", f"--cpu-limit={cpu}", "-s", "--tstp-format", path],
                              capture_output=True, text=True, timeout=cpu * 3 + 10, env=env)
    except subprocess.TimeoutExpired:
        return "Timeout"
    match = re.search(r"SZS status (\w+)", done.stdout)
    return match.group(1) if match else "Error"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", default=CORPUS)
    parser.add_argument("--limit", type=int, default=None, help="only the first N problems")
    parser.add_argument("--every", type=int, default=1, metavar="K", help="only every K-th problem")
    parser.add_argument("--cpu", type=int, default=5, help="E's CPU seconds per run")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--max-clauses", type=int, default=200_000)
    parser.add_argument("--keep", metavar="DIR", help="keep our clause files in DIR")
    args = parser.parse_args()
    if shutil.which("eprover") is None:
        sys.exit("eprover is not installed (apt-get install eprover)")
    files = [f for f in problems(args.corpus) if status_of(f) in EXPECTED][::args.every][:args.limit]
    env = dict(os.environ, TPTP=os.path.join(args.corpus, "firstorder"))
    out = args.keep or tempfile.mkdtemp(prefix="zelqor-e-")
    os.makedirs(out, exist_ok=True)
    started = time.monotonic()
    refused = {}
    for part in ("firstorder", "propositional"):  # one output folder each: some file names repeat
        chosen = [f for f in files if f"{os.sep}{part}{os.sep}" in f]
        if not chosen:
            continue
        clausify = subprocess.run([sys.executable, "-m", "zelqor", "clausify", *chosen, "-o", os.path.join(out, part),
                                   "--max-clauses", str(args.max_clauses), "--jobs", str(args.jobs)],
                                  capture_output=True, text=True, env=env)
        refused.update({line.split(":", 1)[0]: line for line in clausify.stderr.splitlines() if ":" in line})
    clausified_in = time.monotonic() - started

    def our_file(path):
        part = "propositional" if f"{os.sep}propositional{os.sep}" in path else "firstorder"
        return os.path.join(out, part, os.path.splitext(os.path.basename(path))[0] + ".cnf")

    def judge(path):
        ours = our_file(path)
        if not os.path.exists(ours):
            return path, None, None
        return path, run_e(ours, args.cpu, env), run_e(path, args.cpu, env)

    rows = collections.Counter()
    wrong, lost = [], []
    with ThreadPoolExecutor(args.jobs) as pool:
        for done, (path, ours, original) in enumerate(pool.map(judge, files), 1):
            status = status_of(path)
            if ours is None:
                rows[status, "not clausified"] += 1
                continue
            unsat = ours == "Unsatisfiable"
            sat = ours == "Satisfiable"
            rows[status, "E: original solved"] += original in ("Theorem", "Unsatisfiable", "CounterSatisfiable",
                                                              "Satisfiable")
            if unsat or sat:
                rows[status, "E: ours solved"] += 1
                if unsat != EXPECTED[status]:
                    wrong.append((path, status, ours, original))
                else:
                    rows[status, "agree"] += 1
            elif original in ("Theorem", "Unsatisfiable", "CounterSatisfiable", "Satisfiable"):
                lost.append((path, status, ours, original))
            if done % 100 == 0:
                print(f"... {done}/{len(files)}", file=sys.stderr)
    print(f"{len(files)} problems, clausified in {clausified_in:.0f} s; E with --cpu-limit={args.cpu}\n")
    columns = ["problems", "not clausified", "E: original solved", "E: ours solved", "agree"]
    print(f"{'status':20s}" + "".join(f"{c:>20s}" for c in columns))
    for status in EXPECTED:
        total = sum(1 for f in files if status_of(f) == status)
        cells = [total] + [rows[status, c] for c in columns[1:]]
        print(f"{status:20s}" + "".join(f"{c:>20d}" for c in cells))
    print(f"\nunsound (E's verdict on our clauses contradicts the status): {len(wrong)}")
    for row in wrong:
        print("  ", *row)
    print(f"solved by E from the original but not from our clauses within the limit: {len(lost)}")
    for row in lost[:40]:
        print("  ", *row)
    print(f"not clausified: {len(refused)}")
    for line in list(refused.values())[:40]:
        print("  ", line)


if __name__ == "__main__":
    main()
