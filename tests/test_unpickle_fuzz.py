"""Crafted pickles of the library's objects: a value or a clean exception, never a crash.

A short run of fuzz/unpickle.py in a subprocess, and every byte string a
longer run ever found harmful, kept here for good.
"""

import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FUZZER = os.path.join(ROOT, "fuzz", "unpickle.py")

# Byte strings (hex) that once crashed the interpreter or raised SystemError.
FOUND = [
]


def fuzz(*arguments):
    done = subprocess.run([sys.executable, FUZZER, *arguments], capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, f"status {done.returncode}: {done.stderr[-2000:]}"
    return done.stdout


def test_short_run():
    report = fuzz("--cases", "1500", "--seed", "13")
    assert "1500 cases" in report and " 0 loaded" not in report


def test_every_case_found_so_far():
    script = (f"import sys; sys.path.insert(0, {os.path.dirname(FUZZER)!r}); import unpickle\n"
              f"for data in {FOUND!r}:\n    unpickle.run_case(bytes.fromhex(data))\nprint('done')")
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0 and done.stdout.strip() == "done", done.stderr[-2000:]
