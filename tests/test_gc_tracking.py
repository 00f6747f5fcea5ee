"""The cycle collector sees every node, literal and clause that could be part of a cycle, and is spared
the ones that never can."""

import gc
import weakref

import pytest

from zelqor.core.ast import And, Constant, FunctionApp, Not, PredicateApp, Variable
from zelqor.core.sorts import PrimitiveSort
from zelqor.prover.clausifier import Clause, Literal


class Probe:
    """Rides inside a cycle: its weak reference dies when the cycle is collected."""


class Name(str):
    """A str whose instances carry a __dict__."""


def collected(build):
    """Builds a cycle through `build(container)`, drops it, and tells whether the collector freed it.

    The container holds nothing the collector watches while the value is built: a dict like that is
    untracked until it receives such an object.
    """
    container = {"size": 1}
    value = build(container)
    probe = Probe()
    container["probe"], container["me"] = probe, value
    alive = weakref.ref(probe)
    del container, value, probe
    gc.collect()
    return alive() is None


@pytest.mark.parametrize("build", [
    lambda d: Constant(d),
    lambda d: Variable(0, kind=d),
    lambda d: Variable(0, sort=d),
], ids=["constant name", "variable kind", "variable sort"])
def test_cycles_through_a_dict_in_a_node_are_collected(build):
    assert collected(build)


def test_cycles_through_a_sort_are_collected():
    def build(container):
        name = Name(f"Odd{id(container)}")
        name.container = container
        return Variable(0, sort=PrimitiveSort(name))
    assert collected(build)


@pytest.mark.parametrize("cls", ["literal", "clause"])
def test_subclass_instances_with_a_dict_are_tracked(cls):
    class SubLiteral(Literal):
        pass

    class SubClause(Clause):
        pass

    def build(container):
        atom = PredicateApp("P", 0, ())
        value = SubLiteral(atom) if cls == "literal" else SubClause(frozenset({Literal(atom)}))
        value.container = container
        return value

    assert collected(build)


def test_subclass_nodes_are_collected():
    class SubNot(Not):
        pass

    def build(container):
        node = SubNot(PredicateApp("P", 0, ()))
        node.container = container
        return node

    assert collected(build)


def test_trees_of_plain_values_stay_out_of_the_collector():
    x = Variable(0)
    atom = PredicateApp("P", 2, (x, FunctionApp("f", 1, (Constant("c"),))))
    formula = And(Not(atom), atom)
    literal = Literal(atom, False)
    clause = Clause(frozenset({literal, Literal(atom)}))
    for value in (x, atom, formula, literal, clause, Variable(1, sort=PrimitiveSort("Nat"))):
        assert not gc.is_tracked(value), value
    # Anything that may hold a cycle later is watched.
    assert gc.is_tracked(PredicateApp("P", 1, (Constant(Name("c")),)))
    assert gc.is_tracked(Variable(0, kind=[]))
