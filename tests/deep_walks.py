"""Every walk of the library over trees far deeper than any stack, run in this process.

    python deep_walks.py DEPTH LIMIT [--stack KIB] [--shapes ...] [--walks ...] [--skip ...]

sets the recursion limit to LIMIT, builds chains DEPTH levels deep in every
shape (trees, and TPTP texts for the reader) (in a thread with a stack of KIB KiB when asked), runs every walk on
each and prints one line "shape walk outcome" per run, where the outcome is
"ok", "RecursionError" or the name of any other exception. Each walk's name
goes to stderr before it runs, so a crash names its walk; the tests read the
lines and the exit status.
"""

import argparse
import copy
import gc
import pickle
import sys
import threading

from zelqor.constructive.kripke import KripkeModel, World
from zelqor.core.ast import (
    And, Constant, Equality, Exists, Forall, FunctionApp, Iff, Implies, Not, Or, PredicateApp, Variable,
    bound_variables, canonicalize_bound_variables, formula_depth, formula_size, free_variables,
)
from zelqor.core.parser import to_string
from zelqor.core.substitutions import substitute_formula, substitute_term
from zelqor.core.visitors import (
    ASTTransformer, DepthVisitor, ExportVisitor, FreeVariableCollector, SizeVisitor,
    SubstitutionTransformer,
)
from zelqor.prover import clausifier
from zelqor.prover.clausifier import Clause, Literal
from zelqor.tptp import _native as tptp_native
from zelqor.tptp import format_formula, parse_formula, parse_problem

X, Y = Variable(0), Variable(1)
ATOM = PredicateApp("P", 1, (X,))
OTHER = PredicateApp("Q", 1, (Y,))


def deep_term(depth, leaf=X):
    term = leaf
    for _ in range(depth):
        term = FunctionApp("f", 1, (term,))
    return term


VARIABLES = [Variable(i) for i in range(5)]
MIXED = [Not, lambda f: And(OTHER, f), lambda f: Or(f, OTHER), lambda f: Implies(f, OTHER),
         lambda f: Iff(OTHER, f), lambda f: Forall(VARIABLES[4], f), lambda f: Exists(VARIABLES[3], f)]


# One connective repeated down the spine, the chain on the named side.
SPINES = {"not": Not, "and_left": lambda f: And(f, OTHER), "or_right": lambda f: Or(OTHER, f),
          "implies_right": lambda f: Implies(OTHER, f), "iff_left": lambda f: Iff(f, OTHER)}


def chain(shape, depth):
    """A formula `depth` levels deep whose spine has the given shape."""
    if shape == "term":
        return PredicateApp("P", 1, (deep_term(depth),))
    if shape == "equality":
        return Equality(deep_term(depth // 2), deep_term(depth // 2, Constant("c")))
    formula = ATOM
    if shape in SPINES:
        wrap = SPINES[shape]
        for _ in range(depth):
            formula = wrap(formula)
    elif shape == "quantifiers":
        for level in range(0, depth, 2):
            formula = Forall(VARIABLES[level % 3], Exists(VARIABLES[(level + 1) % 3], formula))
    else:  # mixed: every connective in turn
        for level in range(depth):
            formula = MIXED[level % 7](formula)
    return formula


SHAPES = ["not", "and_left", "or_right", "implies_right", "iff_left", "quantifiers", "mixed", "term", "equality",
          "text_not", "text_parens", "text_term", "text_quantifiers", "text_implies"]


class PythonLevels(SizeVisitor):
    """A subclass that takes a Python frame at some levels: negations, conjunctions, universals, applications."""

    def visit_not(self, node):
        return 1 + self.visit(node.operand)

    def visit_function_app(self, node):
        return 1 + sum(self.visit(arg) for arg in node.args)

    def visit_and(self, node):
        return 1 + self.visit(node.left) + self.visit(node.right)

    def visit_forall(self, node):
        return 1 + self.visit(node.body)


def evaluate(formula):
    model = KripkeModel()
    world = World(0, "w0")
    model.add_world(world)
    model.add_valuation(world, ATOM)
    return model.evaluate(formula, world)


def clauses_of_atom(formula):
    """Literal and clause operations on an atom (a deep term when the shape is one)."""
    if not isinstance(formula, (PredicateApp, Equality)):
        return None
    literal = Literal(formula, False)
    clause = Clause(frozenset([literal, literal.negate()]))
    return (literal.to_string(), literal.free_variables(), literal.substitute({X: Y}), hash(literal),
            clause.to_string(), clause.free_variables(), clause.substitute({X: Y}), clause.is_tautology(),
            literal == Literal(formula, False))


def term_walks(formula):
    """The walks that take a term: the deep argument of the atom, when there is one."""
    if not isinstance(formula, PredicateApp) or not formula.args:
        return None
    term = formula.args[0]
    return (repr(term), free_variables(term), bound_variables(term), substitute_term(term, {X: Y}),
            SizeVisitor().visit(term), ExportVisitor("prefix").visit(term), to_string(term))


WALKS = [
    ("hash", hash),
    ("repr", repr),
    ("str", str),
    ("free_variables", free_variables),
    ("bound_variables", bound_variables),
    ("free_vars_cache", lambda f: getattr(f, "_free_vars", None)),
    ("formula_depth", formula_depth),
    ("formula_size", formula_size),
    ("canonicalize", canonicalize_bound_variables),
    ("substitute_formula", lambda f: substitute_formula(f, {X: Y})),
    ("terms", term_walks),
    ("pickle", lambda f: pickle.loads(pickle.dumps(f))),
    ("copy", copy.copy),
    ("deepcopy", copy.deepcopy),
    ("export_infix", ExportVisitor("infix").visit),
    ("export_prefix", ExportVisitor("prefix").visit),
    ("export_latex", ExportVisitor("latex").visit),
    ("transformer", ASTTransformer().visit),
    ("substitution", SubstitutionTransformer({X: Y}).visit),
    ("size", SizeVisitor().visit),
    ("depth", DepthVisitor().visit),
    ("free_collector", FreeVariableCollector().visit),
    ("python_levels", PythonLevels().visit),
    ("eliminate_implications", clausifier.eliminate_implications),
    ("to_nnf", clausifier.to_nnf),
    ("standardize", clausifier.standardize_variables),
    ("skolemize", clausifier.skolemize),
    ("drop_universals", clausifier.drop_universals),
    ("distribute", lambda f: clausifier.distribute_cnf(clausifier.to_nnf(ATOM if isinstance(f, Iff) else f))),
    ("formula_to_clauses", clausifier.formula_to_clauses),
    ("to_cnf", clausifier.to_cnf),
    ("negate_and_clausify", clausifier.negate_and_clausify),
    ("clauses", clauses_of_atom),
    ("evaluate", evaluate),
    ("tptp_write", format_formula),
    ("tptp_write_infix", lambda f: format_formula(f, notation="infix")),
    ("tptp_simplify", tptp_native.simplify_truth_constants),
    ("tptp_count", tptp_native.count_distributed_clauses),
]


def deep_text(shape, depth):
    """TPTP text whose formula nests `depth` levels deep."""
    if shape == "text_not":
        return "~ " * depth + "p"
    if shape == "text_parens":
        return "(" * depth + "p" + ")" * depth
    if shape == "text_term":
        return "p(" + "f(" * depth + "a" + ")" * depth + ")"
    if shape == "text_quantifiers":
        return "! [X] : ? [Y] : " * (depth // 2) + "p(X, Y)"
    return "p => (" * depth + "q" + ")" * depth  # text_implies


TEXT_SHAPES = ["text_not", "text_parens", "text_term", "text_quantifiers", "text_implies"]
TEXT_WALKS = [
    ("parse_formula", parse_formula),
    ("parse_problem", lambda text: parse_problem(f"fof(deep, axiom, {text}).")),
    ("parse_and_write", lambda text: format_formula(parse_formula(text))),
]


def outcome(walk, formula, label):
    print(label, file=sys.stderr, flush=True)  # the last one names the walk that crashed, if one does
    try:
        walk(formula)
        return "ok"
    except RecursionError:
        return "RecursionError"
    except Exception as error:  # reported, and the test says which walk gave it
        return type(error).__name__


def report(line):
    print(line, flush=True)  # a crash leaves the lines before it


def run(depth, shapes, walks):
    for shape in shapes:
        if shape in TEXT_SHAPES:
            text = deep_text(shape, depth)
            for name, walk in TEXT_WALKS:
                report(f"{shape} {name} {outcome(walk, text, f'{shape} {name}')}")
            continue
        formula, twin = chain(shape, depth), chain(shape, depth)
        for name, walk in walks:
            report(f"{shape} {name} {outcome(walk, formula, f'{shape} {name}')}")
        report(f"{shape} equal {outcome(lambda f: f == twin and not f != twin, formula, f'{shape} equal')}")
        del formula, twin  # deallocation of two deep chains
        gc.collect()
        report(f"{shape} dealloc {outcome(lambda f: repr(chain(shape, 5)), None, f'{shape} dealloc')}")


def set_stack_size(size):
    """The requested size, or the least this interpreter accepts above it (3.14 asks for more than 32 KiB)."""
    while True:
        try:
            threading.stack_size(size)
            return
        except ValueError:
            size += 4096


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("depth", type=int)
    parser.add_argument("limit", type=int, help="recursion limit")
    parser.add_argument("--stack", type=int, default=0, help="run in a thread with a stack of this many KiB")
    parser.add_argument("--shapes", default=",".join(SHAPES))
    parser.add_argument("--walks", default="", help="only these walks (all by default)")
    parser.add_argument("--skip", default="", help="walks left out")
    options = parser.parse_args()
    chosen, skipped = set(filter(None, options.walks.split(","))), set(filter(None, options.skip.split(",")))
    walks = [(name, walk) for name, walk in WALKS if (not chosen or name in chosen) and name not in skipped]
    work = (options.depth, options.shapes.split(","), walks)
    sys.setrecursionlimit(options.limit)
    if options.stack:
        set_stack_size(options.stack * 1024)
        worker = threading.Thread(target=run, args=work)
        worker.start()
        worker.join()
    else:
        run(*work)


if __name__ == "__main__":
    main()
