"""Properties over random trees: equality, hashing, round trips, canonicalization."""

import copy
import pickle

from hypothesis import assume, given, settings
from hypothesis import strategies as st

from zelqor.core.ast import (
    Exists, Forall, Variable, bound_variables, canonicalize_bound_variables, formula_depth, formula_size,
    free_variables,
)
from zelqor.core.substitutions import substitute_formula

from sat import atoms_of, truth
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


# ---- visitors ---------------------------------------------------------------------------

from itertools import product  # noqa: E402

from zelqor.constructive.kripke import KripkeModel, World  # noqa: E402
from zelqor.core.ast import And, Iff, Implies, Not, Or, PredicateApp  # noqa: E402
from zelqor.core.visitors import ASTTransformer  # noqa: E402
from zelqor.prover.clausifier import to_cnf  # noqa: E402

from strategies import propositional  # noqa: E402


class KeepAtoms(ASTTransformer):
    def visit_predicate_app(self, node):
        return node


@given(formulas)
def test_identity_transformers_return_the_input(f):
    # Visitors refuse classes derived from node classes; the text form names every class.
    assume("Sub" not in repr(f))
    assert ASTTransformer().visit(f) is f
    assert KeepAtoms().visit(f) is f


# ---- clausifier -------------------------------------------------------------------------

@given(propositional)
def test_cnf_of_a_proposition_is_equivalent_and_has_no_tautology(f):
    clauses = to_cnf(f)
    assert not any(clause.is_tautology for clause in clauses)
    atoms = sorted(atoms_of(f), key=repr)
    for values in product([False, True], repeat=len(atoms)):
        valuation = dict(zip(atoms, values))
        cnf_value = all(any(valuation[lit.atom] == lit.positive for lit in clause.literals) for clause in clauses)
        assert cnf_value == truth(f, valuation)


# ---- Kripke models ------------------------------------------------------------------------

WORLDS = [World(i, f"w{i}") for i in range(5)]
edges = st.lists(st.tuples(st.integers(0, 4), st.integers(0, 4)), max_size=8)
facts = st.lists(st.tuples(st.integers(0, 4), st.sampled_from([PredicateApp(n, 0, ()) for n in "ABC"])), max_size=6)


@given(edges, facts, propositional)
def test_forcing_is_persistent(relation, valuation, f):
    model = KripkeModel()
    for w in WORLDS:
        model.add_world(w)
    for a, b in relation:
        model.add_relation(WORLDS[a], WORLDS[b])
    for w, atom in valuation:
        model.add_valuation(WORLDS[w], atom)
    for w in WORLDS:
        if model.evaluate(f, w):
            assert all(model.evaluate(f, v) for v in model.accessible_worlds(w))
