"""The parametrised families of the ILTP propositional library (SYJ201-SYJ212), written at any size.

The corpus holds sizes 1 to 15; the library's own comparison also ran sizes 16 to 20. These
writers follow the corpus files (from size 2 on the formulas read back equal; at size 1 the
library writes the pigeonhole conclusions as a plain disjunction) so that larger sizes can be
benchmarked the same way:

    python bench/iltp_families.py FOLDER [FIRST LAST]     # default sizes 16 to 20
"""

import os
import sys


def _nest(op, parts):
    result = parts[-1]
    for part in reversed(parts[:-1]):
        result = f"( {part} {op} {result} )"
    return result


def _problem(axioms, conjecture):
    text = "".join(f"fof(axiom{i},axiom,(\n{a})).\n\n" for i, a in enumerate(axioms, 1))
    return text + f"fof(con,conjecture,(\n{conjecture}\n)).\n"


def _ring(m):
    everything = _nest("&", [f"p{i}" for i in range(1, m + 1)])
    return [f"( ( p{i} <=> p{i % m + 1})  => {everything})" for i in range(1, m + 1)], everything


def _pigeons(n, doubly_negated_last_hole):
    axioms = []
    for p in range(1, n + 2):
        atoms = [f"o{p}{h}" for h in range(1, n + 1)]
        if doubly_negated_last_hole:
            atoms[-1] = f"~(~({atoms[-1]}))"
        axioms.append(_nest("|", atoms))
    pairs = [f"( o{a}{h} & o{b}{h} )" for h in range(1, n + 1) for a in range(1, n + 2) for b in range(a + 1, n + 2)]
    return axioms, _nest("|", pairs)


def _equivalences(n, first):
    left = first
    for i in range(2, n + 1):
        left = f"( {left} <=> a{i}) "
    right = "a1"
    for i in range(2, n + 1):
        right = f"( a{i} <=> {right}) "
    return f"( {left} <=> {right}) "


def families(n):
    """(name, intuitionistic status, TPTP text) of every family at size n."""
    ps = [f"p{i}" for i in range(1, n + 1)]
    ring, everything = _ring(2 * n + 1)
    yield "SYJ201", "Theorem", _problem(ring, everything)
    yield "SYJ202", "Theorem", _problem(*_pigeons(n, False))
    failing = " | ".join(f"( p{i} => f) " for i in range(1, n + 1))
    yield "SYJ203", "Theorem", _problem([f"( ( {_nest('&', ps)} | {_nest('|', failing.split(' | '))} ) => f)"], "f")
    chain = [f"( p{i} => ( p{i} => p{i - 1}) ) " for i in range(1, n + 1)]
    yield "SYJ204", "Theorem", _problem([f"p{n}"] + chain, "p0")
    a, b = "( a0 => f) ", f"( ( b{n} => b0)  => a{n}) "
    c = [f"( ( b{i - 1} => a{i})  => a{i - 1}) " for i in range(1, n + 1)]
    yield "SYJ205", "Theorem", _problem([], f"( ( {_nest('&', [a, b] + c)} => f)  & "
                                            f"( {_nest('&', list(reversed(c)) + [b, a])} => f)  )")
    yield "SYJ206", "Theorem", _problem([], _equivalences(n, "a1"))
    ring, everything = _ring(2 * n)
    yield "SYJ207", "Non-Theorem", _problem(ring, f"( p0 | ( {everything} | ~(p0) ) )")
    yield "SYJ208", "Non-Theorem", _problem(*_pigeons(n, True))
    failing = ["( ~(~(p1)) => f) "] + [f"( p{i} => f) " for i in range(2, n + 1)]
    yield "SYJ209", "Non-Theorem", _problem([f"( ( {_nest('&', ps)} | {_nest('|', failing)} ) => f)"], "f")
    yield "SYJ210", "Non-Theorem", _problem([f"~(~(p{n}))"] + chain, "p0")
    c = [f"( ( ~(~(b{i - 1})) => a{i})  => a{i - 1}) " for i in range(1, n + 1)]
    yield "SYJ211", "Non-Theorem", _problem(["( a0 => f) ", f"( ( ~(~(b{n})) => b0)  => a{n}) "] + c, "f")
    yield "SYJ212", "Non-Theorem", _problem([], _equivalences(n, "~(~(a1))"))


def write(folder, first=16, last=20):
    """Write every family at sizes first..last into `folder` as NAME+1.SIZE.p; returns the paths."""
    os.makedirs(folder, exist_ok=True)
    paths = []
    for n in range(first, last + 1):
        for name, status, text in families(n):
            path = os.path.join(folder, f"{name}+1.{n:03d}.p")
            with open(path, "w") as out:
                out.write(f"% Generated at size {n}, as the library writes its files\n"
                          f"% Status (intuit.) : {status}\n{text}")
            paths.append(path)
    return paths


if __name__ == "__main__":
    sizes = [int(a) for a in sys.argv[2:4]] or [16, 20]
    for path in write(sys.argv[1], *sizes):
        print(path)
