"""Names a module reads when it runs: a deleted one is a NameError, a restored one gives the old result."""

import pytest

import zelqor.constructive.kripke as kripke
import zelqor.core.ast as ast
import zelqor.core.visitors as visitors
import zelqor.prover.clausifier as clausifier
from zelqor.core.ast import And, Exists, Forall, FunctionApp, Implies, Not, Or, PredicateApp, Variable
from zelqor.core.exceptions import InvalidFormulaError

x, y = Variable(0), Variable(1)
P = PredicateApp("P", 1, (x,))
Q = PredicateApp("Q", 1, (y,))


def kripke_dict():
    model = kripke.KripkeModel()
    w = kripke.World(0, "w0")
    model.add_valuation(w, P)
    return model.to_dict()


class Renamer(visitors.ASTTransformer):
    def visit_variable(self, node):
        return Variable(node.id + 1)


def renamed_app():
    return Renamer().visit(PredicateApp("P", 1, (FunctionApp("f", 1, (x,)),)))


CASES = [
    # module, name, call
    (visitors, "Term", renamed_app),
    (visitors, "And", lambda: visitors.ExportVisitor().visit(Not(And(P, Q)))),
    (visitors, "FreeVariableCollector", lambda: visitors.SubstitutionTransformer({y: x}).visit(Forall(x, Q))),
    (clausifier, "_skolem_constant_counter", lambda: clausifier.skolemize(Exists(x, P))),
    (clausifier, "itertools", clausifier.reset_skolem_counters),
    (clausifier, "Literal", lambda: clausifier.formula_to_clauses(Or(P, Not(Q)))),
    (clausifier, "to_nnf", lambda: clausifier.to_cnf(Implies(P, Q))),
    (kripke, "to_string", kripke_dict),
]


def restore(namespace, saved):
    # In the same order: other tests read the modules' surfaces in order.
    namespace.clear()
    namespace.update(saved)


@pytest.mark.parametrize("module, name, call", CASES, ids=[f"{m.__name__}.{n}" for m, n, _ in CASES])
def test_deleted_global_is_a_name_error_until_restored(module, name, call):
    namespace = vars(module)
    saved = dict(namespace)
    try:
        clausifier.reset_skolem_counters()
        before = call()
        del namespace[name]
        with pytest.raises(NameError, match=f"^name '{name}' is not defined$"):
            call()
    finally:
        restore(namespace, saved)
    clausifier.reset_skolem_counters()
    assert call() == before


def test_invalid_formula_error_is_read_when_raised():
    class Replaced(InvalidFormulaError):
        pass

    namespace = vars(ast)
    saved = dict(namespace)
    try:
        namespace["InvalidFormulaError"] = Replaced
        with pytest.raises(Replaced, match="Variable ID must be non-negative, got -1."):
            Variable(-1)
        # Gone from the module: the class imported at load still serves.
        del namespace["InvalidFormulaError"]
        with pytest.raises(InvalidFormulaError) as raised:
            Variable(-1)
        assert type(raised.value) is InvalidFormulaError
    finally:
        restore(namespace, saved)
