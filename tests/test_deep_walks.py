"""Chains far deeper than any stack through every walk, at any recursion limit and thread stack size.

Each walk gives a result or RecursionError (or the precise error a clausifier
step gives for input it does not take), never a crash. The walks run in a
subprocess (deep_walks.py), which names the walk that killed it if one does.
"""

import os
import subprocess
import sys

import pytest

TESTS = os.path.dirname(os.path.abspath(__file__))
# Steps that refuse input outside their domain (implications left, not in
# negation normal form) with ValueError or AssertionError.
CHECKED_STEPS = {"skolemize", "drop_universals", "formula_to_clauses"}
# Before 3.14 the interpreter's pickler does not watch the C stack itself.
PICKLE_UNGUARDED = sys.version_info < (3, 14)
# AddressSanitizer's redzones make every frame several times larger: the
# margin kept below the guard's floor cannot be more than half of a 32 KiB
# thread stack, which the instrumented build outgrows.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")


def walk_all(depth, limit, stack_kib=0, shapes=(), walks=(), skip=()):
    command = [sys.executable, os.path.join(TESTS, "deep_walks.py"), str(depth), str(limit),
               f"--stack={stack_kib}", f"--walks={','.join(walks)}", f"--skip={','.join(skip)}"]
    if shapes:
        command.append(f"--shapes={','.join(shapes)}")
    done = subprocess.run(command, capture_output=True, text=True, timeout=900)
    last = done.stderr.strip().splitlines()[-1:] or ["(nothing run)"]
    assert done.returncode == 0, f"crashed in {last[0]} (status {done.returncode}): {done.stderr[-1500:]}"
    outcomes = {}
    for line in done.stdout.splitlines():
        shape, walk, result = line.split()
        outcomes[shape, walk] = result
    wrong = {key: result for key, result in outcomes.items()
             if result not in ("ok", "RecursionError")
             and not (key[1] in CHECKED_STEPS and result in ("ValueError", "AssertionError"))}
    assert not wrong, wrong
    return outcomes


def assert_covered(outcomes, shapes):
    """Every tree went through every walk, was compared with its twin and freed; every text was read."""
    walks = {walk for _, walk in outcomes}
    assert {"equal", "dealloc", "evaluate", "to_cnf", "python_levels", "export_latex", "tptp_write"} <= walks
    assert {shape for shape, _ in outcomes} == set(shapes)
    for shape in shapes:
        if shape.startswith("text_"):
            # The reader keeps its own stack: any depth reads.
            assert outcomes[shape, "parse_formula"] == outcomes[shape, "parse_problem"] == "ok"
        else:
            assert outcomes[shape, "equal"] == outcomes[shape, "dealloc"] == outcomes[shape, "hash"] == "ok"


ALL_SHAPES = ("not", "and_left", "or_right", "implies_right", "iff_left", "quantifiers", "mixed", "term", "equality",
              "text_not", "text_parens", "text_term", "text_quantifiers", "text_implies")
SKIP = ("pickle",) if PICKLE_UNGUARDED else ()


def test_million_deep_chains():
    shapes = ("not", "mixed", "term", "text_not", "text_term")
    outcomes = walk_all(10**6, 10**6, shapes=shapes, skip=SKIP)
    assert_covered(outcomes, shapes)
    assert outcomes["not", "repr"] == outcomes["term", "size"] == "RecursionError"


def test_recursion_limit_beyond_any_stack():
    shapes = ("and_left", "iff_left", "equality", "text_parens", "text_quantifiers")
    assert_covered(walk_all(10**6, 10**8, shapes=shapes, skip=SKIP), shapes)


def test_every_shape():
    # 200,000 levels leave fewer than 42 bytes of an 8 MiB stack to a level:
    # no recursive walk fits, each must stop itself.
    assert_covered(walk_all(2 * 10**5, 10**6, shapes=ALL_SHAPES, skip=SKIP), ALL_SHAPES)


@pytest.mark.parametrize("stack_kib", [
    pytest.param(32, marks=pytest.mark.skipif(SANITIZED, reason="instrumented frames outgrow a 32 KiB stack")),
    256,
])
def test_threads_with_small_stacks(stack_kib):
    outcomes = walk_all(10**5, 10**8, stack_kib=stack_kib, shapes=ALL_SHAPES, skip=SKIP)
    assert_covered(outcomes, ALL_SHAPES)


@pytest.mark.xfail(PICKLE_UNGUARDED, reason="the pickler's recursion does not see the C stack", strict=True)
@pytest.mark.parametrize("limit, stack_kib", [(10**6, 0), (10**8, 64)])
def test_pickling_a_deep_chain(limit, stack_kib):
    outcomes = walk_all(10**5, limit, stack_kib=stack_kib, shapes=("not", "term"), walks=("pickle",))
    assert outcomes["not", "pickle"] in ("ok", "RecursionError")

