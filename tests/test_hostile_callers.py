"""Random hostile callers through every public operation (see chaos.py), in a fresh interpreter.

ZELQOR_HOSTILE_EXAMPLES sets the number of examples; the sanitizer stage of CI runs more.
"""

import os

from isolated import output_of

TESTS = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = int(os.environ.get("ZELQOR_HOSTILE_EXAMPLES", "60"))


def test_hostile_callers_through_every_operation():
    code = f"import sys; sys.path.insert(0, {TESTS!r}); import chaos; chaos.check({EXAMPLES}); print('passed')"
    assert output_of(code, timeout=3600).splitlines()[-1] == "passed"
