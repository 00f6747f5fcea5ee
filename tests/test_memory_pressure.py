"""Out of memory anywhere in the library: MemoryError, and the interpreter goes on working.

Each operation runs in a subprocess (memory_pressure.py) whose address space
is limited to what it already uses plus a headroom, from none to 64 MiB, so
that allocations fail at many different points, in the interpreter's
allocator and in the library's own containers alike.
"""

import os
import subprocess
import sys

import pytest

TESTS = os.path.dirname(os.path.abspath(__file__))
HEADROOMS = [0, 4 << 10, 16 << 10, 64 << 10, 256 << 10, 1 << 20, 4 << 20, 16 << 20, 64 << 20]
# The sanitizers reserve terabytes of address space and stop the process on
# a failed allocation themselves.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")

pytestmark = [
    pytest.mark.skipif(not sys.platform.startswith("linux"), reason="limits the address space through /proc"),
    pytest.mark.skipif(SANITIZED, reason="the sanitizers handle allocation failure themselves"),
]

# Where a container's std::bad_alloc still escapes into the interpreter.
ESCAPES = {"clause", "formula_to_clauses"}


@pytest.mark.parametrize("operation", [
    pytest.param(name, marks=pytest.mark.xfail(reason="std::bad_alloc escapes", strict=True)) if name in ESCAPES
    else name
    for name in ["clause", "distribute_cnf", "formula_to_clauses", "to_cnf", "quantifiers", "export"]
])
def test_allocation_failure_raises_memory_error(operation):
    done = subprocess.run([sys.executable, os.path.join(TESTS, "memory_pressure.py"), operation,
                           *map(str, HEADROOMS)], capture_output=True, text=True, timeout=600)
    headroom = (done.stderr.strip().splitlines() or ["none"])[-1]
    assert done.returncode == 0, f"died at headroom {headroom} (status {done.returncode}): {done.stderr[-1500:]}"
    lines = done.stdout.splitlines()
    assert lines[-1] == "alive"
    outcomes = dict(line.split() for line in lines[:-1])
    assert set(outcomes.values()) <= {"ok", "MemoryError"}, outcomes
    assert outcomes["0"] == "MemoryError"
