import dataclasses
import pickle

import pytest

from zelqor.core.ast import (
    And,
    Exists,
    Forall,
    Formula,
    FunctionApp,
    Not,
    PredicateApp,
    Variable,
    bound_variables,
    formula_depth,
    formula_size,
    free_variables,
)
from zelqor.core.exceptions import InvalidFormulaError
from zelqor.sol.ast_ext import (
    ExistsFunc,
    ExistsPred,
    ForallFunc,
    ForallPred,
    FunctionVariable,
    PredicateVariable,
)

x, y = Variable(1), Variable(2)
X = PredicateVariable("X", 1)
F = FunctionVariable("F", 1)
QUANTIFIERS = [(ForallPred, X), (ExistsPred, X), (ForallFunc, F), (ExistsFunc, F)]


class TestSymbolVariables:
    @pytest.mark.parametrize("cls", [PredicateVariable, FunctionVariable])
    def test_value_semantics(self, cls):
        v = cls("X", 2)
        assert (v.name, v.arity, v.index) == ("X", 2, 0)
        assert v == cls("X", 2, 0) and hash(v) == hash(cls(name="X", arity=2))
        assert v != cls("X", 2, 1) and v != cls("X", 1) and v != cls("Y", 2)
        assert repr(v) == f"{cls.__name__}(name='X', arity=2, index=0)"
        with pytest.raises(dataclasses.FrozenInstanceError):
            v.arity = 3

    def test_predicate_and_function_variables_differ(self):
        assert PredicateVariable("X", 1) != FunctionVariable("X", 1)

    @pytest.mark.parametrize("cls", [PredicateVariable, FunctionVariable])
    @pytest.mark.parametrize(
        "args", [("", 1), (None, 1), ("X", -1), ("X", 1.0), ("X", True), ("X", 1, "0"), ("X", 1, None)]
    )
    def test_rejects_bad_fields(self, cls, args):
        with pytest.raises(InvalidFormulaError):
            cls(*args)

    def test_as_application_symbols(self):
        atom = PredicateApp(X, 1, (x,))
        term = FunctionApp(F, 1, (y,))
        assert atom.pred is X and term.func is F
        assert atom == PredicateApp(PredicateVariable("X", 1), 1, (Variable(1),))
        assert atom != PredicateApp("X", 1, (x,))


@pytest.mark.parametrize("cls, var", QUANTIFIERS)
class TestQuantifiers:
    def test_construction_and_value_semantics(self, cls, var):
        body = PredicateApp("P", 1, (x,))
        q = cls(var, body)
        assert isinstance(q, Formula)
        assert q == cls(variable=var, body=PredicateApp("P", 1, (Variable(1),)))
        assert hash(q) == hash(cls(var, body))
        assert q != cls(var, Not(body))
        assert (q.variable, q.body) == (var, body)
        with pytest.raises(dataclasses.FrozenInstanceError):
            q.body = body
        others = [c(v, body) for c, v in QUANTIFIERS if c is not cls]
        assert all(q != o for o in others)

    def test_rejects_wrong_variable(self, cls, var):
        wrong = F if var is X else X
        for bad in (wrong, x, var.name):
            with pytest.raises(InvalidFormulaError):
                cls(bad, PredicateApp("P", 0, ()))

    def test_body_is_not_checked(self, cls, var):
        assert cls(var, 42).body == 42

    def test_pickle_nested(self, cls, var):
        inner = cls(var, And(PredicateApp(X, 1, (x,)), PredicateApp("P", 1, (y,))))
        f = Not(cls(var, inner))
        assert pickle.loads(pickle.dumps(f)) == f

    def test_match(self, cls, var):
        body = PredicateApp("P", 0, ())
        match Not(cls(var, body)):
            case Not(cls(v, PredicateApp("P", 0))):
                assert v == var
            case _:
                pytest.fail("no match")


class TestQueries:
    body = And(PredicateApp(X, 1, (x,)), Not(PredicateApp("Q", 2, (x, y))))

    @pytest.mark.parametrize("cls", [ForallPred, ExistsPred])
    def test_depth_and_size_count_the_quantifier(self, cls):
        q = cls(X, self.body)
        assert formula_depth(q) == 1 + formula_depth(self.body)
        assert formula_size(q) == 1 + formula_size(self.body)
        assert formula_size(cls(X, q)) == 2 + formula_size(self.body)

    def test_walks_see_through_second_order_quantifiers(self):
        q = ForallPred(X, Exists(y, self.body))
        assert free_variables(q) == {x}
        assert bound_variables(Forall(x, q)) == {x, y}
        term_body = PredicateApp("P", 1, (FunctionApp(F, 1, (x,)),))
        assert free_variables(ExistsFunc(F, term_body)) == {x}

    @pytest.mark.parametrize("query", [free_variables, bound_variables, formula_depth, formula_size])
    def test_foreign_body_fails_in_walks(self, query):
        with pytest.raises(InvalidFormulaError):
            query(Not(ForallPred(X, 42)))
