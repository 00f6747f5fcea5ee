"""Sort-checked substitution of terms for variables.

`substitute_term(term, mapping)` and `substitute_formula(formula, mapping)`
replace, simultaneously, the free occurrences of the `Variable` keys of
`mapping` (a dict) by their terms. A quantifier whose variable would capture a
variable of a replacement is renamed first, to a variable of the same sort and
kind with an id above every id in sight. Subtrees that do not change are
shared with the input; an empty mapping returns the input itself. A
replacement whose sort differs from its variable's sort raises `SortError`.
"""

from zelqor.core._substitutions import substitute_formula, substitute_term

__all__ = ["substitute_term", "substitute_formula"]
