"""The ``countermodel`` directive: runs the Python code in its body, which leaves a
KripkeModel in ``model`` (and, if it likes, the failing world in ``world``), and draws it
with the library's own Graphviz rendering. Without Graphviz the page shows the model's
text form instead."""

from docutils import nodes
from docutils.parsers.rst import Directive
from sphinx.ext.graphviz import graphviz

from zelqor.constructive.pictures import to_dot


class CountermodelDirective(Directive):
    has_content = True

    def run(self):
        namespace = {}
        exec("\n".join(self.content), namespace)  # the page's own example code
        model = namespace["model"]
        env = self.state.document.settings.env
        if env.config.zelqor_have_dot:
            node = graphviz()
            node["code"] = to_dot(model, failing=namespace.get("world"))
            node["options"] = {"docname": env.docname}
            return [node]
        return [nodes.literal_block(text=model.to_string())]


def setup(app):
    app.add_config_value("zelqor_have_dot", False, "env")
    app.add_directive("countermodel", CountermodelDirective)
    return {"parallel_read_safe": True, "version": "1"}
