"""World: construction, value semantics, text forms, immutability, pickling."""

import copy
import dataclasses
import pickle

import pytest

from zelqor.constructive.kripke import World


def test_construction_by_position_or_keyword():
    w = World(0, "w0")
    assert (w.id, w.name) == (0, "w0")
    assert World(name="w0", id=0) == w
    assert World(-3, 5).id == -3  # nothing is validated
    with pytest.raises(TypeError, match=r"missing 1 required positional argument: 'name'"):
        World(0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'label'"):
        World(0, "w0", label="x")
    with pytest.raises(TypeError, match="takes 3 positional arguments but 4 were given"):
        World(0, "w0", 1)


def test_equality_and_hash():
    w = World(0, "w0")
    assert w == World(0, "w0") and not (w != World(0, "w0"))
    assert w != World(0, "x") and w != World(1, "w0")
    assert w != (0, "w0") and w != "w0"
    assert hash(w) == hash(World(0, "w0")) == hash((0, "w0"))
    assert len({w, World(0, "w0"), World(0, "x")}) == 2
    with pytest.raises(TypeError):
        w < World(1, "w1")

    class Tagged(World):
        pass

    assert Tagged(0, "w0") != w and w != Tagged(0, "w0")
    assert Tagged(0, "w0") == Tagged(0, "w0")


def test_unhashable_field_fails_on_hash_only():
    w = World([1], "w")
    with pytest.raises(TypeError, match="unhashable"):
        hash(w)
    assert w == World([1], "w")


def test_text_forms():
    w = World(0, "w0")
    assert repr(w) == "World(id=0, name=w0)"
    assert str(w) == "w0" and f"{w}" == "w0"
    assert repr(World(7, "a b")) == "World(id=7, name=a b)"
    with pytest.raises(TypeError, match="^Expected str, got int$"):
        str(World(0, 5))
    assert World(0, None).__str__() is None
    with pytest.raises(TypeError):
        str(World(0, None))


def test_frozen():
    w = World(0, "w0")
    for name in ("id", "name", "other"):
        with pytest.raises(dataclasses.FrozenInstanceError, match=f"cannot assign to field '{name}'"):
            setattr(w, name, 1)
    with pytest.raises(dataclasses.FrozenInstanceError, match="cannot delete field 'name'"):
        del w.name
    assert (w.id, w.name) == (0, "w0")

    class Tagged(World):
        pass

    t = Tagged(1, "w1")
    t.note = "extra"  # a subclass may carry attributes of its own...
    with pytest.raises(dataclasses.FrozenInstanceError):
        t.id = 2  # ...but not reassign the fields


def test_pickle_copy_and_match():
    w = World(3, "w3")
    assert pickle.loads(pickle.dumps(w)) == w
    assert copy.copy(w) is w and copy.deepcopy(w) is w
    match w:
        case World(3, name):
            assert name == "w3"
        case _:
            pytest.fail("no match")
