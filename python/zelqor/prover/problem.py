"""Clausifying a whole TPTP problem: the clause set a refutation prover is given.

Axioms (every role a problem assumes) become clauses as they stand; the conjectures, taken
together, are negated first. ``$true`` and ``$false`` are simplified away beforehand, so no clause
holds a truth constant, and a formula that is false outright gives the empty clause. The clause
form is a strategy chosen by name (`clause_forms`); Skolem numbering restarts for every problem,
so the same problem always gives the same clauses, in the same order.

Adding a clause form is one registration, placed at the end of this module so that every caller
sees it (the command line builds its ``--cnf`` choices from the registry when it starts)::

    from zelqor.prover import definitional          # to_cnf(formula, signature) -> [Clause]

    register_clause_form(ClauseForm(
        name="definitional",
        to_cnf=definitional.to_cnf,
        introduces=re.compile(r"sk_[cf][0-9]+|def[0-9]+"),  # every name it may invent
        reset=definitional.reset_counters,
        estimate=None,                                 # counted after the fact for --max-clauses
        description="names subformulas instead of distributing (linear in the formula)",
    ))

It is then ``clausify_problem(problem, cnf="definitional")``, ``zelqor clausify --cnf
definitional`` and ``bench/tptp.py --cnf definitional``; nothing else changes.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Callable, Dict, Iterator, List, NamedTuple, Optional, Pattern, Tuple

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, free_variables,
)
from zelqor.core.exceptions import TPTPError, ZelqorError
from zelqor.core.signature import Signature
from zelqor.core.sorts import Sort
from zelqor.prover import clausifier
from zelqor.prover.clausifier import Clause
from zelqor.tptp import _native
from zelqor.tptp.problem import AXIOM_ROLES, AnnotatedFormula, Problem

__all__ = [
    "ClauseForm", "ClauseGroup", "ClauseSet", "ClauseLimitError", "clause_form", "clause_forms", "clausify_problem",
    "register_clause_form", "simplify_truth_constants",
]

simplify_truth_constants = _native.simplify_truth_constants


class ClauseGroup(NamedTuple):
    """The clauses one annotated formula gives (for the conjectures: their negation, together),
    under the formula's name and role (``negated_conjecture`` for the conjectures)."""

    name: str
    role: str
    clauses: List[Clause]


@dataclass(frozen=True, eq=False)
class ClauseSet:
    """What `clausify_problem` gives: the clause groups in order, and the signature of their
    symbols (the problem's, and those the clause form introduced, such as Skolem functions)."""

    groups: List[ClauseGroup]
    signature: Signature
    sorts: Tuple[Sort, ...] = ()

    def __iter__(self) -> Iterator[ClauseGroup]:
        return iter(self.groups)

    def __len__(self) -> int:
        """The number of clauses."""
        return sum(len(group.clauses) for group in self.groups)

    def clauses(self) -> List[Clause]:
        """All clauses, in order."""
        return [clause for group in self.groups for clause in group.clauses]


class ClauseLimitError(ZelqorError):
    """A formula would give more clauses than the limit allows."""

    def __init__(self, message: str, file: str = "<string>", line: int = 0, clauses: int = 0) -> None:
        super().__init__(message, file, line, clauses)
        self.message = message
        self.file = file
        self.line = line
        self.clauses = clauses

    @property
    def summary(self) -> str:
        """``file:line: message``."""
        return f"{self.file}:{self.line}: {self.message}" if self.line > 0 else f"{self.file}: {self.message}"

    def __str__(self) -> str:
        return self.summary


@dataclass(frozen=True)
class ClauseForm:
    """A way of turning a formula into clauses.

    ``to_cnf(formula, signature)`` returns the clauses of a closed first-order formula and
    registers the symbols it introduces in ``signature``; ``introduces`` matches the names it may
    introduce (problem symbols of that shape are renamed first, so that none is captured);
    ``reset`` restarts its numbering; ``estimate(formula, positive)``, when given, bounds the
    number of clauses of the formula (``positive=False``: of its negation) before any is made, for
    the clause limit; without it the clauses are counted once made.
    """

    name: str
    to_cnf: Callable[..., List[Clause]]
    introduces: Pattern[str]
    reset: Callable[[], None] = lambda: None
    estimate: Optional[Callable[[object, bool], int]] = None
    description: str = ""


_FORMS: Dict[str, ClauseForm] = {}


def register_clause_form(form: ClauseForm) -> None:
    """Make ``form`` available to `clausify_problem` (and ``zelqor clausify --cnf``) by its name.
    A name is taken once: registering another form under it raises `ValueError`."""
    known = _FORMS.get(form.name)
    if known is not None and known is not form:
        raise ValueError(f"a clause form named {form.name!r} is already registered")
    _FORMS[form.name] = form


def clause_forms() -> Tuple[str, ...]:
    """The names of the registered clause forms, the default (``distribute``) first."""
    return tuple(_FORMS)


def clause_form(name: str) -> ClauseForm:
    """The registered clause form called ``name``; `ValueError` naming the known ones otherwise."""
    try:
        return _FORMS[name]
    except KeyError:
        raise ValueError(f"unknown clause form {name!r}: expected one of {', '.join(_FORMS)}") from None


register_clause_form(ClauseForm(
    name="distribute",
    to_cnf=clausifier.to_cnf,
    introduces=re.compile(r"sk_[cf]\d+"),
    reset=clausifier.reset_skolem_counters,
    estimate=_native.count_distributed_clauses,
    description="negation normal form, Skolemization and the distributive law (may grow exponentially)",
))


# ---- renaming problem symbols that a clause form would also introduce -----------------------

def _renaming(problem: Problem, pattern: Pattern[str]) -> Dict[str, str]:
    signature = problem.signature
    taken = set(signature.constants) | set(signature.functions) | set(signature.predicates)
    renaming = {}
    for name in sorted(taken):
        if pattern.fullmatch(name):
            fresh = name + "_"
            while fresh in taken or pattern.fullmatch(fresh):
                fresh += "_"
            taken.add(fresh)
            renaming[name] = fresh
    return renaming


def _renamed(node, renaming: Dict[str, str], memo: Dict[int, Tuple[object, object]]):
    """The tree with the symbols of ``renaming`` renamed (an explicit stack: any depth). Shared
    subtrees are rebuilt once: ``memo`` maps id(node) to (node, rebuilt), the node kept alive so
    that its id cannot be reused."""
    stack = [(node, False)]
    while stack:
        current, expanded = stack.pop()
        if id(current) in memo:
            continue
        children = _children(current)
        if not expanded and children:
            stack.append((current, True))
            stack.extend((child, False) for child in children if id(child) not in memo)
            continue
        memo[id(current)] = (current, _rebuild(current, [memo[id(child)][1] for child in children], renaming))
    return memo[id(node)][1]


def _children(node):
    if isinstance(node, (FunctionApp, PredicateApp)):
        return node.args
    if isinstance(node, Not):
        return (node.operand,)
    if isinstance(node, (Forall, Exists)):
        return (node.body,)
    if isinstance(node, (Equality, And, Or, Implies, Iff)):
        return (node.left, node.right)
    return ()


def _rebuild(node, children, renaming):
    if isinstance(node, Constant):
        return Constant(renaming.get(node.name, node.name), sort=node.sort)
    if isinstance(node, FunctionApp):
        return FunctionApp(renaming.get(node.func, node.func), node.arity, tuple(children), node.return_sort)
    if isinstance(node, PredicateApp):
        return PredicateApp(renaming.get(node.pred, node.pred), node.arity, tuple(children))
    if isinstance(node, Not):
        return Not(children[0])
    if isinstance(node, (Forall, Exists)):
        return type(node)(node.variable, children[0])
    if isinstance(node, (Equality, And, Or, Implies, Iff)):
        return type(node)(*children)
    return node


# ---- clausification ------------------------------------------------------------------------

def _closed(formula: AnnotatedFormula):
    """The formula as a closed formula: a clause's free variables are universal."""
    f = formula.formula
    if formula.language in ("cnf", "tcf"):
        for variable in sorted(free_variables(f), key=lambda v: v.id, reverse=True):
            f = Forall(variable, f)
    return f


def _check_limit(form: ClauseForm, formula, where: AnnotatedFormula, max_clauses: int, negated: bool,
                 made: Optional[int] = None) -> None:
    """Raise `ClauseLimitError` if the formula gives more than ``max_clauses`` clauses: the form's
    estimate beforehand, or the count ``made`` afterwards for a form without one."""
    count = made if made is not None else form.estimate(formula, not negated)
    if count > max_clauses:
        shown = f"{count:,}" if count < 2 ** 64 - 1 else "more than 10^19"
        what = "the negated conjectures" if negated else f"formula '{where.name}'"
        verb = "gives" if made is not None else "would give"
        raise ClauseLimitError(f"{what} {verb} {shown} clauses with the {form.name} clause form "
                               f"(limit {max_clauses:,})", where.source, where.line, count)


def _merged(problem: Problem, renaming: Dict[str, str], introduced: Signature) -> Signature:
    """The problem's symbols (renamed where they had to be) and those the clause form introduced."""
    signature = Signature()
    own = problem.signature
    for mine, theirs in ((signature.constants, own.constants), (signature.functions, own.functions),
                         (signature.predicates, own.predicates)):
        mine.update(theirs if not renaming else {renaming.get(name, name): entry for name, entry in theirs.items()})
    signature.constants.update(introduced.constants)
    signature.functions.update(introduced.functions)
    signature.predicates.update(introduced.predicates)
    return signature


def clausify_problem(problem: Problem, *, cnf: str = "distribute", max_clauses: Optional[int] = None) -> ClauseSet:
    """The clause set of ``problem``: one `ClauseGroup` per axiom in file order, then one for the
    negation of all conjectures together.

    ``cnf`` names the clause form (see `clause_forms`). ``cnf`` and ``tcf`` formulas pass through
    as the clauses they are. With ``max_clauses``, a formula that would give more clauses raises
    `ClauseLimitError` before any is made. A formula whose role gives it no meaning in a problem
    (``unknown``, ``interpretation``) raises `TPTPError`.
    """
    form = clause_form(cnf)
    form.reset()
    renaming = _renaming(problem, form.introduces)
    memo: Dict[int, Tuple[object, object]] = {}
    introduced = Signature()
    groups: List[ClauseGroup] = []
    conjectures: List[AnnotatedFormula] = []
    to_cnf = form.to_cnf
    estimated = max_clauses is not None and form.estimate is not None
    counted = max_clauses is not None and form.estimate is None
    for annotated in problem.formulas:
        if annotated.role == "conjecture":
            conjectures.append(annotated)
            continue
        if annotated.role not in AXIOM_ROLES:
            raise TPTPError(f"the role '{annotated.role}' gives formula '{annotated.name}' no meaning in a problem",
                            annotated.source, annotated.line, 1)
        formula = annotated.formula
        if renaming:
            formula = _renamed(formula, renaming, memo)
        formula = simplify_truth_constants(formula)
        if formula == VERUM:
            clauses: List[Clause] = []
        elif formula == FALSUM:
            clauses = [Clause()]
        elif annotated.language in ("cnf", "tcf"):
            clauses = clausifier.formula_to_clauses(formula)
        else:
            if estimated:
                _check_limit(form, formula, annotated, max_clauses, negated=False)
            clauses = to_cnf(formula, introduced)
            if counted:
                _check_limit(form, formula, annotated, max_clauses, negated=False, made=len(clauses))
        groups.append(ClauseGroup(annotated.name, annotated.role, clauses))
    if conjectures:
        goal = None
        for annotated in conjectures:
            formula = _closed(annotated)
            goal = formula if goal is None else And(goal, formula)
        if renaming:
            goal = _renamed(goal, renaming, memo)
        goal = simplify_truth_constants(goal)
        if goal == VERUM:
            clauses = [Clause()]
        elif goal == FALSUM:
            clauses = []
        else:
            if estimated:
                _check_limit(form, goal, conjectures[0], max_clauses, negated=True)
            clauses = to_cnf(Not(goal), introduced)
            if counted:
                _check_limit(form, goal, conjectures[0], max_clauses, negated=True, made=len(clauses))
        groups.append(ClauseGroup(conjectures[0].name, "negated_conjecture", clauses))
    return ClauseSet(groups, _merged(problem, renaming, introduced), problem.sorts)
