"""Reader and writer operations, error paths included, for the leak and robustness checks."""

import random

from zelqor.core.exceptions import TPTPError
from zelqor.tptp import _native, parse_formula

SAMPLE = b"""% a sample of what the reader meets
fof(ax1, axiom, ! [X, Y] : (p(X, f(Y)) => (q(X) | ~ r(Y, 'a b')))).
fof(ax2, hypothesis, ? [Z] : (Z = c & Z != "obj" & $true)).
fof(ax3, axiom, (p(a, f(b)) <~> q(c)) ~| ($false <= r(a, 12))).
cnf(c1, negated_conjecture, ~ q(X) | X = a | ~ (r(X, Y)), file('x', y)).
tff(t1, type, s: $tType).
tff(t2, type, g: (s * $i) > s).
tff(t3, type, h: s > $o).
tff(f1, axiom, ! [U: s, V] : (h(g(U, V)) | U = g(U, c))).
include('inc.ax', [i1]).
"""

INCLUDED = b"fof(i1, axiom, q(a)).\nfof(i2, axiom, q(b)).\n"


def resolver(name, including):
    if name == "inc.ax":
        return "inc.ax", INCLUDED
    raise LookupError(f"no file {name}")


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        choice = rng.random()
        at = rng.randrange(len(data) + 1)
        if choice < 0.3 and data:
            del data[at:at + rng.randint(1, 8)]
        elif choice < 0.6:
            data[at:at] = bytes(rng.choice(b"()[],.:!?~&|=<>'\"%/*$-+0aXZ \n\t\x00\xff") for _ in range(rng.randint(1, 3)))
        elif choice < 0.8 and data:
            start = rng.randrange(len(data))
            data[at:at] = data[start:start + rng.randint(1, 40)]
        elif data:
            data[min(at, len(data) - 1)] = rng.randrange(256)
    return bytes(data)


def fuzz(rounds, seed=1):
    """Random mutations of the sample: each reads or fails with TPTPError. Returns how many read."""
    rng = random.Random(seed)
    read = 0
    for _ in range(rounds):
        data = mutate(SAMPLE, rng)
        try:
            _native.parse_problem(data, "fuzz.p", resolver)
            read += 1
        except TPTPError:
            pass
    return read


def operations():
    records = _native.parse_problem(SAMPLE, "s.p", resolver)
    for formula in records[0]:
        _native.write_annotated(formula[2], formula[0], formula[1], formula[3], formula[6])
    for bad in (b"fof(a, axiom, p(X)).", b"fof(a, axiom, p & q | r).", b"include('nowhere.p').",
                b"fof(a, axiom, 'unterminated).", b"tff(a, type, t: $int).", b"\xff\x00"):
        try:
            _native.parse_problem(bad, "bad.p", resolver)
        except TPTPError:
            pass
    parse_formula("! [X] : (p(X) <=> ~ q(X))")
    try:
        parse_formula("p(", "cnf")
    except TPTPError:
        pass
    fuzz(5, seed=7)
