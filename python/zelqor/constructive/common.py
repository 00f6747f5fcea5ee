"""Predicates shared by the intuitionistic modules: the falsum and verum atoms."""

from zelqor.core.ast import PredicateApp

__all__ = ["FALSUM", "VERUM"]

FALSUM = PredicateApp("⊥", 0, ())
VERUM = PredicateApp("⊤", 0, ())


def _is_falsum(f):
    return f == FALSUM


def _is_verum(f):
    return f == VERUM


def _is_atomic(f):
    return isinstance(f, PredicateApp)
