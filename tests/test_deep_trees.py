"""Trees deeper than the stack: every operation succeeds or raises RecursionError, never crashes."""

import subprocess
import sys
import textwrap

SCRIPT = textwrap.dedent("""
    import copy, pickle, sys
    from zelqor.core.ast import *

    def chain(n):
        f = PredicateApp("P", 1, (Variable(0),))
        for _ in range(n):
            f = Not(f)
        return f

    deep, twin = chain(N), chain(N)
    outcomes = []
    for name, op in [
        ("hash", lambda: hash(deep)),
        ("eq", lambda: deep == twin),
        ("ne", lambda: deep != Not(twin)),
        ("free_variables", lambda: free_variables(deep)),
        ("bound_variables", lambda: bound_variables(deep)),
        ("formula_depth", lambda: formula_depth(deep)),
        ("formula_size", lambda: formula_size(deep)),
        ("canonicalize", lambda: canonicalize_bound_variables(deep)),
        ("repr", lambda: repr(deep)),
        ("pickle", lambda: pickle.dumps(deep)),
    ]:
        try:
            result = op()
            outcomes.append(f"{name}=ok")
        except RecursionError:
            outcomes.append(f"{name}=RecursionError")
    assert deep == twin  # equality does not recurse
    del deep, twin
    assert formula_depth(chain(50)) == 51  # the interpreter is still usable
    print(" ".join(outcomes))
""")


def run(depth):
    return subprocess.run([sys.executable, "-c", f"N = {depth}\n" + SCRIPT],
                          capture_output=True, text=True, timeout=300)


def test_million_deep_chain_never_crashes():
    done = run(10**6)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "hash=ok" in done.stdout and "eq=ok" in done.stdout and "ne=ok" in done.stdout


def test_wide_argument_tuple_through_every_walk():
    from zelqor.constructive.kripke import KripkeModel, World
    from zelqor.core.ast import (
        Forall, FunctionApp, Not, PredicateApp, Variable, canonicalize_bound_variables, formula_size, free_variables,
    )
    from zelqor.core.substitutions import substitute_formula
    from zelqor.core.visitors import (
        ASTTransformer, ExportVisitor, FreeVariableCollector, SizeVisitor, SubstitutionTransformer,
    )
    from zelqor.prover.clausifier import to_cnf

    n = 100_000
    args = tuple(Variable(i) for i in range(n))
    atom = PredicateApp("P", n, args)
    assert len(free_variables(atom)) == n and formula_size(atom) == n + 1
    assert SizeVisitor().visit(atom) == n + 1 and len(FreeVariableCollector().visit(atom)) == n
    assert ASTTransformer().visit(atom) is atom
    assert ExportVisitor("prefix").visit(atom).count(" v") == n
    f = Forall(Variable(0), Not(PredicateApp("Q", 1, (FunctionApp("f", n, args),))))
    assert canonicalize_bound_variables(f) == f  # x0 is bound, x1... are free: 0 is the first id left
    g = FunctionApp("g", 0, ())
    assert substitute_formula(atom, {Variable(7): g}).args[7] is g
    assert SubstitutionTransformer({Variable(7): g}).visit(atom).args[7] is g
    assert len(to_cnf(f)) == 1
    model = KripkeModel()
    model.add_valuation(World(0, "w0"), atom)
    assert model.evaluate(atom, World(0, "w0"))
