"""An independent check of intuitionistic derivations, rule by rule.

The search that builds derivations is written in C++; this check is written
apart from it, in Python, and trusts nothing it is given: it reads each step's
sequent, rule and premises and recomputes what the rule allows.

Formulas are compared in a normal form: a negation is an implication into
falsum, an equivalence the conjunction of its two implications, and
conjunctions and disjunctions are read as sets of their flattened members
(one member stands for itself, none for verum or falsum). The rules, for a
sequent ``H ⊢ G`` (``H`` a set of formulas):

===================== ===============================================================
``axiom``             ``G`` is in ``H``
``falsum_left``       ``⊥`` is in ``H``
``verum_right``       ``G`` is ``⊤``
``weaken``            from ``H' ⊢ G`` with ``H'`` a subset of ``H``
``and_left``          ``A1 ∧ … ∧ An`` in ``H``: from ``H - {it}, A1, …, An ⊢ G``
``and_right``         ``G = A1 ∧ … ∧ An``: from ``H ⊢ Ai`` for every ``i``
``or_left``           ``A1 ∨ … ∨ An`` in ``H``: from ``H - {it}, Ai ⊢ G`` for every ``i``
``or_right``          ``G = A1 ∨ … ∨ An``: from ``H ⊢ Ai`` for one ``i``, or from ``H ⊢ D``
                      with ``D`` a disjunction of some of the ``Ai`` (``⊥`` for none)
``implies_right``     ``G = A → B``: from ``H, A ⊢ B``
``implies_left``      ``A → B`` in ``H``, ``A`` in ``H`` or ``A = ⊤``: from ``H - {A → B}, B ⊢ G``
``implies_left_and``  ``(A1 ∧ … ∧ An) → B`` in ``H``: from ``H - {it}, Ai → ((rest) → B) ⊢ G``
``implies_left_or``   ``(A1 ∨ … ∨ An) → B`` in ``H``: from ``H - {it}, A1 → B, …, An → B ⊢ G``
``implies_left_implies`` ``(A → C) → B`` in ``H``: from ``H - {it}, C → B ⊢ A → C``
                      and ``H - {it}, B ⊢ G``
``rename``            from an earlier sequent whose atoms, renamed as the step says,
                      give this one
===================== ===============================================================

Every rule is sound for intuitionistic logic, so a derivation that passes
proves its last sequent; :func:`check_derivation` also requires that last
sequent to be the formula asked about, with no hypotheses.
"""

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import And, Iff, Implies, Not, Or, PredicateApp
from zelqor.core.exceptions import ZelqorError

__all__ = ["ProofCheckError", "check_derivation"]


class ProofCheckError(ZelqorError):
    """A derivation that does not prove what it claims; names the first bad step."""

    def __init__(self, step, reason):
        super().__init__(f"step {step}: {reason}" if step is not None else reason)
        self.step = step
        self.reason = reason


_ATOM, _BOT, _TOP, _AND, _OR, _IMP = range(6)
_KIND_NAMES = {_AND: "a conjunction", _OR: "a disjunction", _IMP: "an implication"}


def _chain(node, kind):
    """The members of a chain of one connective: read as one n-ary node, not link by link."""
    members, stack = [], [node.right, node.left]
    while stack:
        n = stack.pop()
        if isinstance(n, kind):
            stack.append(n.right)
            stack.append(n.left)
        else:
            members.append(n)
    return members


class _NormalForms:
    """Formulas in normal form, each stored once and named by a number."""

    def __init__(self):
        self._number = {}   # normal-form key -> number
        self._keys = []     # number -> key
        self._trees = {}    # formula tree -> number
        self._atoms = {}    # number -> frozenset of atom numbers
        self.bot = self._intern((_BOT,))
        self.top = self._intern((_TOP,))

    def _intern(self, key):
        number = self._number.get(key)
        if number is None:
            number = len(self._keys)
            self._number[key] = number
            self._keys.append(key)
        return number

    def kind(self, f):
        return self._keys[f][0]

    def members(self, f):
        """Members of a conjunction or disjunction (a frozenset)."""
        return self._keys[f][1]

    def sides(self, f):
        """Antecedent and consequent of an implication."""
        key = self._keys[f]
        return key[1], key[2]

    def atom(self, tree):
        return self._intern((_ATOM, tree))

    def implication(self, antecedent, consequent):
        return self._intern((_IMP, antecedent, consequent))

    def junction(self, kind, parts):
        flat = set()
        for part in parts:
            if self._keys[part][0] == kind:
                flat |= self._keys[part][1]
            else:
                flat.add(part)
        if not flat:
            return self.top if kind == _AND else self.bot
        if len(flat) == 1:
            return next(iter(flat))
        return self._intern((kind, frozenset(flat)))

    def of(self, tree):
        """The normal form of a library formula; walks with its own stack."""
        cache = self._trees
        try:
            known = cache.get(tree)
        except TypeError:
            raise ProofCheckError(None, f"not a formula: {tree!r}") from None
        if known is not None:
            return known
        stack = [(tree, False)]
        while stack:
            node, expanded = stack.pop()
            if not expanded and node in cache:
                continue
            if isinstance(node, PredicateApp):
                if node == FALSUM:
                    cache[node] = self.bot
                elif node == VERUM:
                    cache[node] = self.top
                elif node.arity == 0 and len(node.args) == 0:
                    cache[node] = self.atom(node)
                else:
                    raise ProofCheckError(None, f"not a propositional atom: {node!r}")
                continue
            if isinstance(node, Not):
                children = (node.operand,)
            elif isinstance(node, (And, Or)):
                children = _chain(node, And if isinstance(node, And) else Or)
            elif isinstance(node, (Implies, Iff)):
                children = (node.left, node.right)
            else:
                raise ProofCheckError(None, f"not a propositional formula: {type(node).__name__}")
            if not expanded:
                stack.append((node, True))
                stack.extend((c, False) for c in children if c not in cache)
                continue
            parts = [cache[c] for c in children]
            if isinstance(node, Not):
                cache[node] = self.implication(parts[0], self.bot)
            elif isinstance(node, Implies):
                cache[node] = self.implication(parts[0], parts[1])
            elif isinstance(node, Iff):
                cache[node] = self.junction(_AND, [self.implication(parts[0], parts[1]),
                                                   self.implication(parts[1], parts[0])])
            else:
                cache[node] = self.junction(_AND if isinstance(node, And) else _OR, parts)
        return cache[tree]

    def atoms(self, f):
        """The atoms of `f` (a frozenset of numbers), computed once."""
        known = self._atoms.get(f)
        if known is not None:
            return known
        stack = [(f, False)]
        while stack:
            g, expanded = stack.pop()
            if g in self._atoms:
                continue
            key = self._keys[g]
            if key[0] == _ATOM:
                self._atoms[g] = frozenset((g,))
                continue
            children = () if key[0] in (_BOT, _TOP) else key[1] if key[0] in (_AND, _OR) else key[1:]
            if not expanded and any(c not in self._atoms for c in children):
                stack.append((g, True))
                stack.extend((c, False) for c in children if c not in self._atoms)
                continue
            self._atoms[g] = frozenset().union(*(self._atoms[c] for c in children))
        return self._atoms[f]

    def renamed(self, f, renaming, memo):
        """`f` with its atoms replaced as `renaming` (atom number -> atom number) says."""
        moved = frozenset(renaming)
        stack = [(f, False)]
        while stack:
            g, expanded = stack.pop()
            if g in memo:
                continue
            if self.atoms(g).isdisjoint(moved):
                memo[g] = g
                continue
            key = self._keys[g]
            kind = key[0]
            if kind == _ATOM:
                memo[g] = renaming[g]
                continue
            children = key[1] if kind in (_AND, _OR) else key[1:]
            if not expanded:
                stack.append((g, True))
                stack.extend((c, False) for c in children if c not in memo)
            elif kind == _IMP:
                memo[g] = self.implication(memo[key[1]], memo[key[2]])
            else:
                memo[g] = self.junction(kind, [memo[c] for c in children])
        return memo[f]


class _Checker:
    def __init__(self):
        self.forms = _NormalForms()
        self.sequents = []

    def sequent(self, index, step):
        try:
            hypotheses = frozenset(self.forms.of(h) for h in step.sequent.hypotheses)
            goal = self.forms.of(step.sequent.goal)
        except ProofCheckError as error:
            raise ProofCheckError(index, error.reason) from None
        return hypotheses, goal

    def check(self, derivation, formula):
        steps = list(derivation.steps)
        if not steps:
            raise ProofCheckError(None, "the derivation has no steps")
        for index, step in enumerate(steps):
            for p in step.premises:
                if not isinstance(p, int) or not 0 <= p < index:
                    raise ProofCheckError(index, f"premise {p!r} is not an earlier step")
            self.sequents.append(self.sequent(index, step))
            reason = self.rule(index, step)
            if reason is not None:
                raise ProofCheckError(index, f"{step.rule}: {reason}")
        if formula is not None:
            try:
                wanted = (frozenset(), self.forms.of(formula))
            except ProofCheckError as error:
                raise ProofCheckError(None, error.reason) from None
            if self.sequents[-1] != wanted:
                raise ProofCheckError(len(steps) - 1, "the last step does not derive the formula without hypotheses")

    def rule(self, index, step):
        """None when the step follows by its rule, else what is wrong."""
        check = _RULES.get(step.rule)
        if check is None:
            return "unknown rule"
        hypotheses, goal = self.sequents[index]
        premises = [self.sequents[p] for p in step.premises]
        principal = None
        if step.principal is not None:
            try:
                principal = self.forms.of(step.principal)
            except ProofCheckError as error:
                return error.reason
        return check(self, step, hypotheses, goal, premises, principal)

    # ---- the rules ------------------------------------------------------------------

    def axiom(self, step, hyps, goal, premises, principal):
        return None if goal in hyps else "the goal is not a hypothesis"

    def falsum_left(self, step, hyps, goal, premises, principal):
        return None if self.forms.bot in hyps else "falsum is not a hypothesis"

    def verum_right(self, step, hyps, goal, premises, principal):
        return None if goal == self.forms.top else "the goal is not verum"

    def weaken(self, step, hyps, goal, premises, principal):
        if len(premises) != 1:
            return "needs one premise"
        (p_hyps, p_goal), = premises
        if p_goal != goal or not p_hyps <= hyps:
            return "the premise is not the sequent with fewer hypotheses"
        return None

    def _left(self, hyps, principal, kind):
        """The principal hypothesis, when it is there and of the kind the rule needs."""
        if principal is None or principal not in hyps:
            return "the principal formula is not a hypothesis"
        if kind is not None and self.forms.kind(principal) != kind:
            return "the principal formula is not of the rule's form"
        return None

    def and_left(self, step, hyps, goal, premises, principal):
        wrong = self._left(hyps, principal, _AND)
        if wrong:
            return wrong
        expected = (hyps - {principal}) | self.forms.members(principal)
        return None if premises == [(expected, goal)] else "the premise does not split the conjunction"

    def and_right(self, step, hyps, goal, premises, principal):
        if self.forms.kind(goal) != _AND:
            return "the goal is not a conjunction"
        if any(p_hyps != hyps for p_hyps, _ in premises) or {g for _, g in premises} != self.forms.members(goal):
            return "the premises do not derive each conjunct from the same hypotheses"
        return None

    def or_left(self, step, hyps, goal, premises, principal):
        wrong = self._left(hyps, principal, _OR)
        if wrong:
            return wrong
        rest = hyps - {principal}
        given = set(premises)
        for m in self.forms.members(principal):
            if (rest | {m}, goal) not in given:
                return "a disjunct has no premise"
        return None

    def or_right(self, step, hyps, goal, premises, principal):
        if self.forms.kind(goal) != _OR:
            return "the goal is not a disjunction"
        if len(premises) != 1 or premises[0][0] != hyps:
            return "needs one premise with the same hypotheses"
        derived, members = premises[0][1], self.forms.members(goal)
        if derived in members or derived == self.forms.bot:
            return None
        if self.forms.kind(derived) == _OR and self.forms.members(derived) <= members:
            return None
        return "the premise derives neither a disjunct nor a disjunction of some of them"

    def implies_right(self, step, hyps, goal, premises, principal):
        if self.forms.kind(goal) != _IMP:
            return "the goal is not an implication"
        a, b = self.forms.sides(goal)
        return None if premises == [(hyps | {a}, b)] else "the premise does not assume the antecedent"

    def _implication_left(self, hyps, principal, antecedent=None):
        """(what is wrong or None, antecedent, consequent) of the principal implication; `antecedent`
        is the kind its antecedent must have, if any."""
        wrong = self._left(hyps, principal, _IMP)
        if wrong:
            return wrong, None, None
        a, b = self.forms.sides(principal)
        if antecedent is not None and self.forms.kind(a) != antecedent:
            return f"the antecedent is not {_KIND_NAMES[antecedent]}", None, None
        return None, a, b

    def implies_left(self, step, hyps, goal, premises, principal):
        wrong, a, b = self._implication_left(hyps, principal)
        if wrong:
            return wrong
        if a not in hyps and a != self.forms.top:
            return "the antecedent is not a hypothesis"
        expected = (hyps - {principal}) | {b}
        return None if premises == [(expected, goal)] else "the premise does not replace the implication"

    def implies_left_and(self, step, hyps, goal, premises, principal):
        wrong, a, b = self._implication_left(hyps, principal, _AND)
        if wrong:
            return wrong
        if len(premises) != 1 or premises[0][1] != goal:
            return "needs one premise with the same goal"
        rest = hyps - {principal}
        members = self.forms.members(a)
        for m in members:
            curried = self.forms.implication(m, self.forms.implication(self.forms.junction(_AND, members - {m}), b))
            if premises[0][0] == rest | {curried}:
                return None
        return "the premise does not curry the conjunction"

    def implies_left_or(self, step, hyps, goal, premises, principal):
        wrong, a, b = self._implication_left(hyps, principal, _OR)
        if wrong:
            return wrong
        expected = (hyps - {principal}) | {self.forms.implication(m, b) for m in self.forms.members(a)}
        return None if premises == [(expected, goal)] else "the premise does not split the disjunction"

    def implies_left_implies(self, step, hyps, goal, premises, principal):
        wrong, inner, b = self._implication_left(hyps, principal, _IMP)
        if wrong:
            return wrong
        _, c = self.forms.sides(inner)
        rest = hyps - {principal}
        expected = [(rest | {self.forms.implication(c, b)}, inner), (rest | {b}, goal)]
        return None if premises == expected else "the premises are not the rule's two sequents"

    def rename(self, step, hyps, goal, premises, principal):
        if len(premises) != 1:
            return "needs one premise"
        mapping = step.renaming
        if mapping is None:
            return "no renaming given"
        renaming = {}
        for source, target in mapping.items():
            try:
                s, t = self.forms.of(source), self.forms.of(target)
            except ProofCheckError as error:
                return error.reason
            if self.forms.kind(s) != _ATOM or self.forms.kind(t) != _ATOM:
                return "the renaming maps something other than atoms"
            renaming[s] = t
        memo = {}
        (p_hyps, p_goal), = premises
        renamed = frozenset(self.forms.renamed(h, renaming, memo) for h in p_hyps)
        if renamed != hyps or self.forms.renamed(p_goal, renaming, memo) != goal:
            return "the renamed premise is not this sequent"
        return None


_RULES = {name: getattr(_Checker, name) for name in (
    "axiom", "falsum_left", "verum_right", "weaken", "and_left", "and_right", "or_left", "or_right",
    "implies_right", "implies_left", "implies_left_and", "implies_left_or", "implies_left_implies", "rename")}


def check_derivation(derivation, formula=None):
    """Check every step of `derivation` by its rule; raise ProofCheckError at the first that fails.

    `derivation` is anything with a sequence ``steps`` of steps, each with
    ``sequent`` (``hypotheses`` and ``goal``), ``rule``, ``premises`` (earlier
    positions), ``principal`` and ``renaming``. When `formula` is given, the
    last step must derive it from no hypotheses. Returns None.
    """
    _Checker().check(derivation, formula)
