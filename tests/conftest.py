import pytest

from zelqor.core.ast import Constant, PredicateApp, Variable
from zelqor.core.sorts import PrimitiveSort

Nat2 = PrimitiveSort("Nat2")


@pytest.fixture
def x():
    return Variable(0)


@pytest.fixture
def y():
    return Variable(1)


@pytest.fixture
def p(x):
    return PredicateApp("P", 1, (x,))


@pytest.fixture
def q(y):
    return PredicateApp("Q", 1, (y,))


@pytest.fixture
def c():
    return Constant("c")
