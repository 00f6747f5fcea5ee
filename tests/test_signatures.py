"""inspect.signature and help() work on every public callable of the native modules."""

import importlib
import inspect
import pydoc
import sys
import types

import pytest

NATIVE_MODULES = [
    "zelqor.core.ast", "zelqor.core.visitors", "zelqor.prover.clausifier", "zelqor.constructive.kripke",
    "zelqor.core._substitutions", "zelqor.tptp._native", "zelqor.constructive._search",
]


def public_callables(module_name):
    module = importlib.import_module(module_name)
    for name, value in sorted(vars(module).items()):
        if name.startswith("_") or not callable(value):
            continue
        own = getattr(value, "__module__", None) == module_name or getattr(value, "__self__", None) is module
        if not own:
            continue  # imported into the module, documented where it is defined
        yield f"{module_name}.{name}", value
        if isinstance(value, type):
            for attr, member in sorted(vars(value).items()):
                if attr.startswith("_") or isinstance(member, (property, types.MemberDescriptorType,
                                                               types.GetSetDescriptorType)):
                    continue
                if callable(member) or hasattr(member, "__get__"):
                    yield f"{module_name}.{name}.{attr}", getattr(value, attr)


CALLABLES = [item for module in NATIVE_MODULES for item in public_callables(module)]


# From 3.13 inspect binds a class's own __init__ to the class itself before
# reading it, which a method descriptor refuses; the visitors that take
# arguments define __init__ that way.
INIT_DESCRIPTORS = {"zelqor.core.visitors.ExportVisitor", "zelqor.core.visitors.SubstitutionTransformer"}


@pytest.mark.parametrize("name, value", CALLABLES, ids=[name for name, _ in CALLABLES])
def test_signature(name, value):
    if name in INIT_DESCRIPTORS and sys.version_info >= (3, 13):
        pytest.xfail("inspect on 3.13+ cannot bind a method-descriptor __init__ to its class")
    inspect.signature(value)


def test_every_module_contributes():
    for module in NATIVE_MODULES:
        assert any(name.startswith(module + ".") for name, _ in CALLABLES), module


def test_signatures_name_the_parameters():
    from zelqor.core.ast import Forall, FunctionApp, Variable
    from zelqor.core.visitors import ASTVisitor, SizeVisitor
    from zelqor.prover.clausifier import Clause

    assert list(inspect.signature(Forall).parameters) == ["variable", "body"]
    variable = inspect.signature(Variable).parameters
    assert variable["sort"].kind is inspect.Parameter.KEYWORD_ONLY
    assert variable["kind"].default is not inspect.Parameter.empty
    assert list(inspect.signature(FunctionApp).parameters) == ["func", "arity", "args", "return_sort", "sort"]
    assert list(inspect.signature(Clause).parameters) == ["literals"]
    assert str(inspect.signature(SizeVisitor)) == "()"
    assert list(inspect.signature(ASTVisitor.visit_and).parameters) == ["self", "node"]
    assert list(inspect.signature(SizeVisitor().visit).parameters) == ["node"]


def test_docs_keep_their_prose():
    # The signature lives in the type's internal doc; __doc__ is the prose alone.
    from zelqor.core.ast import Forall
    from zelqor.core.visitors import ASTVisitor, DepthVisitor

    assert Forall.__doc__ == "Represents universal quantification forall variable. body."
    assert DepthVisitor.__doc__ == "Depth of a term or formula, terms included; a leaf has depth 1."
    assert ASTVisitor.__doc__.startswith("Base of all visitors")


def test_help_shows_constructor_and_fields():
    from zelqor.core.ast import Forall
    from zelqor.prover.clausifier import Literal

    text = pydoc.render_doc(Forall, renderer=pydoc.plaintext)
    assert "Forall(variable, body)" in text
    assert "variable" in text.split("Data descriptors")[1] and "body" in text
    assert "Literal(atom, positive=True)" in pydoc.render_doc(Literal, renderer=pydoc.plaintext)


def test_fields_say_what_they_hold():
    from zelqor.core.ast import And, FunctionApp, Variable
    from zelqor.prover.clausifier import Clause, Literal

    for cls, field in [(Variable, "id"), (FunctionApp, "args"), (And, "left"), (Literal, "atom"),
                       (Clause, "literals")]:
        assert vars(cls)[field].__doc__, f"{cls.__name__}.{field}"
