"""Show the formulas of a TPTP problem, one per line, in the notation of your choice.

Each line gives the formula's name, its role and the formula (includes read in place).
The tptp notation writes the whole problem back as TPTP, with the source names of variables.

examples:
  zelqor show examples/socrates.p
  zelqor show problem.p --notation latex
  zelqor show problem.p --notation tptp > flat.p
"""

from __future__ import annotations

import sys

from zelqor.cli.common import EXIT_OK, add_include_option, allow_deep_formulas
from zelqor.core.visitors import ExportVisitor
from zelqor.tptp import format_problem, read_problem


def add_arguments(parser) -> None:
    parser.add_argument("problem", metavar="PROBLEM", help="a TPTP problem file")
    parser.add_argument("--notation", choices=("infix", "prefix", "latex", "tptp"), default="infix",
                        help="how to write the formulas (default: %(default)s)")
    add_include_option(parser)


def run(args) -> int:
    allow_deep_formulas()
    problem = read_problem(args.problem, include_dirs=args.include_dirs)
    if args.notation == "tptp":
        sys.stdout.write(format_problem(problem))
        return EXIT_OK
    visitor = ExportVisitor(args.notation)
    names = max((len(f.name) for f in problem), default=0)
    roles = max((len(f.role) for f in problem), default=0)
    for formula in problem:
        print(f"{formula.name:<{names}}  {formula.role:<{roles}}  {visitor.visit(formula.formula)}")
    return EXIT_OK
