"""Standardization, Skolemization, universal dropping and the module counters."""

import re

import pytest

import zelqor.prover.clausifier as cz
from zelqor.core.ast import (
    And, Constant, Exists, Forall, FunctionApp, Implies, Not, Or, PredicateApp, Variable, VariableKind,
)
from zelqor.core.signature import Signature
from zelqor.core.sorts import Nat
from zelqor.prover.clausifier import drop_universals, reset_skolem_counters, skolemize, standardize_variables

x, y, z = Variable(1), Variable(2), Variable(3)


def P(*args):
    return PredicateApp("P", len(args), args)


@pytest.fixture(autouse=True)
def fresh_counters():
    reset_skolem_counters()
    yield
    reset_skolem_counters()


def value_error(message):
    return pytest.raises(ValueError, match="^" + re.escape(message) + "$")


class TestStandardize:
    def test_fresh_ids_above_every_id(self):
        out = standardize_variables(And(Forall(x, P(x, Variable(5))), Exists(Variable(0, sort=Nat), P(x))))
        v6, v7 = Variable(6), Variable(7, sort=Nat)
        assert out == And(Forall(v6, P(v6, Variable(5))), Exists(v7, P(x)))
        assert standardize_variables(Forall(Variable(0), P(Variable(0)))) == Forall(Variable(1), P(Variable(1)))

    def test_siblings_shadowing_and_kind(self):
        w = Variable(0, VariableKind.PREDICATE)
        out = standardize_variables(And(Forall(x, P(x)), Forall(x, Exists(x, Or(P(x), Not(P(w)))))))
        a, b, c = Variable(2), Variable(3), Variable(4)
        assert out == And(Forall(a, P(a)), Forall(b, Exists(c, Or(P(c), Not(P(w))))))
        assert standardize_variables(Forall(w, P(w))).variable == Variable(1, VariableKind.PREDICATE)

    def test_untouched_parts_and_implications_kept(self):
        atom = P(x)
        out = standardize_variables(Implies(atom, Forall(y, P(Constant("c")))))
        assert out.left is atom and isinstance(out, Implies)
        # Renaming inside atoms leaves atoms without renamed variables as they are.
        inner = P(Constant("c"))
        assert standardize_variables(Forall(y, inner)).body is inner
        assert standardize_variables(atom) is atom

    def test_unsupported(self):
        with value_error("Unsupported formula: <class 'zelqor.core.ast.Variable'>"):
            standardize_variables(And(P(x), x))

    def test_replaced_substitution_is_called_with_the_whole_environment(self, monkeypatch):
        calls = []

        def spy(formula, mapping):
            calls.append(dict(mapping))
            return formula

        monkeypatch.setattr(cz, "substitute_formula", spy)
        standardize_variables(Forall(x, Exists(y, And(P(x), P(Constant("c"))))))
        assert calls == [{x: Variable(3), y: Variable(4)}] * 2


class TestSkolemize:
    def test_constants_and_functions(self):
        assert skolemize(Exists(x, P(x))) == P(Constant("sk_c0"))
        out = skolemize(Forall(y, Exists(x, PredicateApp("R", 2, (x, y)))))
        term = out.body.args[0]
        assert out == Forall(y, PredicateApp("R", 2, (FunctionApp("sk_f0", 1, (y,)), y)))
        assert term.args[0] is y and term.arity == 1
        assert skolemize(Exists(x, P(x))) == P(Constant("sk_c1"))

    def test_all_enclosing_universals_are_arguments(self):
        y1, y2 = Variable(4), Variable(5, sort=Nat)
        out = skolemize(Forall(y1, Forall(y2, Exists(Variable(6, sort=Nat), P(Variable(6, sort=Nat), y2)))))
        assert out.body.body == P(FunctionApp("sk_f0", 2, (y1, y2), return_sort=Nat), y2)

    def test_numbering_order(self):
        f = And(Exists(x, Exists(y, P(x, y))), Forall(z, Exists(x, Exists(y, P(x, y, z)))))
        out = skolemize(f)
        c0, c1 = Constant("sk_c0"), Constant("sk_c1")
        f0, f1 = FunctionApp("sk_f0", 1, (z,)), FunctionApp("sk_f1", 1, (z,))
        assert out == And(P(c0, c1), Forall(z, P(f0, f1, z)))

    def test_signature_registration(self):
        sig = Signature()
        skolemize(Forall(y, Exists(x, Exists(z, P(x, y, z)))), sig)
        skolemize(Exists(Variable(7, sort=Nat), P(x)), signature=sig)
        assert sig.functions == {"sk_f0": (1, (y.sort,), x.sort), "sk_f1": (1, (y.sort,), z.sort)}
        assert sig.constants == {"sk_c0": Nat}

    def test_failing_or_missing_registration_is_ignored(self):
        class Broken:
            def register_constant(self, name, sort):
                raise RuntimeError("no")

        assert skolemize(Exists(x, P(x)), Broken()) == P(Constant("sk_c0"))
        assert skolemize(Forall(y, Exists(x, P(x))), object()) == Forall(y, P(FunctionApp("sk_f0", 1, (y,))))
        assert next(cz._skolem_constant_counter) == 1

    def test_interrupts_are_not_swallowed(self):
        class Stop:
            def register_constant(self, name, sort):
                raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            skolemize(Exists(x, P(x)), Stop())

    def test_capture_is_avoided_by_the_substitution(self):
        # Not standardized: the Skolem term f(y) must not be captured by the inner y.
        out = skolemize(Forall(y, Exists(x, Forall(y, P(x, y)))))
        inner = out.body
        assert inner.variable != y and inner.body.args[0] == FunctionApp("sk_f0", 1, (y,))

    def test_unsupported(self):
        with value_error("Unsupported formula in skolemization: <class 'zelqor.core.ast.Implies'>"):
            skolemize(Exists(x, Implies(P(x), P(x))))
        assert next(cz._skolem_constant_counter) == 1  # consumed before the failure


class TestDropUniversals:
    def test_drop(self):
        assert drop_universals(Forall(x, And(P(x), Forall(y, Not(P(y)))))) == And(P(x), Not(P(y)))
        kept = drop_universals(Exists(x, Forall(y, P(x, y))))
        assert kept == Exists(x, P(x, y)) and kept.variable is x

    def test_unsupported(self):
        with value_error("Unsupported formula: <class 'zelqor.core.ast.Implies'>"):
            drop_universals(Forall(x, Implies(P(x), P(x))))


class TestCounters:
    def test_first_values_and_reset(self):
        assert [next(cz._skolem_constant_counter), next(cz._skolem_function_counter),
                next(cz._standardize_var_counter)] == [0, 0, 1000]
        reset_skolem_counters()
        assert next(cz._standardize_var_counter) == 1000
        assert reset_skolem_counters() is None

    def test_replaced_counter_is_obeyed(self, monkeypatch):
        monkeypatch.setattr(cz, "_skolem_constant_counter", iter([41]))
        assert skolemize(Exists(x, P(x))) == P(Constant("sk_c41"))
        with pytest.raises(StopIteration):
            skolemize(Exists(x, P(x)))
        monkeypatch.setattr(cz, "_skolem_constant_counter", 5)
        with pytest.raises(TypeError, match="'int' object is not an iterator"):
            skolemize(Exists(x, P(x)))
