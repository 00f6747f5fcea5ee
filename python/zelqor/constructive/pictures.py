"""Pictures of Kripke models: Graphviz DOT text, and SVG or PNG through ``dot``.

Worlds are drawn as boxes labelled with their name and the atoms they force,
the order as its Hasse diagram: an arrow from a world to each world just above
it, none for reflexivity or for what transitivity implies. Worlds that see
each other are joined by a double-headed arrow. The root sits at the bottom.
A world can be marked, such as the one where a formula fails.
"""

import shutil
import subprocess

from zelqor.constructive.formula_text import formula_text

__all__ = ["hasse_diagram", "to_dot", "render", "dot_available"]

_FORMATS = ("svg", "png", "pdf")


def _worlds(model):
    """The model's worlds in list order, then those found only in its rows, without repeats."""
    seen, order = set(), []
    for w in model.worlds:
        if w not in seen:
            seen.add(w)
            order.append(w)
    for w in list(order):
        for v in model.relations.get(w, ()):
            if v not in seen:
                seen.add(v)
                order.append(v)
    return order


def hasse_diagram(model):
    """The covering pairs of the model's order, as (lower, upper) worlds.

    A pair (u, v) is listed when v is accessible from u, u is not accessible
    from v, and no third world lies strictly between them. Worlds that see each
    other are listed both ways, as a chain through their class.
    """
    worlds = _worlds(model)
    above = {w: set(model.relations.get(w, ())) | {w} for w in worlds}
    # Classes of worlds that see each other, and the order between classes.
    cls = {}
    classes = []
    for w in worlds:
        if w in cls:
            continue
        members = [v for v in worlds if v in above[w] and w in above[v]]
        for v in members:
            cls[v] = len(classes)
        classes.append(members)
    strictly = [set() for _ in classes]
    for i, members in enumerate(classes):
        for v in set().union(*(above[m] for m in members)):
            if v in cls and cls[v] != i:
                strictly[i].add(cls[v])
    pairs = []
    for i, members in enumerate(classes):
        for a, b in zip(members, members[1:]):
            pairs.append((a, b))
            pairs.append((b, a))
        implied = set().union(*(strictly[j] for j in strictly[i])) if strictly[i] else set()
        for j in sorted(strictly[i] - implied):
            pairs.append((members[0], classes[j][0]))
    return pairs


def _quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def to_dot(model, *, failing=None, title=None):
    """Graphviz DOT text of a Kripke model.

    `failing` marks one world (drawn bold, in red, with a double border);
    `title` is written above the picture.
    """
    worlds = _worlds(model)
    number = {w: i for i, w in enumerate(worlds)}
    lines = ["digraph kripke {", "  rankdir=BT;", '  node [shape=box, style=rounded, fontname="Helvetica"];',
             '  edge [arrowsize=0.7];']
    if title is not None:
        lines.append(f"  label={_quoted(str(title))}; labelloc=t;")
    for w in worlds:
        atoms = sorted(formula_text(f) for f in model.valuations.get(w, ()))
        label = f"{w.name}\n{', '.join(atoms) if atoms else '∅'}"
        extra = ', color="#c0392b", fontcolor="#c0392b", penwidth=2, peripheries=2' if w == failing else ""
        lines.append(f"  w{number[w]} [label={_quoted(str(label))}{extra}];")
    pairs = hasse_diagram(model)
    listed, drawn = set(pairs), set()
    for lower, upper in pairs:
        if (upper, lower) in drawn:
            continue
        drawn.add((lower, upper))
        both = " [dir=both]" if (upper, lower) in listed else ""
        lines.append(f"  w{number[lower]} -> w{number[upper]}{both};")
    lines.append("}")
    return "\n".join(lines) + "\n"


def dot_available():
    """Whether the Graphviz ``dot`` program is on the PATH."""
    return shutil.which("dot") is not None


def render(model, path=None, *, format=None, failing=None, title=None):
    """Draw a Kripke model with Graphviz ``dot``.

    Writes the picture to `path` when one is given (its suffix chooses the
    format unless `format` does) and returns the path; without a path returns
    the picture's bytes (SVG unless `format` says otherwise). Raises
    RuntimeError when ``dot`` is not installed or fails.
    """
    if format is None:
        suffix = str(path).rsplit(".", 1)[-1].lower() if path is not None and "." in str(path) else "svg"
        format = suffix if suffix in _FORMATS else "svg"
    if format not in _FORMATS:
        raise ValueError(f"format must be one of {', '.join(_FORMATS)}, not {format!r}")
    program = shutil.which("dot")
    if program is None:
        raise RuntimeError("Graphviz 'dot' is not installed (Debian package graphviz)")
    text = to_dot(model, failing=failing, title=title)
    done = subprocess.run([program, f"-T{format}"], input=text.encode(), capture_output=True, timeout=120,
                          check=False)
    if done.returncode != 0:
        raise RuntimeError(f"dot failed: {done.stderr.decode(errors='replace').strip()}")
    if path is None:
        return done.stdout
    with open(path, "wb") as out:
        out.write(done.stdout)
    return path
