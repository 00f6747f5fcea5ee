"""Forcing: the clauses, agreement with a plain recursive evaluator, and
callers who replace the module's imported names or the model's methods."""

import pytest
from hypothesis import given, settings, strategies as st

import zelqor.constructive.kripke as kripke
from zelqor.constructive.common import FALSUM, VERUM, _is_atomic, _is_falsum, _is_verum
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import And, Equality, Forall, Iff, Implies, Not, Or, PredicateApp, Variable

w0, w1, w2 = (World(i, f"w{i}") for i in range(3))
p, q, r = (PredicateApp(n, 0, ()) for n in "PQR")


def reference(model, f, w):
    """The clauses in order, with the package's own predicates."""
    acc = model.accessible_worlds(w)
    if _is_falsum(f):
        return False
    if _is_verum(f):
        return True
    if _is_atomic(f):
        return f in model.valuations.get(w, set())
    if isinstance(f, Not):
        return not any(reference(model, f.operand, u) for u in acc)
    if isinstance(f, And):
        return reference(model, f.left, w) and reference(model, f.right, w)
    if isinstance(f, Or):
        return reference(model, f.left, w) or reference(model, f.right, w)
    if isinstance(f, Implies):
        return all(not reference(model, f.left, u) or reference(model, f.right, u) for u in acc)
    if isinstance(f, Iff):
        return reference(model, Implies(f.left, f.right), w) and reference(model, Implies(f.right, f.left), w)
    return False


@pytest.fixture
def fork():
    # w0 <= w1, w0 <= w2; P at w1, Q at w2.
    m = KripkeModel()
    m.add_relation(w0, w1)
    m.add_relation(w0, w2)
    m.add_valuation(w1, p)
    m.add_valuation(w2, q)
    return m


def test_unknown_world_in_empty_model():
    m = KripkeModel()
    assert m.evaluate(Implies(p, p), w0) is True
    assert m.evaluate(p, w0) is False
    m.add_valuation(w0, p)
    assert m.evaluate(formula=p, world=w0) is True


def test_intuitionistic_clauses(fork):
    assert not fork.evaluate(Not(p), w0) and fork.evaluate(Not(Not(p)), w1)
    assert not fork.evaluate(p, w0) and not fork.evaluate(Or(p, Not(p)), w0)
    assert not fork.evaluate(Implies(p, q), w0) and fork.evaluate(Implies(p, q), w2)
    assert fork.evaluate(Iff(p, q), w0) == (fork.evaluate(Implies(p, q), w0) and fork.evaluate(Implies(q, p), w0))
    assert fork.evaluate(Not(And(p, q)), w0)


def test_constants_and_unsupported_nodes(fork):
    outside = World(9, "x")
    for w in (w0, w1, outside):
        assert fork.evaluate(FALSUM, w) is False and fork.evaluate(VERUM, w) is True
    fork.add_valuation(w0, FALSUM)  # stored, but never looked up as an atom
    assert not fork.evaluate(FALSUM, w0)
    x = Variable(0)
    assert fork.evaluate(Forall(x, p), w1) is False
    assert fork.evaluate(Equality(x, x), w1) is False
    fork.add_valuation(w1, Not(q))  # a stored compound is still evaluated by its clause
    assert fork.evaluate(Not(q), w1)
    assert fork.evaluate(Not(p), w2) and not fork.evaluate(Not(p), w1)


def test_world_argument_errors():
    with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'world'"):
        KripkeModel().evaluate(p)
    with pytest.raises(TypeError, match="unhashable"):
        KripkeModel().evaluate(p, [w0])


ATOMS = [p, q, r, FALSUM, VERUM]
formulas = st.recursive(
    st.sampled_from(ATOMS),
    lambda sub: st.one_of(
        st.builds(Not, sub), st.builds(And, sub, sub), st.builds(Or, sub, sub),
        st.builds(Implies, sub, sub), st.builds(Iff, sub, sub),
    ),
    max_leaves=8,
)
POOL = [World(i, f"w{i}") for i in range(5)]
edges = st.lists(st.tuples(st.sampled_from(POOL), st.sampled_from(POOL)), max_size=7)
facts = st.lists(st.tuples(st.sampled_from(POOL), st.sampled_from([p, q, r])), max_size=6)


@settings(max_examples=200, deadline=None)
@given(edges, facts, st.lists(formulas, min_size=1, max_size=4), st.booleans())
def test_agrees_with_plain_recursion(edge_list, fact_list, fs, unclosed):
    m = KripkeModel()
    for a, b in edge_list:
        m.add_relation(a, b)
    for w, atom in fact_list:
        m.add_valuation(w, atom)
    if unclosed:  # rows without their own world, as constructor data may have
        m = KripkeModel(m.worlds, {w: row - {w} for w, row in m.relations.items()}, m.valuations)
    for f in fs:
        for w in POOL + [World(7, "outside")]:
            assert m.evaluate(f, w) == reference(m, f, w)


class TestReplacedNames:
    def test_predicates_are_read_at_call_time(self, monkeypatch, fork):
        seen = []
        monkeypatch.setattr(kripke, "_is_atomic", lambda f: seen.append(f) or isinstance(f, PredicateApp))
        assert fork.evaluate(p, w1) and seen == [p]
        monkeypatch.setattr(kripke, "_is_verum", lambda f: f == p)
        assert fork.evaluate(p, w0)
        monkeypatch.setattr(kripke, "_is_falsum", lambda f: 0)
        assert fork.evaluate(Iff(p, p), w0)
        monkeypatch.delattr(kripke, "_is_falsum")
        with pytest.raises(NameError, match="name '_is_falsum' is not defined"):
            fork.evaluate(p, w0)

    def test_predicate_errors_pass_through(self, monkeypatch, fork):
        def broken(f):
            raise ValueError("broken")

        monkeypatch.setattr(kripke, "_is_verum", broken)
        with pytest.raises(ValueError, match="broken"):
            fork.evaluate(Not(p), w0)

    def test_iff_builds_through_the_module_implies(self, monkeypatch, fork):
        built = []

        class Recording(Implies):
            def __new__(cls, *args, **kwargs):
                built.append(kwargs)
                return super().__new__(cls, *args, **kwargs)

        monkeypatch.setattr(kripke, "Implies", Recording)
        assert not fork.evaluate(Iff(p, q), w0)
        assert built == [{"left": p, "right": q}, {"left": q, "right": p}]  # both built first
        assert not fork.evaluate(Implies(p, p), w0)  # a plain Implies is no longer an Implies here
        monkeypatch.setattr(kripke, "Implies", lambda **kw: None)
        with pytest.raises(TypeError, match="isinstance"):
            fork.evaluate(Iff(p, q), w0)

    def test_fast_path_matches_the_constructive_predicates(self, fork):
        # The built-in shortcut must decide exactly as the package's predicates.
        class Odd(PredicateApp):
            def __eq__(self, other):
                return True

            __hash__ = PredicateApp.__hash__

        samples = [p, FALSUM, VERUM, PredicateApp("⊥", 0, ()), Not(FALSUM), Odd("Z", 0, ()), Equality(Variable(0), Variable(0))]
        for f in samples:
            m = KripkeModel()
            m.add_valuation(w0, f)
            expected = False if _is_falsum(f) else True if _is_verum(f) else (_is_atomic(f) and f in m.valuations[w0])
            if not (_is_falsum(f) or _is_verum(f) or _is_atomic(f)):
                continue
            assert m.evaluate(f, w0) == expected, f


class TestOverriddenMethods:
    def test_recursion_goes_through_evaluate(self, fork):
        class Counting(KripkeModel):
            calls = 0

            def evaluate(self, formula, world):
                Counting.calls += 1
                return super().evaluate(formula, world)

        m = Counting(fork.worlds, fork.relations, fork.valuations)
        assert not m.evaluate(Not(p), w0)
        assert 2 <= Counting.calls <= 4

    def test_accessible_worlds_override(self, fork):
        class Blind(KripkeModel):
            def accessible_worlds(self, world):
                return {world}

        m = Blind(fork.worlds, fork.relations, fork.valuations)
        assert m.evaluate(Not(p), w0) and not fork.evaluate(Not(p), w0)


def test_row_changed_during_evaluation_fails_cleanly():
    m = KripkeModel()
    worlds = [World(i, f"w{i}") for i in range(8)]
    for w in worlds[1:]:
        m.add_relation(worlds[0], w)

    class Meddling(PredicateApp):
        def __eq__(self, other):
            # Grows the row being walked far enough to move its table.
            m.relations[worlds[0]].update(World(i, "x") for i in range(100, 400))
            return False

        __hash__ = PredicateApp.__hash__

    with pytest.raises(RuntimeError, match="changed size during iteration"):
        m.evaluate(Implies(Meddling("M", 0, ()), p), worlds[0])
    assert len(m.relations[worlds[0]]) == 308


def test_large_models_and_formulas_agree_with_plain_recursion():
    # Rows walked many times over in one call, nested walks of the same row,
    # and formulas on both sides of the size up to which a call flattens them.
    import random

    rng = random.Random(5)
    worlds = [World(i, f"w{i}") for i in range(40)]
    m = KripkeModel()
    for i in range(1, 40):
        m.add_relation(worlds[rng.randrange(i)], worlds[i])
    for _ in range(6):
        m.add_relation(worlds[rng.randrange(40)], worlds[rng.randrange(40)])
    for _ in range(12):
        m.add_valuation(worlds[rng.randrange(40)], rng.choice([p, q, r]))

    def nested(depth):
        if depth == 0:
            return rng.choice([p, q, r, FALSUM, VERUM])
        op = rng.choice([Not, Implies, Implies, Iff, And, Or])
        return op(nested(depth - 1)) if op is Not else op(nested(depth - 1), nested(depth - 1))

    fs = [nested(d) for d in (3, 4, 5, 5, 6, 6)]
    big = p
    for atom in [q, r] * 20:  # some 250 nodes
        big = Or(And(big, Not(atom)), Implies(atom, p))
    fs.append(big)
    for f in fs:
        for w in worlds[:12]:
            assert m.evaluate(f, w) == reference(m, f, w)


def test_evaluate_reentered_from_a_comparison():
    # A node's own __eq__ runs while worlds are being read, and evaluates
    # again over the same worlds; both calls give the plain results, and
    # nothing is left behind for later calls.
    worlds = [World(i, f"w{i}") for i in range(6)]
    m = KripkeModel()
    for a, b in zip(worlds, worlds[1:]):
        m.add_relation(a, b)
    m.add_valuation(worlds[3], p)
    seen = []

    class Peeking(PredicateApp):
        def __eq__(self, other):
            seen.append(m.evaluate(Not(Not(p)), worlds[0]))
            return PredicateApp.__eq__(self, other)

        __hash__ = PredicateApp.__hash__

    f = Not(Not(Implies(Peeking("M", 0, ()), p)))
    expected = reference(m, f, worlds[0])
    seen.clear()
    assert m.evaluate(f, worlds[0]) == expected
    assert seen and all(seen)

    class Failing(PredicateApp):
        def __eq__(self, other):
            raise ValueError("boom")

        __hash__ = PredicateApp.__hash__

    with pytest.raises(ValueError, match="boom"):
        m.evaluate(Not(Not(Implies(Failing("M", 0, ()), p))), worlds[0])
    g = Implies(Not(Implies(p, q)), Not(Not(p)))
    assert [m.evaluate(g, w) for w in worlds] == [reference(m, g, w) for w in worlds]


def test_row_changed_during_a_repeated_walk_fails_cleanly():
    # The same row walked three times, nested: the change comes from the
    # innermost walk.
    w = World(0, "w0")
    m = KripkeModel()
    m.add_world(w)

    class Meddling(PredicateApp):
        def __eq__(self, other):
            m.relations[w].update(World(i, "x") for i in range(100, 400))
            return False

        __hash__ = PredicateApp.__hash__

    with pytest.raises(RuntimeError, match="changed size during iteration"):
        m.evaluate(Not(Not(Implies(Meddling("M", 0, ()), p))), w)
    assert m.evaluate(Not(Not(Implies(p, p))), w)
