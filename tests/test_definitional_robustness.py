"""Definitional clause form on hostile input: deep and wide trees, replaced counters, leaks."""

import itertools
import subprocess
import sys
import textwrap

import pytest

import zelqor.prover.clausifier as cz
import zelqor.prover.definitional as zd
from zelqor.core.ast import And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Not, Or, PredicateApp, Variable
from zelqor.core.signature import Signature
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

from leakcheck import assert_steady, expect

DEEP = textwrap.dedent("""
    import sys
    from zelqor.core.ast import *
    import zelqor.prover.definitional as zd

    N = 10 ** 6
    x = Variable(0)
    atom = PredicateApp("P", 1, (x,))
    term = x
    for _ in range(N):
        term = FunctionApp("f", 1, (term,))
    chains = {"not": atom, "or": atom, "forall": atom}
    for i in range(N):
        chains["not"] = Not(chains["not"])
        chains["or"] = Or(chains["or"], And(atom, atom))
        chains["forall"] = Forall(Variable(i % 7), chains["forall"])
    chains["term"] = Or(PredicateApp("P", 1, (term,)), And(atom, atom))
    outcomes = []
    for name, f in chains.items():
        for options in ({}, {"threshold": None}, {"miniscope": True}):
            try:
                zd.to_cnf(f, **options)
                outcomes.append(f"{name}=ok")
            except RecursionError:
                outcomes.append(f"{name}=RecursionError")
    print(" ".join(outcomes))
""")


def test_million_deep_trees_never_crash():
    done = subprocess.run([sys.executable, "-c", DEEP], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.count("=") == 12


def test_wide_atoms_under_a_definition():
    n = 50_000
    args = tuple(Variable(i) for i in range(n))
    wide = PredicateApp("W", n, args)
    small = [PredicateApp(name, 0, ()) for name in "ABCD"]
    f = Or(And(wide, And(small[0], small[1])), And(small[2], And(small[3], wide)))
    signature = Signature()
    clauses = zd.to_cnf(f, signature, threshold=4)
    assert len(clauses) < 9
    (arity, _), = [v for k, v in signature.predicates.items() if k.startswith("def_")]
    assert arity == n


def test_replaced_and_missing_counters(monkeypatch):
    f = Exists(Variable(0), PredicateApp("P", 1, (Variable(0),)))
    monkeypatch.setattr(cz, "_skolem_constant_counter", itertools.count(40))
    (clause,) = zd.to_cnf(f)
    assert "sk_c40" in str(clause)
    monkeypatch.setattr(cz, "_skolem_constant_counter", [1, 2])
    with pytest.raises(TypeError, match="not an iterator"):
        zd.to_cnf(f)
    # Without existentials no counter is read.
    assert zd.to_cnf(PredicateApp("P", 0, ())) == cz.to_cnf(PredicateApp("P", 0, ()))
    # A deleted counter, as the clausifier reports one (in a process of its own:
    # the module's names keep their order here).
    done = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import zelqor.prover.clausifier as cz, zelqor.prover.definitional as zd
        from zelqor.core.ast import Exists, PredicateApp, Variable
        del cz._skolem_constant_counter, cz._standardize_var_counter
        for to_cnf in (zd.to_cnf, cz.to_cnf):
            try:
                to_cnf(Exists(Variable(0), PredicateApp("P", 1, (Variable(0),))))
            except NameError as error:
                print(error)
    """)], capture_output=True, text=True, timeout=60)
    assert done.stdout.count("name '_skolem_constant_counter' is not defined") == 2, done.stderr


class Hostile:
    """A signature whose tables and registrations fail."""

    @property
    def predicates(self):
        raise KeyError("no table")

    def register_predicate(self, *args):
        raise ValueError("no")

    register_function = register_constant = register_predicate


class Interrupting:
    def register_function(self, *args):
        raise KeyboardInterrupt


x, y = Variable(0), Variable(1)
A, B, C, D, E, F = (PredicateApp(n, 0, ()) for n in "ABCDEF")
tree = Forall(x, Iff(Or(And(A, And(B, PredicateApp("P", 1, (x,)))), And(C, And(D, E))),
                     Exists(y, Or(And(PredicateApp("Q", 2, (x, y)), And(A, B)), And(C, And(D, F))))))
bad = Or(A, ForallPred(PredicateVariable("X", 0), A))
a = Constant("a")
# Resolved equalities, units that subsume and shorten, operands equal up to bound variables.
simplified = And(Forall(x, Forall(y, Or(Not(Equality(x, FunctionApp("f", 1, (y,)))), PredicateApp("P", 1, (x,))))),
                 And(Forall(x, Equality(FunctionApp("f", 1, (x,)), a)),
                     And(Or(Not(Equality(a, FunctionApp("f", 1, (a,)))), B),
                         Iff(Forall(x, PredicateApp("P", 1, (x,))), Forall(y, PredicateApp("P", 1, (y,)))))))


def operations():
    for options in ({}, {"threshold": 1}, {"threshold": None}, {"miniscope": True}):
        zd.to_cnf(tree, Signature(), **options)
        zd.negate_and_clausify(tree, Hostile() if "threshold" in options else None, **options)
        expect(ValueError, zd.to_cnf, bad, **options)
    expect(KeyboardInterrupt, zd.to_cnf, Forall(x, Exists(y, PredicateApp("Q", 2, (x, y)))), Interrupting())
    expect(TypeError, zd.to_cnf, tree, threshold="1")
    expect(TypeError, zd.to_cnf, Forall(A, A))
    zd._miniscope(tree)
    zd.to_cnf(simplified), zd.negate_and_clausify(simplified)
    clauses = zd.to_cnf(tree) + zd.negate_and_clausify(tree)
    zd.simplify_clauses(clauses + clauses)
    expect(TypeError, zd.simplify_clauses, clauses + [None])
    cz.reset_skolem_counters()


def test_no_references_leak():
    assert_steady("test_definitional_robustness", "operations")
