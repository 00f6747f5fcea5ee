"""Module surface, import failures, and trees deeper than the stack."""

import subprocess
import sys
import textwrap

import zelqor.constructive.kripke as kripke
from zelqor.constructive import common
from zelqor.core import ast, parser


def test_names_in_import_order():
    # In a fresh interpreter: other tests replace and restore attributes.
    done = run("import zelqor.constructive.kripke as k; print(*[n for n in vars(k) if not n.startswith('__')])")
    assert done.stdout.split() == ["dataclass", "List", "Optional", "Dict", "Any", "Set", "Formula", "PredicateApp", "Not",
                     "And", "Or", "Implies", "Iff", "to_string", "FALSUM", "VERUM", "_is_falsum", "_is_verum",
                     "_is_atomic", "World", "KripkeModel"]
    assert kripke.__all__ == ["World", "KripkeModel"]
    assert kripke.to_string is parser.to_string and kripke.Not is ast.Not and kripke.FALSUM is common.FALSUM
    namespace = {}
    exec("from zelqor.constructive.kripke import *", namespace)
    assert sorted(n for n in namespace if n != "__builtins__") == ["KripkeModel", "World"]
    assert repr(kripke.KripkeModel) == "<class 'zelqor.constructive.kripke.KripkeModel'>"


def run(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=600)


def test_missing_outside_module_fails_only_this_import():
    for blocked, name in (("zelqor.constructive.common", "common"), ("zelqor.core.parser", "parser")):
        done = run(f"""
            import sys
            sys.modules[{blocked!r}] = None
            import zelqor.core.ast
            try:
                import zelqor.constructive.kripke
            except ImportError as e:
                print("ImportError", {name!r} in str(e))
        """)
        assert done.stdout.strip() == "ImportError True", done.stderr


def test_deep_formulas_end_in_recursion_error():
    done = run("""
        from zelqor.constructive.kripke import KripkeModel, World
        from zelqor.core.ast import Not, Implies, PredicateApp
        p = PredicateApp("P", 0, ())
        f, g = p, p
        for _ in range(10**6):
            f, g = Not(f), Implies(g, p)
        m = KripkeModel()
        w = World(0, "w0")
        m.add_valuation(w, f)
        for deep in (f, g):
            try:
                m.evaluate(deep, w)
                print("ok")
            except RecursionError:
                print("RecursionError")
        print(m.to_string().count("¬"))
        assert m.evaluate(Not(Not(p)), w) is False
    """)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.split() == ["RecursionError", "RecursionError", str(10**6)]
