"""A sample of the TPTP corpus through the definitional clause form and E (bench/tptp.py does it all)."""

import os
import shutil
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
import tptp as corpus  # noqa: E402

from zelqor.tptp import read_problem  # noqa: E402

# Small problems E settles in well under a second, from each status.
SAMPLE = ["SYN/SYN001+1", "SYN/SYN082+1", "SYN/SYN374+1", "SWC/SWC146+1", "NLP/NLP222+1", "SWV/SWV016+1",
          "KRS/KRS023+1", "KRS/KRS059+1", "KRS/KRS106+1"]

pytestmark = pytest.mark.skipif(not os.path.isdir(corpus.CORPUS), reason="the corpus is not next to this checkout")


@pytest.fixture(scope="module")
def eprover():
    if shutil.which("eprover") is None:
        if os.environ.get("ZELQOR_REQUIRE_EPROVER"):
            pytest.fail("eprover is missing (apt-get install eprover)")
        pytest.skip("eprover is not installed")


def status_of(name):
    path = os.path.join(corpus.CORPUS, "Problems", name + ".p")
    return path, _status(path)


def _status(path):
    with open(path, encoding="latin-1") as handle:
        for line in handle:
            if line.startswith("% Status   :"):
                return line.split(":", 1)[1].split()[0]
    return "Unknown"


@pytest.mark.parametrize("name", SAMPLE)
def test_e_settles_our_clauses_as_the_status_says(name, eprover, tmp_path):
    path, status = status_of(name)
    clauses, tag = corpus.clausify_problem(read_problem(path, include_dirs=[corpus.CORPUS]))
    text = corpus.clause_text(tag(clauses))
    (tmp_path / "clauses.p").write_text(text)
    answer = corpus.e_status(str(tmp_path / "clauses.p"), cpu_limit=2)
    assert answer not in corpus.UNSOUND[status], answer
    assert corpus.proved(status, answer), answer
    count, _ = corpus.e_clause_count(path)
    assert len(clauses) <= 2 * count


def test_problem_clauses_carry_the_conjectures_role(eprover):
    path, _ = status_of("SYN/SYN082+1")
    clauses, tag = corpus.clausify_problem(read_problem(path, include_dirs=[corpus.CORPUS]))
    assert {role for role, _ in tag(clauses)} == {"negated_conjecture"}
