"""Running a snippet in a fresh interpreter, for checks whose failure would crash the test session.

The child inherits the environment, so under the sanitizer build it runs
instrumented too: a read of freed memory ends it with a report on stderr.
"""

import subprocess
import sys
import textwrap


def run(code, timeout=300):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout)


def output_of(code, timeout=300):
    """The snippet's standard output, after checking that it ended normally."""
    done = run(code, timeout)
    assert done.returncode == 0, f"exit status {done.returncode}\n{done.stderr[-4000:]}"
    assert "ERROR: AddressSanitizer" not in done.stderr, done.stderr[-4000:]
    return done.stdout.strip()
