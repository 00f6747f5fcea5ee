"""Hostile callers: random trees whose sorts, keys, argument lists and fields run a script of caller code
in the middle of every public operation.

Each example builds the same random trees, mappings and Kripke model twice: once from plain objects, once
from objects that run the script whenever the library hashes, compares or reads them (sorts, node
subclasses whose fields are properties, hashable lists of arguments, dict keys and set members that collide
with real ones, world ids). The script mutates or replaces the containers being walked, re-enters the
library, raises or collects garbage. Every operation must then return or raise an ordinary exception (never
SystemError, never a crash or a sanitizer report); when the script only re-enters the library or collects
garbage, the hostile twin must give what the plain one gives.

`check(examples)` runs the property; the test suite calls it in a fresh interpreter.
"""

import copy
import faulthandler
import functools
import gc
import pickle
import sys

from hypothesis import HealthCheck, Phase, given, settings
from hypothesis import strategies as st

import zelqor.core.visitors as visitors
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core import ast
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.sorts import Ind, Sort
from zelqor.core.substitutions import substitute_formula, substitute_term
from zelqor.prover import clausifier
from zelqor.prover.clausifier import Clause, Literal


class Boom(Exception):
    """What the script raises."""


# ---- the script ------------------------------------------------------------------------------


# Called through a C wrapper, which raises SystemError when it returns with an exception set: the
# script's code must never run while the library holds an error it has not reported.
_no_error_pending = functools.lru_cache(maxsize=None)(lambda: None)


class Script:
    """The caller code every hostile object runs: one action per call, in turn, while armed."""

    def __init__(self):
        self.actions, self.step, self.armed, self.depth, self.world = (), 0, False, 0, None

    def __call__(self):
        _no_error_pending()
        if not self.armed or not self.actions or self.depth >= 2:
            return
        action = self.actions[self.step % len(self.actions)]
        self.step += 1
        self.depth += 1
        try:
            action(self.world)
        finally:
            self.depth -= 1


SCRIPT = Script()


def nothing(world):
    pass


def collect(world):
    if not world.collected:  # once per operation: a collection costs milliseconds
        world.collected = True
        gc.collect(0)


def boom(world):
    raise Boom


def reenter(world):
    """A few read-only operations on what is being worked on, with the same visitor objects."""
    f = world.formula
    ast.free_variables(f)
    ast.formula_size(f)
    for visitor in world.visitors[:3]:
        visitor.visit(f)
    substitute_formula(f, dict(world.mapping_copy))
    for g, w in world.questions[:2]:
        world.model.evaluate(g, w)


def mutating(action):
    """A few mutations per operation: a walk whose every step grows what it walks would never end."""

    def limited(world):
        if world.mutations < 3:
            world.mutations += 1
            action(world)

    limited.__name__ = action.__name__
    return limited


@mutating
def clear_containers(world):
    for container in world.containers():
        container.clear()


@mutating
def grow_containers(world):
    for container in world.containers():
        if isinstance(container, dict):
            container.update({Variable(900 + i): Constant("z") for i in range(40)})
        else:
            container.extend(Variable(900 + i) for i in range(40))


@mutating
def replace_state(world):
    for visitor in world.visitors:
        if isinstance(visitor, visitors.SubstitutionTransformer):
            visitor.__init__({})
        elif isinstance(visitor, visitors.ExportVisitor):
            visitor.__setstate__({"notation": "prefix"})
        type(visitor)._dispatch_table = dict(type(visitor)._dispatch_table)
    world.model.valuations, world.model.relations, world.model.worlds = {}, {}, []


@mutating
def rewrite_model(world):
    model = world.model
    for row in list(model.relations.values()):
        row.clear()
    for row in list(model.valuations.values()):
        row.add(PredicateApp("fresh", 0, ()))
    model.worlds.reverse()


BENIGN = [nothing, collect, reenter]
ACTIONS = BENIGN + [boom, clear_containers, grow_containers, replace_state, rewrite_model]


# ---- objects that run the script ------------------------------------------------------------------


class HostileSort(Sort):
    __slots__ = ("label",)

    def __new__(cls, label):
        self = object.__new__(cls)
        object.__setattr__(self, "label", label)
        return self

    def __hash__(self):
        SCRIPT()
        return hash(self.label)

    def __eq__(self, other):
        SCRIPT()
        return self is other

    @property
    def name(self):
        SCRIPT()
        return self.label

    def __reduce__(self):
        return (hostile_sort, (self.label,))

    def __repr__(self):
        return f"HostileSort({self.label!r})"


HOSTILE_IND = HostileSort("Ind")


def hostile_sort(label):
    return HOSTILE_IND


class HostileList(list):
    """Arguments of an application: hashable, and running the script when iterated."""

    def __hash__(self):
        SCRIPT()
        return hash(tuple(list.__iter__(self)))

    def __iter__(self):
        SCRIPT()
        return list.__iter__(self)


class Decoy:
    """A dict key or set member whose hash is that of a real one, and which equals nothing."""

    id = -1  # below every variable's, wherever ids are compared

    def __init__(self, like):
        self.like = hash(like)

    def __hash__(self):
        SCRIPT()
        return self.like

    def __eq__(self, other):
        SCRIPT()
        return False


class HostileInt(int):
    def __hash__(self):
        SCRIPT()
        return int.__hash__(self)

    def __eq__(self, other):
        SCRIPT()
        return int.__eq__(self, other)


def _field(base, name):
    stored = base.__dict__[name]

    def read(self):
        SCRIPT()
        return stored.__get__(self, type(self))

    return property(read)


def _hostile_class(base):
    fields = [name for name, value in vars(base).items() if type(value).__name__ == "member_descriptor"
              and name != "_hash_cache"]
    cls = type("Hostile" + base.__name__, (base,), {"__module__": __name__, **{f: _field(base, f) for f in fields}})
    globals()[cls.__name__] = cls
    return cls


NODE_CLASSES = [Variable, Constant, FunctionApp, PredicateApp, Equality, Not, And, Or, Implies, Iff, Forall, Exists]
HOSTILE = {base: _hostile_class(base) for base in NODE_CLASSES + [Literal]}
OPERATION = {base: "visit_" + "".join("_" + c.lower() if c.isupper() else c for c in base.__name__).lstrip("_")
             for base in NODE_CLASSES}


def _visitor_class(base):
    cls = type("Hostile" + base.__name__, (base,), {"__module__": __name__})
    cls._dispatch_table.update({HOSTILE[node]: OPERATION[node] for node in NODE_CLASSES})
    globals()[cls.__name__] = cls
    return cls


VISITORS = {name: _visitor_class(getattr(visitors, name))
            for name in ["ASTTransformer", "DepthVisitor", "SizeVisitor", "FreeVariableCollector",
                         "SubstitutionTransformer", "ExportVisitor"]}
# The substitution visitor makes its helpers through these names: they must know the hostile classes.
visitors.FreeVariableCollector = VISITORS["FreeVariableCollector"]
visitors.SubstitutionTransformer = VISITORS["SubstitutionTransformer"]


# ---- random blueprints, built twice --------------------------------------------------------------
# Variables 3..5, the constant "h", the function "g" and the predicates "R" and "r" are hostile in the
# hostile twin; connectives are hostile where the blueprint says so.

variable_ids = st.integers(0, 5)
terms = st.recursive(
    st.one_of(st.tuples(st.just("var"), variable_ids), st.tuples(st.just("const"), st.sampled_from("abh"))),
    lambda inner: st.tuples(st.just("fn"), st.sampled_from("fg"), st.lists(inner, max_size=2).map(tuple)),
    max_leaves=4,
)
atoms = st.one_of(
    st.tuples(st.just("pred"), st.sampled_from("PR"), st.lists(terms, max_size=2).map(tuple)),
    st.tuples(st.just("eq"), terms, terms),
)


def _compound(inner):
    return st.one_of(
        st.tuples(st.just("not"), st.booleans(), inner),
        st.tuples(st.sampled_from(["and", "or", "implies", "iff"]), st.booleans(), inner, inner),
        st.tuples(st.sampled_from(["forall", "exists"]), st.booleans(), variable_ids, inner),
    )


formulas = st.recursive(atoms, _compound, max_leaves=6)
propositions = st.recursive(
    st.tuples(st.just("pred"), st.sampled_from("pqr"), st.just(())), _compound, max_leaves=5)
# A replacement of the same group (plain or hostile) as its variable, so that sorts agree.
replacements = st.tuples(variable_ids, st.integers(0, 2), st.sampled_from(["var", "const", "fn"]))
models = st.tuples(
    st.integers(1, 3),
    st.lists(st.tuples(st.integers(0, 2), st.integers(0, 2)), max_size=3),
    st.lists(st.tuples(st.integers(0, 2), st.sampled_from("pqr")), max_size=4),
)

CONNECTIVES = {"not": Not, "and": And, "or": Or, "implies": Implies, "iff": Iff, "forall": Forall, "exists": Exists}


class Twin:
    """One of the two builds: every hostile choice is made only when `hostile` is set."""

    def __init__(self, hostile):
        self.hostile = hostile
        self.lists = []

    def cls(self, base, flag):
        return HOSTILE[base] if self.hostile and flag else base

    def sort(self, flag):
        return HOSTILE_IND if self.hostile and flag else Ind

    def sequence(self, items, flag):
        if self.hostile and flag:
            items = HostileList(items)
            self.lists.append(items)
            return items
        return tuple(items)

    def variable(self, i):
        return self.cls(Variable, i >= 3)(i, sort=self.sort(i >= 3))

    def term(self, spec):
        if spec[0] == "var":
            return self.variable(spec[1])
        if spec[0] == "const":
            flag = spec[1] == "h"
            return self.cls(Constant, flag)(spec[1], sort=self.sort(flag))
        flag = spec[1] == "g"
        args = [self.term(a) for a in spec[2]]
        return self.cls(FunctionApp, flag)(spec[1], len(args), self.sequence(args, flag), self.sort(flag))

    def formula(self, spec):
        kind = spec[0]
        if kind == "pred":
            flag = spec[1] in "Rr"
            args = [self.term(a) for a in spec[2]]
            return self.cls(PredicateApp, flag)(spec[1], len(args), self.sequence(args, flag))
        if kind == "eq":
            # Equal atoms must be of one class, or a tautology would not be one.
            return self.cls(Equality, len(repr(spec)) % 2 == 1)(self.term(spec[1]), self.term(spec[2]))
        cls = self.cls(CONNECTIVES[kind], spec[1])
        if kind == "not":
            return cls(self.formula(spec[2]))
        if kind in ("forall", "exists"):
            return cls(self.variable(spec[2]), self.formula(spec[3]))
        return cls(self.formula(spec[2]), self.formula(spec[3]))

    def replacement(self, key, index, kind):
        group = 3 if key >= 3 else 0
        if kind == "var":
            return self.variable(group + index)
        if kind == "const":
            return self.term(("const", "h" if group else "ab"[index % 2]))
        return self.term(("fn", "g" if group else "f", (("var", group + index),)))

    def world(self, i):
        return World(HostileInt(i) if self.hostile else i, f"w{i}")

    def model(self, spec):
        count, relations, valuations = spec
        worlds = [self.world(i) for i in range(count)]
        model = KripkeModel()
        for w in worlds:
            model.add_world(w)
        for a, b in relations:
            if a < count and b < count:
                model.add_relation(worlds[a], worlds[b])
        for a, name in valuations:
            if a < count:
                model.add_valuation(worlds[a], self.formula(("pred", name, ())))
        if self.hostile:
            for w in worlds:
                model.valuations[Decoy(w)] = {Decoy(PredicateApp("p", 0, ()))}
                model.valuations[w].add(Decoy(PredicateApp("q", 0, ())))
        return model, worlds


class World_:
    """Everything one build works on; the script reaches it through SCRIPT.world."""

    def __init__(self, twin, formula, term, mapping, model, worlds, questions):
        self.twin, self.formula, self.term = twin, formula, term
        self.mapping = mapping
        self.mapping_copy = dict(mapping)
        self.model, self.worlds, self.questions = model, worlds, questions
        visitor_mapping = dict(mapping)
        if twin.hostile and mapping:
            visitor_mapping[Decoy(next(iter(mapping)))] = Constant("decoy")
        self.visitors = [VISITORS["SizeVisitor"](), VISITORS["FreeVariableCollector"](),
                         VISITORS["ExportVisitor"]("latex"), VISITORS["ASTTransformer"](),
                         VISITORS["DepthVisitor"](), VISITORS["SubstitutionTransformer"](visitor_mapping)]

    def containers(self):
        yield self.mapping
        yield from self.twin.lists
        yield self.visitors[-1].mapping
        yield self.model.valuations


def build(hostile, formula_spec, term_spec, mapping_spec, model_spec, question_specs):
    twin = Twin(hostile)
    formula = twin.formula(formula_spec)
    term = twin.term(term_spec)
    mapping = {twin.variable(k): twin.replacement(k, i, kind) for k, i, kind in mapping_spec}
    model, worlds = twin.model(model_spec)
    questions = [(twin.formula(q), worlds[i % len(worlds)]) for q, i in question_specs]
    return World_(twin, formula, term, mapping, model, worlds, questions)


# ---- the operations --------------------------------------------------------------------------------


def _clauses(f):
    clausifier.reset_skolem_counters()
    return clausifier.to_cnf(f)


def operations(world):
    f, t, m = world.formula, world.term, world.mapping
    model = world.model
    v = world.visitors
    yield "free_variables", lambda: ast.free_variables(f)
    yield "bound_variables", lambda: ast.bound_variables(f)
    yield "formula_depth", lambda: ast.formula_depth(f)
    yield "formula_size", lambda: ast.formula_size(f)
    yield "canonicalize", lambda: ast.canonicalize_bound_variables(f)
    yield "hash", lambda: hash(f) == hash(copy.copy(f))
    yield "equality", lambda: f == pickle.loads(pickle.dumps(f))
    yield "repr", lambda: isinstance(repr(f), str)
    for i, visitor in enumerate(v):
        yield f"visit {i}", lambda visitor=visitor: visitor.visit(f)
    yield "visit term", lambda: v[1].visit(t)
    yield "export prefix", lambda: VISITORS["ExportVisitor"]("prefix").visit(f)
    yield "substitute_formula", lambda: substitute_formula(f, m)
    yield "substitute_term", lambda: substitute_term(t, m)
    for name in ["eliminate_implications", "to_nnf", "standardize_variables"]:
        yield name, lambda name=name: getattr(clausifier, name)(f)
    yield "skolemize", lambda: (clausifier.reset_skolem_counters(), clausifier.skolemize(clausifier.to_nnf(f)))[1]
    yield "to_cnf", lambda: _clauses(f)
    yield "negate_and_clausify", lambda: (clausifier.reset_skolem_counters(), clausifier.negate_and_clausify(f))[1]
    yield "clauses", lambda: [(c.free_variables(), c.is_tautology) for c in _clauses(f)]
    yield "clause substitution", lambda: [c.substitute(m) for c in _clauses(f)]
    yield "texts", lambda: [str(c) for c in _clauses(f)]
    atom = next((a for a in _atoms(f)), None)
    if atom is not None:
        literal_class = world.twin.cls(Literal, world.twin.hostile)
        yield "literal", lambda: (literal_class(atom).substitute(m), literal_class(atom).negate(),
                                  literal_class(atom).free_variables())
        yield "literal text", lambda: str(literal_class(atom, False))
        yield "clause", lambda: Clause(frozenset({literal_class(atom), Literal(atom, False)})).free_variables()
    for i, (g, w) in enumerate(world.questions):
        yield f"evaluate {i}", lambda g=g, w=w: model.evaluate(g, w)
    yield "accessible", lambda: [model.accessible_worlds(w) for w in world.worlds]
    yield "to_dict", lambda: model.to_dict()
    yield "add_relation", lambda: model.add_relation(world.worlds[0], world.worlds[-1])
    yield "add_valuation", lambda: model.add_valuation(world.worlds[-1], PredicateApp("s", 0, ()))
    yield "model after", lambda: (model.worlds, model.relations, model.valuations)


def _atoms(f):
    if isinstance(f, (PredicateApp, Equality)):
        yield f
    elif isinstance(f, Not):
        yield from _atoms(Not.operand.__get__(f))
    elif isinstance(f, (Forall, Exists)):
        yield from _atoms(Forall.body.__get__(f) if isinstance(f, Forall) else Exists.body.__get__(f))
    elif isinstance(f, (And, Or, Implies, Iff)):
        base = next(b for b in (And, Or, Implies, Iff) if isinstance(f, b))
        yield from _atoms(base.left.__get__(f))


def outcome(operation):
    """What an operation gives: ("ok", value) or ("raised", exception type)."""
    try:
        return "ok", operation()
    except Exception as error:  # noqa: BLE001 - any ordinary exception is a fine answer
        assert not isinstance(error, SystemError), repr(error)
        return "raised", type(error)


# ---- comparing the twins ------------------------------------------------------------------------------

def plain(value):
    """A hostile twin's value as the plain twin would show it (read with the script disarmed)."""
    for base in NODE_CLASSES:
        if isinstance(value, base):
            fields = [name for name in vars(base) if type(vars(base)[name]).__name__ == "member_descriptor"
                      and not name.startswith("_")]
            return (base.__name__, *[plain(vars(base)[name].__get__(value)) for name in fields])
    if isinstance(value, Literal):
        return ("Literal", plain(Literal.atom.__get__(value)), bool(Literal.positive.__get__(value)))
    if isinstance(value, Clause):
        return ("Clause", plain(value.literals))
    if isinstance(value, World):
        return ("World", int(value.id), value.name)
    if isinstance(value, Sort):
        return value.label if isinstance(value, HostileSort) else value.name
    if isinstance(value, (set, frozenset)):
        return frozenset(plain(v) for v in value if not isinstance(v, Decoy))
    if isinstance(value, dict):
        return frozenset((plain(k), plain(v)) for k, v in value.items() if not isinstance(k, Decoy))
    if isinstance(value, (list, tuple)):
        return tuple(plain(v) for v in value)
    if isinstance(value, HostileInt):
        return int(value)
    return value


# Texts name the hostile classes, and the hostile model's valuation sets hold decoys. The clausifier's
# fresh variables are plain ones, which the hostile twin's mapping keys never equal.
NOT_COMPARED = {"texts", "literal text", "to_dict", "clause substitution"}


def run(hostile, script, specs):
    """Every operation on one build, the script armed around each: [(name, outcome)]."""
    SCRIPT.armed = False
    world = build(hostile, *specs)
    SCRIPT.world, SCRIPT.actions, SCRIPT.step = world, script, 0
    results = []
    for name, operation in operations(world):
        world.collected, world.mutations = False, 0
        SCRIPT.armed = True
        result = outcome(operation)
        SCRIPT.armed = False
        results.append((name, result))
    SCRIPT.world = None
    return results


@st.composite
def examples(draw):
    script = tuple(draw(st.lists(st.sampled_from(ACTIONS), min_size=1, max_size=4)))
    delay = draw(st.integers(0, 6))
    specs = (draw(formulas), draw(terms), draw(st.lists(replacements, max_size=2, unique_by=lambda r: r[0])),
             draw(models), draw(st.lists(st.tuples(propositions, st.integers(0, 2)), min_size=1, max_size=3)))
    return script, delay, specs


def check(max_examples, derandomize=True):
    # Derandomized: the same examples on every run of one version of this file. No explanation phase: its
    # tracer runs code of its own inside every callback.
    @settings(max_examples=max_examples, deadline=None, database=None, report_multiple_bugs=False, derandomize=derandomize,
              phases=[Phase.generate, Phase.shrink],
              suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
    @given(examples())
    def hostile_callers(example):
        faulthandler.dump_traceback_later(300, exit=True)  # a walk that never ends shows where it is
        script, delay, specs = example
        plain_run, hostile_run = run(False, (), specs), run(True, script, specs)
        # Each kind of harm on its own too, after a few callbacks that do nothing.
        for action in ACTIONS[len(BENIGN):]:
            run(True, (nothing,) * delay + (action,) + (nothing,) * 3, specs)
        if all(action in BENIGN for action in script):
            for (name, expected), (_, got) in zip(plain_run, hostile_run):
                if name in NOT_COMPARED:
                    continue
                assert expected[0] == got[0], (name, expected, got)
                if got[0] == "ok":
                    assert plain(got[1]) == plain(expected[1]), name
                else:
                    assert got[1] is expected[1], (name, expected, got)
        gc.collect()

    try:
        hostile_callers()
    finally:
        faulthandler.cancel_dump_traceback_later()


if __name__ == "__main__":
    check(int(sys.argv[1]) if len(sys.argv) > 1 else 100)
    print("ok")
