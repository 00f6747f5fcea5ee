"""Any byte string gives a result or TPTPError: mutations, odd bytes, deep input; nothing leaks."""

import subprocess
import sys

import pytest

from zelqor.tptp import TPTPError, _native, parse_formula, parse_problem

from leakcheck import TESTS, assert_steady
from tptp_operations import SAMPLE, resolver


def test_the_sample_reads():
    formulas, symbols, sorts = _native.parse_problem(SAMPLE, "s.p", resolver)
    assert [record[0] for record in formulas] == ["ax1", "ax2", "ax3", "c1", "f1", "i1"]
    assert [sort.name for sort in sorts] == ["s"]


def test_mutated_text_reads_or_fails_cleanly():
    # In a fresh interpreter, so that a crash fails the test rather than the run.
    code = (f"import sys; sys.path.insert(0, {TESTS!r}); import tptp_operations; "
            "print(tptp_operations.fuzz(3000))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    assert int(done.stdout) > 0


@pytest.mark.parametrize("data", [bytes([b]) for b in range(256)] + [b"\x00" * 10, b"fof(", b"fof(a,axiom,p)).",
                                                                      b"'" * 3, b'"\\', b"/*/", b"%\xff\xfe"])
def test_odd_bytes(data):
    try:
        _native.parse_problem(data, "odd.p", None)
    except TPTPError as error:
        assert error.line >= 1 and error.column >= 1


def test_includes_without_a_resolver_and_a_resolver_that_misbehaves():
    with pytest.raises(TPTPError, match="no include resolver"):
        _native.parse_problem(b"include('x').", "a.p", None)
    with pytest.raises(TypeError, match=r"\(str, bytes\) pair"):
        _native.parse_problem(b"include('x').", "a.p", lambda name, including: "nonsense")
    with pytest.raises(ZeroDivisionError):
        _native.parse_problem(b"include('x').", "a.p", lambda name, including: 1 / 0)


def test_a_million_negations():
    f = parse_formula("~" * 1_000_000 + "p")
    assert type(f).__name__ == "Not"
    del f  # deallocating the chain is safe too


def test_text_and_bytes_are_both_accepted():
    assert parse_problem("fof(a, axiom, p).").formulas[0].name == "a"
    assert parse_problem(bytearray(b"fof(a, axiom, p).")).formulas[0].name == "a"


def test_reader_and_writer_leak_nothing():
    assert_steady("tptp_operations", "operations")
