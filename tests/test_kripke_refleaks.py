"""Every operation of the Kripke module, error paths and overridden names
included, run many times: allocated blocks must not grow."""

import pickle

import zelqor.constructive.kripke as kripke
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import And, Forall, Iff, Implies, Not, Or, PredicateApp, Variable

from leakcheck import assert_steady, expect

worlds = [World(i, f"w{i}") for i in range(12)]
p, q = PredicateApp("P", 0, ()), PredicateApp("Q", 0, ())
formulas = [Iff(Not(p), Implies(p, q)), Not(Not(Or(p, q))), And(p, Implies(q, p)), Forall(Variable(0), p)]


class Overriding(KripkeModel):
    def accessible_worlds(self, world):
        return super().accessible_worlds(world)

    def evaluate(self, formula, world):
        return super().evaluate(formula, world)




def kripke_operations():
    generic = KripkeModel([worlds[0], 7], {7: {worlds[1], "x"}, "x": [worlds[2]]}, {7: {q}})
    generic.add_relation(worlds[0], 7)
    generic.evaluate(Not(q), 7)
    for cls in (KripkeModel, Overriding):
        m = cls([worlds[0]], {worlds[0]: {worlds[1]}}, {worlds[0]: {p}})
        for i in range(11):
            m.add_relation(worlds[i], worlds[(i * 5 + 3) % 12])
            m.add_valuation(worlds[i], p if i % 2 else q)
        m._enforce_monotonicity()
        for f in formulas:
            for w in worlds[:4]:
                m.evaluate(f, w)
        m.to_dict(), m.to_string(), str(m), pickle.loads(pickle.dumps(m))
        m.is_accessible(worlds[0], worlds[1]), m.accessible_worlds(worlds[3])
        m.relations[worlds[0]] = frozenset({worlds[5], World(99, "z")})
        expect(AttributeError, m._compute_transitive_closure)
        expect(TypeError, m.evaluate, p, [1])
        expect(TypeError, m.add_world, {})
    expect(TypeError, KripkeModel, (1,))
    expect(TypeError, KripkeModel, [], {1: 2})
    expect(TypeError, str, World(0, 1))
    pickle.loads(pickle.dumps(worlds[3])), repr(worlds[3]), hash(worlds[4])
    saved = kripke._is_atomic
    kripke._is_atomic = lambda f: isinstance(f, PredicateApp)
    try:
        KripkeModel().evaluate(Iff(p, q), worlds[0])
    finally:
        kripke._is_atomic = saved


def test_kripke_operations_leak_nothing():
    assert_steady("test_kripke_refleaks", "kripke_operations")
