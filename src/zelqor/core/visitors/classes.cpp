#include "zelqor/core/visitors/classes.hpp"

#include "zelqor/core/visitors/dispatch.hpp"
#include "common/members.hpp"

#include <cstring>

namespace zelqor::visitors {

namespace {

constexpr char kSignatureEnd[] = "\n--\n\n";

PyObject *module_attr(const char *name) {
    PyObject *value = PyDict_GetItemString(g.globals.dict(), name);  // borrowed
    if (value == nullptr && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    return value;
}

// `metaclass(name, bases, namespace)` with what a class statement puts in the namespace.
PyObject *new_class(PyObject *meta, const char *name, const char *doc, PyObject *bases, PyObject *orig_bases,
                    PyObject *extra_ns) {
    Ref ns = Ref::steal(PyDict_New());
    Ref slots = Ref::steal(PyTuple_New(0));
    Ref qualname = Ref::steal(PyUnicode_FromString(name));
    Ref docstr = Ref::steal(PyUnicode_FromString(doc));
    if (!ns || !slots || !qualname || !docstr) return nullptr;
    Ref module_name = Ref::steal(PyModule_GetNameObject(g.module));
    if (!module_name || PyDict_SetItemString(ns.get(), "__module__", module_name.get()) < 0) return nullptr;
    if (PyDict_SetItemString(ns.get(), "__qualname__", qualname.get()) < 0 ||
        PyDict_SetItemString(ns.get(), "__doc__", docstr.get()) < 0 ||
        PyDict_SetItemString(ns.get(), "__slots__", slots.get()) < 0) {
        return nullptr;
    }
    if (orig_bases != nullptr && PyDict_SetItemString(ns.get(), "__orig_bases__", orig_bases) < 0) return nullptr;
    if (extra_ns != nullptr && PyDict_Update(ns.get(), extra_ns) < 0) return nullptr;
    Ref cls = Ref::steal(PyObject_CallFunction(meta, "sOO", name, bases, ns.get()));
    // A doc opening with "Name(params)\n--\n\n" stays whole in tp_doc, where
    // __text_signature__ reads the parameters; __doc__ keeps the prose only.
    const char *prose = std::strstr(doc, kSignatureEnd);
    if (!cls || prose == nullptr) return cls.release();
    Ref text = Ref::steal(PyUnicode_FromString(prose + std::strlen(kSignatureEnd)));
    if (!text || PyObject_SetAttrString(cls.get(), "__doc__", text.get()) < 0) return nullptr;
    return cls.release();
}

bool add_method(PyObject *cls, PyMethodDef *def) {
    Ref descr = Ref::steal((def->ml_flags & METH_CLASS)
                               ? PyDescr_NewClassMethod(reinterpret_cast<PyTypeObject *>(cls), def)
                               : PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(cls), def));
    return descr && PyObject_SetAttrString(cls, def->ml_name, descr.get()) == 0;
}

bool add_family(PyObject *cls, const ClassParts &family) {
    register_impls(family.ops, family.count);
    for (int i = 0; i < family.count; ++i) {
        if (!add_method(cls, const_cast<PyMethodDef *>(&family.ops[i].def))) return false;
    }
    for (PyMethodDef *def = family.methods; def != nullptr && def->ml_name != nullptr; ++def) {
        if (!add_method(cls, def)) return false;
    }
    for (PyMemberDef *member = family.members; member != nullptr && member->name != nullptr; ++member) {
        Ref descr = Ref::steal(PyDescr_NewMember(reinterpret_cast<PyTypeObject *>(cls), member));
        if (!descr || PyObject_SetAttrString(cls, member->name, descr.get()) < 0) return false;
    }
    // Every operation is implemented now.
    Ref none = Ref::steal(PyFrozenSet_New(nullptr));
    return none && PyObject_SetAttrString(cls, "__abstractmethods__", none.get()) == 0;
}

bool define_type_var(PyObject *module) {
    Ref type_var = Ref::steal(PyObject_CallFunction(module_attr("TypeVar"), "s", "T"));
    if (!type_var) return false;
    // Created from C there is no calling frame to take the module name from.
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    if (PyObject_SetAttrString(type_var.get(), "__module__", module_name.get()) < 0) PyErr_Clear();
    return PyModule_AddObjectRef(module, "T", type_var.get()) == 0;
}

bool define_ast_visitor(PyObject *module) {
    PyObject *abc = module_attr("ABC");
    PyObject *generic = module_attr("Generic");
    PyObject *t = module_attr("T");
    if (abc == nullptr || generic == nullptr || t == nullptr) return false;
    Ref generic_t = Ref::steal(PyObject_GetItem(generic, t));
    if (!generic_t) return false;
    PyObject *base = reinterpret_cast<PyObject *>(g.base);
    Ref bases = Ref::steal(PyTuple_Pack(3, abc, generic, base));
    Ref orig = Ref::steal(PyTuple_Pack(3, abc, generic_t.get(), base));
    Ref ns = Ref::steal(PyDict_New());
    Ref table = Ref::steal(PyDict_New());
    if (!bases || !orig || !ns || !table || PyDict_SetItemString(ns.get(), "_dispatch_table", table.get()) < 0) {
        return false;
    }
    // `_dispatch_table: Dict[type, str]`
    Ref key = Ref::steal(PyTuple_Pack(2, reinterpret_cast<PyObject *>(&PyType_Type),
                                      reinterpret_cast<PyObject *>(&PyUnicode_Type)));
    if (!key) return false;
    Ref dict_type = Ref::steal(PyObject_GetItem(module_attr("Dict"), key.get()));
    Ref annotations = Ref::steal(PyDict_New());
    if (!dict_type || !annotations ||
        PyDict_SetItemString(annotations.get(), "_dispatch_table", dict_type.get()) < 0 ||
        PyDict_SetItemString(ns.get(), "__annotations__", annotations.get()) < 0) {
        return false;
    }
    for (int op = 0; op < kOpCount; ++op) {
        Ref declaration = Ref::steal(new_abstract_op(op));
        if (!declaration || PyDict_SetItem(ns.get(), g.op_names[op], declaration.get()) < 0) return false;
    }
    PyObject *meta = reinterpret_cast<PyObject *>(Py_TYPE(abc));
    Ref cls = Ref::steal(new_class(meta, "ASTVisitor",
                                   "ASTVisitor()\n--\n\n"
                                   "Base of all visitors: routes each node to the operation for its exact class.",
                                   bases.get(), orig.get(), ns.get()));
    if (!cls) return false;
    if (!add_method(cls.get(), visit_method_def()) || !add_method(cls.get(), &init_subclass_def)) return false;
    g.classes[kASTVisitor] = new_ref(cls.get());
    return PyModule_AddObjectRef(module, "ASTVisitor", cls.get()) == 0;
}

// `class Name(Base[result])` or `class Name(Base)` when `result` is null.
bool define_visitor(PyObject *module, ClassId id, const char *name, const char *doc, ClassId base_id,
                    PyObject *result, const ClassParts &family) {
    PyObject *base = g.classes[base_id];
    Ref bases = Ref::steal(PyTuple_Pack(1, base));
    if (!bases) return false;
    Ref orig;
    if (result != nullptr) {
        Ref alias = Ref::steal(PyObject_GetItem(base, result));
        if (!alias) return false;
        orig = Ref::steal(PyTuple_Pack(1, alias.get()));
        if (!orig) return false;
    }
    Ref cls = Ref::steal(new_class(reinterpret_cast<PyObject *>(Py_TYPE(base)), name, doc, bases.get(),
                                   orig.get(), nullptr));
    if (!cls || !add_family(cls.get(), family)) return false;
    g.classes[id] = new_ref(cls.get());
    return PyModule_AddObjectRef(module, name, cls.get()) == 0;
}

}  // namespace

bool define_classes(PyObject *module) {
    if (!define_type_var(module) || !define_ast_visitor(module)) return false;
    // Result types as the classes declare them.
    PyObject *int_type = reinterpret_cast<PyObject *>(&PyLong_Type);
    PyObject *str_type = reinterpret_cast<PyObject *>(&PyUnicode_Type);
    Ref term_or_formula = Ref::steal(PyTuple_Pack(2, module_attr("Term"), module_attr("Formula")));
    if (!term_or_formula) return false;
    Ref node_type = Ref::steal(PyObject_GetItem(module_attr("Union"), term_or_formula.get()));
    Ref variable_set = Ref::steal(PyObject_GetItem(module_attr("Set"), module_attr("Variable")));
    if (!node_type || !variable_set) return false;

    if (!define_visitor(module, kASTTransformer, "ASTTransformer",
                        "ASTTransformer()\n--\n\n"
                        "Rebuilds a tree bottom-up, sharing every subtree that comes back unchanged.",
                        kASTVisitor, node_type.get(), kTransformerFamily) ||
        !define_visitor(module, kDepthVisitor, "DepthVisitor",
                        "DepthVisitor()\n--\n\nDepth of a term or formula, terms included; a leaf has depth 1.",
                        kASTVisitor, int_type, kDepthFamily) ||
        !define_visitor(module, kSizeVisitor, "SizeVisitor",
                        "SizeVisitor()\n--\n\nNumber of nodes of a term or formula.",
                        kASTVisitor, int_type, kSizeFamily) ||
        !define_visitor(module, kFreeVariableCollector, "FreeVariableCollector",
                        "FreeVariableCollector()\n--\n\nThe set of variables occurring free in a term or formula.",
                        kASTVisitor, variable_set.get(), kCollectorFamily) ||
        !define_visitor(module, kSubstitutionTransformer, "SubstitutionTransformer",
                        "Simultaneous capture-avoiding substitution of terms for variables.", kASTTransformer,
                        nullptr, kSubstitutionFamily) ||
        !define_visitor(module, kExportVisitor, "ExportVisitor",
                        "Renders a term or formula as infix, prefix or LaTeX text.", kASTVisitor, str_type,
                        kExportFamily)) {
        return false;
    }
    g.globals.set_original(kFreeVariableCollectorName, g.classes[kFreeVariableCollector]);
    g.globals.set_original(kSubstitutionTransformerName, g.classes[kSubstitutionTransformer]);
    return true;
}

}  // namespace zelqor::visitors
