"""The ``countermodel`` directive: runs the Python code in its body, which leaves a
KripkeModel in ``model``, and draws it with Graphviz (worlds as nodes, the covering
edges of the accessibility order as arrows, the atoms forced at each world beside it).
Without Graphviz the page shows the model's text form instead."""

from docutils import nodes
from docutils.parsers.rst import Directive
from sphinx.ext.graphviz import graphviz

from zelqor.core.parser import to_string


def covering_edges(model):
    """Pairs (u, v) with v above u and no third world between them: the arrows worth
    drawing of a reflexive, transitive relation."""
    above = {world: set(model.accessible_worlds(world)) - {world} for world in model.worlds}
    for lower, uppers in above.items():
        for upper in uppers:
            if not any(upper in above[middle] for middle in uppers - {upper}):
                yield lower, upper


def to_dot(model):
    lines = ["digraph countermodel {", "  rankdir=BT;", '  node [shape=circle, fontname="Helvetica"];']
    for world in model.worlds:
        forced = sorted(to_string(atom) for atom in model.valuations.get(world, ()))
        label = world.name + ("\\n" + ", ".join(forced) if forced else "")
        lines.append(f'  w{world.id} [label="{label}"];')
    for lower, upper in covering_edges(model):
        lines.append(f"  w{lower.id} -> w{upper.id};")
    lines.append("}")
    return "\n".join(lines)


class CountermodelDirective(Directive):
    has_content = True

    def run(self):
        namespace = {}
        exec("\n".join(self.content), namespace)  # the page's own example code
        model = namespace["model"]
        env = self.state.document.settings.env
        if env.config.zelqor_have_dot:
            node = graphviz()
            node["code"] = to_dot(model)
            node["options"] = {"docname": env.docname}
            return [node]
        return [nodes.literal_block(text=model.to_string())]


def setup(app):
    app.add_config_value("zelqor_have_dot", False, "env")
    app.add_directive("countermodel", CountermodelDirective)
    return {"parallel_read_safe": True, "version": "1"}
