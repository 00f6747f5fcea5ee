"""The shipped type stubs agree with the built modules."""

import subprocess
import sys

import pytest

STUBBED = ["zelqor.core.ast", "zelqor.core._substitutions", "zelqor.core.visitors", "zelqor.prover.clausifier",
           "zelqor.constructive.kripke", "zelqor.tptp._native", "zelqor.constructive._search"]


def test_stubs_match_the_modules(tmp_path):
    pytest.importorskip("mypy")
    done = subprocess.run([sys.executable, "-m", "mypy.stubtest", *STUBBED], capture_output=True, text=True,
                          cwd=tmp_path, timeout=600)
    assert done.returncode == 0, done.stdout[-4000:] + done.stderr[-2000:]
