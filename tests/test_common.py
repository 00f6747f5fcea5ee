from zelqor.constructive.common import FALSUM, VERUM, _is_atomic, _is_falsum, _is_verum
from zelqor.core.ast import Not, PredicateApp, Variable
from zelqor.sol.ast_ext import ForallPred, PredicateVariable

x = Variable(1)


def test_constants():
    assert (FALSUM.pred, FALSUM.arity, FALSUM.args) == ("⊥", 0, ())
    assert (VERUM.pred, VERUM.arity, VERUM.args) == ("⊤", 0, ())
    assert FALSUM != VERUM


def test_falsum_and_verum_are_recognised_by_value():
    assert _is_falsum(PredicateApp("⊥", 0, ())) and _is_verum(PredicateApp("⊤", 0, ()))
    assert not _is_falsum(VERUM) and not _is_verum(FALSUM)
    for other in (Not(FALSUM), PredicateApp("⊥", 1, (x,)), PredicateApp("F", 0, ()),
                  ForallPred(PredicateVariable("X", 0), FALSUM), None, "⊥"):
        assert not _is_falsum(other) and not _is_verum(other)


def test_is_atomic():
    assert _is_atomic(FALSUM) and _is_atomic(PredicateApp("P", 1, (x,)))
    assert not _is_atomic(Not(FALSUM)) and not _is_atomic(x)
