// Text form of nodes, built in one buffer in a single walk: the class's
// qualified name, then each value field as name=repr(value).
#include "zelqor/core/ast/text_form.hpp"

#include "common/guard.hpp"
#include "common/text_buffer.hpp"
#include "zelqor/core/ast/kinds.hpp"

namespace zelqor::ast {

namespace {

class ReprWriter {
public:
    bool write_repr(PyObject *o) {
        if (Py_TYPE(o)->tp_repr == node_repr) return write_node(o);
        if (PyTuple_CheckExact(o)) return write_tuple(o);
        Ref text = Ref::steal(PyObject_Repr(o));
        return text && out_.text(text.get());
    }

    bool write_node(PyObject *o) {
        RecursionGuard guard(" while getting the repr of a node");
        if (!guard.ok()) return false;
        const KindInfo &ki = info(kind_of(o));
        Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(o)));
        if (!name || !out_.text(name.get()) || !out_.literal("(")) return false;
        for (int i = 0; i < ki.nvalue; ++i) {
            if (i > 0 && !out_.literal(", ")) return false;
            if (!out_.literal(ki.field_names[i]) || !out_.literal("=") || !write_repr(field(o, i))) return false;
        }
        return out_.literal(")");
    }

    bool write_tuple(PyObject *t) {
        RecursionGuard guard(" while getting the repr of a tuple");
        if (!guard.ok()) return false;
        Py_ssize_t n = PyTuple_GET_SIZE(t);
        if (!out_.literal("(")) return false;
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i > 0 && !out_.literal(", ")) return false;
            if (!write_repr(PyTuple_GET_ITEM(t, i))) return false;
        }
        if (n == 1 && !out_.literal(",")) return false;
        return out_.literal(")");
    }

    PyObject *finish() { return out_.finish(); }

private:
    TextBuffer out_;
};

}  // namespace

PyObject *node_repr(PyObject *self) {
    ReprWriter writer;
    if (!writer.write_node(self)) return nullptr;
    return writer.finish();
}

}  // namespace zelqor::ast
