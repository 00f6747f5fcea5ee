"""Properties over random trees: equality, hashing, round trips, canonicalization."""

import copy
import pickle

from hypothesis import given, settings
from hypothesis import strategies as st

from zelqor.core.ast import (
    Exists, Forall, Variable, bound_variables, canonicalize_bound_variables, formula_depth, formula_size,
    free_variables,
)
from zelqor.core.substitutions import substitute_formula

from strategies import formulas, terms

settings.register_profile("default", max_examples=150, deadline=None)
settings.load_profile("default")


def rebuild(node):
    """An equal tree made of new objects (through pickling)."""
    return pickle.loads(pickle.dumps(node))


@given(formulas)
def test_equal_trees_hash_alike(f):
    twin = rebuild(f)
    assert twin == f and hash(twin) == hash(f) and not (twin != f)
    assert repr(twin) == repr(f)


@given(formulas, formulas)
def test_equality_agrees_with_text_form(f, g):
    # The text form shows every compared field and the class name.
    assert (f == g) == (repr(f) == repr(g) and type(f) is type(g))


@given(st.one_of(formulas, terms))
def test_copies_and_pickles(node):
    assert copy.copy(node) == node and copy.deepcopy(node) == node
    if type(node).__module__ == "zelqor.core.ast":
        assert copy.copy(node) is node and copy.deepcopy(node) is node
    for protocol in (0, 2, 5):
        assert pickle.loads(pickle.dumps(node, protocol)) == node


@given(formulas)
def test_queries_are_consistent(f):
    assert formula_size(f) >= formula_depth(f) >= 1
    free, bound = free_variables(f), bound_variables(f)
    assert free == free_variables(rebuild(f)) and bound == bound_variables(rebuild(f))


@given(formulas)
def test_canonicalization_is_idempotent(f):
    once = canonicalize_bound_variables(f)
    assert canonicalize_bound_variables(once) == once
    assert free_variables(once) == free_variables(f)


@given(formulas, st.integers(100, 200))
def test_alpha_variants_canonicalize_alike(f, offset):
    # Renaming every bound variable to a fresh id gives an alpha-equivalent formula.
    def rename(node):
        if isinstance(node, (Forall, Exists)):
            v = node.variable
            fresh = Variable(v.id + offset, v.kind, sort=v.sort)
            body = substitute_formula(rename(node.body), {v: fresh}) if v.sort == fresh.sort else rename(node.body)
            return type(node)(fresh, body)
        return node

    variant = rename(f)
    assert canonicalize_bound_variables(variant) == canonicalize_bound_variables(f)
