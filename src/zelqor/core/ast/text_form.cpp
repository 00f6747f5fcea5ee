// Text form of nodes, built in one buffer in a single walk: the class's
// qualified name, then each value field as name=repr(value).
#include "zelqor/core/ast/text_form.hpp"

#include "common/guard.hpp"
#include "zelqor/core/ast/kinds.hpp"

#include <new>
#include <string>

namespace zelqor::ast {

namespace {

class TextWriter {
public:
    bool write_text(PyObject *text) {
        Py_ssize_t size = 0;
        const char *utf8 = PyUnicode_AsUTF8AndSize(text, &size);
        if (utf8 == nullptr) {
            // Lone surrogates: carry them through unchanged.
            PyErr_Clear();
            Ref bytes = Ref::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
            if (!bytes) return false;
            out_.append(PyBytes_AS_STRING(bytes.get()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.get())));
            return true;
        }
        out_.append(utf8, static_cast<size_t>(size));
        return true;
    }

    bool write_repr(PyObject *o) {
        if (Py_TYPE(o)->tp_repr == node_repr) return write_node(o);
        if (PyTuple_CheckExact(o)) return write_tuple(o);
        Ref text = Ref::steal(PyObject_Repr(o));
        return text && write_text(text.get());
    }

    bool write_node(PyObject *o) {
        RecursionGuard guard(" while getting the repr of a node");
        if (!guard.ok()) return false;
        const KindInfo &ki = info(kind_of(o));
        Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(o)));
        if (!name || !write_text(name.get())) return false;
        out_ += '(';
        for (int i = 0; i < ki.nvalue; ++i) {
            if (i > 0) out_ += ", ";
            out_ += ki.field_names[i];
            out_ += '=';
            if (!write_repr(field(o, i))) return false;
        }
        out_ += ')';
        return true;
    }

    bool write_tuple(PyObject *t) {
        RecursionGuard guard(" while getting the repr of a tuple");
        if (!guard.ok()) return false;
        Py_ssize_t n = PyTuple_GET_SIZE(t);
        out_ += '(';
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i > 0) out_ += ", ";
            if (!write_repr(PyTuple_GET_ITEM(t, i))) return false;
        }
        if (n == 1) out_ += ',';
        out_ += ')';
        return true;
    }

    PyObject *finish() {
        return PyUnicode_DecodeUTF8(out_.data(), static_cast<Py_ssize_t>(out_.size()), "surrogatepass");
    }

private:
    std::string out_;
};

}  // namespace

PyObject *node_repr(PyObject *self) {
    try {
        TextWriter writer;
        if (!writer.write_node(self)) return nullptr;
        return writer.finish();
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

}  // namespace zelqor::ast
