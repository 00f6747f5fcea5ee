"""Writing formulas, clauses and problems as TPTP text."""

from __future__ import annotations

from typing import Iterable, List, Mapping, Optional, Sequence, Tuple

from zelqor.core.ast import Formula
from zelqor.core.signature import Signature
from zelqor.core.sorts import Ind, Sort
from zelqor.tptp import _native
from zelqor.tptp.problem import AnnotatedFormula, Problem

__all__ = ["format_formula", "format_clause", "format_annotated", "format_problem", "format_clauses",
           "format_declarations"]

_NOTATIONS = ("tptp", "infix")


def _infix(notation: str) -> bool:
    if notation not in _NOTATIONS:
        raise ValueError(f"unsupported notation {notation!r}: expected 'tptp' or 'infix'")
    return notation == "infix"


def format_formula(formula: Formula, variable_names: Optional[Mapping[int, str]] = None, *, typed: bool = False,
                   notation: str = "tptp") -> str:
    """The text of a formula: TPTP (``typed`` writes the sorts of quantified variables, as tff
    does) or ``notation="infix"`` with logical symbols (``∀X0. (p(X0) → q)``).

    Variables take their names from ``variable_names`` (id to name) where that captures nothing,
    else ``X0``, ``X1``, ... in order of appearance. `VERUM` and `FALSUM` print as ``$true`` and
    ``$false``. Raises `InvalidFormulaError` for what TPTP cannot say (second-order nodes, names
    outside printable ASCII, sorts in untyped text).
    """
    names = None if variable_names is None else dict(variable_names)
    return _native.write_formula(formula, names, _infix(notation), typed)


def format_clause(clause, *, notation: str = "tptp") -> str:
    """The literals of a clause joined by ``|`` (``∨`` in infix), in a fixed order, its
    variables named ``X0``, ``X1``, ... in order of appearance; ``$false`` for the empty clause."""
    return _native.write_clause(clause, _infix(notation))


def format_annotated(formula: AnnotatedFormula) -> str:
    """``fof(name, role, formula).`` (or ``cnf``, ``tff``, ``tcf`` after its language); a clause
    with variables of other sorts than ``$i`` is written as ``tcf``."""
    return _native.write_annotated(formula.language, formula.name, formula.role, formula.formula,
                                   dict(formula.variable_names))


def _declared_sorts(own_sorts: Sequence[Sort], signature: Signature) -> List[Sort]:
    """Sorts to declare: the given ones, then any other the symbols use, in order."""
    sorts: List[Sort] = []
    seen = {Ind}

    def add(sort: Sort) -> None:
        if sort not in seen:
            seen.add(sort)
            sorts.append(sort)

    for sort in own_sorts:
        add(sort)
    for sort in signature.constants.values():
        add(sort)
    for _, arg_sorts, result in signature.functions.values():
        for sort in (*arg_sorts, result):
            add(sort)
    for _, arg_sorts in signature.predicates.values():
        for sort in arg_sorts:
            add(sort)
    return sorts


def format_declarations(signature: Signature, sorts: Sequence[Sort] = ()) -> str:
    """The tff type declarations a text needs for ``signature``: each sort other than ``$i``
    (``sorts`` first, in order), then each symbol whose type is not the default one."""
    return "".join(line + "\n" for line in _type_declarations(sorts, signature))


def _type_declarations(own_sorts: Sequence[Sort], signature: Signature) -> List[str]:
    lines = [_native.write_type_declaration(f"type_{sort.name}", None, sort)
             for sort in _declared_sorts(own_sorts, signature)]

    def declare(symbol: str, arg_sorts: Tuple[Sort, ...], result: Optional[Sort]) -> None:
        if result in (None, Ind) and all(sort is Ind for sort in arg_sorts):
            return  # the default type of an undeclared symbol
        lines.append(_native.write_type_declaration(f"{symbol}_type", symbol, result, arg_sorts))

    for name, sort in signature.constants.items():
        declare(name, (), sort)
    for name, (_, arg_sorts, result) in signature.functions.items():
        declare(name, arg_sorts, result)
    for name, (_, arg_sorts) in signature.predicates.items():
        declare(name, arg_sorts, None)
    return lines


def format_problem(problem: Problem) -> str:
    """The whole problem as TPTP text, one annotated formula per line, includes written in
    place; type declarations first where the problem has sorts other than ``$i``."""
    lines = _type_declarations(problem.sorts, problem.signature)
    lines.extend(format_annotated(formula) for formula in problem.formulas)
    return "".join(line + "\n" for line in lines)


def format_clauses(groups: Iterable[Tuple[str, str, Sequence]], *, notation: str = "tptp") -> str:
    """One line per clause of each ``(name, role, clauses)`` group, as `clausify_problem` returns
    them: ``cnf(<name>_<k>, <role>, <literals>).`` (``tcf`` for a clause with sorts other than
    ``$i``), or ``<name>_<k>: <literals>`` in infix."""
    return _native.write_clause_lines(groups, _infix(notation))
