"""Propositional formulas for the tests of `decide`: named families, random
formulas, and slow but obvious semantics (truth tables, small Kripke models)."""

import itertools

from hypothesis import strategies as st

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.core.ast import And, Iff, Implies, Not, Or, PredicateApp


def atom(name):
    return PredicateApp(name, 0, ())


p, q, r, s = (atom(n) for n in "pqrs")


def chain(connective, parts):
    """parts[0] op (parts[1] op (...)), as the benchmark files nest them."""
    result = parts[-1]
    for part in reversed(parts[:-1]):
        result = connective(part, result)
    return result


def pigeonhole(holes, merged_names=True, name=None):
    """holes+1 pigeons in `holes` holes imply two pigeons share a hole.

    With `merged_names` the atoms are named o{pigeon}{hole} as the benchmark
    library names them, so that from 11 holes on some names stand for two
    atoms (o111 is pigeon 1 in hole 11 and pigeon 11 in hole 1). `name`, a
    function of pigeon and hole, chooses the names instead."""
    if name is None:
        name = ("o{}{}" if merged_names else "o{}_{}").format
    o = {(i, h): atom(name(i, h)) for i in range(1, holes + 2) for h in range(1, holes + 1)}
    placed = chain(And, [chain(Or, [o[i, h] for h in range(1, holes + 1)]) for i in range(1, holes + 2)])
    shared = chain(Or, [And(o[a, h], o[b, h]) for h in range(1, holes + 1)
                        for a in range(1, holes + 2) for b in range(a + 1, holes + 2)])
    return Implies(placed, shared)


def de_bruijn(n, valid=True):
    """A ring of 2n+1 atoms (2n without the middle disjunct trick): valid, or a non-theorem."""
    m = 2 * n + 1 if valid else 2 * n
    ps = [atom(f"p{i}") for i in range(1, m + 1)]
    everything = chain(And, ps)
    ring = chain(And, [Implies(Iff(ps[i], ps[(i + 1) % m]), everything) for i in range(m)])
    if valid:
        return Implies(ring, everything)
    p0 = atom("p0")
    return Implies(ring, Or(p0, Or(everything, Not(p0))))


def random_clauses(variables, clauses, seed):
    """A random 3-clause set as the formula (clauses) -> falsum: hard to refute by cases."""
    import random
    rng = random.Random(seed)
    xs = [atom(f"x{i}") for i in range(variables)]
    parts = []
    for _ in range(clauses):
        literals = [xs[i] if rng.random() < 0.5 else Not(xs[i]) for i in rng.sample(range(variables), 3)]
        parts.append(chain(Or, literals))
    return Implies(chain(And, parts), FALSUM)


# ---- random formulas ---------------------------------------------------------------------

def formulas(names="pqr", max_leaves=8):
    leaves = st.sampled_from([atom(n) for n in names] + [FALSUM, VERUM])
    return st.recursive(
        leaves,
        lambda inner: st.one_of(
            st.builds(Not, inner),
            st.builds(lambda c, a, b: c(a, b), st.sampled_from([And, Or, Implies, Iff]), inner, inner),
        ),
        max_leaves=max_leaves,
    )


# ---- semantics, written out --------------------------------------------------------------

def atoms_of(formula):
    found, stack = set(), [formula]
    while stack:
        f = stack.pop()
        if isinstance(f, PredicateApp):
            if f not in (FALSUM, VERUM):
                found.add(f)
        elif isinstance(f, Not):
            stack.append(f.operand)
        else:
            stack.extend((f.left, f.right))
    return sorted(found, key=lambda a: a.pred)


def classical(formula, true):
    """Truth of a formula when exactly the atoms in `true` hold."""
    if formula == FALSUM:
        return False
    if formula == VERUM:
        return True
    if isinstance(formula, PredicateApp):
        return formula in true
    if isinstance(formula, Not):
        return not classical(formula.operand, true)
    a, b = classical(formula.left, true), classical(formula.right, true)
    return {And: a and b, Or: a or b, Implies: (not a) or b, Iff: a == b}[type(formula)]


def classically_valid(formula):
    letters = atoms_of(formula)
    return all(classical(formula, {a for a, v in zip(letters, values) if v})
               for values in itertools.product((False, True), repeat=len(letters)))


def forces(above, valuation, world, formula):
    """Kripke forcing: `above[w]` the worlds at or above w, `valuation[w]` its atoms."""
    if formula == FALSUM:
        return False
    if formula == VERUM:
        return True
    if isinstance(formula, PredicateApp):
        return formula in valuation[world]
    if isinstance(formula, And):
        return forces(above, valuation, world, formula.left) and forces(above, valuation, world, formula.right)
    if isinstance(formula, Or):
        return forces(above, valuation, world, formula.left) or forces(above, valuation, world, formula.right)
    if isinstance(formula, Not):
        return not any(forces(above, valuation, v, formula.operand) for v in above[world])
    pairs = [(formula.left, formula.right)] if isinstance(formula, Implies) else \
        [(formula.left, formula.right), (formula.right, formula.left)]
    return all(not forces(above, valuation, v, a) or forces(above, valuation, v, b)
               for a, b in pairs for v in above[world])


def _rooted_orders(size):
    """Partial orders on 0..size-1 with 0 below everything, as sets of worlds above each world."""
    pairs = [(i, j) for i in range(size) for j in range(size) if i != j]
    for chosen in itertools.product((False, True), repeat=len(pairs)):
        less = {pair for pair, c in zip(pairs, chosen) if c}
        if any((j, i) in less for i, j in less):
            continue
        if any((i, k) not in less for i, j in less for j2, k in less if j == j2 and i != k):
            continue
        if any((0, j) not in less for j in range(1, size)):
            continue
        yield [{i} | {j for j in range(size) if (i, j) in less} for i in range(size)]


def small_countermodel(formula, max_worlds=3):
    """A rooted Kripke model of at most `max_worlds` worlds refuting the formula at its root, or None."""
    letters = atoms_of(formula)
    for size in range(1, max_worlds + 1):
        for above in _rooted_orders(size):
            up_sets = [set(c) for n in range(size + 1) for c in itertools.combinations(range(size), n)
                       if all(above[w] <= set(c) for w in c)]
            for choice in itertools.product(up_sets, repeat=len(letters)):
                valuation = [{a for a, worlds in zip(letters, choice) if w in worlds} for w in range(size)]
                if not forces(above, valuation, 0, formula):
                    return above, valuation
    return None
