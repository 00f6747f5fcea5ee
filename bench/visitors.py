"""Cost of the C++ visitors against plain Python visitors doing the same walk.

    python bench/visitors.py

Every row walks one formula of about 10^5 nodes (connectives, quantifiers,
atoms over variables, constants and function applications). The Python
baselines below dispatch as ASTVisitor.visit does: the class's
table from node class to method name, then getattr; the export tests the
notation in each operation like ExportVisitor. Each baseline's result is
checked against the C++ one first. Times are the best of several runs.
The last rows measure a subclass that overrides one operation in Python:
it costs one Python call per node of that kind and no more.
"""

import sys
import timeit

from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
)
from zelqor.core.visitors import (
    ASTTransformer, ExportVisitor, FreeVariableCollector, SizeVisitor, SubstitutionTransformer,
)

REPEAT = 7
BINARY = [And, Or, Implies, Iff]
VARS = [Variable(i) for i in range(50)]


def build(n):
    if n <= 1:
        x, y = VARS[n * 7 % 50], VARS[(n * 7 + 3) % 50]
        return PredicateApp("P", 2, (x, FunctionApp("f", 2, (y, Constant("c")))))
    node = BINARY[n % 4](build(n // 2), build(n - n // 2))
    if n % 7 == 0:
        node = Forall(VARS[n % 50], node)
    if n % 11 == 0:
        node = Not(node)
    return node


def build_formula():
    n = 1000
    while True:
        formula = build(n)
        if SizeVisitor().visit(formula) >= 100_000:
            return formula
        n += n // 8


# ---- plain Python visitors ------------------------------------------------------

NAMES = {
    Variable: "visit_variable", Constant: "visit_constant", FunctionApp: "visit_function_app",
    PredicateApp: "visit_predicate_app", Equality: "visit_equality", Not: "visit_not", And: "visit_and",
    Or: "visit_or", Implies: "visit_implies", Iff: "visit_iff", Forall: "visit_forall", Exists: "visit_exists",
}


class PyVisitor:
    _dispatch_table = NAMES

    def visit(self, node):
        name = self._dispatch_table.get(type(node))
        if name is None:
            raise TypeError(f"Unsupported AST node type: {type(node).__name__}")
        return getattr(self, name)(node)


class PyExport(PyVisitor):
    """The three notations, tested in each operation as ExportVisitor does."""

    CONNECTIVES = {And: (" & ", "(and ", " \\land "), Or: (" | ", "(or ", " \\lor "),
                   Implies: (" => ", "(=> ", " \\implies "), Iff: (" <=> ", "(<=> ", " \\iff ")}

    def __init__(self, notation="infix"):
        self.notation = notation

    def visit_variable(self, node):
        if self.notation == "latex":
            return f"v_{{{node.id}}}"
        return f"v{node.id}"

    def visit_constant(self, node):
        return node.name

    def visit_function_app(self, node):
        name = node.func
        if self.notation == "prefix":
            if node.args:
                return f"({name} {' '.join(self.visit(a) for a in node.args)})"
            return name
        return f"{name}({', '.join(self.visit(a) for a in node.args)})"

    def visit_predicate_app(self, node):
        name = node.pred
        if not node.args:
            return name
        if self.notation == "prefix":
            return f"({name} {' '.join(self.visit(a) for a in node.args)})"
        return f"{name}({', '.join(self.visit(a) for a in node.args)})"

    def visit_equality(self, node):
        left, right = self.visit(node.left), self.visit(node.right)
        if self.notation == "prefix":
            return f"(= {left} {right})"
        return f"{left} = {right}"

    def visit_not(self, node):
        x = self.visit(node.operand)
        if self.notation == "prefix":
            return f"(not {x})"
        compound = isinstance(node.operand, (And, Or, Implies, Iff))
        if self.notation == "latex":
            return f"\\neg ({x})" if compound else f"\\neg {x}"
        return f"~({x})" if compound else f"~{x}"

    def _binary(self, node):
        left, right = self.visit(node.left), self.visit(node.right)
        infix, head, latex = self.CONNECTIVES[type(node)]
        if self.notation == "prefix":
            return f"{head}{left} {right})"
        if self.notation == "latex":
            return f"({left}{latex}{right})"
        return f"({left}{infix}{right})"

    visit_and = visit_or = visit_implies = visit_iff = _binary

    def _quantifier(self, node, word):
        v, b = self.visit(node.variable), self.visit(node.body)
        sort = node.variable.sort.name
        if self.notation == "prefix":
            return f"({word} ({v} : {sort}) {b})"
        if self.notation == "latex":
            return f"\\{word} {v} : {sort}, {b}"
        return f"{word} {v} : {sort}, {b}"

    def visit_forall(self, node):
        return self._quantifier(node, "forall")

    def visit_exists(self, node):
        return self._quantifier(node, "exists")


class PySize(PyVisitor):
    def visit_variable(self, node):
        return 1

    visit_constant = visit_variable

    def visit_function_app(self, node):
        return 1 + sum(self.visit(a) for a in node.args)

    visit_predicate_app = visit_function_app

    def visit_not(self, node):
        return 1 + self.visit(node.operand)

    def _binary(self, node):
        return 1 + self.visit(node.left) + self.visit(node.right)

    visit_and = visit_or = visit_implies = visit_iff = visit_equality = _binary

    def visit_forall(self, node):
        return 1 + self.visit(node.variable) + self.visit(node.body)

    visit_exists = visit_forall


class PyFree(PyVisitor):
    def visit_variable(self, node):
        return {node}

    def visit_constant(self, node):
        return set()

    def visit_function_app(self, node):
        result = set()
        for a in node.args:
            result.update(self.visit(a))
        return result

    visit_predicate_app = visit_function_app

    def visit_not(self, node):
        return self.visit(node.operand)

    def _binary(self, node):
        return self.visit(node.left) | self.visit(node.right)

    visit_and = visit_or = visit_implies = visit_iff = visit_equality = _binary

    def visit_forall(self, node):
        return self.visit(node.body) - {node.variable}

    visit_exists = visit_forall


class PyTransformer(PyVisitor):
    def visit_variable(self, node):
        return node

    visit_constant = visit_variable

    def visit_function_app(self, node):
        new_args = tuple(self.visit(a) for a in node.args)
        if all(a is b for a, b in zip(new_args, node.args)):
            return node
        return FunctionApp(func=node.func, arity=node.arity, args=new_args, return_sort=node.return_sort)

    def visit_predicate_app(self, node):
        new_args = tuple(self.visit(a) for a in node.args)
        if all(a is b for a, b in zip(new_args, node.args)):
            return node
        return PredicateApp(pred=node.pred, arity=node.arity, args=new_args)

    def visit_not(self, node):
        o = self.visit(node.operand)
        return node if o is node.operand else Not(o)

    def _binary(self, node):
        l, r = self.visit(node.left), self.visit(node.right)
        return node if l is node.left and r is node.right else type(node)(l, r)

    visit_and = visit_or = visit_implies = visit_iff = visit_equality = _binary

    def visit_forall(self, node):
        v, b = self.visit(node.variable), self.visit(node.body)
        return node if v is node.variable and b is node.body else type(node)(v, b)

    visit_exists = visit_forall


class PySubst(PyTransformer):
    def __init__(self, mapping):
        self.mapping = mapping

    def visit_variable(self, node):
        return self.mapping.get(node, node)

    def visit_forall(self, node, cls=Forall):
        bound = node.variable
        collector = PyFree()
        replacement_free = set()
        for v, t in self.mapping.items():
            if v != bound:
                replacement_free.update(collector.visit(t))
        if bound not in replacement_free:
            inner = {v: t for v, t in self.mapping.items() if v != bound}
            return cls(bound, PySubst(inner).visit(node.body))
        all_vars = collector.visit(node.body) | replacement_free | set(self.mapping)
        fresh = Variable(max(v.id for v in all_vars) + 1, bound.kind, sort=bound.sort)
        renamed = PySubst({bound: fresh}).visit(node.body)
        return cls(fresh, self.visit(renamed))

    def visit_exists(self, node):
        return self.visit_forall(node, Exists)


# ---- the one-override rows -----------------------------------------------------

calls = 0


class CountingExport(ExportVisitor):
    def visit_constant(self, node):
        global calls
        calls += 1
        return node.name


class PyCountingExport(PyExport):
    def visit_constant(self, node):
        global calls
        calls += 1
        return node.name


def best(fn):
    return min(timeit.repeat(fn, number=1, repeat=REPEAT))


def main():
    sys.setrecursionlimit(10_000)
    formula = build_formula()
    size = SizeVisitor().visit(formula)
    mapping = {VARS[3]: FunctionApp("g", 1, (VARS[5],)), VARS[8]: Constant("d")}

    # Same results first.
    for notation in ("infix", "prefix", "latex"):
        assert ExportVisitor(notation).visit(formula) == PyExport(notation).visit(formula)
    assert FreeVariableCollector().visit(formula) == PyFree().visit(formula)
    assert PySize().visit(formula) == size
    assert ASTTransformer().visit(formula) is formula and PyTransformer().visit(formula) is formula
    assert SubstitutionTransformer(mapping).visit(formula) == PySubst(mapping).visit(formula)

    rows = [
        ("ExportVisitor('infix')", lambda: ExportVisitor().visit(formula), lambda: PyExport().visit(formula)),
        ("SizeVisitor", lambda: SizeVisitor().visit(formula), lambda: PySize().visit(formula)),
        ("FreeVariableCollector", lambda: FreeVariableCollector().visit(formula), lambda: PyFree().visit(formula)),
        ("ASTTransformer (identity)", lambda: ASTTransformer().visit(formula),
         lambda: PyTransformer().visit(formula)),
        ("SubstitutionTransformer", lambda: SubstitutionTransformer(mapping).visit(formula),
         lambda: PySubst(mapping).visit(formula)),
        ("ExportVisitor, visit_constant overridden", lambda: CountingExport().visit(formula),
         lambda: PyCountingExport().visit(formula)),
    ]
    print(f"formula: {size} nodes; Python {sys.version.split()[0]}; best of {REPEAT}")
    print(f"{'walk':42} {'C++ ms':>9} {'Python ms':>10} {'speed-up':>9}  target")
    for name, fast, slow in rows:
        t_fast, t_slow = best(fast), best(slow)
        target = ">= 10x" if "overridden" not in name else "1 call/constant"
        print(f"{name:42} {t_fast * 1e3:9.2f} {t_slow * 1e3:10.2f} {t_slow / t_fast:8.1f}x  {target}")

    global calls
    calls = 0
    CountingExport().visit(formula)
    constants = calls
    calls = 0
    ExportVisitor().visit(formula)
    print(f"Python calls made by the overriding subclass: {constants} for {constants} constants "
          f"(of {size} nodes); none without the override ({calls})")


if __name__ == "__main__":
    main()
