"""Start-up of the native modules with a dependency missing a name: the import fails cleanly.

Each case runs in a fresh interpreter in development mode: a module that went
on calling the C API after a failed call would end in SystemError (a result
with an exception set) or, on a debug interpreter, an assertion.
"""

import subprocess
import sys

import pytest

BREAK_AND_IMPORT = """
import importlib, sys, types
target, missing = sys.argv[1], sys.argv[2]
module = importlib.import_module(target) if missing else None
if missing:
    delattr(module, missing)
else:
    sys.modules[target] = types.ModuleType(target)
try:
    import zelqor.constructive.kripke, zelqor.core.visitors, zelqor.prover.clausifier, zelqor.tptp
except Exception as error:
    print(type(error).__name__)
else:
    print("imported")
"""


@pytest.mark.parametrize("target, missing", [
    ("zelqor.core.exceptions", ""),
    ("zelqor.core.sorts", ""),
    ("zelqor.constructive.common", ""),
    ("zelqor.sol.ast_ext", ""),
    ("zelqor.core.signature", ""),
    ("copyreg", "__newobj_ex__"),
    ("copyreg", "__newobj__"),
])
def test_missing_dependency_fails_the_import_cleanly(target, missing):
    done = subprocess.run([sys.executable, "-X", "dev", "-c", BREAK_AND_IMPORT, target, missing],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-1500:]
    assert done.stdout.split() in (["ImportError"], ["AttributeError"]), done.stdout + done.stderr[-1500:]
