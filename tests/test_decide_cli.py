"""`zelqor decide`, run as a user would: status lines, certificates, pictures, limits, errors, exit codes."""

import os
import subprocess
import sys

import pytest

from zelqor.constructive.pictures import dot_available


def zelqor(*args, env=None):
    return subprocess.run([sys.executable, "-m", "zelqor", "decide", *args], capture_output=True, text=True,
                          timeout=300, env=env)


def problem(folder, name, text):
    path = folder / f"{name}.p"
    path.write_text(text)
    return str(path)


@pytest.fixture
def problems(tmp_path):
    return {
        "mp": problem(tmp_path, "mp", "fof(a1, axiom, p => q).\nfof(a2, axiom, p).\nfof(c, conjecture, q).\n"),
        "lem": problem(tmp_path, "lem", "fof(c, conjecture, p | ~ p).\n"),
        "clash": problem(tmp_path, "clash", "fof(a1, axiom, p).\nfof(a2, axiom, ~ p).\n"),
        "consistent": problem(tmp_path, "consistent", "fof(a1, axiom, p | q).\n"),
    }


def test_status_lines_and_certificates(problems):
    done = zelqor(problems["mp"], problems["lem"], "--proof", "--model")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "% SZS status Theorem for mp"
    assert lines[1] == "% SZS output start Proof for mp" and "% SZS output end Proof for mp" in lines
    start = lines.index("% SZS status CounterSatisfiable for lem")
    assert lines[start + 1:start + 3] == ["% SZS output start Model for lem", "fails at w0"]
    assert lines[-1] == "% SZS output end Model for lem"
    proof = lines[2:lines.index("% SZS output end Proof for mp")]
    assert proof[-1].startswith(f"{len(proof)}. ⊢ (p → q) ∧ p → q   ")


def test_problems_without_conjecture_ask_whether_the_axioms_clash(problems):
    done = zelqor(problems["clash"], problems["consistent"])
    assert done.stdout.splitlines() == ["% SZS status Unsatisfiable for clash", "% SZS status Satisfiable for consistent"]


def test_single_formula_and_dot_text_without_graphviz(tmp_path):
    picture = tmp_path / "peirce.dot"
    no_dot = dict(os.environ, PATH=str(tmp_path))
    done = subprocess.run([sys.executable, "-m", "zelqor", "decide", "--formula", "((p => q) => p) => p",
                           "--picture", str(picture)], capture_output=True, text=True, timeout=300, env=no_dot)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "% SZS status CounterSatisfiable\n"
    text = picture.read_text()
    assert text.startswith("digraph kripke {") and "peripheries=2" in text  # the failing world is marked
    assert 'label="((p → q) → p) → p"' in text
    # Without Graphviz an image cannot be drawn: refused before any work, nothing written.
    done = subprocess.run([sys.executable, "-m", "zelqor", "decide", "--formula", "p | ~p", "--picture",
                           str(tmp_path / "lem.svg")], capture_output=True, text=True, timeout=300, env=no_dot)
    assert done.returncode == 2 and done.stdout == "" and "Graphviz 'dot' is not installed" in done.stderr
    assert not (tmp_path / "lem.svg").exists()


@pytest.mark.skipif(not dot_available(), reason="Graphviz dot is not installed")
def test_pictures_of_several_problems_go_to_a_folder(problems, tmp_path):
    out = tmp_path / "pictures"
    done = zelqor(problems["mp"], problems["lem"], problems["consistent"], "--picture", str(out), "--jobs", "2")
    assert done.returncode == 0, done.stderr
    assert sorted(os.listdir(out)) == ["consistent.svg", "lem.svg"]  # theorems have no countermodel to draw
    assert (out / "lem.svg").read_text().lstrip().startswith("<?xml")
    png = tmp_path / "one.png"
    assert zelqor(problems["lem"], "--picture", str(png)).returncode == 0
    assert png.read_bytes().startswith(b"\x89PNG")


def test_errors_are_one_line_each_and_status_2(problems, tmp_path):
    quantified = problem(tmp_path, "quantified", "fof(c, conjecture, ! [X] : p(X)).\n")
    broken = problem(tmp_path, "broken", "fof(c, conjecture, p &).\n")
    done = zelqor(quantified, problems["mp"], broken, "--jobs", "2")
    assert done.returncode == 2
    assert done.stdout.splitlines() == ["% SZS status Inappropriate for quantified", "% SZS status Theorem for mp",
                                        "% SZS status InputError for broken"]
    errors = done.stderr.splitlines()
    assert len(errors) == 2 and "not propositional: a quantified formula" in errors[0]
    assert errors[1].endswith("broken.p:1:23: expected a formula, found ')'")
    both = zelqor("--formula", "p", problems["mp"])
    assert both.returncode == 2 and "either --formula or problem files" in both.stderr
    assert zelqor().returncode == 2


def test_limits_give_up_with_status_1(tmp_path):
    # Pigeonhole: 6 pigeons, 5 holes; a theorem that takes real search.
    pigeons, holes = 6, 5
    at = [[f"p{i}_{j}" for j in range(holes)] for i in range(pigeons)]
    somewhere = " & ".join("(" + " | ".join(row) + ")" for row in at)
    clash = " | ".join(f"({at[i][j]} & {at[k][j]})" for j in range(holes) for i in range(pigeons)
                       for k in range(i + 1, pigeons))
    hard = problem(tmp_path, "pigeons", f"fof(c, conjecture, ({somewhere}) => ({clash})).\n")
    budget = zelqor(hard, "--budget", "5")
    assert (budget.returncode, budget.stdout) == (1, "% SZS status ResourceOut for pigeons\n")
    timed = zelqor(hard, problem(tmp_path, "easy", "fof(c, conjecture, p => p).\n"), "--time-limit", "0.001")
    assert timed.returncode == 1
    assert timed.stdout.splitlines() == ["% SZS status Timeout for pigeons", "% SZS status Theorem for easy"]
