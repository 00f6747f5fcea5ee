"""Cost of zelqor.constructive.kripke against plain Python, in one run.

    python bench/kripke.py [--budget SECONDS]

Models of 10, 100 and 1,000 worlds (a chain, a binary tree and a random
preorder with cycles) are built through add_relation, with a few atoms placed
first so that every call also propagates the valuation. Then formulas made of
nested Implies and Not, of depth 1 to 6, are evaluated at a fixed sample of
worlds. Each is timed for the C++ module and for two plain Python models
written below:

  literal   the procedures pass by pass, exactly as they are described
            (closure and persistence repeated until nothing changes);
  one-shot  the same single-pass algorithm as the C++ module (components,
            covering edges), in Python.

Building through the literal passes costs O(n^3) per call on a chain; a
baseline that would exceed the time budget is stopped, and the C++ module is
then timed on the same prefix of calls (the table says how many).
Evaluation is the same recursion in both, over the same rows visited in
the same order.
"""

import argparse
import random
import sys
import time
from dataclasses import dataclass

from zelqor.constructive import common
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import And, Iff, Implies, Not, Or, PredicateApp

ATOMS = [PredicateApp(f"P{i}", 0, ()) for i in range(4)]


# ---- plain Python models -------------------------------------------------------------

@dataclass(frozen=True)
class PyWorld:
    id: int
    name: str

    def __str__(self):
        return self.name

    def __repr__(self):
        return f"World(id={self.id}, name={self.name})"


class LiteralModel:
    def __init__(self):
        self.worlds, self.relations, self.valuations = [], {}, {}

    def add_world(self, world):
        if world not in self.worlds:
            self.worlds.append(world)
        if world not in self.relations:
            self.relations[world] = {world}
        else:
            self.relations[world].add(world)
        if world not in self.valuations:
            self.valuations[world] = set()

    def add_relation(self, source, target):
        self.add_world(source)
        self.add_world(target)
        self.relations[source].add(target)
        self._compute_transitive_closure()
        self._enforce_monotonicity()

    def add_valuation(self, world, formula):
        self.add_world(world)
        self.valuations[world].add(formula)
        for u in self.accessible_worlds(world):
            self.valuations.setdefault(u, set()).add(formula)

    def accessible_worlds(self, world):
        row = self.relations.get(world)
        return set(row) if row is not None else {world}

    def _compute_transitive_closure(self):
        for w in self.worlds:
            self.relations.setdefault(w, set()).add(w)
        changed = True
        while changed:
            changed = False
            for w in self.worlds:
                row = self.relations[w]
                for s in set(row):
                    for u in self.relations.get(s, ()):
                        if u not in row:
                            row.add(u)
                            changed = True

    def _enforce_monotonicity(self):
        changed = True
        while changed:
            changed = False
            for w in self.worlds:
                own = self.valuations.get(w, ())
                for v in self.relations.get(w, ()):
                    if v != w:
                        for a in own:
                            target = self.valuations.get(v)
                            if target is None or a not in target:
                                self.valuations.setdefault(v, set()).add(a)
                                changed = True

    def evaluate(self, formula, world):
        if common._is_falsum(formula):
            return False
        if common._is_verum(formula):
            return True
        if common._is_atomic(formula):
            return formula in self.valuations.get(world, set())
        if isinstance(formula, Not):
            return not any(self.evaluate(formula.operand, u) for u in self.accessible_worlds(world))
        if isinstance(formula, And):
            return self.evaluate(formula.left, world) and self.evaluate(formula.right, world)
        if isinstance(formula, Or):
            return self.evaluate(formula.left, world) or self.evaluate(formula.right, world)
        if isinstance(formula, Implies):
            for u in self.accessible_worlds(world):
                if self.evaluate(formula.left, u) and not self.evaluate(formula.right, u):
                    return False
            return True
        if isinstance(formula, Iff):
            left_imp = Implies(left=formula.left, right=formula.right)
            right_imp = Implies(left=formula.right, right=formula.left)
            return self.evaluate(left_imp, world) and self.evaluate(right_imp, world)
        return False


class OrderedRows(LiteralModel):
    """For timing evaluation: rows are lists in the order the C++ model's sets
    iterate, so that both visit the same worlds in the same order (the order
    decides where a clause stops early)."""

    def accessible_worlds(self, world):
        row = self.relations.get(world)
        return list(row) if row is not None else [world]


def _components(succ):
    """Tarjan's strongly connected components, sinks first."""
    n = len(succ)
    order, low, comp = [-1] * n, [0] * n, [-1] * n
    stack, members, counter = [], [], 0
    for root in range(n):
        if order[root] >= 0:
            continue
        order[root] = low[root] = counter
        counter += 1
        stack.append(root)
        calls = [(root, iter(succ[root]))]
        while calls:
            v, it = calls[-1]
            for w in it:
                if order[w] < 0:
                    order[w] = low[w] = counter
                    counter += 1
                    stack.append(w)
                    calls.append((w, iter(succ[w])))
                    break
                if comp[w] < 0:
                    low[v] = min(low[v], order[w])
            else:
                calls.pop()
                if calls:
                    parent = calls[-1][0]
                    low[parent] = min(low[parent], low[v])
                if low[v] == order[v]:
                    group = []
                    while True:
                        w = stack.pop()
                        comp[w] = len(members)
                        group.append(w)
                        if w == v:
                            break
                    members.append(group)
    return comp, members


def _reach(succ, comp, members):
    """Nodes reachable from each component, merging covering edges only."""
    reach, kept = [], []
    for c, group in enumerate(members):
        acc = set(group)
        for d in sorted({comp[t] for m in group for t in succ[m]} - {c}, reverse=True):
            if members[d][0] not in acc:
                kept.append((c, d))
                acc |= reach[d]
        reach.append(acc)
    return reach, kept


class OneShotModel(LiteralModel):
    def _number(self, objects, index, nodes):
        out = []
        for o in objects:
            i = index.get(o)
            if i is None:
                i = index[o] = len(nodes)
                nodes.append(o)
            out.append(i)
        return out

    def _compute_transitive_closure(self):
        index, nodes, succ = {}, [], []
        order = sorted(set(self._number(self.worlds, index, nodes)))
        v = 0
        while v < len(nodes):
            row = self.relations.get(nodes[v])
            succ.append(self._number(row, index, nodes) if row is not None else [])
            v += 1
        comp, members = _components(succ)
        reach, _ = _reach(succ, comp, members)
        for w in order:
            row = self.relations.setdefault(nodes[w], set())
            row |= {nodes[x] for x in reach[comp[w]]}

    def _enforce_monotonicity(self):
        index, nodes, succ = {}, [], []
        order = sorted(set(self._number(self.worlds, index, nodes)))
        for w in order:
            row = self.relations.get(nodes[w])
            succ.append([v for v in self._number(row, index, nodes) if v != w] if row is not None else [])
        succ.extend([] for _ in range(len(nodes) - len(succ)))
        comp, members = _components(succ)
        _, kept = _reach(succ, comp, members)
        preds = [[] for _ in members]
        for c, d in kept:
            preds[d].append(c)
        final = [None] * len(members)
        for c in range(len(members) - 1, -1, -1):
            acc = set()
            for m in members[c]:
                acc |= self.valuations.get(nodes[m], set())
            for p in preds[c]:
                acc |= final[p]
            final[c] = acc
        for v in range(len(nodes)):
            extra = final[comp[v]]
            if extra:
                target = self.valuations.get(nodes[v])
                if target is None:
                    if extra:
                        self.valuations[nodes[v]] = set(extra)
                elif not extra <= target:
                    target |= extra


# ---- workloads -----------------------------------------------------------------------

def shapes(n, seed=7):
    rng = random.Random(seed + n)
    chain = [(i, i + 1) for i in range(n - 1)]
    tree = [((i - 1) // 2, i) for i in range(1, n)]
    order = list(range(n))
    rng.shuffle(order)
    preorder = [(order[rng.randrange(i)], order[i]) for i in range(1, n)]
    preorder += [(rng.randrange(n), rng.randrange(n)) for _ in range(max(1, n // 10))]
    rng.shuffle(preorder)
    return {"chain": chain, "tree": tree, "random": preorder}


def facts(n, seed=11):
    rng = random.Random(seed + n)
    return [(rng.randrange(n), ATOMS[rng.randrange(len(ATOMS))]) for _ in range(max(2, n // 20))]


def build(make, world, edges, placed, limit=None, budget=None, repeat=1):
    """add_valuation for the facts (untimed), then add_relation for each edge
    (timed), on a fresh model; the best of `repeat` runs. Returns (seconds,
    calls made, the last model)."""
    best = float("inf")
    for _ in range(repeat):
        model = make()
        for i, atom in placed:
            model.add_valuation(world(i), atom)
        start = time.perf_counter()
        done = 0
        for a, b in edges[:limit]:
            model.add_relation(world(a), world(b))
            done += 1
            if budget is not None and time.perf_counter() - start > budget:
                break
        best = min(best, time.perf_counter() - start)
    return best, done, model


def formulas():
    """One formula per depth 1..6, alternating nested Implies and Not."""
    out, f = [], Implies(ATOMS[0], ATOMS[1])
    for depth in range(1, 7):
        out.append(f)
        f = Implies(Not(f), ATOMS[depth % 4]) if depth % 2 else Not(Implies(f, ATOMS[depth % 4]))
    return out


def evaluation_sample(model, world, n):
    """Per depth, up to 20 worlds with the largest rows that keep the work
    bounded (the cost grows with row size to the power of the nesting)."""
    caps = {1: n, 2: 150, 3: 40, 4: 20, 5: 12, 6: 9}
    sizes = sorted(((len(model.relations.get(world(i), ())), i) for i in range(n)), reverse=True)
    return {depth: [i for size, i in sizes if size <= cap][:20] for depth, cap in caps.items()}


def time_evaluation(model, world, fs, sample, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        for depth, f in enumerate(fs, 1):
            for i in sample[depth]:
                model.evaluate(f, world(i))
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--budget", type=float, default=20.0, help="seconds allowed per plain Python build")
    args = parser.parse_args()

    fs = formulas()
    rows = []
    print("measuring (the plain Python builds of 1,000 worlds take up to twice the budget each)...", file=sys.stderr)
    for n in (10, 100, 1000):
        cworlds = [World(i, f"w{i}") for i in range(n)]
        pworlds = [PyWorld(i, f"w{i}") for i in range(n)]
        placed = facts(n)
        repeat = {10: 50, 100: 5}.get(n, 1)
        for shape, edges in shapes(n).items():
            c_build, _, c_model = build(KripkeModel, cworlds.__getitem__, edges, placed, repeat=repeat)
            one_build, one_done, one = build(OneShotModel, pworlds.__getitem__, edges, placed,
                                             budget=args.budget, repeat=repeat)
            lit_build, lit_done, _ = build(LiteralModel, pworlds.__getitem__, edges, placed,
                                           budget=args.budget, repeat=repeat)

            def c_prefix(done):  # the C++ time for the prefix a baseline finished
                if done == len(edges):
                    return c_build
                return build(KripkeModel, cworlds.__getitem__, edges, placed, limit=done, repeat=repeat)[0]

            c_one, c_lit = c_prefix(one_done), c_prefix(lit_done)
            if one_done == len(edges):  # same rows and valuation sets
                assert {str(k): sorted(map(str, r)) for k, r in one.relations.items()} == \
                       {str(k): sorted(map(str, r)) for k, r in c_model.relations.items()}
                assert {str(k): sorted(map(repr, v)) for k, v in one.valuations.items()} == \
                       {str(k): sorted(map(repr, v)) for k, v in c_model.valuations.items()}

            # Evaluation: the same model contents for both.
            py_model = OrderedRows()
            py_model.worlds = [pworlds[w.id] for w in c_model.worlds]
            py_model.relations = {pworlds[w.id]: [pworlds[u.id] for u in r] for w, r in c_model.relations.items()}
            py_model.valuations = {pworlds[w.id]: set(v) for w, v in c_model.valuations.items()}
            sample = evaluation_sample(c_model, cworlds.__getitem__, n)
            for depth, f in enumerate(fs, 1):
                for i in sample[depth]:
                    assert py_model.evaluate(f, pworlds[i]) == c_model.evaluate(f, cworlds[i])
            c_eval = time_evaluation(c_model, cworlds.__getitem__, fs, sample, repeat=7)
            py_eval = time_evaluation(py_model, pworlds.__getitem__, fs, sample, repeat=3)
            rows.append((n, shape, len(edges), c_build, one_build, one_done, c_one, lit_build, lit_done, c_lit,
                         c_eval, py_eval))

    head = (f"{'model':>12} {'calls':>6} | {'C++ build':>10} | {'one-shot py':>11} {'(calls)':>7} {'x':>6} |"
            f" {'literal py':>10} {'(calls)':>7} {'x':>6} | {'C++ eval':>9} {'py eval':>9} {'x':>6}")
    print(f"python {sys.version.split()[0]}; seconds (best of several runs below 1,000 worlds);"
          " x = plain Python time / C++ time on the same calls")
    print(head)
    print("-" * len(head))
    for (n, shape, calls, c_build, one_build, one_done, c_one, lit_build, lit_done, c_lit, c_eval, py_eval) in rows:
        one_calls = "all" if one_done == calls else str(one_done)
        lit_calls = "all" if lit_done == calls else str(lit_done)
        print(f"{shape + ' ' + str(n):>12} {calls:>6} | {c_build:>10.5f} | {one_build:>11.4f} {one_calls:>7}"
              f" {one_build / c_one:>6.1f} | {lit_build:>10.4f} {lit_calls:>7} {lit_build / c_lit:>6.0f} |"
              f" {c_eval:>9.5f} {py_eval:>9.4f} {py_eval / c_eval:>6.1f}")
    print("\ntargets: a 1,000-world chain builds in seconds; build and evaluate at least 20x the plain Python")


if __name__ == "__main__":
    main()
