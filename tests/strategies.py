"""Hypothesis strategies for random terms and formulas."""

from hypothesis import strategies as st

from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
    VariableKind,
)
from zelqor.core.sorts import Bool, Ind, Nat
from zelqor.sol.ast_ext import (
    ExistsFunc, ExistsPred, ForallFunc, ForallPred, FunctionVariable, PredicateVariable,
)


class SubAnd(And):
    """A caller's subclass: distinct from And under equality."""


class SubVariable(Variable):
    pass


sorts = st.sampled_from([Ind, Nat, Bool])
kinds = st.sampled_from(list(VariableKind))

variables = st.builds(
    lambda cls, i, kind, sort: cls(i, kind, sort=sort),
    st.sampled_from([Variable, Variable, Variable, SubVariable]),
    st.integers(0, 5), kinds, sorts,
)
constants = st.builds(lambda name, sort: Constant(name, sort=sort), st.sampled_from("abc"), sorts)
function_symbols = st.one_of(st.sampled_from(["f", "g"]), st.builds(FunctionVariable, st.just("F"), st.integers(0, 2)))
predicate_symbols = st.one_of(st.sampled_from(["P", "Q", "R"]),
                              st.builds(PredicateVariable, st.just("X"), st.integers(0, 2)))


def _application(cls, symbols, args_strategy, **kw):
    return st.builds(lambda sym, args: cls(sym, len(args), tuple(args), **kw), symbols, args_strategy)


terms = st.recursive(
    st.one_of(variables, constants),
    lambda inner: st.one_of(
        _application(FunctionApp, function_symbols, st.lists(inner, max_size=3)),
        st.builds(lambda sym, args, sort: FunctionApp(sym, len(args), tuple(args), sort),
                  function_symbols, st.lists(inner, min_size=1, max_size=2), sorts),
    ),
    max_leaves=6,
)

atoms = st.one_of(
    _application(PredicateApp, predicate_symbols, st.lists(terms, max_size=3)),
    st.builds(Equality, terms, terms),
)


def _compound(inner):
    binary = st.sampled_from([And, Or, Implies, Iff, SubAnd])
    first_order = st.sampled_from([Forall, Exists])
    return st.one_of(
        st.builds(Not, inner),
        st.builds(lambda cls, a, b: cls(a, b), binary, inner, inner),
        st.builds(lambda cls, v, b: cls(v, b), first_order, variables, inner),
        st.builds(lambda cls, i, b: cls(PredicateVariable("X", i), b), st.sampled_from([ForallPred, ExistsPred]),
                  st.integers(0, 2), inner),
        st.builds(lambda cls, i, b: cls(FunctionVariable("F", i), b), st.sampled_from([ForallFunc, ExistsFunc]),
                  st.integers(0, 2), inner),
    )


formulas = st.recursive(atoms, _compound, max_leaves=12)

# Propositional formulas over nullary atoms (for truth-table checks).
propositional_atoms = st.sampled_from([PredicateApp(name, 0, ()) for name in "ABCDEFGH"])
propositional = st.recursive(
    propositional_atoms,
    lambda inner: st.one_of(
        st.builds(Not, inner),
        st.builds(lambda cls, a, b: cls(a, b), st.sampled_from([And, Or, Implies, Iff]), inner, inner),
    ),
    max_leaves=10,
)
