"""Clausification speed against a pure-Python rendering and two peers, in one run.

    python bench/clausify.py            # every workload
    python bench/clausify.py --quick    # smaller sets, for a smoke run
    python bench/clausify.py --only prop-10 fo-10   # chosen workloads

Workloads come from a seeded generator of random formulas (10 to 10^4 nodes
counted by formula_size): first-order ones with quantifier alternation,
equivalences and disjunctions over conjunctions, each kept below 10^5
clauses; a propositional subset (0-ary predicates, no quantifiers); and the
disjunction of n two-literal conjunctions (2^n clauses).

Compared on the same formulas:
  - zelqor:   zelqor.prover.clausifier.to_cnf
  - python:   the same passes written in Python below (over the same C nodes
              and the package's substitution), literally as documented
  - sympy:    sympy.logic.boolalg.to_cnf(simplify=False), propositional only
  - nltk:     nltk.inference.resolution.clausify
The peers are optional: a missing one prints "-". Translation to the peers'
formulas happens before timing. Peer clause counts differ where they merge
or drop clauses differently; they are printed side by side.
"""

import argparse
import gc
import itertools
import random
import sys
import time
from dataclasses import dataclass, field

from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
    bound_variables, formula_size, free_variables,
)
from zelqor.core.substitutions import substitute_formula
import zelqor.prover.clausifier as cz
from tables import fmt_time, print_rows

CLAUSE_LIMIT = 100_000
PEER_BUDGET = 60.0  # seconds per peer and workload; the rest of the set is skipped

# ---- random formulas ---------------------------------------------------------------------

PREDICATES = [("P", 1), ("Q", 2), ("R", 1), ("S", 2), ("T", 0)]


def clause_count(f, positive=True):
    """Conjuncts of distribute_cnf(to_nnf(f)): tautologies not yet removed."""
    if isinstance(f, (PredicateApp, Equality)):
        return 1
    if isinstance(f, Not):
        return clause_count(f.operand, not positive)
    if isinstance(f, (Forall, Exists)):
        return clause_count(f.body, positive)
    a_pos, a_neg = clause_count(f.left, True), clause_count(f.left, False)
    b_pos, b_neg = clause_count(f.right, True), clause_count(f.right, False)
    if isinstance(f, And):
        return a_pos + b_pos if positive else a_neg * b_neg
    if isinstance(f, Or):
        return a_pos * b_pos if positive else a_neg + b_neg
    if isinstance(f, Implies):
        return a_neg * b_pos if positive else a_pos + b_neg
    return a_neg * b_pos + b_neg * a_pos if positive else (a_pos + b_neg) * (b_pos + a_neg)


class Generator:
    def __init__(self, seed, first_order=True, propositions=8):
        self.rng = random.Random(seed)
        # Enough propositions that a large conjunction is not contradictory
        # on its face (a peer that folds x ∧ ¬x would then answer at once).
        self.propositions = [f"A{i}" for i in range(propositions)]
        self.first_order = first_order
        self.next_id = 0

    def term(self, scope, depth=0):
        rng = self.rng
        roll = rng.random()
        if scope and roll < 0.6:
            return rng.choice(scope)
        if roll < 0.8 or depth > 1:
            return Constant(rng.choice(["ca", "cb", "cc"]))
        return FunctionApp("fn", 1, (self.term(scope, depth + 1),))

    def atom(self, scope):
        rng = self.rng
        if not self.first_order:
            return PredicateApp(rng.choice(self.propositions), 0, ())
        if scope and rng.random() < 0.1:
            return Equality(self.term(scope), self.term(scope))
        name, arity = rng.choice(PREDICATES)
        return PredicateApp(name, arity, tuple(self.term(scope) for _ in range(arity)))

    def formula(self, size, scope, polarity_budget):
        rng = self.rng
        if size <= 2:
            atom = self.atom(scope)
            return Not(atom) if rng.random() < 0.3 else atom
        roll = rng.random()
        if self.first_order and roll < 0.2:
            # Alternating quantifiers; a variable is now and then reused (shadowing).
            if scope and rng.random() < 0.15:
                var = rng.choice(scope)
            else:
                var = Variable(self.next_id % 12)
                self.next_id += 1
            q = Forall if rng.random() < 0.5 else Exists
            return q(var, self.formula(size - 2, scope + [var], polarity_budget))
        if roll < 0.28:
            return Not(self.formula(size - 1, scope, polarity_budget))
        split = rng.randint(1, size - 2)
        kinds = [And, And, Or, Or, Implies] + ([Iff] if size < 12 else [])
        kind = rng.choice(kinds)
        return kind(self.formula(split, scope, polarity_budget), self.formula(size - 1 - split, scope,
                                                                             polarity_budget))

    def axiom(self, size, limit):
        """A closed-ish formula of about `size` nodes whose CNF stays below `limit` clauses."""
        for _ in range(200):
            f = self.formula(size, [], None)
            if clause_count(f) <= limit:
                return f
        return self.atom([])

    def problem(self, size):
        """A balanced conjunction of axioms, about `size` nodes in all, below CLAUSE_LIMIT clauses."""
        parts, used = [], 0
        count = max(1, size // 24)
        per_axiom_limit = max(4, CLAUSE_LIMIT // (count * 4))
        while used < size:
            ax_size = min(size - used, self.rng.randint(8, 40)) if count > 1 else size
            ax = self.axiom(max(ax_size // 2, 1), per_axiom_limit)
            parts.append(ax)
            used += formula_size(ax)
        while len(parts) > 1:
            parts = [And(parts[i], parts[i + 1]) if i + 1 < len(parts) else parts[i]
                     for i in range(0, len(parts), 2)]
        return parts[0]


def disjunction_of_conjunctions(n):
    atoms = [PredicateApp(f"A{i}", 0, ()) for i in range(2 * n)]
    f = And(atoms[0], atoms[1])
    for i in range(1, n):
        f = Or(f, And(atoms[2 * i], atoms[2 * i + 1]))
    return f


# ---- the passes in Python, as documented ---------------------------------------------------

_sk_constants = itertools.count(0)
_sk_functions = itertools.count(0)


@dataclass(frozen=True)
class PyLiteral:
    atom: object
    positive: bool = True
    _hash_cache: int = field(init=False, repr=False, compare=False)
    _free_vars: frozenset = field(init=False, repr=False, compare=False)

    def __post_init__(self):
        object.__setattr__(self, "_hash_cache", hash((self.__class__, self.atom, self.positive)))
        object.__setattr__(self, "_free_vars", frozenset(free_variables(self.atom)))

    def __hash__(self):
        return self._hash_cache


@dataclass(frozen=True)
class PyClause:
    literals: frozenset = field(default_factory=frozenset)
    _hash_cache: int = field(init=False, repr=False, compare=False)
    _is_tautology: bool = field(init=False, repr=False, compare=False)
    _free_vars: frozenset = field(init=False, repr=False, compare=False)

    def __post_init__(self):
        object.__setattr__(self, "_hash_cache", hash((self.__class__, self.literals)))
        positives = {lit.atom for lit in self.literals if lit.positive}
        negatives = {lit.atom for lit in self.literals if not lit.positive}
        object.__setattr__(self, "_is_tautology", bool(positives & negatives))
        object.__setattr__(self, "_free_vars", frozenset().union(*(lit._free_vars for lit in self.literals)))

    def __hash__(self):
        return self._hash_cache


def py_eliminate(f):
    if isinstance(f, (PredicateApp, Equality)):
        return f
    if isinstance(f, Not):
        return Not(py_eliminate(f.operand))
    if isinstance(f, Implies):
        a, b = py_eliminate(f.left), py_eliminate(f.right)
        return Or(Not(a), b)
    if isinstance(f, Iff):
        a, b = py_eliminate(f.left), py_eliminate(f.right)
        return And(Or(Not(a), b), Or(Not(b), a))
    if isinstance(f, (And, Or)):
        return type(f)(py_eliminate(f.left), py_eliminate(f.right))
    if isinstance(f, (Forall, Exists)):
        return type(f)(f.variable, py_eliminate(f.body))
    raise ValueError(f"Unsupported formula node: {type(f)!r}")


def py_nnf(f):
    if isinstance(f, (PredicateApp, Equality)):
        return f
    if isinstance(f, Not):
        op = f.operand
        if isinstance(op, Not):
            return py_nnf(op.operand)
        if isinstance(op, And):
            return Or(py_nnf(Not(op.left)), py_nnf(Not(op.right)))
        if isinstance(op, Or):
            return And(py_nnf(Not(op.left)), py_nnf(Not(op.right)))
        if isinstance(op, Forall):
            return Exists(op.variable, py_nnf(Not(op.body)))
        if isinstance(op, Exists):
            return Forall(op.variable, py_nnf(Not(op.body)))
        if isinstance(op, (Implies, Iff)):
            return py_nnf(Not(py_eliminate(op)))
        if isinstance(op, (PredicateApp, Equality)):
            return f
        raise ValueError(f"Unsupported negated formula operand: {type(op)!r}")
    if isinstance(f, (And, Or)):
        return type(f)(py_nnf(f.left), py_nnf(f.right))
    if isinstance(f, (Forall, Exists)):
        return type(f)(f.variable, py_nnf(f.body))
    if isinstance(f, (Implies, Iff)):
        return py_nnf(py_eliminate(f))
    raise ValueError(f"Unsupported formula node: {type(f)!r}")


def py_standardize(formula):
    all_vars = free_variables(formula) | bound_variables(formula)
    counter = itertools.count(max((v.id for v in all_vars), default=0) + 1)

    def _std(f, env):
        if isinstance(f, (PredicateApp, Equality)):
            return substitute_formula(f, env) if env else f
        if isinstance(f, Not):
            return Not(_std(f.operand, env))
        if isinstance(f, (And, Or, Implies, Iff)):
            return type(f)(_std(f.left, env), _std(f.right, env))
        if isinstance(f, (Forall, Exists)):
            new_var = Variable(id=next(counter), sort=f.variable.sort, kind=f.variable.kind)
            new_env = dict(env)
            new_env[f.variable] = new_var
            return type(f)(new_var, _std(f.body, new_env))
        raise ValueError(f"Unsupported formula: {type(f)!r}")

    return _std(formula, {})


def py_skolemize(formula):
    def _sk(f, outer):
        if isinstance(f, (PredicateApp, Equality)):
            return f
        if isinstance(f, Not):
            return Not(_sk(f.operand, outer))
        if isinstance(f, (And, Or)):
            return type(f)(_sk(f.left, outer), _sk(f.right, outer))
        if isinstance(f, Forall):
            return Forall(f.variable, _sk(f.body, outer + [f.variable]))
        if isinstance(f, Exists):
            var = f.variable
            if not outer:
                term = Constant(name=f"sk_c{next(_sk_constants)}", sort=var.sort)
            else:
                term = FunctionApp(func=f"sk_f{next(_sk_functions)}", arity=len(outer), args=tuple(outer),
                                   return_sort=var.sort)
            return _sk(substitute_formula(f.body, {var: term}), outer)
        raise ValueError(f"Unsupported formula in skolemization: {type(f)!r}")

    return _sk(formula, [])


def py_drop(f):
    if isinstance(f, Forall):
        return py_drop(f.body)
    if isinstance(f, Exists):
        return Exists(f.variable, py_drop(f.body))
    if isinstance(f, (PredicateApp, Equality)):
        return f
    if isinstance(f, Not):
        return Not(py_drop(f.operand))
    if isinstance(f, (And, Or)):
        return type(f)(py_drop(f.left), py_drop(f.right))
    raise ValueError(f"Unsupported formula: {type(f)!r}")


def py_distribute(f):
    if isinstance(f, (PredicateApp, Equality, Not)):
        return f
    if isinstance(f, And):
        return And(py_distribute(f.left), py_distribute(f.right))
    if isinstance(f, Or):
        left, right = py_distribute(f.left), py_distribute(f.right)
        if isinstance(left, And):
            return py_distribute(And(Or(left.left, right), Or(left.right, right)))
        if isinstance(right, And):
            return py_distribute(And(Or(left, right.left), Or(left, right.right)))
        return Or(left, right)
    raise ValueError(f"Unsupported formula in CNF distribution: {type(f)!r}")


def py_clauses(formula):
    conjunctions = []

    def _collect_and(f):
        if isinstance(f, And):
            _collect_and(f.left)
            _collect_and(f.right)
        else:
            conjunctions.append(f)

    _collect_and(formula)
    clauses = []
    for conj in conjunctions:
        lits = set()

        def _collect_or(f):
            if isinstance(f, Or):
                _collect_or(f.left)
                _collect_or(f.right)
            elif isinstance(f, Not):
                lits.add(PyLiteral(atom=f.operand, positive=False))
            elif isinstance(f, (PredicateApp, Equality)):
                lits.add(PyLiteral(atom=f, positive=True))
            else:
                raise ValueError(f"Unexpected formula inside clause: {type(f)!r}")

        _collect_or(conj)
        clause = PyClause(frozenset(lits))
        if not clause._is_tautology:
            clauses.append(clause)
    return clauses


def py_to_cnf(f):
    return py_clauses(py_distribute(py_drop(py_skolemize(py_standardize(py_nnf(py_eliminate(f)))))))


# ---- peers -------------------------------------------------------------------------------------

def nltk_text(f):
    if isinstance(f, Variable):
        return f"x{f.id}"
    if isinstance(f, Constant):
        return f"c_{f.name}"
    if isinstance(f, FunctionApp):
        return f"{f.func}_f(" + ",".join(nltk_text(a) for a in f.args) + ")"
    if isinstance(f, PredicateApp):
        # NLTK clausifies applications only: a proposition becomes a predicate of one constant.
        return f"{f.pred}(c_unit)" if f.arity == 0 else f.pred + "(" + ",".join(nltk_text(a) for a in f.args) + ")"
    if isinstance(f, Equality):
        return f"({nltk_text(f.left)} = {nltk_text(f.right)})"
    if isinstance(f, Not):
        return f"-({nltk_text(f.operand)})"
    if isinstance(f, (Forall, Exists)):
        return f"{'all' if isinstance(f, Forall) else 'exists'} x{f.variable.id}.({nltk_text(f.body)})"
    op = {And: "&", Or: "|", Implies: "->", Iff: "<->"}[type(f)]
    return f"({nltk_text(f.left)} {op} {nltk_text(f.right)})"


def load_nltk():
    try:
        from nltk.inference.resolution import clausify
        from nltk.sem.logic import Expression
    except ImportError:
        return None
    return lambda formulas: [Expression.fromstring(nltk_text(f)) for f in formulas], clausify, len


def load_sympy():
    try:
        import sympy
        from sympy.logic.boolalg import to_cnf
    except ImportError:
        return None

    def translate(f, symbols):
        if isinstance(f, PredicateApp):
            return symbols.setdefault(f.pred, sympy.Symbol(f.pred))
        if isinstance(f, Not):
            return sympy.Not(translate(f.operand, symbols))
        op = {And: sympy.And, Or: sympy.Or, Implies: sympy.Implies, Iff: sympy.Equivalent}[type(f)]
        return op(translate(f.left, symbols), translate(f.right, symbols))

    def count(cnf):
        return len(sympy.And.make_args(cnf))

    return (lambda formulas: [translate(f, {}) for f in formulas],
            lambda e: to_cnf(e, simplify=False), count)


# ---- measuring --------------------------------------------------------------------------------

def timed(fn, items, budget=None):
    """(seconds, results) over the items; stops early once past `budget` seconds."""
    gc.collect()
    results = []
    start = time.perf_counter()
    for item in items:
        results.append(fn(item))
        if budget is not None and time.perf_counter() - start > budget:
            break
    return time.perf_counter() - start, results


def measure(name, formulas, peers, baseline=True, repeat=3, min_total=0.5):
    sizes = [formula_size(f) for f in formulas]
    row = {"workload": name, "n": len(formulas), "size": sum(sizes) / len(sizes)}
    best, spent, runs = None, 0.0, 0
    while runs < repeat or spent < min_total:
        cz.reset_skolem_counters()
        t, results = timed(cz.to_cnf, formulas)
        best = t if best is None else min(best, t)
        spent += t
        runs += 1
    clauses = sum(len(r) for r in results)
    row.update(ours=best / len(formulas), ours_clause=best / max(clauses, 1), clauses=clauses)
    if baseline:
        t, results = timed(py_to_cnf, formulas, budget=PEER_BUDGET)
        row["python"] = t / len(results)
        row["python_partial"] = len(results) < len(formulas)
        assert sum(len(r) for r in results) == sum(len(r) for r in _ours(formulas[:len(results)]))
    for peer_name, peer in peers.items():
        if peer is None:
            continue
        prepare, run, count = peer
        sys.setrecursionlimit(100_000)
        translated = prepare(formulas)
        try:
            t, results = timed(run, translated, budget=PEER_BUDGET)
        except RecursionError:
            row[peer_name] = "RecursionError"
            continue
        row[peer_name] = t / len(results)
        row[peer_name + "_partial"] = len(results) < len(formulas)
        row[peer_name + "_clauses"] = sum(count(r) for r in results)
        row[peer_name + "_ours"] = sum(len(r) for r in _ours(formulas[:len(results)]))
    return row


def _ours(formulas):
    cz.reset_skolem_counters()
    return [cz.to_cnf(f) for f in formulas]


def print_table(rows):
    head = ["workload", "formulas", "avg nodes", "zelqor /formula", "/clause", "clauses",
            "python /formula", "× python", "sympy /formula", "× sympy", "sympy clauses (ours)",
            "nltk /formula", "× nltk", "nltk clauses (ours)"]
    lines = [head]
    for r in rows:
        cells = [r["workload"], str(r["n"]), f"{r['size']:.0f}", fmt_time(r["ours"]), fmt_time(r["ours_clause"]),
                 str(r["clauses"])]
        for peer in ("python", "sympy", "nltk"):
            value = r.get(peer)
            if value is None:
                cells += ["-", "-"] + ([] if peer == "python" else ["-"])
                continue
            star = "*" if r.get(peer + "_partial") else ""
            ratio = "-" if isinstance(value, str) else f"{value / r['ours']:.0f}×"
            cells += [fmt_time(value) + star, ratio]
            if peer != "python":
                cells.append(f"{r.get(peer + '_clauses', '-')} ({r.get(peer + '_ours', '-')})")
        lines.append(cells)
    print_rows(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer formulas per workload")
    parser.add_argument("--only", nargs="*", default=None, help="workload names to run (default: all)")
    args = parser.parse_args()
    wanted = (lambda name: True) if not args.only else (lambda name: name in args.only)
    scale = 4 if args.quick else 1
    nltk, sympy_peer = load_nltk(), load_sympy()
    print(f"Python {sys.version.split()[0]}; peers: sympy {'yes' if sympy_peer else 'missing'}, "
          f"nltk {'yes' if nltk else 'missing'}; * = stopped after {PEER_BUDGET:.0f} s, mean of those done")
    rows = []
    for size, count in [(10, 400), (100, 100), (1000, 20), (10_000, 4)]:
        if wanted(f"prop-{size}"):
            gen = Generator(seed=size, first_order=False, propositions=max(8, size // 8))
            formulas = [gen.problem(size) for _ in range(max(1, count // scale))]
            rows.append(measure(f"prop-{size}", formulas, {"sympy": sympy_peer, "nltk": nltk}))
    for size, count in [(10, 400), (100, 100), (1000, 20), (10_000, 4)]:
        if wanted(f"fo-{size}"):
            gen = Generator(seed=1000 + size)
            formulas = [gen.problem(size) for _ in range(max(1, count // scale))]
            rows.append(measure(f"fo-{size}", formulas, {"nltk": nltk}))
    for n in (12, 16):
        if wanted(f"or-of-{n}-ands"):
            f = disjunction_of_conjunctions(n)
            rows.append(measure(f"or-of-{n}-ands", [f], {"sympy": sympy_peer, "nltk": nltk}, baseline=n <= 12,
                                repeat=3 if n <= 12 else 1))
    print_table(rows)


if __name__ == "__main__":
    main()
