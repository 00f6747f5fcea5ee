"""What each module offers when imported, and how its import fails."""

import importlib
import subprocess
import sys
import textwrap

import pytest

TYPING_AST = {"Tuple", "FrozenSet", "Set", "Union", "Dict", "Optional", "Any"}
NODES = {"Term", "Variable", "Constant", "FunctionApp", "Formula", "PredicateApp", "Equality", "Not", "And", "Or",
         "Implies", "Iff", "Forall", "Exists"}

SURFACES = {
    "zelqor.core.ast": {
        "ABC", "dataclass", "field", "Enum", *TYPING_AST, "Sort", "Ind", "InvalidFormulaError",
        "VariableKind", "Term", "Formula", "Variable", "Constant", "FunctionApp", "PredicateApp", "Equality",
        "Not", "And", "Or", "Implies", "Iff", "Forall", "Exists",
        "free_variables", "bound_variables", "formula_depth", "formula_size", "canonicalize_bound_variables",
    },
    "zelqor.core.visitors": {
        "ABC", "abstractmethod", "Generic", "TypeVar", "Union", "Any", "Set", "Dict", "Optional", "Tuple", "List",
        *NODES, "ForallPred", "ExistsPred", "ForallFunc", "ExistsFunc", "PredicateVariable", "FunctionVariable",
        "Sort", "PrimitiveSort", "ParameterizedSort", "FunctionSort", "Ind", "Nat", "Bool",
        "T", "ASTVisitor", "ASTTransformer", "DepthVisitor", "SizeVisitor", "FreeVariableCollector",
        "SubstitutionTransformer", "ExportVisitor",
    },
    "zelqor.prover.clausifier": {
        "itertools", "dataclass", "field", "List", "Set", "FrozenSet", "Dict", "Tuple", "Optional", "Union",
        *NODES, "free_variables", "bound_variables", "Sort", "Ind", "Signature", "substitute_formula",
        "substitute_term", "reset_skolem_counters", "Literal", "Clause", "eliminate_implications", "to_nnf",
        "standardize_variables", "skolemize", "drop_universals", "distribute_cnf", "formula_to_clauses", "to_cnf",
        "negate_and_clausify",
    },
    "zelqor.constructive.kripke": {
        "dataclass", "List", "Optional", "Dict", "Any", "Set", "Formula", "PredicateApp", "Not", "And", "Or",
        "Implies", "Iff", "to_string", "FALSUM", "VERUM", "World", "KripkeModel",
    },
}
EXPORTS = {"zelqor.constructive.kripke": ["World", "KripkeModel"]}


def public_names(module):
    return {name for name in vars(module) if not name.startswith("_")}


@pytest.mark.parametrize("name", sorted(SURFACES))
def test_public_names(name):
    module = importlib.import_module(name)
    assert public_names(module) == SURFACES[name]
    assert getattr(module, "__all__", None) == EXPORTS.get(name)


def test_imported_names_are_the_originals():
    from zelqor.core import ast, exceptions, sorts
    import typing

    assert ast.Ind is sorts.Ind and ast.Sort is sorts.Sort
    assert ast.InvalidFormulaError is exceptions.InvalidFormulaError
    assert ast.Optional is typing.Optional


@pytest.mark.parametrize("name", sorted(SURFACES))
def test_wildcard_import(name):
    namespace = {}
    exec(f"from {name} import *", namespace)
    assert set(namespace) - {"__builtins__"} == set(EXPORTS.get(name, SURFACES[name]))


def test_kripke_keeps_the_formula_printer_and_the_outside_predicates():
    from zelqor.constructive import common, kripke
    from zelqor.core import parser

    assert kripke.to_string is parser.to_string and kripke.to_string is not kripke.KripkeModel.to_string
    assert kripke._is_atomic is common._is_atomic and kripke.FALSUM is common.FALSUM


BLOCKER = textwrap.dedent("""
    import importlib.abc, sys

    class Block(importlib.abc.MetaPathFinder):
        def find_spec(self, name, path=None, target=None):
            if name == {blocked!r}:
                raise ModuleNotFoundError(f"No module named {{name!r}}", name=name)
            return None

    sys.meta_path.insert(0, Block())
    results = []
    for module in {modules!r}:
        try:
            __import__(module)
            results.append(module + "=ok")
        except ImportError as error:
            results.append(module + "=ImportError")
    print(" ".join(results))
""")


def import_with_blocked(blocked, modules):
    code = BLOCKER.format(blocked=blocked, modules=modules)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return dict(item.split("=") for item in done.stdout.split())


def test_missing_sorts_fails_the_tree():
    assert import_with_blocked("zelqor.core.sorts", ["zelqor.core.ast"]) == {"zelqor.core.ast": "ImportError"}


def test_missing_sorts_fails_every_module():
    modules = [name for name in SURFACES if name != "zelqor.core.ast"]
    assert set(import_with_blocked("zelqor.core.sorts", modules).values()) == {"ImportError"}


@pytest.mark.parametrize("blocked", ["zelqor.core.signature", "zelqor.core.substitutions"])
def test_missing_prover_support_fails_only_the_clausifier(blocked):
    assert import_with_blocked(blocked, sorted(SURFACES)) == {
        name: "ImportError" if name == "zelqor.prover.clausifier" else "ok" for name in SURFACES}


@pytest.mark.parametrize("blocked", ["zelqor.constructive.common", "zelqor.core.parser"])
def test_missing_constructive_support_fails_only_kripke(blocked):
    assert import_with_blocked(blocked, sorted(SURFACES)) == {
        name: "ImportError" if name == "zelqor.constructive.kripke" else "ok" for name in SURFACES}


def test_missing_second_order_module_fails_only_the_visitors():
    assert import_with_blocked("zelqor.sol.ast_ext", sorted(SURFACES) + ["zelqor.core.parser"]) == {
        name: "ImportError" if name == "zelqor.core.visitors" else "ok" for name in [*SURFACES, "zelqor.core.parser"]}


@pytest.mark.parametrize("name", sorted(SURFACES))
def test_no_module_loads_the_visitors_clausifier_or_kripke(name):
    leaves = {"zelqor.core.visitors", "zelqor.prover.clausifier", "zelqor.constructive.kripke"} - {name}
    code = f"import sys, {name}; print(sorted(m for m in sys.modules if m in {sorted(leaves)!r}))"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.strip() == "[]", done.stdout + done.stderr
