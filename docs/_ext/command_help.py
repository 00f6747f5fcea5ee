"""The ``command-help`` directive: the ``--help`` text of the ``zelqor`` command and of each of
its subcommands, produced at build time by the installed package, so that the command-line
reference cannot drift from the program. Without the command the page says so."""

import importlib.util
import os
import subprocess
import sys

from docutils import nodes
from docutils.parsers.rst import Directive

# Runs zelqor's argument parser as the command would, in a fresh interpreter.
HELP = "import sys\nfrom zelqor.cli import main\nsys.exit(main(sys.argv[1:]))"


def help_text(*words):
    env = dict(os.environ, COLUMNS="88")
    done = subprocess.run([sys.executable, "-c", HELP, *words, "--help"], capture_output=True, text=True,
                          timeout=60, env=env, check=True)
    return done.stdout.rstrip()


class CommandHelpDirective(Directive):
    def run(self):
        if importlib.util.find_spec("zelqor.cli") is None:
            return [nodes.paragraph(text="The zelqor command is not part of this build.")]
        from zelqor.cli import COMMANDS

        out = [nodes.literal_block(text=help_text())]
        for name in COMMANDS:
            out.append(nodes.rubric(text=f"zelqor {name}"))
            out.append(nodes.literal_block(text=help_text(name)))
        return out


def setup(app):
    app.add_directive("command-help", CommandHelpDirective)
    return {"parallel_read_safe": True, "version": "1"}
