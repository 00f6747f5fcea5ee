"""The zelqor command line, run as a user would: output, errors, files, many problems."""

import os
import subprocess
import sys

import pytest

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")
SOCRATES = os.path.join(EXAMPLES, "socrates.p")


def zelqor(*args, cwd=None, env=None):
    return subprocess.run([sys.executable, "-m", "zelqor", *args], capture_output=True, text=True, timeout=300,
                          cwd=cwd, env=env)


def test_clausify_prints_cnf_lines():
    done = zelqor("clausify", SOCRATES)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0].startswith("% clauses of ")
    assert lines[1:] == ["cnf(men_are_mortal_1, axiom, mortal(X0) | ~ man(X0)).",
                         "cnf(socrates_is_a_man_1, axiom, man(socrates)).",
                         "cnf(teacher_1, axiom, teacher(plato) = socrates).",
                         "cnf(someone_mortal_1, negated_conjecture, teacher(X0) != X1 | ~ mortal(X1))."]


def test_clausify_infix_and_stats():
    done = zelqor("clausify", SOCRATES, "--format", "infix", "--stats")
    assert done.returncode == 0
    assert "someone_mortal_1: teacher(X0) ≠ X1 ∨ ¬mortal(X1)" in done.stdout
    assert "4 formulas, 4 clauses, 6 literals; read" in done.stderr


def test_bad_input_is_one_line_and_status_2_and_leaves_no_output(tmp_path):
    bad = tmp_path / "bad.p"
    bad.write_text("fof(a, axiom, p).\nfof(b, axiom, p(X)).\n")
    out = tmp_path / "out.cnf"
    out.write_text("old\n")
    done = zelqor("clausify", str(bad), "-o", str(out))
    assert done.returncode == 2
    assert done.stderr.splitlines() == [f"{bad}:2:17: variable X is not bound by a quantifier: fof formulas must "
                                        "quantify every variable (check the parentheses around quantifiers)"]
    assert out.read_text() == "old\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.p", "out.cnf"]  # no temporary file left
    missing = zelqor("show", str(tmp_path / "none.p"))
    assert missing.returncode == 2 and missing.stderr.strip().endswith("cannot read: No such file or directory")


def test_output_file_and_many_problems_in_processes(tmp_path):
    out = tmp_path / "one.cnf"
    assert zelqor("clausify", SOCRATES, "-o", str(out)).returncode == 0
    assert "negated_conjecture" in out.read_text()
    # Written through a temporary file, yet with the permissions the umask gives a new file
    # (the subprocess inherits ours), and those of the file it replaces.
    umask = os.umask(0)
    os.umask(umask)
    assert out.stat().st_mode & 0o777 == 0o666 & ~umask
    out.chmod(0o640)
    assert zelqor("clausify", SOCRATES, "-o", str(out)).returncode == 0
    assert out.stat().st_mode & 0o777 == 0o640
    problems = tmp_path / "problems"
    problems.mkdir()
    for i in range(3):
        (problems / f"p{i}.p").write_text(f"fof(a, axiom, p{i}).\nfof(g, conjecture, p{i}).\n")
    (problems / "broken.p").write_text("fof(a, axiom, p &).\n")
    done = zelqor("clausify", str(problems), "-o", str(tmp_path / "out"), "--jobs", "2")
    assert done.returncode == 2
    assert done.stderr.strip().endswith("broken.p:1:18: expected a formula, found ')'")
    written = sorted(os.listdir(tmp_path / "out"))
    assert written == ["p0.cnf", "p1.cnf", "p2.cnf"]
    assert "cnf(g_1, negated_conjecture, ~ p1)." in (tmp_path / "out" / "p1.cnf").read_text()


def test_many_problems_to_standard_output_keep_their_order(tmp_path):
    names = []
    for i in (3, 1, 2):
        path = tmp_path / f"q{i}.p"
        path.write_text(f"fof(a{i}, axiom, p{i}).\n")
        names.append(str(path))
    done = zelqor("clausify", *names, "--jobs", "2")
    assert done.returncode == 0
    assert [line for line in done.stdout.splitlines() if line.startswith("cnf")] == \
        ["cnf(a3_1, axiom, p3).", "cnf(a1_1, axiom, p1).", "cnf(a2_1, axiom, p2)."]


def test_clause_limit_and_clause_forms(tmp_path):
    big = tmp_path / "big.p"
    big.write_text("fof(big, axiom, " + " | ".join(f"(a{i} & b{i})" for i in range(25)) + ").\n")
    done = zelqor("clausify", str(big), "--max-clauses", "100")
    assert done.returncode == 2
    assert done.stderr.strip() == (f"{big}:1: formula 'big' would give 33,554,432 clauses with the distribute "
                                   "clause form (limit 100)")
    assert "distribute: negation normal form" in " ".join(zelqor("clausify", "--help").stdout.split())


@pytest.mark.parametrize("notation, expected", [
    ("infix", "forall v0 : Ind, (man(v0) => mortal(v0))"),
    ("prefix", "(forall (v0 : Ind) (=> (man v0) (mortal v0)))"),
    ("latex", "\\forall v_{0} : Ind, (man(v_{0}) \\implies mortal(v_{0}))"),
    ("tptp", "fof(men_are_mortal, axiom, ! [X] : (man(X) => mortal(X)))."),
])
def test_show(notation, expected):
    done = zelqor("show", SOCRATES, "--notation", notation)
    assert done.returncode == 0 and expected in done.stdout


def test_help_everywhere_and_the_tour_without_arguments():
    top = zelqor("--help")
    assert top.returncode == 0 and "clausify" in top.stdout and "show" in top.stdout
    for command in ("clausify", "show"):
        assert "examples:" in zelqor(command, "--help").stdout
    assert "Kripke Model" in zelqor().stdout
    assert zelqor("nonsense").returncode == 2


def test_includes_through_the_option_and_the_environment(tmp_path):
    (tmp_path / "lib").mkdir()
    (tmp_path / "lib" / "ax.ax").write_text("fof(ax, axiom, p).\n")
    problem = tmp_path / "prob.p"
    problem.write_text("include('ax.ax').\nfof(g, conjecture, p).\n")
    env = {k: v for k, v in os.environ.items() if k != "TPTP"}
    assert zelqor("clausify", str(problem), env=env).returncode == 2
    assert zelqor("clausify", str(problem), "-I", str(tmp_path / "lib"), env=env).returncode == 0
    assert zelqor("clausify", str(problem), env=dict(env, TPTP=str(tmp_path / "lib"))).returncode == 0
