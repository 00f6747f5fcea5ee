import pytest

from zelqor.core.exceptions import SortError
from zelqor.core.signature import Signature
from zelqor.core.sorts import Bool, Ind, Nat


@pytest.fixture
def sig():
    s = Signature()
    s.register_constant("zero", Nat)
    s.register_function("add", 2, [Nat, Nat], Nat)
    s.register_predicate("Even", 1, (Nat,))
    return s


def test_tables(sig):
    assert sig.constants == {"zero": Nat}
    assert sig.functions == {"add": (2, (Nat, Nat), Nat)}
    assert sig.predicates == {"Even": (1, (Nat,))}
    assert type(sig.functions["add"][1]) is tuple


def test_signatures_do_not_share_tables(sig):
    assert Signature().constants == {} and Signature().functions == {} and Signature().predicates == {}


def test_same_declaration_again_is_a_no_op(sig):
    sig.register_constant("zero", Nat)
    sig.register_function("add", 2, (Nat, Nat), Nat)
    sig.register_predicate("Even", 1, [Nat])
    assert len(sig.constants) == len(sig.functions) == len(sig.predicates) == 1


@pytest.mark.parametrize(
    "redeclare",
    [
        lambda s: s.register_constant("zero", Ind),
        lambda s: s.register_function("add", 2, (Nat, Ind), Nat),
        lambda s: s.register_function("add", 2, (Nat, Nat), Bool),
        lambda s: s.register_function("add", 3, (Nat, Nat, Nat), Nat),
        lambda s: s.register_predicate("Even", 1, (Ind,)),
        lambda s: s.register_predicate("Even", 2, (Nat, Nat)),
    ],
)
def test_conflicting_declaration_raises_and_keeps_the_first(sig, redeclare):
    before = (dict(sig.constants), dict(sig.functions), dict(sig.predicates))
    with pytest.raises(SortError, match="already declared"):
        redeclare(sig)
    assert (sig.constants, sig.functions, sig.predicates) == before


@pytest.mark.parametrize(
    "declare, error",
    [
        (lambda s: s.register_function("f", 2, (Ind,), Ind), SortError),
        (lambda s: s.register_predicate("P", 0, (Ind,)), SortError),
        (lambda s: s.register_predicate("P", -1, ()), TypeError),
        (lambda s: s.register_constant("c", "Ind"), TypeError),
        (lambda s: s.register_constant("", Ind), TypeError),
        (lambda s: s.register_function("f", 1, ("Ind",), Ind), TypeError),
        (lambda s: s.register_function("f", 1, (Ind,), None), TypeError),
    ],
)
def test_malformed_declarations(declare, error):
    s = Signature()
    with pytest.raises(error):
        declare(s)
    assert not (s.constants or s.functions or s.predicates)


def test_repr(sig):
    sig.register_predicate("Top", 0, ())
    assert repr(sig) == (
        "Signature(constants={zero: Nat}, functions={add: (Nat, Nat) → Nat}, "
        "predicates={Even: (Nat), Top: ()})"
    )
