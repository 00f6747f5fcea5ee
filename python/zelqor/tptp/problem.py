"""The records a TPTP problem is read into."""

from __future__ import annotations

from dataclasses import dataclass
from types import MappingProxyType
from typing import Iterator, Mapping, NamedTuple, Tuple

from zelqor.core.ast import Formula
from zelqor.core.signature import Signature
from zelqor.core.sorts import Sort

__all__ = ["AnnotatedFormula", "Problem", "AXIOM_ROLES"]

# Roles whose formulas a problem assumes; a conjecture is what it asks.
AXIOM_ROLES = frozenset({"axiom", "hypothesis", "definition", "assumption", "lemma", "theorem", "corollary",
                         "plain", "negated_conjecture"})


class AnnotatedFormula(NamedTuple):
    """One formula of a problem, as ``fof(name, role, formula).`` gives it: an immutable record.

    ``language`` is ``"fof"``, ``"cnf"``, ``"tff"`` or ``"tcf"``. A ``cnf`` (or ``tcf``) formula is
    a clause: a disjunction of literals whose variables are free. ``source`` and ``line`` say where
    it was read; ``variable_names`` maps the id of each of its variables to the name it had there.
    """

    name: str
    role: str
    language: str
    formula: Formula
    source: str = "<string>"
    line: int = 0
    variable_names: Mapping[int, str] = MappingProxyType({})


@dataclass(frozen=True, slots=True, eq=False)
class Problem:
    """A TPTP problem: its annotated formulas in file order (includes read in place), the
    signature of every symbol it uses with its arity and sorts, and the types it declares."""

    formulas: Tuple[AnnotatedFormula, ...]
    signature: Signature
    sorts: Tuple[Sort, ...] = ()
    source: str = "<string>"

    def __iter__(self) -> Iterator[AnnotatedFormula]:
        return iter(self.formulas)

    def __len__(self) -> int:
        return len(self.formulas)

    @property
    def conjectures(self) -> Tuple[AnnotatedFormula, ...]:
        """The formulas whose role is ``conjecture``."""
        return tuple(f for f in self.formulas if f.role == "conjecture")

    @property
    def axioms(self) -> Tuple[AnnotatedFormula, ...]:
        """The formulas the problem assumes (every role but ``conjecture`` that has a meaning)."""
        return tuple(f for f in self.formulas if f.role in AXIOM_ROLES)
