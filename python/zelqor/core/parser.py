"""Infix text of formulas and terms.

``to_string`` writes binary connectives fully parenthesised, quantifiers as
``∀x1. φ`` and applications as ``f(t1, t2)``; individual variables print as
``x{id}``, second-order variables and symbols by name. The walk keeps its own
stack, so chains far deeper than the recursion limit print fine.
"""

from typing import Union

from zelqor.core.ast import (
    Formula,
    Term,
    And,
    Constant,
    Equality,
    Exists,
    Forall,
    FunctionApp,
    Iff,
    Implies,
    Not,
    Or,
    PredicateApp,
    Variable,
)
from zelqor.core.exceptions import InvalidFormulaError

# Second-order quantifiers are told by class name, as the tree's own queries
# do, so that printing needs nothing from the second-order module.
_FORALL_SECOND_ORDER = frozenset({"ForallPred", "ForallFunc"})
_EXISTS_SECOND_ORDER = frozenset({"ExistsPred", "ExistsFunc"})

__all__ = ["to_string"]


class _Text(str):
    """Fixed text pushed on the walk stack, told apart from the nodes."""

    __slots__ = ()


_CLOSE = _Text(")")
_COMMA = _Text(", ")
_EQ = _Text(" = ")
_AND = _Text(" ∧ ")
_OR = _Text(" ∨ ")
_IMPLIES = _Text(" → ")
_IFF = _Text(" ↔ ")


def _unsupported(node):
    return InvalidFormulaError("Unsupported AST node type: " + repr(type(node)))


def _symbol(sym):
    if isinstance(sym, str):
        return sym
    name = getattr(sym, "name", None)
    if isinstance(name, str):
        return name
    raise _unsupported(sym)


def _variable(var):
    if isinstance(var, Variable):
        return f"x{var.id}"
    raise _unsupported(var)


def _binary(node, op, emit, push):
    emit("(")
    push(_CLOSE)
    push(node.right)
    push(op)
    push(node.left)


def _application(symbol, args, emit, push):
    emit(_symbol(symbol))
    if args:
        emit("(")
        push(_CLOSE)
        for i in range(len(args) - 1, 0, -1):
            push(args[i])
            push(_COMMA)
        push(args[0])


def to_string(node: Union[Term, Formula]) -> str:
    """Return the infix text of a formula or term."""
    out = []
    emit = out.append
    stack = [node]
    push = stack.append
    pop = stack.pop
    while stack:
        node = pop()
        if type(node) is _Text:
            emit(node)
        elif isinstance(node, PredicateApp):
            _application(node.pred, node.args, emit, push)
        elif isinstance(node, Not):
            if isinstance(node.operand, Equality):
                emit("¬(")
                push(_CLOSE)
            else:
                emit("¬")
            push(node.operand)
        elif isinstance(node, And):
            _binary(node, _AND, emit, push)
        elif isinstance(node, Or):
            _binary(node, _OR, emit, push)
        elif isinstance(node, Implies):
            _binary(node, _IMPLIES, emit, push)
        elif isinstance(node, Iff):
            _binary(node, _IFF, emit, push)
        elif isinstance(node, Forall):
            emit(f"∀{_variable(node.variable)}. ")
            push(node.body)
        elif isinstance(node, Exists):
            emit(f"∃{_variable(node.variable)}. ")
            push(node.body)
        elif isinstance(node, Equality):
            push(node.right)
            push(_EQ)
            push(node.left)
        elif isinstance(node, Variable):
            emit(f"x{node.id}")
        elif isinstance(node, Constant):
            emit(node.name)
        elif isinstance(node, FunctionApp):
            _application(node.func, node.args, emit, push)
        elif type(node).__name__ in _FORALL_SECOND_ORDER:
            emit(f"∀{node.variable.name}. ")
            push(node.body)
        elif type(node).__name__ in _EXISTS_SECOND_ORDER:
            emit(f"∃{node.variable.name}. ")
            push(node.body)
        else:
            raise _unsupported(node)
    return "".join(out)
