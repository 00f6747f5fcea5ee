"""Inputs that could crash, hang or run away: each ends in a result or an orderly error."""

import signal
import subprocess
import sys
import textwrap
import time

import pytest

from zelqor.constructive.decide import decide
from zelqor.core.ast import And, Implies, Or

from propositional import atom

PRELUDE = "import sys; sys.path.insert(0, {tests!r})\n".format(tests=__import__("os").path.dirname(__file__))


def run(script, timeout=300):
    return subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(script)], capture_output=True,
                          text=True, timeout=timeout)


DEEP = """
    import sys
    from zelqor.constructive.decide import decide
    from zelqor.core.ast import And, Not, Implies, Or
    from propositional import p, q
    sys.setrecursionlimit(LIMIT)
    shapes = [(lambda f: Not(f), 20000), (lambda f: And(Not(f), q), 20000),
              (lambda f: Implies(q, Or(f, p)), 20000), (lambda f: Or(Implies(p, f), q), LAST)]
    outcomes = []
    for build, depth in shapes:
        f = p
        for _ in range(depth):
            f = build(f)
        try:
            result = decide(f)  # its certificate is checked, deep as it is
            outcomes.append("valid" if result.valid else "invalid")
        except RecursionError:
            outcomes.append("RecursionError")
    print(" ".join(outcomes))
    assert decide(Implies(p, p)).valid  # still usable afterwards
"""


@pytest.mark.parametrize("limit, last", [(1000, 20000), (10**6, 3000)])
def test_very_deep_formulas_end_in_a_result_or_recursion_error(limit, last):
    # With the interpreter's limit raised, the walks stop where the C stack runs short.
    done = run(DEEP.replace("LIMIT", str(limit)).replace("LAST", str(last)))
    assert done.returncode == 0, done.stderr[-3000:]
    outcomes = done.stdout.split()
    assert outcomes[:3] == ["invalid", "invalid", "invalid"]
    assert outcomes[3] in ("valid", "RecursionError")  # (p → f) ∨ q is valid whenever f is


def test_long_chains_and_wide_junctions_are_decided():
    n = 1500
    ps = [atom(f"p{i}") for i in range(n)]
    nested = ps[0]
    for a in reversed(ps[1:]):
        nested = Implies(a, nested)
    assert not decide(nested).valid
    closing = ps[0]
    for a in reversed(ps):
        closing = Implies(a, closing)
    assert decide(closing).valid
    wide_and, wide_or = ps[-1], ps[-1]
    for a in reversed(ps[:-1]):
        wide_and, wide_or = And(a, wide_and), Or(a, wide_or)
    assert decide(Implies(wide_and, wide_or)).valid
    assert not decide(Implies(wide_or, wide_and)).valid


def test_ctrl_c_interrupts_a_long_search():
    # A job started in the background inherits SIGINT ignored, and then the interpreter
    # installs no handler of its own: the child restores the interactive one.
    process = subprocess.Popen([sys.executable, "-c", PRELUDE + textwrap.dedent("""
        import signal
        signal.signal(signal.SIGINT, signal.default_int_handler)
        from zelqor.constructive.decide import decide
        from propositional import random_clauses
        print("ready", flush=True)
        decide(random_clauses(100, 600, seed=1))
        print("finished")
    """)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert process.stdout.readline().strip() == "ready"
    time.sleep(1.0)
    process.send_signal(signal.SIGINT)
    try:
        out, err = process.communicate(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        pytest.fail("the search did not stop on Ctrl-C")
    assert "KeyboardInterrupt" in err and "finished" not in out
