"""Distribution, clause extraction and the pipeline."""

import re

import pytest

import zelqor.prover.clausifier as cz
from zelqor.core.ast import And, Constant, Equality, Exists, Forall, Iff, Not, Or, PredicateApp, Variable
from zelqor.prover.clausifier import (
    Clause, Literal, distribute_cnf, formula_to_clauses, negate_and_clausify, reset_skolem_counters, to_cnf,
)
from zelqor.core.signature import Signature
from zelqor.sol.ast_ext import ExistsPred, PredicateVariable

x = Variable(0)
A, B, C, D, E = (PredicateApp(n, 0, ()) for n in "ABCDE")


def clauses(*groups):
    return [Clause(frozenset(g)) for g in groups]


def value_error(message):
    return pytest.raises(ValueError, match="^" + re.escape(message) + "$")


class TestDistribute:
    def test_shape(self):
        assert distribute_cnf(Or(And(A, B), And(C, D))) == And(And(Or(A, C), Or(A, D)), And(Or(B, C), Or(B, D)))
        assert distribute_cnf(Or(A, And(B, C))) == And(Or(A, B), Or(A, C))
        # Left conjunction split first, then the rebuilt parts distributed again.
        assert distribute_cnf(Or(And(A, B), Or(C, And(D, E)))) == And(
            And(Or(A, Or(C, D)), Or(A, Or(C, E))), And(Or(B, Or(C, D)), Or(B, Or(C, E))))

    def test_leaves_returned_as_they_are(self):
        neg = Not(And(A, B))
        assert distribute_cnf(neg) is neg and distribute_cnf(A) is A

    def test_unsupported(self):
        with value_error("Unsupported formula in CNF distribution: <class 'zelqor.core.ast.Forall'>"):
            distribute_cnf(Or(A, Forall(x, A)))


class TestFormulaToClauses:
    def test_order_and_merging(self):
        cnf = And(And(Or(A, C), Or(A, D)), And(Or(B, C), Or(B, D)))
        assert formula_to_clauses(cnf) == clauses(*[[Literal(p), Literal(q)] for p, q in
                                                    [(A, C), (A, D), (B, C), (B, D)]])
        assert formula_to_clauses(Or(A, Or(Not(B), A))) == clauses([Literal(A), Literal(B, False)])

    def test_tautologies_dropped_duplicates_kept(self):
        assert formula_to_clauses(And(Or(A, Not(A)), And(B, B))) == clauses([Literal(B)], [Literal(B)])
        eq = Equality(x, x)
        assert formula_to_clauses(eq) == clauses([Literal(eq)])

    def test_errors(self):
        with value_error("Unexpected formula inside clause: <class 'zelqor.core.ast.And'>"):
            formula_to_clauses(Or(A, And(B, C)))
        with value_error("Unexpected formula inside clause: <class 'zelqor.core.ast.Forall'>"):
            formula_to_clauses(And(A, Forall(x, A)))
        with pytest.raises(AssertionError):
            formula_to_clauses(Or(A, Not(Not(A))))


class TestPipeline:
    def setup_method(self):
        reset_skolem_counters()

    def test_small_cases(self):
        assert to_cnf(A) == clauses([Literal(A)])
        assert to_cnf(Or(A, Not(A))) == []
        assert to_cnf(And(A, A)) == clauses([Literal(A)], [Literal(A)])
        assert to_cnf(Or(A, A)) == clauses([Literal(A)])
        assert to_cnf(Iff(A, B)) == clauses([Literal(A, False), Literal(B)], [Literal(B, False), Literal(A)])
        assert negate_and_clausify(A) == clauses([Literal(A, False)])
        result = to_cnf(A)
        assert type(result) is list and result is not to_cnf(A)

    def test_skolem_names_keep_counting(self):
        f = Exists(x, PredicateApp("P", 1, (x,)))
        first, second = to_cnf(f), negate_and_clausify(Not(f))
        assert str(first[0]) == str(Literal(PredicateApp("P", 1, (Constant("sk_c0"),))))
        assert second == clauses([Literal(PredicateApp("P", 1, (Constant("sk_c1"),)))])

    def test_first_order(self):
        y = Variable(1)
        R = PredicateApp("R", 2, (x, y))
        out = negate_and_clausify(Forall(x, Exists(y, R)))
        # ¬∀x∃y R becomes ∃x'∀y' ¬R: x' a Skolem constant, y' the fresh id 3.
        assert out == clauses([Literal(PredicateApp("R", 2, (Constant("sk_c0"), Variable(3))), False)])

    def test_second_order_fails_in_the_first_step(self):
        so = ExistsPred(PredicateVariable("X", 0), A)
        with value_error("Unsupported formula node: <class 'zelqor.sol.ast_ext.ExistsPred'>"):
            to_cnf(Or(A, so))

    def test_steps_are_looked_up_at_call_time(self, monkeypatch):
        seen = []
        original = cz.drop_universals

        def traced(formula):
            seen.append(formula)
            return original(formula)

        monkeypatch.setattr(cz, "drop_universals", traced)
        assert to_cnf(Forall(x, Or(A, B))) == clauses([Literal(A), Literal(B)])
        assert len(seen) == 4  # the step, then its recursion through the module name (Or, A, B)


class MyAnd(And):
    pass


class TestPipelineAgreesWithItsSteps:
    """to_cnf walks the formula once; what it gives must be what the steps give."""

    def steps(self, formula, signature=None):
        f = formula
        for step in (cz.eliminate_implications, cz.to_nnf, cz.standardize_variables):
            f = step(f)
        f = cz.skolemize(f, signature)
        return cz.formula_to_clauses(cz.distribute_cnf(cz.drop_universals(f)))

    @pytest.mark.parametrize("formula", [
        Iff(Forall(x, Exists(Variable(1), PredicateApp("R", 2, (x, Variable(1))))), Not(Exists(x, A))),
        Not(Iff(Exists(x, Or(A, PredicateApp("P", 1, (x,)))), Forall(Variable(4), B))),
        Forall(x, Exists(x, Forall(x, Equality(x, Constant("k"))))),  # shadowing
        MyAnd(Exists(x, PredicateApp("P", 1, (x,))), B),  # a subclass: the step-by-step path
        And(Or(And(A, B), And(C, D)), Or(E, And(Not(A), Not(E)))),
    ])
    def test_same_clauses_names_and_registrations(self, formula):
        calls = {}
        results = []
        for run in ("steps", "to_cnf"):
            reset_skolem_counters()
            sig = Signature()
            results.append(self.steps(formula, sig) if run == "steps" else to_cnf(formula, sig))
            calls[run] = (sig.constants, sig.functions)
        assert results[0] == results[1] and calls["steps"] == calls["to_cnf"]

    def test_failing_counter_keeps_the_numbers_drawn(self, monkeypatch):
        def counter():
            yield 7
            raise RuntimeError("counter broke")

        monkeypatch.setattr(cz, "_skolem_constant_counter", counter())
        recorder = Signature()
        with pytest.raises(RuntimeError, match="counter broke"):
            to_cnf(And(Exists(x, A), Exists(x, B)), recorder)
        assert list(recorder.constants) == ["sk_c7"]


def test_without_assertions_the_operand_becomes_the_atom():
    import subprocess
    import sys

    code = ("import zelqor.prover.clausifier as cz\n"
            "from zelqor.core.ast import Not, Or, PredicateApp, Variable, Constant\n"
            "A = PredicateApp('A', 0, ())\n"
            "[c] = cz.formula_to_clauses(Or(A, Not(Not(A))))\n"
            "print(sorted(type(l.atom).__name__ for l in c.literals))\n"
            "print(type(cz.Literal(A).substitute({Variable(0): Constant('k')})).__name__)\n")
    done = subprocess.run([sys.executable, "-O", "-c", code], capture_output=True, text=True, timeout=60)
    assert done.stdout.split("\n")[:2] == ["['Not', 'PredicateApp']", "Literal"], done.stderr
