"""Truth of formulas under valuations and finite interpretations, and a small DPLL solver."""

from zelqor.core.ast import And, Equality, Exists, Forall, Iff, Implies, Not, Or, PredicateApp


def connective(f, left, right):
    """Truth value of the binary connective `f` over the values of its operands."""
    if isinstance(f, And):
        return left and right
    if isinstance(f, Or):
        return left or right
    if isinstance(f, Implies):
        return (not left) or right
    assert isinstance(f, Iff)
    return left == right


def truth(f, valuation):
    """Truth value of a propositional formula under a dict from atoms to booleans."""
    if isinstance(f, PredicateApp):
        return valuation[f]
    if isinstance(f, Not):
        return not truth(f.operand, valuation)
    return connective(f, truth(f.left, valuation), truth(f.right, valuation))


def atoms_of(f):
    if isinstance(f, PredicateApp):
        return {f}
    if isinstance(f, Not):
        return atoms_of(f.operand)
    return atoms_of(f.left) | atoms_of(f.right)


def evaluate_finite(f, domain, interpretation, env):
    """Truth value of a function-free first-order formula over a finite domain: `interpretation` maps
    (predicate, arity) to a set of argument tuples, `env` variables to elements."""
    if isinstance(f, PredicateApp):
        return tuple(env[a] for a in f.args) in interpretation[(f.pred, f.arity)]
    if isinstance(f, Equality):
        return env[f.left] == env[f.right]
    if isinstance(f, Not):
        return not evaluate_finite(f.operand, domain, interpretation, env)
    if isinstance(f, (Forall, Exists)):
        test = all if isinstance(f, Forall) else any
        return test(evaluate_finite(f.body, domain, interpretation, {**env, f.variable: d}) for d in domain)
    return connective(f, evaluate_finite(f.left, domain, interpretation, env),
                      evaluate_finite(f.right, domain, interpretation, env))


# ---- one-element domains -------------------------------------------------------------------
# There every term denotes the one element: a predicate symbol (with its arity) is a propositional
# atom, every equality holds and quantifiers change nothing.

TRUE = PredicateApp("true", 0, ())


def one_point_atom(atom):
    return TRUE if isinstance(atom, Equality) else PredicateApp(f"{atom.pred}/{atom.arity}", 0, ())


def one_point(f):
    """A first-order formula read over a one-element domain, as a propositional formula."""
    if isinstance(f, (PredicateApp, Equality)):
        return one_point_atom(f)
    if isinstance(f, (Forall, Exists)):
        return one_point(f.body)
    if isinstance(f, Not):
        return Not(one_point(f.operand))
    return type(f)(one_point(f.left), one_point(f.right))


# ---- clause sets ---------------------------------------------------------------------------------

def as_ints(clauses, atom=lambda a: a):
    """Clauses as sets of signed ints, and the int of each atom (after `atom`)."""
    numbers = {}
    out = []
    for clause in clauses:
        ints = frozenset((1 if lit.positive else -1) * numbers.setdefault(atom(lit.atom), len(numbers) + 1)
                         for lit in clause.literals)
        out.append(ints)
    return out, numbers


def satisfiable(clauses, assumed=()):
    """Whether the int clauses have a model that makes every literal of `assumed` true."""
    return _dpll([set(c) for c in clauses] + [{lit} for lit in assumed])


def _dpll(clauses):
    while True:
        if any(not c for c in clauses):
            return False
        if not clauses:
            return True
        unit = next((next(iter(c)) for c in clauses if len(c) == 1), None)
        if unit is None:
            break
        clauses = _assign(clauses, unit)
    lit = next(iter(clauses[0]))
    return _dpll(_assign(clauses, lit)) or _dpll(_assign(clauses, -lit))


def _assign(clauses, lit):
    return [c - {-lit} for c in clauses if lit not in c]


def agrees_on_atoms(f, clauses, atom=lambda a: a):
    """Whether every valuation of the atoms of propositional `f` extends to a model of `clauses` exactly
    when it makes `f` true. Then the clauses are satisfiable exactly when `f` is, and each of their
    models is a model of `f`."""
    import itertools

    ints, numbers = as_ints(clauses, atom)
    atoms = sorted(atoms_of(f) - {TRUE}, key=repr)
    for row in itertools.product([False, True], repeat=len(atoms)):
        valuation = dict(zip(atoms, row))
        valuation[TRUE] = True
        assumed = [numbers[a] if v else -numbers[a] for a, v in valuation.items() if a in numbers]
        if satisfiable(ints, assumed) != truth(f, valuation):
            return False
    return True
