"""Trees deeper than the stack: every visitor ends in RecursionError, never a crash."""

import subprocess
import sys
import textwrap

SCRIPT = textwrap.dedent("""
    from zelqor.core.ast import *
    from zelqor.core.visitors import *

    class Spy(SizeVisitor):
        def visit_not(self, node):
            return 1 + self.visit(node.operand)

    deep = PredicateApp("P", 1, (Variable(0),))
    for _ in range(N):
        deep = Forall(Variable(1), Not(deep)) if _ % 2 else Not(deep)
    outcomes = []
    for name, visitor in [("export", ExportVisitor("latex")), ("transform", ASTTransformer()),
                          ("subst", SubstitutionTransformer({Variable(0): Variable(5)})),
                          ("size", SizeVisitor()), ("depth", DepthVisitor()),
                          ("free", FreeVariableCollector()), ("spy", Spy())]:
        try:
            visitor.visit(deep)
            outcomes.append(name + "=ok")
        except RecursionError:
            outcomes.append(name + "=RecursionError")
    assert DepthVisitor().visit(Not(Not(PredicateApp("P", 0, ())))) == 3  # still usable
    print(" ".join(outcomes))
""")


def test_million_deep_chain_never_crashes():
    done = subprocess.run([sys.executable, "-c", "N = 10**6\n" + SCRIPT], capture_output=True, text=True,
                          timeout=600)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.count("=RecursionError") == 7
