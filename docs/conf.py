"""Sphinx configuration: the guide, the command-line and API references, built from the installed package."""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "_ext"))

project = "zelqor"
author = "the zelqor developers"
copyright = "the zelqor developers"

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.graphviz",
    "countermodels",
    "command_help",
    "optional_modules",
]

# The API pages document the installed extension modules: their docstrings and
# text signatures are the reference. (Left to itself, autodoc would load the
# type stubs in their place, which carry no prose, and leave the stub modules
# in sys.modules for every later import of the build.)
os.environ["SPHINX_AUTODOC_IGNORE_NATIVE_MODULE_TYPE_STUBS"] = "1"
autodoc_default_options = {"members": True, "member-order": "bysource"}
autodoc_typehints = "signature"
autodoc_inherit_docstrings = False

# Pictures of countermodels need Graphviz; without it the pages show the
# model's text form instead.
graphviz_output_format = "svg"
zelqor_have_dot = shutil.which("dot") is not None

exclude_patterns = ["_build"]
html_theme = "alabaster"
html_title = "zelqor"
nitpicky = False
