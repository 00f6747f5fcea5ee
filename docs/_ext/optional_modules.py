"""The ``optional-automodule`` directive: ``automodule`` with ``:members:`` for a module that
may not be part of this build yet; without it the page says so instead of failing the build."""

import importlib.util

from docutils import nodes
from docutils.parsers.rst import Directive
from docutils.statemachine import StringList


class OptionalAutomoduleDirective(Directive):
    required_arguments = 1

    def run(self):
        name = self.arguments[0]
        try:
            present = importlib.util.find_spec(name) is not None
        except ImportError:
            present = False
        if not present:
            return [nodes.paragraph(text=f"The module {name} is not part of this build.")]
        body = StringList([f".. automodule:: {name}", "   :members:"], source="optional-automodule")
        holder = nodes.section()
        holder.document = self.state.document
        self.state.nested_parse(body, self.content_offset, holder)
        return holder.children


def setup(app):
    app.add_directive("optional-automodule", OptionalAutomoduleDirective)
    return {"parallel_read_safe": True, "version": "1"}
