"""Module surface, module attributes replaced by callers, and trees deeper than the stack."""

import random
import subprocess
import sys
import textwrap

import pytest

import zelqor.core.ast as ast
import zelqor.prover.clausifier as cz
from zelqor.core.substitutions import substitute_formula
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)


def test_module_names_in_order():
    names = [n for n in vars(cz) if not n.startswith("__")]
    assert names == [
        "itertools", "dataclass", "field", "List", "Set", "FrozenSet", "Dict", "Tuple", "Optional", "Union",
        "Term", "Variable", "Constant", "FunctionApp", "Formula", "PredicateApp", "Equality", "Not", "And", "Or",
        "Implies", "Iff", "Forall", "Exists", "free_variables", "bound_variables", "Sort", "Ind", "Signature",
        "substitute_formula", "substitute_term", "_skolem_constant_counter", "_skolem_function_counter",
        "_standardize_var_counter", "reset_skolem_counters", "Literal", "Clause", "eliminate_implications",
        "to_nnf", "standardize_variables", "skolemize", "drop_universals", "distribute_cnf",
        "formula_to_clauses", "to_cnf", "negate_and_clausify",
    ]
    assert cz.Literal.__module__ == "zelqor.prover.clausifier" and cz.to_cnf.__module__ == cz.__name__
    assert not hasattr(cz, "__all__")


def random_formula(rng, size, variables):
    """A first-order formula of about `size` nodes over the given variables."""
    if size <= 1:
        args = tuple(rng.choice(variables + [Constant("c"), FunctionApp("f", 1, (rng.choice(variables),))])
                     for _ in range(rng.randint(0, 2)))
        atom = (PredicateApp(rng.choice("PQR"), len(args), args) if rng.random() < 0.85
                else Equality(rng.choice(variables), Constant("d")))
        return Not(atom) if rng.random() < 0.3 else atom
    kind = rng.choice([Not, And, Or, Or, Implies, Iff, Forall, Exists])
    if kind is Not:
        return Not(random_formula(rng, size - 1, variables))
    if kind in (Forall, Exists):
        return kind(rng.choice(variables), random_formula(rng, size - 1, variables))
    split = rng.randint(1, size - 1)
    return kind(random_formula(rng, split, variables), random_formula(rng, size - split, variables))


STEPS = ["eliminate_implications", "to_nnf", "standardize_variables", "skolemize", "drop_universals",
         "distribute_cnf"]


class Recorder:
    def __init__(self):
        self.calls = []

    def register_constant(self, *args):
        self.calls.append(args)

    def register_function(self, *args):
        self.calls.append(args)


def run_pipeline(formula):
    cz.reset_skolem_counters()
    out, f = [], formula
    for step in STEPS:
        f = getattr(cz, step)(f)
        out.append(f)
    out.append(cz.formula_to_clauses(f))
    cz.reset_skolem_counters()
    recorder = Recorder()
    out.append(cz.to_cnf(formula, recorder))
    out.append(recorder.calls)
    out.append(cz.negate_and_clausify(formula))
    return out


def test_native_path_matches_the_literal_one(monkeypatch):
    """A replaced module attribute sends every step down the literal path: same results."""
    rng = random.Random(4)
    variables = [Variable(i) for i in range(4)]
    formulas = [random_formula(rng, rng.randint(1, 14), variables) for _ in range(300)]
    native = [run_pipeline(f) for f in formulas]
    monkeypatch.setattr(cz, "free_variables", lambda node: ast.free_variables(node))
    monkeypatch.setattr(cz, "substitute_formula", lambda f, m: substitute_formula(f, m))
    literal = [run_pipeline(f) for f in formulas]
    assert native == literal
    assert sum(len(r[-3]) for r in native) > 300 and sum(len(r[-2]) for r in native) > 50


class MyNot(Not):
    pass


def test_replaced_node_class_is_used_for_tests_and_construction(monkeypatch):
    A, B = PredicateApp("A", 0, ()), PredicateApp("B", 0, ())
    monkeypatch.setattr(cz, "Not", MyNot)
    out = cz.eliminate_implications(Implies(A, B))
    assert type(out.left) is MyNot
    with pytest.raises(ValueError, match="Unsupported formula node: <class 'zelqor.core.ast.Not'>"):
        cz.to_nnf(Not(A))  # a plain Not is no longer a negation for the module
    monkeypatch.delattr(cz, "Or")
    with pytest.raises(NameError, match="name 'Or' is not defined"):
        cz.to_nnf(Forall(Variable(0), A))  # tests reach Or before Forall


DEEP = textwrap.dedent("""
    import sys
    import zelqor.prover.clausifier as cz
    from zelqor.core.ast import *
    from zelqor.prover.clausifier import Literal, Clause

    def chain(make, n):
        f = PredicateApp("P", 1, (Variable(0),))
        for _ in range(n):
            f = make(f)
        return f

    x = Variable(0)
    shapes = {
        "not": chain(Not, N),
        "or": chain(lambda f: Or(PredicateApp("Q", 0, ()), f), N),
        "and": chain(lambda f: And(f, PredicateApp("Q", 0, ())), N),
        "forall": chain(lambda f: Forall(x, f), N),
        "exists": chain(lambda f: Exists(x, f), N),
        "implies": chain(lambda f: Implies(f, PredicateApp("Q", 0, ())), N),
    }
    steps = ["eliminate_implications", "to_nnf", "standardize_variables", "skolemize", "drop_universals",
             "distribute_cnf", "formula_to_clauses", "to_cnf", "negate_and_clausify"]
    outcomes = set()
    for name, f in shapes.items():
        for step in steps:
            try:
                getattr(cz, step)(f)
                outcomes.add("ok")
            except RecursionError:
                outcomes.add("RecursionError")
            except (ValueError, AssertionError) as e:
                outcomes.add(type(e).__name__)
    del shapes
    assert cz.to_cnf(chain(Not, 50)) == [Clause(frozenset({Literal(PredicateApp("P", 1, (Variable(0),)))}))]
    print(sorted(outcomes))
""")


def test_million_deep_formulas_never_crash():
    done = subprocess.run([sys.executable, "-c", "N = 10**6\n" + DEEP], capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "RecursionError" in done.stdout


@pytest.mark.parametrize("missing", ["zelqor.core.signature", "zelqor.core.substitutions"])
def test_missing_outside_module_fails_only_this_import(missing):
    code = textwrap.dedent(f"""
        import sys
        sys.modules[{missing!r}] = None
        try:
            import zelqor.prover.clausifier
        except ImportError:
            print("ImportError")
        import zelqor.core.ast
    """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.strip() == "ImportError", done.stderr
