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
    """Growth per batch of allocated blocks and, on a debug interpreter, of all reference counts."""
    total_references = getattr(sys, "gettotalrefcount", None)

    def counts():
        gc.collect()
        return sys.getallocatedblocks(), total_references() if total_references else 0

    for _ in range(warmup):
        operation()
    blocks, references = [], []
    for _ in range(batches):
        before = counts()
        for _ in range(rounds):
            operation()
        after = counts()
        blocks.append(after[0] - before[0])
        references.append(after[1] - before[1])
    return {"blocks": blocks, "references": references if total_references else None}


def assert_steady(module, name, limit=50):
    """Run `module.name` repeatedly in a fresh interpreter and check it leaks nothing.

    A reference leaked on any path an operation takes leaves at least one
    block per round, 200 per batch; the interpreter's own caches settle to a
    few blocks per batch (more on 3.14, whose collector and caches warm up
    slowly), which `limit` allows. A debug interpreter also counts every
    reference: an extra one kept on a shared object (a type, an interned
    name, None) leaves no block behind but shows there.
    """
    code = (f"import json, sys; sys.path.insert(0, {TESTS!r}); import leakcheck, {module}; "
            f"print(json.dumps(leakcheck.measure({module}.{name})))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    growth = json.loads(done.stdout.strip().splitlines()[-1])
    blocks, references = growth["blocks"], growth["references"]
    assert min(blocks) < limit, f"{module}.{name}: blocks left behind per batch of 200 rounds: {blocks}"
    if references is not None:
        assert min(references) < limit, f"{module}.{name}: references gained per batch of 200 rounds: {references}"
