"""The README's demonstration runs and shows every part of the library."""

import subprocess
import sys


def test_python_m_zelqor():
    done = subprocess.run([sys.executable, "-m", "zelqor"], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    for expected in ("forall v0 : Ind", "(and (forall", "\\forall v_{0}", "clause:", "Kripke Model (W, <=, V):",
                     "w0 forces (p | ~p): False"):
        assert expected in done.stdout
