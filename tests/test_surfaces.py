"""What each module offers when imported, and how its import fails."""

import importlib
import subprocess
import sys
import textwrap

import pytest

TYPING_AST = {"Tuple", "FrozenSet", "Set", "Union", "Dict", "Optional", "Any"}

SURFACES = {
    "zelqor.core.ast": {
        "ABC", "dataclass", "field", "Enum", *TYPING_AST, "Sort", "Ind", "InvalidFormulaError",
        "VariableKind", "Term", "Formula", "Variable", "Constant", "FunctionApp", "PredicateApp", "Equality",
        "Not", "And", "Or", "Implies", "Iff", "Forall", "Exists",
        "free_variables", "bound_variables", "formula_depth", "formula_size", "canonicalize_bound_variables",
    },
}


def public_names(module):
    return {name for name in vars(module) if not name.startswith("_")}


@pytest.mark.parametrize("name", sorted(SURFACES))
def test_public_names(name):
    module = importlib.import_module(name)
    assert public_names(module) == SURFACES[name]
    assert not hasattr(module, "__all__")


def test_imported_names_are_the_originals():
    from zelqor.core import ast, exceptions, sorts
    import typing

    assert ast.Ind is sorts.Ind and ast.Sort is sorts.Sort
    assert ast.InvalidFormulaError is exceptions.InvalidFormulaError
    assert ast.Optional is typing.Optional


def test_wildcard_import_binds_every_public_name():
    namespace = {}
    exec("from zelqor.core.ast import *", namespace)
    assert set(namespace) - {"__builtins__"} == SURFACES["zelqor.core.ast"]


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


def test_missing_second_order_module_spares_the_tree():
    assert import_with_blocked("zelqor.sol.ast_ext", ["zelqor.core.ast", "zelqor.core.parser"]) == {
        "zelqor.core.ast": "ok", "zelqor.core.parser": "ok"}
