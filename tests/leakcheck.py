"""Reference-leak checking shared by the test files.

An operation (a function of a test module that exercises many calls, error
paths included) runs in a fresh interpreter: after a warm-up, batches of
rounds must not all grow the number of allocated blocks. A leak grows the
heap in every batch; caches and allocator noise settle down. A fresh process
keeps the rest of the test session's state out of the count.
"""

import gc
import json
import os
import subprocess
import sys

TESTS = os.path.dirname(os.path.abspath(__file__))


def expect(error, fn, *args, **kwargs):
    """Call fn and require that it raises `error`."""
    try:
        fn(*args, **kwargs)
    except error:
        return
    raise AssertionError(f"{fn} did not raise {error}")


def measure(operation, warmup=300, batches=6, rounds=200):
    def blocks():
        gc.collect()
        return sys.getallocatedblocks()

    for _ in range(warmup):
        operation()
    growth = []
    for _ in range(batches):
        before = blocks()
        for _ in range(rounds):
            operation()
        growth.append(blocks() - before)
    return growth


def assert_steady(module, name, limit=50):
    """Run `module.name` repeatedly in a fresh interpreter and check it leaks nothing.

    A reference leaked on any path an operation takes leaves at least one
    block per round, 200 per batch; the interpreter's own caches settle to a
    few blocks per batch (more on 3.14, whose collector and caches warm up
    slowly), which `limit` allows.
    """
    code = (f"import json, sys; sys.path.insert(0, {TESTS!r}); import leakcheck, {module}; "
            f"print(json.dumps(leakcheck.measure({module}.{name})))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    growth = json.loads(done.stdout.strip().splitlines()[-1])
    assert min(growth) < limit, f"{module}.{name}: blocks left behind per batch of 200 rounds: {growth}"
