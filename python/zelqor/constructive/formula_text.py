"""Compact infix text of propositional formulas, for derivations and models.

Connectives print as ``¬ ∧ ∨ → ↔``; chains of one conjunction or disjunction
print flat (``p ∧ q ∧ r``), a conjunction inside a disjunction or the other
way round gets parentheses, and implication groups to the right
(``p → q → r`` is ``p → (q → r)``). Atoms print as their predicate name.
The walk keeps its own stack, so very deep formulas print too.
"""

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import And, Iff, Implies, Not, Or, PredicateApp
from zelqor.core.parser import to_string

__all__ = ["formula_text"]

# Binding strength: a part weaker than its place requires is parenthesised.
_IFF, _IMPLIES, _JUNCTION, _NOT, _ATOM = range(5)


class _Literal(str):
    """Fixed text on the walk stack, told apart from formulas."""

    __slots__ = ()


def _strength(node):
    if isinstance(node, Not):
        return _NOT
    if isinstance(node, (And, Or)):
        return _JUNCTION
    if isinstance(node, Implies):
        return _IMPLIES
    if isinstance(node, Iff):
        return _IFF
    return _ATOM


def _chain(node, kind):
    """The members of a chain of one connective, left to right."""
    members, stack = [], [node]
    while stack:
        n = stack.pop()
        if type(n) is kind:
            stack.append(n.right)
            stack.append(n.left)
        else:
            members.append(n)
    return members


def _atom_text(node):
    if node == FALSUM:
        return "⊥"
    if node == VERUM:
        return "⊤"
    if isinstance(node, PredicateApp) and node.arity == 0 and isinstance(node.pred, str):
        return node.pred
    return to_string(node)


def formula_text(formula):
    """The formula in compact infix notation."""
    out = []
    stack = [(formula, 0)]
    while stack:
        item = stack.pop()
        if isinstance(item, _Literal):
            out.append(item)
            continue
        node, needed = item
        strength = _strength(node)
        if strength < needed:
            stack.append(_Literal(")"))
            stack.append((node, 0))
            stack.append(_Literal("("))
            continue
        if strength == _ATOM:
            out.append(_atom_text(node))
        elif strength == _NOT:
            stack.append((node.operand, _NOT))
            stack.append(_Literal("¬"))
        elif strength == _JUNCTION:
            members = _chain(node, type(node))
            separator = _Literal(" ∧ " if isinstance(node, And) else " ∨ ")
            for i, m in enumerate(reversed(members)):
                stack.append((m, _NOT))
                if i < len(members) - 1:
                    stack.append(separator)
        elif strength == _IMPLIES:
            stack.append((node.right, _IMPLIES))
            stack.append(_Literal(" → "))
            stack.append((node.left, _JUNCTION))
        else:
            stack.append((node.right, _IMPLIES))
            stack.append(_Literal(" ↔ "))
            stack.append((node.left, _IMPLIES))
    return "".join(out)
