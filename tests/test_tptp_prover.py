"""The prover E judges our clause sets of real problems: it must refute those of theorems it
refutes from the original file, and never those of problems whose conjecture does not follow."""

import os
import re
import shutil
import subprocess

import pytest

from zelqor.prover.problem import clausify_problem
from zelqor.tptp import format_clauses, format_declarations, read_problem

CORPUS = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "shared", "corpora", "iltp"))
FIRST_ORDER = os.path.join(CORPUS, "firstorder")

if shutil.which("eprover") is None:
    MISSING = "the prover E (eprover) is not installed"
elif not os.path.isdir(FIRST_ORDER):
    MISSING = "the corpus is not next to the repository"
else:
    MISSING = None


@pytest.fixture(autouse=True)
def prover_and_corpus():
    """Skipped where E or the corpus is missing, except where they are required (CI sets
    ZELQOR_REQUIRE_PROVER=1, so that a missing install step fails instead of passing quietly)."""
    if MISSING is not None:
        if os.environ.get("ZELQOR_REQUIRE_PROVER") == "1":
            pytest.fail(f"{MISSING}, and ZELQOR_REQUIRE_PROVER=1 requires it")
        pytest.skip(MISSING)


THEOREMS = ["SWV/SWV077+1", "SWC/SWC185+1", "AGT/AGT004+1", "NUM/NUM300+1", "SET/SET013+4", "MGT/MGT048+1",
            "GEO/GEO080+1", "SYN/SYN001+1"]
COUNTER_SATISFIABLE = ["SYN/SYN725+1", "SYN/SYN330+1", "SWV/SWV016+1", "PLA/PLA028+1",
                       "../../propositional/Problems/SYN/SYN916+1"]


def e_status(path, cpu):
    done = subprocess.run(["eprover", "--auto", f"--cpu-limit={cpu}", "-s", "--tstp-format", path],
                          capture_output=True, text=True, timeout=cpu * 4 + 30,
                          env=dict(os.environ, TPTP=FIRST_ORDER))
    found = re.search(r"SZS status (\w+)", done.stdout)
    return found.group(1) if found else done.stderr.strip()[-300:]


def our_clauses(name, folder):
    path = os.path.normpath(os.path.join(FIRST_ORDER, "Problems", name + ".p"))
    problem = read_problem(path, include_dirs=[FIRST_ORDER])
    clause_set = clausify_problem(problem, max_clauses=100_000)
    target = os.path.join(folder, os.path.basename(name) + ".cnf")
    with open(target, "w", encoding="utf-8") as out:
        out.write(format_declarations(clause_set.signature, clause_set.sorts) + format_clauses(clause_set))
    return path, target


@pytest.mark.parametrize("name", THEOREMS)
def test_e_refutes_our_clauses_of_theorems(name, tmp_path):
    original, ours = our_clauses(name, tmp_path)
    if e_status(original, 5) != "Theorem":
        pytest.skip("E does not prove the original within the time limit here")
    assert e_status(ours, 10) == "Unsatisfiable"


@pytest.mark.parametrize("name", COUNTER_SATISFIABLE)
def test_e_never_refutes_our_clauses_of_non_theorems(name, tmp_path):
    _, ours = our_clauses(name, tmp_path)
    assert e_status(ours, 5) != "Unsatisfiable"
