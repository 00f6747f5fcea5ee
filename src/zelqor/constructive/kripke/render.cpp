// to_dict and to_string: worlds in the order of `worlds`, inner collections
// sorted, formulas shown through the module's formula printer (the module
// attribute `to_string`, read once per call).
#include "zelqor/constructive/kripke/model.hpp"
#include "zelqor/constructive/kripke/world.hpp"

namespace zelqor::kripke {

namespace {

// sorted(name of u for u in the row of w); [] when w has no row.
PyObject *sorted_row_names(PyObject *relations, PyObject *w) {
    Ref names = Ref::steal(PyList_New(0));
    if (!names) return nullptr;
    Ref row = dict_lookup(relations, w);
    if (!row) return PyErr_Occurred() ? nullptr : names.release();
    Ref it = Ref::steal(PyObject_GetIter(row.get()));
    if (!it) return nullptr;
    while (Ref u = Ref::steal(PyIter_Next(it.get()))) {
        Ref name = Ref::steal(world_name(u.get()));
        if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred() || PyList_Sort(names.get()) < 0) return nullptr;
    return names.release();
}

// sorted(printer(f) for f in the valuation set of w); [] when it has none.
PyObject *sorted_texts(PyObject *valuations, PyObject *printer, PyObject *w) {
    Ref texts = Ref::steal(PyList_New(0));
    if (!texts) return nullptr;
    Ref set = dict_lookup(valuations, w);
    if (!set) return PyErr_Occurred() ? nullptr : texts.release();
    Ref it = Ref::steal(PyObject_GetIter(set.get()));
    if (!it) return nullptr;
    while (Ref f = Ref::steal(PyIter_Next(it.get()))) {
        Ref text = Ref::steal(PyObject_CallOneArg(printer, f.get()));
        if (!text || PyList_Append(texts.get(), text.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred() || PyList_Sort(texts.get()) < 0) return nullptr;
    return texts.release();
}

// The current members, held for the whole call.
struct Members {
    Ref worlds, relations, valuations;
    explicit Members(PyObject *self)
        : worlds(Ref::steal(PyList_GetSlice(as_model(self)->worlds, 0, PY_SSIZE_T_MAX))),
          relations(Ref::borrow(as_model(self)->relations)),
          valuations(Ref::borrow(as_model(self)->valuations)) {}
    Py_ssize_t count() const { return PyList_GET_SIZE(worlds.get()); }
    PyObject *world(Py_ssize_t i) const { return PyList_GET_ITEM(worlds.get(), i); }
};

// format(value, "") as an f-string field shows it.
Ref formatted(PyObject *value) {
    Ref empty = Ref::steal(PyUnicode_New(0, 0));
    return empty ? Ref::steal(PyObject_Format(value, empty.get())) : Ref();
}

Ref joined(const char *separator, PyObject *items) {
    Ref sep = Ref::steal(PyUnicode_FromString(separator));
    return sep ? Ref::steal(PyUnicode_Join(sep.get(), items)) : Ref();
}

bool append_line(PyObject *lines, Ref line) { return line && PyList_Append(lines, line.get()) == 0; }

}  // namespace

PyObject *to_dict(PyObject *self) {
    Members m(self);
    if (!m.worlds) return nullptr;
    Ref names = Ref::steal(PyList_New(0));
    if (!names) return nullptr;
    for (Py_ssize_t i = 0; i < m.count(); ++i) {
        Ref name = Ref::steal(world_name(m.world(i)));
        if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
    }
    Ref relations = Ref::steal(PyDict_New());
    if (!relations) return nullptr;
    for (Py_ssize_t i = 0; i < m.count(); ++i) {
        Ref name = Ref::steal(world_name(m.world(i)));
        if (!name) return nullptr;
        Ref row = Ref::steal(sorted_row_names(m.relations.get(), m.world(i)));
        if (!row || PyDict_SetItem(relations.get(), name.get(), row.get()) < 0) return nullptr;
    }
    Ref valuations = Ref::steal(PyDict_New());
    Ref printer = g.globals.get(kToString);
    if (!valuations || !printer) return nullptr;
    for (Py_ssize_t i = 0; i < m.count(); ++i) {
        Ref name = Ref::steal(world_name(m.world(i)));
        if (!name) return nullptr;
        Ref texts = Ref::steal(sorted_texts(m.valuations.get(), printer.get(), m.world(i)));
        if (!texts || PyDict_SetItem(valuations.get(), name.get(), texts.get()) < 0) return nullptr;
    }
    Ref result = Ref::steal(PyDict_New());
    if (!result || PyDict_SetItemString(result.get(), "worlds", names.get()) < 0 ||
        PyDict_SetItemString(result.get(), "relations", relations.get()) < 0 ||
        PyDict_SetItemString(result.get(), "valuations", valuations.get()) < 0) {
        return nullptr;
    }
    return result.release();
}

PyObject *to_string(PyObject *self) {
    Members m(self);
    if (!m.worlds) return nullptr;
    Ref lines = Ref::steal(PyList_New(0));
    if (!lines || !append_line(lines.get(), Ref::steal(PyUnicode_FromString("Kripke Model (W, <=, V):")))) {
        return nullptr;
    }
    Ref listed;
    if (m.count() == 0) {
        listed = Ref::steal(PyUnicode_FromString("empty"));
    } else {
        Ref names = Ref::steal(PyList_New(0));
        if (!names) return nullptr;
        for (Py_ssize_t i = 0; i < m.count(); ++i) {
            Ref name = Ref::steal(world_name(m.world(i)));
            if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
        }
        listed = joined(", ", names.get());
    }
    if (!listed || !append_line(lines.get(), Ref::steal(PyUnicode_FromFormat("  Worlds: %U", listed.get()))) ||
        !append_line(lines.get(), Ref::steal(PyUnicode_FromString("  Accessibility Relation (<=):")))) {
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < m.count(); ++i) {
        Ref name = Ref::steal(world_name(m.world(i)));
        Ref shown = name ? formatted(name.get()) : Ref();
        if (!shown) return nullptr;
        Ref row = Ref::steal(sorted_row_names(m.relations.get(), m.world(i)));
        Ref members = row ? joined(", ", row.get()) : Ref();
        if (!members ||
            !append_line(lines.get(), Ref::steal(PyUnicode_FromFormat("    %U <= {%U}", shown.get(), members.get())))) {
            return nullptr;
        }
    }
    Ref printer = g.globals.get(kToString);
    if (!printer || !append_line(lines.get(), Ref::steal(PyUnicode_FromString("  Valuations V(w):")))) return nullptr;
    for (Py_ssize_t i = 0; i < m.count(); ++i) {
        Ref name = Ref::steal(world_name(m.world(i)));
        Ref shown = name ? formatted(name.get()) : Ref();
        if (!shown) return nullptr;
        Ref texts = Ref::steal(sorted_texts(m.valuations.get(), printer.get(), m.world(i)));
        if (!texts) return nullptr;
        Ref body = PyList_GET_SIZE(texts.get()) == 0 ? Ref::steal(PyUnicode_FromString("empty"))
                                                     : joined(", ", texts.get());
        if (!body ||
            !append_line(lines.get(), Ref::steal(PyUnicode_FromFormat("    V(%U) = {%U}", shown.get(), body.get())))) {
            return nullptr;
        }
    }
    return joined("\n", lines.get()).release();
}

}  // namespace zelqor::kripke
