"""Signatures: the sorted constant, function and predicate symbols of a language."""

from __future__ import annotations

from typing import Dict, Iterable, Tuple

from zelqor.core.exceptions import SortError
from zelqor.core.sorts import Sort

__all__ = ["Signature"]


def _check_name(name, what):
    if not isinstance(name, str) or not name:
        raise TypeError(f"{what} name must be a non-empty str, got {name!r}")


def _check_sort(sort, what):
    if not isinstance(sort, Sort):
        raise TypeError(f"{what} must be a Sort, got {type(sort).__name__}")


def _check_args(name, arity, arg_sorts):
    if not isinstance(arity, int) or isinstance(arity, bool) or arity < 0:
        raise TypeError(f"arity of {name!r} must be a non-negative int, got {arity!r}")
    arg_sorts = tuple(arg_sorts)
    for s in arg_sorts:
        _check_sort(s, f"argument sort of {name!r}")
    if len(arg_sorts) != arity:
        raise SortError(f"{name!r} has arity {arity} but {len(arg_sorts)} argument sorts")
    return arg_sorts


def _sorts(sorts):
    return "(" + ", ".join(map(str, sorts)) + ")"


class Signature:
    """Declared symbols with their sorts.

    Each kind of symbol has its own table, a plain dict:

    - ``constants``: name -> sort
    - ``functions``: name -> (arity, arg_sorts, return_sort)
    - ``predicates``: name -> (arity, arg_sorts)

    Declaring a symbol again with the same declaration does nothing; with a
    different one it raises SortError.
    """

    def __init__(self) -> None:
        self.constants: Dict[str, Sort] = {}
        self.functions: Dict[str, Tuple[int, Tuple[Sort, ...], Sort]] = {}
        self.predicates: Dict[str, Tuple[int, Tuple[Sort, ...]]] = {}

    @staticmethod
    def _declare(table, what, name, decl):
        old = table.setdefault(name, decl)
        if old != decl:
            raise SortError(f"{what} {name!r} already declared as {old!r}, not {decl!r}")

    def register_constant(self, name: str, sort: Sort) -> None:
        _check_name(name, "constant")
        _check_sort(sort, f"sort of constant {name!r}")
        self._declare(self.constants, "constant", name, sort)

    def register_function(self, name: str, arity: int, arg_sorts: Iterable[Sort], return_sort: Sort) -> None:
        _check_name(name, "function")
        arg_sorts = _check_args(name, arity, arg_sorts)
        _check_sort(return_sort, f"return sort of {name!r}")
        self._declare(self.functions, "function", name, (arity, arg_sorts, return_sort))

    def register_predicate(self, name: str, arity: int, arg_sorts: Iterable[Sort]) -> None:
        _check_name(name, "predicate")
        arg_sorts = _check_args(name, arity, arg_sorts)
        self._declare(self.predicates, "predicate", name, (arity, arg_sorts))

    def __repr__(self) -> str:
        constants = ", ".join(f"{n}: {s}" for n, s in self.constants.items())
        functions = ", ".join(f"{n}: {_sorts(a)} → {r}" for n, (_, a, r) in self.functions.items())
        predicates = ", ".join(f"{n}: {_sorts(a)}" for n, (_, a) in self.predicates.items())
        return f"Signature(constants={{{constants}}}, functions={{{functions}}}, predicates={{{predicates}}})"
