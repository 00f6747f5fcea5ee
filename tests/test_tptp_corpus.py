"""A sample of the corpus: every file reads, writes back to the same trees and clausifies."""

import os

import pytest

from zelqor.prover.problem import ClauseLimitError, clausify_problem
from zelqor.tptp import format_problem, parse_problem, read_problem

CORPUS = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "shared", "corpora", "iltp"))
FIRST_ORDER = os.path.join(CORPUS, "firstorder")


def sample(step=60):
    files = []
    for part in ("firstorder", "propositional"):
        for folder, _, names in sorted(os.walk(os.path.join(CORPUS, part, "Problems"))):
            files.extend(os.path.join(folder, name) for name in sorted(names) if name.endswith(".p"))
    return files[::step]


@pytest.mark.skipif(not os.path.isdir(FIRST_ORDER), reason="the corpus is not next to the repository")
@pytest.mark.parametrize("path", sample(), ids=os.path.basename)
def test_reads_round_trips_and_clausifies(path):
    problem = read_problem(path, include_dirs=[FIRST_ORDER])
    assert len(problem) > 0
    again = parse_problem(format_problem(problem))
    assert [f.formula for f in again] == [f.formula for f in problem]
    assert [(f.name, f.role, f.variable_names) for f in again] == \
        [(f.name, f.role, f.variable_names) for f in problem]
    try:
        clause_set = clausify_problem(problem, max_clauses=20_000)
    except ClauseLimitError:
        return
    assert all(str(clause) for clause in clause_set.clauses()[:5])
