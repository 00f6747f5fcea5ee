"""Second-order variables and quantifiers over them.

`PredicateVariable` and `FunctionVariable` stand wherever a predicate or
function symbol may stand in an application node, e.g.
``PredicateApp(PredicateVariable("X", 1), 1, (x,))``. The four quantifier
nodes bind such a variable in a formula body. They are frozen dataclasses
deriving from the core `Formula`, so the queries of `zelqor.core.ast`
(free_variables, formula_depth, ...) walk them like the built-in nodes.
"""

from dataclasses import dataclass

from zelqor.core.ast import Formula
from zelqor.core.exceptions import InvalidFormulaError

__all__ = [
    "PredicateVariable",
    "FunctionVariable",
    "ForallPred",
    "ExistsPred",
    "ForallFunc",
    "ExistsFunc",
]


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _check_symbol(var):
    kind = type(var).__name__
    if not isinstance(var.name, str) or not var.name:
        raise InvalidFormulaError(f"{kind} name must be a non-empty str, got {var.name!r}")
    if not _is_int(var.arity) or var.arity < 0:
        raise InvalidFormulaError(f"{kind} arity must be a non-negative int, got {var.arity!r}")
    if not _is_int(var.index):
        raise InvalidFormulaError(f"{kind} index must be an int, got {var.index!r}")


@dataclass(frozen=True)
class PredicateVariable:
    """A variable ranging over predicates of a fixed arity."""

    name: str
    arity: int
    index: int = 0

    def __post_init__(self):
        _check_symbol(self)


@dataclass(frozen=True)
class FunctionVariable:
    """A variable ranging over functions of a fixed arity."""

    name: str
    arity: int
    index: int = 0

    def __post_init__(self):
        _check_symbol(self)


def _check_bound(node, expected):
    if not isinstance(node.variable, expected):
        raise InvalidFormulaError(
            f"{type(node).__name__} binds a {expected.__name__}, "
            f"got {type(node.variable).__name__}: {node.variable!r}"
        )


# The body is deliberately left unchecked: walks over the tree report a
# foreign node when they reach it.


@dataclass(frozen=True)
class ForallPred(Formula):
    """Universal quantification over a predicate variable."""

    variable: PredicateVariable
    body: object

    def __post_init__(self):
        _check_bound(self, PredicateVariable)


@dataclass(frozen=True)
class ExistsPred(Formula):
    """Existential quantification over a predicate variable."""

    variable: PredicateVariable
    body: object

    def __post_init__(self):
        _check_bound(self, PredicateVariable)


@dataclass(frozen=True)
class ForallFunc(Formula):
    """Universal quantification over a function variable."""

    variable: FunctionVariable
    body: object

    def __post_init__(self):
        _check_bound(self, FunctionVariable)


@dataclass(frozen=True)
class ExistsFunc(Formula):
    """Existential quantification over a function variable."""

    variable: FunctionVariable
    body: object

    def __post_init__(self):
        _check_bound(self, FunctionVariable)
