"""Clausifying a whole problem: roles, truth constants, clauses as given, Skolem names, limits."""

import re

import pytest

from zelqor.core.ast import Constant, PredicateApp, Variable
from zelqor.core.exceptions import TPTPError
from zelqor.prover.clausifier import Clause, Literal
from zelqor.prover.problem import (
    ClauseForm, ClauseLimitError, clause_form, clause_forms, clausify_problem, register_clause_form,
    simplify_truth_constants,
)
from zelqor.tptp import format_clauses, format_declarations, format_formula, parse_formula, parse_problem


def text(clause_set):
    return format_clauses(clause_set)


def test_axioms_in_order_then_the_negated_conjectures_together():
    problem = parse_problem("fof(a1, axiom, p).\nfof(g1, conjecture, q).\nfof(h, hypothesis, ~ r).\n"
                            "fof(g2, conjecture, r | s).\n")
    clause_set = clausify_problem(problem)
    assert [(g.name, g.role) for g in clause_set] == [("a1", "axiom"), ("h", "hypothesis"),
                                                       ("g1", "negated_conjecture")]
    assert text(clause_set) == ("cnf(a1_1, axiom, p).\ncnf(h_1, hypothesis, ~ r).\n"
                                "cnf(g1_1, negated_conjecture, ~ q | ~ r).\ncnf(g1_2, negated_conjecture, ~ q | ~ s).\n")
    assert len(clause_set) == 4 and len(clause_set.clauses()) == 4


def test_truth_constants_never_reach_a_clause():
    problem = parse_problem("fof(a, axiom, p | $false).\nfof(b, axiom, q & $true).\nfof(c, axiom, $true | r).\n"
                            "cnf(d, axiom, s | $false).\nfof(g, conjecture, $true => t).\n")
    assert text(clausify_problem(problem)) == ("cnf(a_1, axiom, p).\ncnf(b_1, axiom, q).\ncnf(d_1, axiom, s).\n"
                                               "cnf(g_1, negated_conjecture, ~ t).\n")
    false_axiom = clausify_problem(parse_problem("fof(a, axiom, ~ $true | $false)."))
    assert false_axiom.groups[0].clauses == [Clause()]
    proved = clausify_problem(parse_problem("fof(g, conjecture, p | $true)."))
    assert proved.groups[0].clauses == [Clause()]
    refuted = clausify_problem(parse_problem("fof(g, conjecture, ! [X] : $false)."))
    assert refuted.groups[0].clauses == []


@pytest.mark.parametrize("source, expected", [
    ("p & $true", "p"), ("p | $false", "p"), ("$false => p", "$true"), ("p => $false", "~ p"),
    ("$true <=> p", "p"), ("p <=> $false", "~ p"), ("$false <=> $false", "$true"), ("~ $true", "$false"),
    ("! [X] : (p(X) & $false)", "$false"), ("? [X] : $true", "$true"), ("p <~> $true", "~ p"),
])
def test_truth_constant_simplification(source, expected):
    assert format_formula(simplify_truth_constants(parse_formula(source))) == expected


def test_unchanged_formulas_come_back_as_themselves():
    f = parse_formula("! [X] : (p(X) => q(X))")
    assert simplify_truth_constants(f) is f


def test_clauses_pass_through_and_a_clause_conjecture_is_closed_before_negation():
    problem = parse_problem("cnf(c, axiom, p(X) | ~ q(X, Y)).\ncnf(g, conjecture, r(X)).")
    clause_set = clausify_problem(problem)
    assert text(clause_set) == ("cnf(c_1, axiom, p(X0) | ~ q(X0,X1)).\n"
                                "cnf(g_1, negated_conjecture, ~ r(sk_c0)).\n")


def test_skolem_numbering_restarts_for_every_problem():
    problem = parse_problem("fof(a, axiom, ? [X] : p(X)).\nfof(b, axiom, ! [Y] : ? [Z] : q(Y, Z)).")
    first, second = text(clausify_problem(problem)), text(clausify_problem(problem))
    assert first == second == "cnf(a_1, axiom, p(sk_c0)).\ncnf(b_1, axiom, q(X0,sk_f0(X0))).\n"
    signature = clausify_problem(problem).signature
    assert "sk_c0" in signature.constants and "sk_f0" in signature.functions
    assert "p" in signature.predicates


def test_problem_symbols_shaped_like_skolem_symbols_are_renamed():
    problem = parse_problem("fof(a, axiom, p(sk_c0)).\nfof(b, axiom, ? [X] : q(X, sk_f0(sk_c0))).")
    assert text(clausify_problem(problem)) == ("cnf(a_1, axiom, p(sk_c0_)).\n"
                                               "cnf(b_1, axiom, q(sk_c0,sk_f0_(sk_c0_))).\n")


def test_clause_limit():
    disjunction = " | ".join(f"(a{i} & b{i})" for i in range(30))
    problem = parse_problem(f"fof(big, axiom, {disjunction}).", source="big.p")
    with pytest.raises(ClauseLimitError) as caught:
        clausify_problem(problem, max_clauses=1000)
    assert caught.value.clauses == 2 ** 30
    assert caught.value.summary == ("big.p:1: formula 'big' would give 1,073,741,824 clauses with the distribute "
                                    "clause form (limit 1,000)")
    small = parse_problem("fof(s, axiom, (a & b) | (c & d)).")
    assert len(clausify_problem(small, max_clauses=4)) == 4


def test_roles_without_meaning_and_unknown_forms():
    with pytest.raises(TPTPError, match="the role 'unknown' gives formula 'u' no meaning"):
        clausify_problem(parse_problem("fof(u, unknown, p)."))
    with pytest.raises(ValueError, match="unknown clause form 'magic'"):
        clausify_problem(parse_problem("fof(a, axiom, p)."), cnf="magic")
    assert "distribute" in clause_forms()


def test_a_second_clause_form_is_one_registration(monkeypatch):
    from zelqor.prover import clausifier, problem as module

    monkeypatch.setattr(module, "_FORMS", dict(module._FORMS))
    # Without an estimate the clauses are counted once made, so the limit still holds.
    plain = ClauseForm("plain", clausifier.to_cnf, re.compile(r"sk_[cf]\d+"), clausifier.reset_skolem_counters)
    register_clause_form(plain)
    register_clause_form(plain)
    assert clause_forms() == ("distribute", "plain") and clause_form("plain") is plain
    with pytest.raises(ValueError, match="'plain' is already registered"):
        register_clause_form(ClauseForm("plain", clausifier.to_cnf, re.compile("x")))
    problem = parse_problem("fof(f, axiom, (a & b) | (c & d) | (e & g)).\nfof(s, axiom, p | q).")
    assert len(clausify_problem(problem, cnf="plain")) == 9
    with pytest.raises(ClauseLimitError, match="formula 'f' gives 8 clauses with the plain clause form"):
        clausify_problem(problem, cnf="plain", max_clauses=7)


def test_typed_clauses_are_written_with_their_declarations():
    problem = parse_problem("tff(s_type, type, s: $tType).\ntff(c_type, type, c: s).\n"
                            "tff(r_type, type, r: (s * s) > $o).\n"
                            "tff(a, axiom, ! [X: s] : ? [Y: s] : r(X, Y)).\ntff(g, conjecture, r(c, c)).")
    clause_set = clausify_problem(problem)
    assert format_declarations(clause_set.signature, clause_set.sorts) == (
        "tff(type_s, type, s: $tType).\ntff(c_type, type, c: s).\ntff(sk_f0_type, type, sk_f0: s > s).\n"
        "tff(r_type, type, r: (s * s) > $o).\n")
    assert text(clause_set) == ("tcf(a_1, axiom, ! [X0: s] : (r(X0,sk_f0(X0)))).\n"
                                "tcf(g_1, negated_conjecture, ~ r(c,c)).\n")


def test_literal_text_of_a_hand_built_clause():
    x = Variable(4)
    clause = Clause(frozenset({Literal(PredicateApp("p", 1, (x,)), False),
                               Literal(PredicateApp("q", 1, (Constant("a"),)))}))
    assert format_clauses([("h", "axiom", [clause])]) == "cnf(h_1, axiom, q(a) | ~ p(X0)).\n"
