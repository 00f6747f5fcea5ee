"""Pictures of Kripke models: DOT text with the Hasse diagram, and SVG/PNG through dot."""

import re

import pytest

import zelqor.constructive.pictures as pictures
from zelqor.constructive.decide import decide
from zelqor.constructive.kripke import KripkeModel, World
from zelqor.constructive.pictures import dot_available, hasse_diagram, render, to_dot

from propositional import p, q

w0, w1, w2, w3 = (World(i, f"w{i}") for i in range(4))
needs_dot = pytest.mark.skipif(not dot_available(), reason="Graphviz dot is not installed")


def edges(text):
    return sorted(re.findall(r"(w\d+) -> (w\d+)", text))


def diamond():
    model = KripkeModel()
    for a, b in ((w0, w1), (w0, w2), (w1, w3), (w2, w3)):
        model.add_relation(a, b)
    model.add_valuation(w1, p)
    model.add_valuation(w2, q)
    return model


def test_only_covering_pairs_are_drawn():
    model = diamond()
    assert model.is_accessible(w0, w3)  # closed under transitivity...
    text = to_dot(model)
    # ...but w0 -> w3 and the loops are not drawn.
    assert edges(text) == [("w0", "w1"), ("w0", "w2"), ("w1", "w3"), ("w2", "w3")]
    assert set(hasse_diagram(model)) == {(w0, w1), (w0, w2), (w1, w3), (w2, w3)}


def test_labels_show_names_and_forced_atoms():
    text = to_dot(diamond())
    assert 'label="w0\\n∅"' in text
    assert 'label="w3\\np, q"' in text


def test_the_failing_world_is_marked():
    result = decide(p)  # an atom fails at a world that forces nothing
    text = to_dot(result.model, failing=result.world, title="p")
    marked = [line for line in text.splitlines() if "peripheries=2" in line]
    assert len(marked) == 1 and "w0" in marked[0]
    assert 'label="p"; labelloc=t;' in text


def test_names_are_escaped():
    odd = World(0, 'a "quoted" \\ name')
    model = KripkeModel()
    model.add_world(odd)
    assert '"a \\"quoted\\" \\\\ name\\n∅"' in to_dot(model)


def test_worlds_that_see_each_other_get_one_double_arrow():
    model = KripkeModel()
    model.add_relation(w0, w1)
    model.add_relation(w1, w0)
    model.add_relation(w1, w2)
    text = to_dot(model)
    assert "w0 -> w1 [dir=both];" in text
    assert len(re.findall(r"w\d -> w\d", text)) == 2


@needs_dot
def test_svg_and_png_through_dot(tmp_path):
    model = diamond()
    svg = render(model)
    assert b"<svg" in svg and b"w3" in svg
    target = tmp_path / "model.png"
    assert render(model, target, failing=w0) == target
    assert target.read_bytes().startswith(b"\x89PNG")


def test_without_dot_rendering_says_so(monkeypatch):
    monkeypatch.setattr(pictures.shutil, "which", lambda name: None)
    assert not dot_available()
    with pytest.raises(RuntimeError, match="graphviz"):
        render(diamond())
    with pytest.raises(ValueError, match="format"):
        render(diamond(), format="gif")
