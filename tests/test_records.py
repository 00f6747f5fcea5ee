"""The immutable records of every module (nodes, literals, clauses, worlds) share one contract."""

import copy
import dataclasses
import pickle

import pytest

from zelqor.constructive.kripke import World
from zelqor.core.ast import FunctionApp, Not, PredicateApp, Variable
from zelqor.prover.clausifier import Clause, Literal

P = PredicateApp("P", 0, ())

# class, constructor arguments, fields, __match_args__
RECORDS = [
    (Not, (P,), ["operand"], ("operand",)),
    (Variable, (3,), ["sort", "id", "kind"], ("id", "kind")),
    (FunctionApp, ("f", 0, ()), ["sort", "func", "arity", "args", "return_sort"],
     ("func", "arity", "args", "return_sort")),
    (Literal, (P, False), ["atom", "positive"], ("atom", "positive")),
    (Clause, (frozenset({Literal(P)}),), ["literals"], ("literals",)),
    (World, (0, "w0"), ["id", "name"], ("id", "name")),
]
IDS = [r[0].__name__ for r in RECORDS]


@pytest.mark.parametrize("cls, args, fields, match_args", RECORDS, ids=IDS)
def test_own_class_refuses_every_assignment(cls, args, fields, match_args):
    record = cls(*args)
    for name in [*fields, "anything_else"]:
        with pytest.raises(dataclasses.FrozenInstanceError, match=f"^cannot assign to field '{name}'$"):
            setattr(record, name, None)
        with pytest.raises(dataclasses.FrozenInstanceError, match=f"^cannot delete field '{name}'$"):
            delattr(record, name)
    assert cls.__match_args__ == match_args
    assert copy.copy(record) == record and copy.deepcopy(record) == record


@pytest.mark.parametrize("cls, args, fields, match_args", RECORDS, ids=IDS)
def test_subclass_takes_its_own_attributes_but_not_the_fields(cls, args, fields, match_args):
    sub = type("Sub" + cls.__name__, (cls,), {})
    record = sub(*args)
    record.note = "kept"
    for name in fields:
        with pytest.raises(dataclasses.FrozenInstanceError, match=f"^cannot assign to field '{name}'$"):
            setattr(record, name, None)
    globals()[sub.__name__] = sub  # picklable by name
    try:
        clone = pickle.loads(pickle.dumps(record))
    finally:
        del globals()[sub.__name__]
    assert type(clone) is sub and clone == record and clone.note == "kept"
