"""The ``zelqor`` command line.

Each command is a module of this package listed in `COMMANDS`. Adding one, say ``decide``, is a
module ``zelqor/cli/decide.py`` and its name in `COMMANDS`; the module holds

- a docstring: its first line is the summary ``zelqor --help`` lists, the whole is the text of
  ``zelqor decide --help`` (end it with an ``examples:`` block, as the other commands do);
- ``add_arguments(parser)``, declaring its arguments on the `argparse` parser given;
- ``run(args) -> int``, doing the work and returning an `ExitStatus`.

``run`` may let a `ZelqorError` (a fault in the user's input, such as a `TPTPError`), an
`OSError`, a `RecursionError` or a `MemoryError` through: `main` prints it as one line
(``file:line:col: message``) on stderr and exits with ``ExitStatus.FAILURE``; anything else is a
bug and keeps its traceback. `zelqor.cli.common` holds what commands share: the ``-I`` option,
output files written whole or not at all, the progress bar and ``--jobs``.
"""

from __future__ import annotations

import argparse
import sys
from importlib import import_module
from typing import List, Optional

from zelqor import __version__
from zelqor.cli.common import ExitStatus, error_line

COMMANDS = (
    "clausify",
    "decide",
    "show",
)


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of ``zelqor`` with every command."""
    parser = argparse.ArgumentParser(
        prog="zelqor", description="Symbolic logic from the command line: read TPTP problems, show and clausify them.",
        epilog="Run 'zelqor COMMAND --help' for the options of a command.")
    parser.add_argument("--version", action="version", version=f"zelqor {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for name in COMMANDS:
        module = import_module(f"zelqor.cli.{name}")
        doc = (module.__doc__ or name).strip()
        sub = commands.add_parser(name, help=doc.splitlines()[0], description=doc,
                                  formatter_class=argparse.RawDescriptionHelpFormatter)
        module.add_arguments(sub)
        sub.set_defaults(run=module.run)
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    """Run ``zelqor`` with ``argv`` (the process's arguments by default); returns the exit status."""
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except KeyboardInterrupt:
        return ExitStatus.INTERRUPTED
    except BrokenPipeError:
        # The reader went away (`zelqor clausify x.p | head`): nothing more to say.
        sys.stderr.close()
        return ExitStatus.OK
    except Exception as error:  # noqa: BLE001 (one line for anything a command lets through)
        line = error_line(error)
        if line is None:
            raise
        print(line, file=sys.stderr)
        return ExitStatus.FAILURE
