"""to_dict, to_string and the text form of a model."""

import pytest

import zelqor.constructive.kripke as kripke
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import Implies, PredicateApp

w0, w1 = World(0, "w0"), World(1, "w1")
p, q = PredicateApp("P", 0, ()), PredicateApp("Q", 0, ())
HEAD = ["Kripke Model (W, <=, V):"]


def test_empty_model():
    m = KripkeModel()
    assert m.to_dict() == {"worlds": [], "relations": {}, "valuations": {}}
    assert m.to_string() == "\n".join(HEAD + ["  Worlds: empty", "  Accessibility Relation (<=):", "  Valuations V(w):"])


def test_one_world():
    m = KripkeModel()
    m.add_world(w0)
    assert m.to_dict() == {"worlds": ["w0"], "relations": {"w0": ["w0"]}, "valuations": {"w0": []}}
    assert str(m) == m.to_string() == "\n".join(HEAD + [
        "  Worlds: w0", "  Accessibility Relation (<=):", "    w0 <= {w0}", "  Valuations V(w):", "    V(w0) = {empty}"])


def test_orders_and_sorting():
    m = KripkeModel()
    m.add_world(w1)
    m.add_relation(w1, w0)
    m.add_valuation(w1, q)
    m.add_valuation(w1, Implies(p, q))
    d = m.to_dict()
    assert list(d) == ["worlds", "relations", "valuations"]
    assert d["worlds"] == ["w1", "w0"] and list(d["relations"]) == ["w1", "w0"]
    assert d["relations"]["w1"] == ["w0", "w1"]
    assert d["valuations"]["w1"] == sorted(["Q", "(P → Q)"])
    lines = m.to_string().split("\n")
    assert lines[1] == "  Worlds: w1, w0" and lines[3] == "    w1 <= {w0, w1}"
    assert lines[6] == "    V(w1) = {(P → Q), Q}" and lines[7] == "    V(w0) = {(P → Q), Q}"
    assert not m.to_string().endswith("\n")


def test_constructor_data_and_duplicate_names():
    twin = World(5, "w0")
    m = KripkeModel([w0, twin], {twin: {w1}}, {w0: {p}})
    assert m.to_string().split("\n")[3:5] == ["    w0 <= {}", "    w0 <= {w1}"]
    d = m.to_dict()
    assert d["worlds"] == ["w0", "w0"]
    assert d["relations"] == {"w0": ["w1"]} and d["valuations"] == {"w0": []}  # the last one wins
    assert m.to_string().split("\n")[-2:] == ["    V(w0) = {P}", "    V(w0) = {empty}"]


def test_printer_is_read_at_call_time(monkeypatch):
    m = KripkeModel()
    m.add_valuation(w0, p)
    monkeypatch.setattr(kripke, "to_string", lambda f: "<" + f.pred + ">")
    assert m.to_dict()["valuations"] == {"w0": ["<P>"]}
    assert m.to_string().endswith("V(w0) = {<P>}")
    monkeypatch.setattr(kripke, "to_string", lambda f: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        m.to_dict()


def test_overridden_to_string_is_the_text_form():
    class Short(KripkeModel):
        def to_string(self):
            return "short"

    assert str(Short()) == "short"
