"""Predicates shared by the intuitionistic modules: the falsum and verum atoms."""

from zelqor.core.ast import Formula, PredicateApp

__all__ = ["FALSUM", "VERUM"]

FALSUM: PredicateApp = PredicateApp("⊥", 0, ())
VERUM: PredicateApp = PredicateApp("⊤", 0, ())


def _is_falsum(f: Formula) -> bool:
    return f == FALSUM


def _is_verum(f: Formula) -> bool:
    return f == VERUM


def _is_atomic(f: Formula) -> bool:
    return isinstance(f, PredicateApp)
