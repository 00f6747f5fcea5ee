from typing import Iterator, List, Optional

from zelqor.core.ast import Formula
from zelqor.core.signature import Signature
from zelqor.prover.clausifier import Clause

_definition_counter: Iterator[int]

def to_cnf(
    formula: Formula, signature: Optional[Signature] = None, *, threshold: Optional[int] = 16, miniscope: bool = False
) -> List[Clause]: ...
def negate_and_clausify(
    formula: Formula, signature: Optional[Signature] = None, *, threshold: Optional[int] = 16, miniscope: bool = False
) -> List[Clause]: ...
def simplify_clauses(clauses: List[Clause], /) -> List[Clause]: ...
def _miniscope(formula: Formula, /) -> Formula: ...
