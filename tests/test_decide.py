"""decide: verdicts, their certificates, and what it refuses."""

import pytest

from zelqor.constructive.common import FALSUM, VERUM
from zelqor.constructive.decide import (
    CertificateError, Decision, Derivation, SearchLimitReached, check_derivation, decide,
)
from zelqor.constructive.kripke import KripkeModel
from zelqor.core.ast import And, Constant, Equality, Forall, Iff, Implies, Not, Or, PredicateApp, Variable
from zelqor.core.exceptions import InvalidFormulaError

from propositional import de_bruijn, p, pigeonhole, q, r, random_clauses

CLASSIC_NON_THEOREMS = {
    "excluded middle": Or(p, Not(p)),
    "double-negation elimination": Implies(Not(Not(p)), p),
    "Peirce's law": Implies(Implies(Implies(p, q), p), p),
    "linearity": Or(Implies(p, q), Implies(q, p)),
    "weak excluded middle": Or(Not(p), Not(Not(p))),
    "De Morgan for a conjunction": Implies(Not(And(p, q)), Or(Not(p), Not(q))),
}

THEOREM_COUNTERPARTS = {
    "excluded middle, doubly negated": Not(Not(Or(p, Not(p)))),
    "double-negation introduction": Implies(p, Not(Not(p))),
    "triple negation": Iff(Not(Not(Not(p))), Not(p)),
    "Peirce's law, doubly negated": Not(Not(Implies(Implies(Implies(p, q), p), p))),
    "linearity, doubly negated": Not(Not(Or(Implies(p, q), Implies(q, p)))),
    "De Morgan for a disjunction": Iff(Not(Or(p, q)), And(Not(p), Not(q))),
    "contraposition": Implies(Implies(p, q), Implies(Not(q), Not(p))),
}


@pytest.mark.parametrize("name", CLASSIC_NON_THEOREMS)
def test_classic_non_theorems_fail_at_a_world_of_their_countermodel(name):
    formula = CLASSIC_NON_THEOREMS[name]
    result = decide(formula)
    assert not result.valid and result.proof is None
    assert isinstance(result.model, KripkeModel)
    assert result.world in result.model.worlds
    assert result.model.evaluate(formula, result.world) is False


@pytest.mark.parametrize("name", THEOREM_COUNTERPARTS)
def test_theorem_counterparts_come_with_checked_derivations(name):
    formula = THEOREM_COUNTERPARTS[name]
    result = decide(formula)
    assert result.valid and result.model is None and result.world is None
    check_derivation(result.proof, formula)
    root = result.proof.conclusion
    assert root.hypotheses == () and root.goal == formula


def test_countermodels_stay_small():
    # Excluded middle needs two worlds; no two worlds share atoms and successors.
    model = decide(Or(p, Not(p))).model
    assert len(model.worlds) == 2
    for formula in CLASSIC_NON_THEOREMS.values():
        model = decide(formula).model
        seen = set()
        for w in model.worlds:
            above = frozenset(v for v in model.relations[w] if v != w)
            key = (frozenset(model.valuations[w]), above)
            assert key not in seen
            seen.add(key)


def test_falsum_and_verum():
    assert decide(VERUM).valid
    assert not decide(FALSUM).valid
    assert decide(Implies(FALSUM, p)).valid
    assert decide(Not(FALSUM)).valid
    assert not decide(Implies(VERUM, p)).valid
    # A countermodel to falsum is any world at all.
    result = decide(FALSUM)
    assert result.model.evaluate(FALSUM, result.world) is False


def test_atoms_are_compared_as_values():
    # Equal atoms built apart are one atom; p and a predicate named p of arity 0 are the same.
    assert decide(Implies(PredicateApp("p", 0, ()), PredicateApp("p", 0, ()))).valid
    assert not decide(Implies(PredicateApp("p", 0, ()), PredicateApp("P", 0, ()))).valid


def test_families_of_the_benchmark_library():
    assert decide(de_bruijn(3)).valid
    invalid = decide(de_bruijn(3, valid=False))
    assert not invalid.valid
    for holes in (3, 6, 11):  # 11 holes: some atom names stand for two atoms
        result = decide(pigeonhole(holes))
        assert result.valid
        assert result.statistics["renamed"] > 0


def test_pigeonhole_derivations_stay_polynomial():
    sizes = [len(decide(pigeonhole(n, merged_names=False)).proof) for n in (6, 12)]
    assert sizes[1] < 8 * sizes[0]  # the tree-like derivation grows factorially


def test_not_propositional_is_refused_naming_the_node():
    x = Variable(0)
    cases = {
        "quantified formula": Forall(x, PredicateApp("P", 1, (x,))),
        "equality": Equality(Constant("a"), Constant("b")),
        "atom with arguments": PredicateApp("P", 1, (Constant("a"),)),
    }
    for what, node in cases.items():
        with pytest.raises(InvalidFormulaError) as caught:
            decide(And(p, Or(q, node)))
        assert what in str(caught.value) and repr(node)[:30] in str(caught.value)
    with pytest.raises(InvalidFormulaError, match="term"):
        decide(Implies(p, Constant("a")))
    with pytest.raises(InvalidFormulaError, match="not propositional"):
        decide(42)


def test_a_long_message_is_cut():
    deep = Forall(Variable(0), p)
    for _ in range(200):
        deep = Forall(Variable(0), deep)
    with pytest.raises(InvalidFormulaError) as caught:
        decide(deep)
    assert len(str(caught.value)) < 300 and str(caught.value).endswith("...")


def test_budget_and_the_limit_reached():
    hard = random_clauses(100, 600, seed=1)
    with pytest.raises(SearchLimitReached):
        decide(hard, budget=500)
    assert decide(p, budget=10**30).valid is False  # beyond 64 bits: no limit
    with pytest.raises(ValueError):
        decide(p, budget=-1)
    with pytest.raises(ValueError):
        decide(p, budget=-10**30)
    with pytest.raises(TypeError):
        decide(p, budget="many")


def test_verify_catches_a_false_certificate():
    honest = decide(Or(p, Not(p)))
    forged = Decision(honest.formula, False, model=honest.model, world=honest.model.worlds[-1])
    with pytest.raises(CertificateError, match="holds at"):
        forged.verify()
    proof = decide(Implies(p, p)).proof
    with pytest.raises(CertificateError):
        Decision(Implies(q, q), True, proof=proof).verify()


def test_text_of_results():
    refuted = decide(Or(p, Not(p)))
    text = str(refuted)
    assert text.startswith("not valid: p ∨ ¬p fails at w0") and "w1: forces p" in text
    proved = decide(Implies(And(p, q), Or(q, r)))
    assert str(proved).startswith("valid: p ∧ q → q ∨ r")
    assert isinstance(proved.proof, Derivation)
    listing = proved.proof.format()
    assert listing.splitlines()[-1].lstrip().startswith(f"{len(proved.proof)}. ⊢ p ∧ q → q ∨ r")
    tree = proved.proof.format(tree=True)
    assert tree.splitlines()[0].startswith("⊢ p ∧ q → q ∨ r")


def test_long_formulas_are_abbreviated_in_listings():
    proof = decide(pigeonhole(3)).proof
    listing = proof.format(abbreviate=40)
    assert "where" in listing and "F1 = " in listing
    assert "where" not in proof.format(abbreviate=None)
