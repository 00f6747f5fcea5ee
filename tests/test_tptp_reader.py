"""Reading fof and cnf: the grammar, the trees it gives, symbols, includes."""

import pytest

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.exceptions import ZelqorError
from zelqor.core.sorts import Ind
from zelqor.tptp import TPTPError, parse_formula, parse_problem, read_problem


def atom(name, *args):
    return PredicateApp(name, len(args), tuple(args))


p, q, r = atom("p"), atom("q"), atom("r")


@pytest.mark.parametrize("text, expected", [
    ("p & q & r", And(And(p, q), r)),
    ("p | q | r", Or(Or(p, q), r)),
    ("p => q", Implies(p, q)),
    ("p <= q", Implies(q, p)),
    ("p <=> q", Iff(p, q)),
    ("p <~> q", Not(Iff(p, q))),
    ("p ~| q", Not(Or(p, q))),
    ("p ~& q", Not(And(p, q))),
    ("~ p & q", And(Not(p), q)),
    ("~~p", Not(Not(p))),
    ("p & (q | r)", And(p, Or(q, r))),
    ("((p))", p),
    ("$true | $false", Or(VERUM, FALSUM)),
    ("a = b", Equality(Constant("a"), Constant("b"))),
    ("a != b", Not(Equality(Constant("a"), Constant("b")))),
    ("~ a = b", Not(Equality(Constant("a"), Constant("b")))),
    ("'p'", p),
    ("'A b'", atom("A b")),
    (r"'it\'s'", atom("it's")),
    ('p("A")', atom("p", Constant('"A"'))),
    ("p(12, -3, 1/2, 2.5E-3)", atom("p", Constant("12"), Constant("-3"), Constant("1/2"), Constant("2.5E-3"))),
    ("p($$sys)", atom("p", Constant("$$sys"))),
    ("p(f(a), f(a))", atom("p", FunctionApp("f", 1, (Constant("a"),)), FunctionApp("f", 1, (Constant("a"),)))),
    ("$distinct(a, b)", Not(Equality(Constant("a"), Constant("b")))),
    ("p % comment\n /* block\n */ & q", And(p, q)),
])
def test_connectives_and_atoms(text, expected):
    assert parse_formula(text) == expected


def test_quantifiers_bind_fresh_variables_in_order():
    f = parse_formula("! [X, Y] : ? [Z] : p(X, Y, Z)")
    x, y, z = Variable(0), Variable(1), Variable(2)
    assert f == Forall(x, Forall(y, Exists(z, atom("p", x, y, z))))
    # An inner quantifier over the same name binds a new variable.
    g = parse_formula("! [X] : (p(X) & ! [X] : q(X))")
    assert g == Forall(Variable(0), And(atom("p", Variable(0)), Forall(Variable(1), atom("q", Variable(1)))))
    # A quantifier's body is a unit formula: the conjunction is outside it.
    assert parse_formula("! [X] : p(X) & q") == And(Forall(Variable(0), atom("p", Variable(0))), q)


def test_clause_variables_are_free_and_named_once_per_clause():
    problem = parse_problem("cnf(c, axiom, ~ p(X) | X = Y | ~ (q(Y))).\ncnf(d, axiom, p(X)).")
    c, d = problem.formulas
    x, y = Variable(0), Variable(1)
    assert c.formula == Or(Or(Not(atom("p", x)), Equality(x, y)), Not(atom("q", y)))
    assert c.variable_names == {0: "X", 1: "Y"}
    assert d.formula == atom("p", Variable(2)) and d.variable_names == {2: "X"}


def test_repeated_terms_and_atoms_are_shared():
    f = parse_formula("p(f(a)) & p(f(a)) & q(f(a))")
    (left, middle), right = (f.left.left, f.left.right), f.right
    assert left is middle
    assert left.args[0] is right.args[0]


def test_problem_records_and_signature():
    problem = parse_problem(
        "% header\nfof(ax1, axiom, ! [X] : (human(X) => mortal(X))).\n\n"
        "fof(2, hypothesis, human(socrates)).\n"
        "fof('goal one', conjecture, ? [Y] : mortal(f(Y, c))).\n"
        "cnf(neg, negated_conjecture, ~ mortal(socrates), inference(x, [status(thm)], [a, 'b'])).\n",
        source="mem.p")
    names = [f.name for f in problem]
    assert names == ["ax1", "2", "goal one", "neg"]
    assert [f.role for f in problem] == ["axiom", "hypothesis", "conjecture", "negated_conjecture"]
    assert [f.language for f in problem] == ["fof", "fof", "fof", "cnf"]
    assert [f.line for f in problem] == [2, 4, 5, 6] and problem.formulas[0].source == "mem.p"
    assert problem.formulas[0].variable_names == {0: "X"}
    assert [f.name for f in problem.conjectures] == ["goal one"]
    assert len(problem.axioms) == 3
    sig = problem.signature
    assert sig.predicates == {"human": (1, (Ind,)), "mortal": (1, (Ind,))}
    assert sig.constants == {"socrates": Ind, "c": Ind}
    assert sig.functions == {"f": (2, (Ind, Ind), Ind)}


def test_roles_with_subroles_and_empty_files():
    assert parse_problem("fof(a, axiom-special(1), p).").formulas[0].role == "axiom"
    assert len(parse_problem("")) == 0
    assert len(parse_problem("% only a comment")) == 0


# ---- errors -----------------------------------------------------------------------------

@pytest.mark.parametrize("text, position, message", [
    ("fof(a, axiom, p & q | r).", (1, 21), "'|' after a chain of '&' needs parentheses"),
    ("fof(a, axiom, p => q => r).", (1, 22), "'=>' after '=>' needs parentheses"),
    ("fof(a, axiom, p(X)).", (1, 17), "variable X is not bound by a quantifier"),
    ("fof(a, axiom, p(a) & p).", (1, 22), "'p' has 0 arguments here but 1 at line 1"),
    ("fof(a, axiom, p(p)).", (1, 15), "'p' is used here as a predicate but as a function at line 1"),
    ("fof(a, axiom, p(1) & p('1')).", (1, 24), "'1' is written here as a name but as a number"),
    ("fof(a, axiom, ! [X] : X).", (1, 23), "a variable cannot stand as a formula"),
    ("fof(a, axiom, p(a,)).", (1, 19), "expected a term, found ')'"),
    ("fof(a, axiom, p)", (1, 17), "expected '.' after the annotated formula, found the end of the text"),
    ("fof(a, axoim, p).", (1, 8), "unknown role 'axoim'"),
    ("fof(a, axiom, 'p).", (1, 15), "unterminated quoted name"),
    ("fof(a, axiom, p). /* open", (1, 19), "unterminated comment"),
    ("fof(a, axiom, p) .\nfof(b, axiom, q & @).", (2, 19), "belongs to the higher-order or modal languages"),
    ("fof(a, axiom, p #).", (1, 17), "belongs to the higher-order"),
    ("fof(a, axiom, p ∧ q).", (1, 17), "unexpected character byte 0xe2"),
    ("fof(a, axiom, $less(a, b)).", (1, 15), "arithmetic ('$less') is not supported"),
    ("fof(a, axiom, p($sum(a, b))).", (1, 17), "arithmetic ('$sum') is not supported"),
    ("fof(a, axiom, $true = a).", (1, 15), "'$true' is a formula, not a term"),
    ("thf(a, axiom, p).", (1, 1), "higher-order formulas (thf) are not supported"),
    ("cnf(a, axiom, p & q).", (1, 17), "a clause is a disjunction of literals"),
    ("cnf(a, axiom, ~ a != b).", (1, 19), "'!=' cannot follow '~' in a clause"),
    ("fof(a, axiom, ! [X : t] : p(X)).", (1, 20), "typed variables ('X: type') need tff"),
    ("fof(a, axiom, [p] --> [q]).", (1, 15), "tuples belong to the extended typed language"),
    ("fof(a, axiom, p(007)).", (1, 17), "a number cannot start with 0"),
    ("fof(a, type, p: $o).", (1, 8), "the role 'type' declares types, which only tff formulas do"),
])
def test_errors_name_the_position(text, position, message):
    with pytest.raises(TPTPError) as caught:
        parse_problem(text, source="t.p")
    error = caught.value
    assert (error.line, error.column) == position, error.summary
    assert message in error.message
    assert error.summary.startswith(f"t.p:{position[0]}:{position[1]}: ")


def test_error_text_shows_the_line_with_a_caret():
    with pytest.raises(TPTPError) as caught:
        parse_problem("fof(a, axiom, p).\n\tfof(b, axiom, p(Y)).\n", source="x.p")
    error = caught.value
    assert isinstance(error, ZelqorError)
    assert (error.file, error.line, error.column) == ("x.p", 2, 18)
    assert str(error).splitlines() == ["x.p:2:18: " + error.message, "\tfof(b, axiom, p(Y)).",
                                       "\t" + " " * 16 + "^"]


def test_error_in_a_very_long_line_shows_a_window():
    text = "fof(a, axiom, " + "p & " * 5000 + "q | r)."
    with pytest.raises(TPTPError) as caught:
        parse_problem(text)
    lines = str(caught.value).splitlines()
    assert len(lines[1]) < 200 and lines[1].startswith("...")
    assert lines[1][lines[2].index("^")] == "|"


def test_errors_pickle_for_worker_processes():
    import pickle
    with pytest.raises(TPTPError) as caught:
        parse_problem("fof(a, axiom, p(X)).")
    again = pickle.loads(pickle.dumps(caught.value))
    assert str(again) == str(caught.value) and again.column == caught.value.column


def test_deep_nesting_reads_without_recursion():
    depth = 100_000
    f = parse_formula("(" * depth + "p" + ")" * depth)
    assert f == p
    g = parse_formula("~" * depth + "p")
    for _ in range(depth):
        g = g.operand
    assert g == p
    term = parse_formula("p(" + "f(" * depth + "a" + ")" * depth + ")")
    assert term.args[0].func == "f"


# ---- includes ---------------------------------------------------------------------------

@pytest.fixture
def library(tmp_path):
    (tmp_path / "Axioms").mkdir()
    (tmp_path / "Axioms" / "set.ax").write_text("fof(s1, axiom, p(a)).\nfof(s2, axiom, q(b)).\n"
                                                "include('Axioms/more.ax').\n")
    (tmp_path / "Axioms" / "more.ax").write_text("fof(m1, axiom, r).\n")
    (tmp_path / "Problems").mkdir()
    return tmp_path


def test_includes_resolve_against_the_folder_then_dirs_then_tptp(library, monkeypatch):
    problem_file = library / "Problems" / "one.p"
    problem_file.write_text("fof(h, hypothesis, r).\ninclude('Axioms/set.ax').\nfof(c, conjecture, p(a)).\n")
    monkeypatch.delenv("TPTP", raising=False)
    with pytest.raises(TPTPError, match="included file 'Axioms/set.ax' not found"):
        read_problem(problem_file)
    problem = read_problem(problem_file, include_dirs=[library])
    assert [f.name for f in problem] == ["h", "s1", "s2", "m1", "c"]
    assert problem.formulas[1].source.endswith("Axioms/set.ax") and problem.formulas[1].line == 1
    monkeypatch.setenv("TPTP", str(library))
    assert len(read_problem(problem_file)) == 5
    # Next to the including file first.
    (library / "Problems" / "Axioms").mkdir()
    (library / "Problems" / "Axioms" / "set.ax").write_text("fof(local, axiom, p(a)).\n")
    assert [f.name for f in read_problem(problem_file)] == ["h", "local", "c"]


def test_include_selection(library):
    text = "include('Axioms/set.ax', [s2, m1])."
    assert [f.name for f in parse_problem(text, include_dirs=[library])] == ["s2", "m1"]
    with pytest.raises(TPTPError, match="has no formula named 'zz'"):
        parse_problem("include('Axioms/set.ax', [zz]).", include_dirs=[library])


def test_include_cycles_and_errors_inside_includes(library):
    (library / "a.p").write_text("fof(a, axiom, p).\ninclude('b.p').\n")
    (library / "b.p").write_text("include('a.p').\n")
    with pytest.raises(TPTPError, match=r"include cycle: .*a\.p -> .*b\.p -> .*a\.p") as caught:
        read_problem(library / "a.p")
    assert caught.value.file.endswith("b.p") and caught.value.line == 1
    (library / "bad.ax").write_text("\n\nfof(x, axiom, p(Z)).\n")
    with pytest.raises(TPTPError) as caught:
        parse_problem("include('bad.ax').", include_dirs=[library])
    assert caught.value.file.endswith("bad.ax") and (caught.value.line, caught.value.column) == (3, 17)


def test_symbols_are_checked_across_includes(library):
    (library / "uses.ax").write_text("fof(x, axiom, p(a, b)).\n")
    with pytest.raises(TPTPError, match=r"'p' has 2 arguments here but 1 at .*Axioms/set.ax:1"):
        parse_problem("include('Axioms/set.ax').\ninclude('uses.ax').", include_dirs=[library])


def test_includes_are_regular_files_only(tmp_path):
    with pytest.raises(TPTPError, match="included file '/dev/zero' not found"):
        parse_problem("include('/dev/zero').")
    (tmp_path / "folder.ax").mkdir()
    with pytest.raises(TPTPError, match="not found"):
        parse_problem("include('folder.ax').", include_dirs=[tmp_path])


def test_missing_top_file_is_an_error(tmp_path):
    with pytest.raises(TPTPError) as caught:
        read_problem(tmp_path / "none.p")
    assert caught.value.summary == f"{tmp_path / 'none.p'}: cannot read: No such file or directory"
