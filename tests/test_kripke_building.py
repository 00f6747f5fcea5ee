"""KripkeModel construction, building operations, accessibility queries, and the
closure and persistence procedures checked against their literal pass-by-pass form."""

import copy
import pickle
from collections import OrderedDict

import pytest
from hypothesis import given, settings, strategies as st

from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import PredicateApp

w0, w1, w2, w3 = (World(i, f"w{i}") for i in range(4))
p, q = PredicateApp("P", 0, ()), PredicateApp("Q", 0, ())


class Literal:
    """The procedures exactly as their passes are described, in plain Python."""

    def __init__(self, worlds=None, relations=None, valuations=None):
        self.worlds = list(worlds) if worlds is not None else []
        self.relations = {k: set(v) for k, v in relations.items()} if relations is not None else {}
        self.valuations = {k: set(v) for k, v in valuations.items()} if valuations is not None else {}

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
        for u in set(self.relations.get(world, {world})):
            self.valuations.setdefault(u, set()).add(formula)

    def _compute_transitive_closure(self):
        for w in self.worlds:
            self.relations.setdefault(w, set()).add(w)
        changed = True
        while changed:
            changed = False
            for w in self.worlds:
                for s in set(self.relations[w]):
                    for u in self.relations.get(s, ()):
                        if u not in self.relations[w]:
                            self.relations[w].add(u)
                            changed = True

    def _enforce_monotonicity(self):
        changed = True
        while changed:
            changed = False
            for w in self.worlds:
                for v in self.relations.get(w, ()):
                    if v != w:
                        for a in list(self.valuations.get(w, ())):
                            if a not in self.valuations.get(v, ()):
                                self.valuations.setdefault(v, set()).add(a)
                                changed = True


def state(model):
    # Rows in insertion order; valuation keys as a mapping (their creation
    # order among sets made by propagation follows set order).
    return model.worlds, list(model.relations.items()), dict(model.valuations)


class TestConstructor:
    def test_defaults_and_copies(self):
        m = KripkeModel()
        assert (m.worlds, m.relations, m.valuations) == ([], {}, {})
        assert type(m.worlds) is list and type(m.relations) is dict and type(m.valuations) is dict
        worlds, row, vals = [w0, w0], {w1}, {w0: [p]}
        m = KripkeModel(worlds, {w0: row}, valuations=vals)
        assert m.worlds == [w0, w0] and m.worlds is not worlds
        assert m.relations == {w0: {w1}} and m.relations[w0] is not row
        assert m.valuations == {w0: {p}} and type(m.valuations[w0]) is set
        assert not m.is_accessible(w0, w0)  # nothing is normalized

    @pytest.mark.parametrize("args, message", [
        (((w0,),), "Argument 'worlds' has incorrect type (expected list, got tuple)"),
        (([], OrderedDict()), "Argument 'relations' has incorrect type (expected dict, got collections.OrderedDict)"),
        ((None, None, []), "Argument 'valuations' has incorrect type (expected dict, got list)"),
        (((), [], []), "Argument 'worlds' has incorrect type (expected list, got tuple)"),
    ])
    def test_exact_types(self, args, message):
        with pytest.raises(TypeError) as info:
            KripkeModel(*args)
        assert str(info.value) == message

    def test_refused_subclass_and_counts(self):
        class Worlds(list):
            pass

        with pytest.raises(TypeError, match=r"expected list, got Worlds\)$"):
            KripkeModel(Worlds())
        with pytest.raises(TypeError, match="takes from 1 to 4 positional arguments but 5 were given"):
            KripkeModel([], {}, {}, {})
        with pytest.raises(TypeError, match="unexpected keyword argument 'rows'"):
            KripkeModel(rows={})

    def test_failed_construction_stores_nothing(self):
        m = KripkeModel([w0])
        with pytest.raises(TypeError):
            m.__init__([w1], {w1: 5})  # 5 is not iterable
        assert m.worlds == [w0]


class TestBuilding:
    def test_add_world_is_idempotent(self):
        m = KripkeModel()
        m.add_world(w0)
        m.add_world(w0)
        assert m.worlds == [w0] and m.relations == {w0: {w0}} and m.valuations == {w0: set()}

    def test_add_relation_closes_and_propagates(self):
        m = KripkeModel()
        m.add_relation(w0, w1)
        assert m.worlds == [w0, w1] and m.relations == {w0: {w0, w1}, w1: {w1}}
        assert m.is_accessible(w0, w1) and m.is_accessible(w0, w0) and not m.is_accessible(w1, w0)
        m = KripkeModel()
        m.add_relation(w1, w2)
        m.add_relation(w0, w1)
        assert m.relations[w0] == {w0, w1, w2}

    def test_cycle_and_persistence(self):
        m = KripkeModel()
        m.add_valuation(w0, p)
        m.add_relation(w0, w1)
        assert p in m.valuations[w1]
        m.add_relation(w1, w0)
        assert m.relations[w0] == m.relations[w1] == {w0, w1}
        m.add_valuation(w1, q)
        assert q in m.valuations[w0]
        m = KripkeModel()
        m.add_relation(w0, w1)
        m.add_valuation(w1, p)
        assert p not in m.valuations[w0]

    def test_constructor_data_is_closed_by_the_next_relation(self):
        m = KripkeModel([w0], {w0: {w1}})
        assert not m.is_accessible(w0, w0) and m.accessible_worlds(w0) == {w1}
        m.add_relation(w2, w3)
        assert m.relations[w0] == {w0, w1} and w1 not in m.relations and w1 not in m.worlds

    def test_queries_on_unknown_worlds(self):
        m = KripkeModel()
        assert m.accessible_worlds(w3) == {w3} and not m.is_accessible(w3, w3)
        m.add_relation(w0, w1)
        acc = m.accessible_worlds(w0)
        acc.add(w3)
        assert m.relations[w0] == {w0, w1}

    def test_same_id_different_name(self):
        m = KripkeModel()
        m.add_world(World(0, "a"))
        m.add_world(World(0, "b"))
        assert len(m.worlds) == 2

    def test_members_are_live_and_replaceable(self):
        m = KripkeModel()
        m.add_relation(w0, w1)
        m.relations[w1].add(w2)  # a caller's change is seen by the next call
        m.add_relation(w2, w3)
        assert m.relations[w0] == {w0, w1, w2, w3}
        m.worlds = [w3]
        m.valuations = {}
        assert m.worlds == [w3]
        with pytest.raises(TypeError, match="^Expected dict, got list$"):
            m.relations = []
        with pytest.raises(TypeError, match="^Expected list, got NoneType$"):
            m.worlds = None
        with pytest.raises(AttributeError):
            del m.valuations

    def test_unusable_row_fails_before_writing(self):
        m = KripkeModel([w0, w1], {w1: {w2}})
        m.relations[w0] = frozenset({w1})
        with pytest.raises(AttributeError, match="'frozenset' object has no attribute 'add'"):
            m._compute_transitive_closure()
        assert m.relations[w1] == {w2}  # untouched

    def test_copy_and_pickle(self):
        m = KripkeModel()
        m.add_relation(w0, w1)
        m.add_valuation(w1, p)
        for twin in (pickle.loads(pickle.dumps(m)), copy.deepcopy(m)):
            assert state(twin) == state(m) and twin.relations is not m.relations
        assert copy.copy(m).relations is m.relations


class TestOverrides:
    def test_add_relation_goes_through_overridden_methods(self):
        calls = []

        class Logged(KripkeModel):
            def add_world(self, world):
                calls.append(("add_world", world.name))
                super().add_world(world)

            def _enforce_monotonicity(self):
                calls.append(("monotonicity",))

        m = Logged()
        m.add_valuation(w0, p)
        m.add_relation(w0, w1)
        assert calls == [("add_world", "w0"), ("add_world", "w0"), ("add_world", "w1"), ("monotonicity",)]
        assert p not in m.valuations[w1]

    def test_add_valuation_uses_overridden_accessible_worlds(self):
        class Narrow(KripkeModel):
            def accessible_worlds(self, world):
                return [w3]

        m = Narrow()
        m.add_relation(w0, w1)
        m.add_valuation(w0, p)
        assert m.valuations[w3] == {p} and p not in m.valuations[w1]


# ---- agreement with the literal passes ---------------------------------------------

# Besides worlds, any hashable can stand in a model (the slower, generic paths).
POOL = [World(i, f"w{i}") for i in range(6)] + [World(0, "twin"), 7, "s", (1, 2)]
ATOMS = [PredicateApp(name, 0, ()) for name in "PQR"]
world = st.sampled_from(POOL)
operation = st.one_of(
    st.tuples(st.just("add_world"), world),
    st.tuples(st.just("add_relation"), world, world),
    st.tuples(st.just("add_valuation"), world, st.sampled_from(ATOMS)),
    st.tuples(st.just("_compute_transitive_closure")),
    st.tuples(st.just("_enforce_monotonicity")),
)
constructor = st.tuples(
    st.one_of(st.none(), st.lists(world, max_size=5)),
    st.one_of(st.none(), st.dictionaries(world, st.sets(world, max_size=4), max_size=5)),
    st.one_of(st.none(), st.dictionaries(world, st.sets(st.sampled_from(ATOMS), max_size=2), max_size=4)),
)


@settings(max_examples=300, deadline=None)
@given(constructor, st.lists(operation, max_size=12))
def test_agrees_with_literal_passes(data, operations):
    model, literal = KripkeModel(*data), Literal(*data)
    for name, *args in operations:
        getattr(model, name)(*args)
        getattr(literal, name)(*args)
        assert state(model) == state(literal), name


@settings(max_examples=40, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 24), st.integers(0, 24)), max_size=40), st.lists(st.integers(0, 24), max_size=8))
def test_agrees_on_larger_models(edges, marked):
    # Enough worlds for wide fans (many unrelated successors) and long cycles.
    worlds = [World(i, f"w{i}") for i in range(25)]
    model, literal = KripkeModel(), Literal()
    for i in marked:
        for m in (model, literal):
            m.add_valuation(worlds[i], ATOMS[i % 3])
    for a, b in edges:
        for m in (model, literal):
            m.add_relation(worlds[a], worlds[b])
    assert state(model) == state(literal)


def test_wide_fan_and_unclosed_rows():
    hub, leaves = World(100, "hub"), [World(i, f"l{i}") for i in range(12)]
    m = KripkeModel([hub] + leaves, {hub: set(leaves), leaves[0]: {leaves[1]}, leaves[1]: {leaves[0]}},
                    {hub: {p}, leaves[0]: {q}})
    m._enforce_monotonicity()  # along the rows as they are, without closing them
    assert all(p in m.valuations[leaf] for leaf in leaves) and q in m.valuations[leaves[1]]
    assert q not in m.valuations[hub] and leaves[2] not in m.relations
    m._compute_transitive_closure()
    assert m.relations[hub] == {hub, *leaves} and m.relations[leaves[1]] == {leaves[0], leaves[1]}


def test_long_chain_builds_quickly():
    import time

    chain = [World(i, f"w{i}") for i in range(400)]
    m = KripkeModel()
    m.add_valuation(chain[0], p)
    start = time.perf_counter()
    for a, b in zip(chain, chain[1:]):
        m.add_relation(a, b)
    assert time.perf_counter() - start < 5
    assert len(m.relations[chain[0]]) == 400 and all(p in m.valuations[w] for w in chain)
