"""TPTP, the language of problems for automated theorem provers: reading and writing.

`read_problem` and `parse_problem` read ``fof``, ``cnf`` and ``tff`` (without arithmetic)
problems with their includes into a `Problem`: annotated formulas in file order and the
`Signature` of their symbols. ``=`` becomes `Equality`; ``$true`` and ``$false`` become
`VERUM` and `FALSUM` of `zelqor.constructive.common`. Any fault in the text raises `TPTPError`
with its file, line and column. The ``format_*`` functions write formulas, clauses and problems
back; reading what they write gives equal trees.
"""

from zelqor.core.exceptions import TPTPError
from zelqor.tptp.problem import AXIOM_ROLES, AnnotatedFormula, Problem
from zelqor.tptp.reading import parse_formula, parse_problem, read_problem
from zelqor.tptp.writing import (
    format_annotated, format_clause, format_clauses, format_declarations, format_formula, format_problem,
)

__all__ = [
    "TPTPError", "Problem", "AnnotatedFormula", "AXIOM_ROLES",
    "read_problem", "parse_problem", "parse_formula",
    "format_formula", "format_clause", "format_annotated", "format_problem", "format_clauses", "format_declarations",
]
