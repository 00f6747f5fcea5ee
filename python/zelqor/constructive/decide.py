"""Deciding intuitionistic propositional formulas, with a certificate for every answer.

``decide(formula)`` says whether a formula is intuitionistically valid and
shows why:

- valid: a :class:`Derivation` in a contraction-free sequent calculus (the
  rules are listed in :mod:`zelqor.constructive.proof_check`), checked step by
  step by that module, which shares no code with the search;
- not valid: a countermodel, an instance of the library's own
  :class:`~zelqor.constructive.kripke.KripkeModel`, and the world where the
  formula fails; ``model.evaluate(formula, world)`` is false there.

Atoms are predicate applications without arguments; ``FALSUM`` and ``VERUM``
of :mod:`zelqor.constructive.common` are falsum and verum; the connectives are
``Not``, ``And``, ``Or``, ``Implies`` and ``Iff``. Anything else (quantifiers,
equalities, atoms with arguments) is refused with InvalidFormulaError naming
the node.

>>> from zelqor.core.ast import Or, Not, PredicateApp
>>> p = PredicateApp("p", 0, ())
>>> result = decide(Or(p, Not(p)))
>>> result.valid, len(result.model.worlds)
(False, 2)
>>> decide(Not(Not(Or(p, Not(p))))).valid
True
"""

from dataclasses import dataclass, field
from types import MappingProxyType
from typing import Mapping, Optional, Tuple

from zelqor.constructive._search import search
from zelqor.constructive.formula_text import formula_text
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.constructive.pictures import hasse_diagram
from zelqor.constructive.proof_check import ProofCheckError, check_derivation
from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import And, Formula, Implies, Not, Or, PredicateApp
from zelqor.core.exceptions import ZelqorError

__all__ = ["decide", "problem_formula", "describe_model", "Decision", "Derivation", "Step", "Sequent",
           "CertificateError", "SearchLimitReached", "ProofCheckError", "check_derivation"]


class CertificateError(ZelqorError):
    """A certificate that does not hold: a derivation the checker refuses, or a
    model where the formula does not fail. It means a fault in the search."""


class SearchLimitReached(ZelqorError):
    """The search spent its budget without deciding the formula."""


# How the rules are shown in printed derivations.
RULE_SYMBOLS = MappingProxyType({
    "axiom": "axiom", "falsum_left": "⊥L", "verum_right": "⊤R", "weaken": "weaken", "and_left": "∧L",
    "and_right": "∧R", "or_left": "∨L", "or_right": "∨R", "implies_right": "→R", "implies_left": "→L",
    "implies_left_and": "∧→L", "implies_left_or": "∨→L", "implies_left_implies": "→→L", "rename": "rename",
})


@dataclass(frozen=True)
class Sequent:
    """Hypotheses and a goal: the goal follows from the hypotheses."""

    hypotheses: Tuple[Formula, ...]
    goal: Formula

    def __str__(self):
        left = ", ".join(formula_text(h) for h in self.hypotheses)
        return f"{left} ⊢ {formula_text(self.goal)}" if left else f"⊢ {formula_text(self.goal)}"


@dataclass(frozen=True)
class Step:
    """One rule application: its conclusion, the rule, and the earlier steps it rests on.

    `principal` is the formula the rule works on (None for weakening and
    renaming); `renaming` maps atoms of the premise to atoms of this sequent
    for the rule ``rename``.
    """

    sequent: Sequent
    rule: str
    premises: Tuple[int, ...]
    principal: Optional[Formula] = None
    renaming: Optional[Mapping[Formula, Formula]] = None


class Derivation:
    """A derivation as a list of steps, premises before conclusions, the root last.

    A sequent needed twice is derived once and referred to by its position, so
    the list is a tree with shared subtrees. ``str()`` prints it numbered, one
    step per line; :meth:`format` prints it as an indented tree as well.
    """

    __slots__ = ("steps",)

    def __init__(self, steps):
        self.steps = tuple(steps)

    @property
    def conclusion(self):
        """The sequent of the last step."""
        return self.steps[-1].sequent

    def __len__(self):
        return len(self.steps)

    def __iter__(self):
        return iter(self.steps)

    def __getitem__(self, index):
        return self.steps[index]

    def __repr__(self):
        return f"<Derivation of {self.conclusion} in {len(self.steps)} steps>"

    def __str__(self):
        return self.format()

    def check(self, formula=None):
        """Check every step by its rule (and that the root derives `formula`); raise ProofCheckError if not."""
        check_derivation(self, formula)

    def format(self, *, tree=False, abbreviate=60):
        """Readable text of the derivation.

        Numbered steps, one per line, with the rule and the steps it rests on;
        with `tree`, the conclusion first and each premise indented below its
        conclusion (a step met again is referred to by number). Formulas longer
        than `abbreviate` characters that recur are named F1, F2, ... and listed
        at the end; None turns this off.
        """
        names = self._abbreviations(abbreviate)

        def text(f):
            return names.get(f) or formula_text(f)

        def sequent(s):
            left = ", ".join(text(h) for h in s.hypotheses)
            return f"{left} ⊢ {text(s.goal)}" if left else f"⊢ {text(s.goal)}"

        def rule(step):
            by = ", ".join(str(p + 1) for p in step.premises)
            label = RULE_SYMBOLS.get(step.rule, step.rule)
            if step.rule == "rename" and step.renaming:
                label += " " + ", ".join(f"{text(a)}↦{text(b)}" for a, b in step.renaming.items() if a != b)
            return f"{label} {by}".rstrip() if step.premises else label

        lines = self._tree_lines(sequent, rule) if tree else self._list_lines(sequent, rule)
        if names:
            lines.append("where")
            for f, name in sorted(names.items(), key=lambda item: int(item[1][1:])):
                lines.append(f"  {name} = {formula_text(f)}")
        return "\n".join(lines)

    def _list_lines(self, sequent, rule):
        width = len(str(len(self.steps)))
        rows = [(f"{i + 1:>{width}}. {sequent(s.sequent)}", rule(s)) for i, s in enumerate(self.steps)]
        column = min(max(len(r[0]) for r in rows), 100)
        return [f"{left:<{column}}   {right}" for left, right in rows]

    def _tree_lines(self, sequent, rule):
        lines, shown = [], set()
        stack = [(len(self.steps) - 1, 0)]
        while stack:
            index, depth = stack.pop()
            step = self.steps[index]
            pad = "    " * depth
            if index in shown:
                lines.append(f"{pad}{sequent(step.sequent)}   (step {index + 1}, above)")
                continue
            shown.add(index)
            lines.append(f"{pad}{sequent(step.sequent)}   [{index + 1}: {rule(step)}]")
            for p in reversed(step.premises):
                stack.append((p, depth + 1))
        return lines

    def _abbreviations(self, limit):
        if limit is None:
            return {}
        counts, order = {}, []
        for step in self.steps:
            for f in (*step.sequent.hypotheses, step.sequent.goal):
                if f not in counts:
                    counts[f] = 0
                    order.append(f)
                counts[f] += 1
        names = {}
        for f in order:
            if counts[f] > 1 and len(formula_text(f)) > limit:
                names[f] = f"F{len(names) + 1}"
        return names


@dataclass(frozen=True)
class Decision:
    """The answer of :func:`decide` and its certificate.

    `valid` tells whether the formula is intuitionistically valid. A valid
    formula comes with `proof`, a :class:`Derivation` of it; an invalid one with
    `model`, a KripkeModel, and `world`, a world of it where the formula fails.
    `statistics` counts the search's work: derivation steps or countermodel
    worlds, queries and rounds of the countermodel search, conflicts of its
    classical solver, steps taken by renaming and what finding them cost.
    """

    formula: Formula
    valid: bool
    proof: Optional[Derivation] = None
    model: Optional[KripkeModel] = None
    world: Optional[World] = None
    statistics: Mapping[str, int] = field(default_factory=dict)

    def verify(self):
        """Check the certificate; raise CertificateError if it does not hold."""
        if self.valid:
            try:
                check_derivation(self.proof, self.formula)
            except ProofCheckError as error:
                raise CertificateError(f"the derivation does not check: {error}") from error
            return
        problem = _model_problem(self.model)
        if problem is not None:
            raise CertificateError(f"the countermodel is not a Kripke model: {problem}")
        try:
            holds = self.model.evaluate(self.formula, self.world)
        except RecursionError:
            # Deeper than evaluate can go: the same forcing, worked out with its own stack.
            holds = self.world in _forcing_worlds(self.model, self.formula)
        if holds:
            raise CertificateError(f"the formula holds at {self.world.name} of its countermodel")

    def __str__(self):
        return self.format()

    def format(self, *, proof=True, model=True, width=120):
        """The verdict, then the derivation or the countermodel in words.

        The formula in the first line is cut to `width` characters (None: never).
        """
        text = formula_text(self.formula)
        if width is not None and len(text) > width:
            text = text[:width - 1] + "…"
        if self.valid:
            head = f"valid: {text}"
            return f"{head}\n{self.proof.format()}" if proof else head
        head = f"not valid: {text} fails at {self.world.name}"
        return f"{head}\n{describe_model(self.model, self.world)}" if model else head


def describe_model(model, failing=None):
    """A Kripke model in words: for each world the atoms it forces and the worlds just above it."""
    above = {}
    for lower, upper in hasse_diagram(model):
        above.setdefault(lower, []).append(upper)
    lines = []
    for w in model.worlds:
        atoms = sorted(formula_text(f) for f in model.valuations.get(w, ()))
        forces = ", ".join(atoms) if atoms else "nothing"
        sees = ", ".join(v.name for v in above.get(w, ()))
        mark = "  <- fails here" if w == failing else ""
        lines.append(f"  {w.name}: forces {forces}" + (f"; just below {sees}" if sees else "") + mark)
    return "\n".join(lines)


def _model_problem(model):
    """What keeps a model from being a Kripke model (a preorder, persistent atoms), or None."""
    for w in model.worlds:
        row = model.relations.get(w)
        if row is None or w not in row:
            return f"{w.name} does not see itself"
        valuation = model.valuations.get(w, set())
        for v in row:
            if not model.relations.get(v, {v}) <= row:
                return f"the order is not transitive at {w.name}"
            if not valuation <= model.valuations.get(v, set()):
                return f"atoms forced at {w.name} are not forced at {v.name}"
    return None


def _forcing_worlds(model, formula):
    """The worlds of `model` that force `formula`, subformula by subformula, without recursion."""
    worlds = set(model.worlds)
    rows = {w: model.relations.get(w, {w}) for w in worlds}
    forcing = {}

    def refuted_above(bad):
        return {w for w in worlds if not rows[w].isdisjoint(bad)}

    stack = [(formula, False)]
    while stack:
        node, ready = stack.pop()
        if node in forcing and not ready:
            continue
        if isinstance(node, PredicateApp):
            if node == FALSUM:
                forcing[node] = set()
            elif node == VERUM:
                forcing[node] = set(worlds)
            else:
                forcing[node] = {w for w in worlds if node in model.valuations.get(w, ())}
            continue
        parts = (node.operand,) if isinstance(node, Not) else (node.left, node.right)
        if not ready:
            stack.append((node, True))
            stack.extend((part, False) for part in parts if part not in forcing)
            continue
        if isinstance(node, Not):
            forcing[node] = worlds - refuted_above(forcing[parts[0]])
        elif isinstance(node, And):
            forcing[node] = forcing[parts[0]] & forcing[parts[1]]
        elif isinstance(node, Or):
            forcing[node] = forcing[parts[0]] | forcing[parts[1]]
        else:
            a, b = forcing[parts[0]], forcing[parts[1]]
            forward = worlds - refuted_above(a - b)
            forcing[node] = forward if isinstance(node, Implies) else forward - refuted_above(b - a)
    return forcing[formula]


def _model(worlds):
    """A KripkeModel from the search's worlds: (atoms, immediate successors) each, the first failing."""
    made = [World(i, f"w{i}") for i in range(len(worlds))]
    closure = [None] * len(worlds)
    for start in range(len(worlds)):
        if closure[start] is not None:
            continue
        # Depth-first with its own stack: a world's row once all its successors have theirs.
        stack = [(start, False)]
        while stack:
            i, ready = stack.pop()
            if closure[i] is not None:
                continue
            if not ready:
                stack.append((i, True))
                stack.extend((j, False) for j in worlds[i][1] if closure[j] is None)
                continue
            row = {i}
            for j in worlds[i][1]:
                row |= closure[j]
            closure[i] = row
    relations = {made[i]: {made[j] for j in closure[i]} for i in range(len(worlds))}
    valuations = {made[i]: set(worlds[i][0]) for i in range(len(worlds))}
    return KripkeModel(made, relations, valuations), made[0]


def problem_formula(problem):
    """The formula a TPTP problem (a `zelqor.tptp.Problem`) asks about: its axioms imply its conjecture.

    Several conjectures are read as their conjunction; a problem without one asks whether its
    axioms are contradictory, so its formula is the axioms implying falsum.
    """
    axioms = [f.formula for f in problem.axioms]
    conjectures = [f.formula for f in problem.conjectures]
    goal = _nest(And, conjectures) if conjectures else FALSUM
    return Implies(_nest(And, axioms), goal) if axioms else goal


def _nest(connective, parts):
    result = parts[-1]
    for part in reversed(parts[:-1]):
        result = connective(part, result)
    return result


def decide(formula, *, verify=True, budget=None):
    """Decide whether `formula` is intuitionistically valid; return a Decision with its certificate.

    With `verify` (the default) the certificate is checked before it is
    returned: the derivation by the independent checker, the countermodel by
    forcing; a failure raises CertificateError. `budget` bounds the search in
    units of work (conflicts of its classical solver, rounds of the
    countermodel search, sequents visited); when it runs out
    SearchLimitReached is raised. Ctrl-C interrupts a long search.
    """
    verdict, certificate, stats = search(formula, budget=budget)
    statistics = MappingProxyType(stats)
    if verdict == "unknown":
        raise SearchLimitReached(f"no decision within a budget of {budget}")
    if verdict == "valid":
        steps = [Step(Sequent(hyps, goal), rule, premises, principal,
                      None if renaming is None else MappingProxyType(renaming))
                 for hyps, goal, rule, premises, principal, renaming in certificate]
        result = Decision(formula, True, proof=Derivation(steps), statistics=statistics)
    else:
        model, world = _model(certificate)
        result = Decision(formula, False, model=model, world=world, statistics=statistics)
    if verify:
        result.verify()
    return result
