// SubstitutionTransformer: simultaneous substitution of terms for variables,
// renaming a bound variable that a replacement term would capture.
#include "common/args.hpp"
#include "common/dict_lookup.hpp"
#include "zelqor/core/visitors/fields.hpp"
#include "zelqor/core/visitors/transformer.hpp"

#include <cstddef>

#include "common/members.hpp"

namespace zelqor::visitors {

namespace {

PyObject *mapping_of(PyObject *self) {
    PyObject *mapping = as_visitor(self)->mapping;
    if (mapping == nullptr) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute 'mapping'", Py_TYPE(self)->tp_name);
    }
    return mapping;
}

PyObject *substitute_variable(PyObject *self, PyObject *node) {
    // Held: the key's __eq__ may give the visitor another mapping.
    Ref mapping = Ref::borrow(mapping_of(self));
    if (!mapping) return nullptr;
    Ref term = dict_lookup(mapping.get(), node);
    if (term) return term.release();
    return PyErr_Occurred() ? nullptr : new_ref(node);
}

// `target.update(values)` for a set: sets directly, anything else through `update`.
bool update_set(PyObject *target, PyObject *values) {
    if (PyAnySet_Check(values)) {
        Ref merged = Ref::steal(PyNumber_InPlaceOr(target, values));
        return bool(merged);
    }
    Ref done = Ref::steal(PyObject_CallMethodOneArg(target, g.str_update, values));
    return bool(done);
}

// A fresh visitor of the class the module attribute names: FreeVariableCollector()
// or SubstitutionTransformer(mapping).
PyObject *new_visitor(int which, PyObject *arg) {
    Ref cls = g.globals.get(which);
    if (!cls) return nullptr;
    return arg == nullptr ? PyObject_CallNoArgs(cls.get()) : PyObject_CallOneArg(cls.get(), arg);
}

bool check_formula(PyObject *value) {
    if (!g.asserts) return true;
    int ok = is_instance_of_global(value, kFormula);
    if (ok < 0) return false;
    if (!ok) assertion_failed();
    return ok == 1;
}

// The largest `id` among the variables of `vars`, plus one.
PyObject *next_id(PyObject *vars) {
    Ref best;
    Ref it = Ref::steal(PyObject_GetIter(vars));
    if (!it) return nullptr;
    while (PyObject *item = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(item);
        Field id = node_field(item, kVariable, ast::slot::var_id, g.str_id);
        if (!id) return nullptr;
        if (!best) {
            best = id.ref();
            continue;
        }
        int greater = PyObject_RichCompareBool(id.get(), best.get(), Py_GT);
        if (greater < 0) return nullptr;
        if (greater) best = id.ref();
    }
    if (PyErr_Occurred()) return nullptr;
    Ref one = Ref::steal(PyLong_FromLong(1));
    if (!one) return nullptr;
    if (!best) return one.release();
    return PyNumber_Add(best.get(), one.get());
}

template <int K>
PyObject *substitute_quantifier(PyObject *self, PyObject *node) {
    Field bound = node_field(node, K, ast::slot::variable, g.str_variable);
    if (!bound) return nullptr;
    PyObject *mapping = mapping_of(self);
    if (mapping == nullptr) return nullptr;
    Ref held = Ref::borrow(mapping);  // the operations below may run caller code

    // Free variables of the replacement terms of every other variable.
    Ref replacement_free = Ref::steal(PySet_New(nullptr));
    Ref collector = Ref::steal(new_visitor(kFreeVariableCollectorName, nullptr));
    Ref inner_mapping = Ref::steal(PyDict_New());
    if (!replacement_free || !collector || !inner_mapping) return nullptr;
    Ref items = Ref::steal(PyObject_CallMethodNoArgs(mapping, g.str_items));
    if (!items) return nullptr;
    Ref it = Ref::steal(PyObject_GetIter(items.get()));
    if (!it) return nullptr;
    while (PyObject *item = PyIter_Next(it.get())) {
        Ref pair = Ref::steal(item);
        PyObject *key = PyTuple_GET_ITEM(item, 0), *term = PyTuple_GET_ITEM(item, 1);
        int differs = PyObject_RichCompareBool(key, bound.get(), Py_NE);
        if (differs < 0) return nullptr;
        if (!differs) continue;
        Ref free_vars = Ref::steal(call_visit(collector.get(), term));
        if (!free_vars || !update_set(replacement_free.get(), free_vars.get())) return nullptr;
        if (PyDict_SetItem(inner_mapping.get(), key, term) < 0) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    int captured = PySet_Contains(replacement_free.get(), bound.get());
    if (captured < 0) return nullptr;

    Field body = node_field(node, K, ast::slot::body, g.str_body);
    if (!body) return nullptr;
    if (!captured) {
        Ref inner = Ref::steal(new_visitor(kSubstitutionTransformerName, inner_mapping.get()));
        if (!inner) return nullptr;
        Ref new_body = Ref::steal(call_visit(inner.get(), body.get()));
        if (!new_body || !check_formula(new_body.get())) return nullptr;
        PyObject *fields[2] = {bound.get(), new_body.get()};
        return build_node(K, fields, 2);
    }

    // Rename the bound variable to one above every id in sight, then substitute.
    Ref body_free = Ref::steal(call_visit(collector.get(), body.get()));
    Ref all_vars = Ref::steal(PySet_New(nullptr));
    if (!body_free || !all_vars || !update_set(all_vars.get(), body_free.get()) ||
        !update_set(all_vars.get(), replacement_free.get())) {
        return nullptr;
    }
    Ref keys = Ref::steal(PyDict_Keys(mapping));
    if (!keys || !update_set(all_vars.get(), keys.get())) return nullptr;
    Ref fresh_id = Ref::steal(next_id(all_vars.get()));
    if (!fresh_id) return nullptr;
    Field sort = node_field(bound.get(), kVariable, ast::slot::sort, g.str_sort);
    if (!sort) return nullptr;
    Field kind = node_field(bound.get(), kVariable, ast::slot::var_kind, g.str_kind);
    if (!kind) return nullptr;
    PyObject *var_fields[3] = {fresh_id.get(), kind.get(), sort.get()};
    Ref fresh = Ref::steal(build_node(kVariable, var_fields, 3));
    if (!fresh) return nullptr;
    Ref rename = Ref::steal(PyDict_New());
    if (!rename || PyDict_SetItem(rename.get(), bound.get(), fresh.get()) < 0) return nullptr;
    Ref renamer = Ref::steal(new_visitor(kSubstitutionTransformerName, rename.get()));
    if (!renamer) return nullptr;
    Ref renamed = Ref::steal(call_visit(renamer.get(), body.get()));
    if (!renamed || !check_formula(renamed.get())) return nullptr;
    Ref new_body = Ref::steal(visit_value(self, renamed.get()));
    if (!new_body || !check_formula(new_body.get())) return nullptr;
    PyObject *fields[2] = {fresh.get(), new_body.get()};
    return build_node(K, fields, 2);
}

// __init__(self, mapping)
PyObject *substitution_init(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    static const char *const names[] = {"mapping"};
    static PyObject *const defaults[] = {nullptr};
    static const Signature sig{"SubstitutionTransformer.__init__", 1, 1, names, defaults, true};
    PyObject *mapping;
    if (nargs == 1 && kwnames == nullptr) {
        mapping = args[0];
    } else if (!bind_vector(sig, args, nargs, kwnames, &mapping)) {
        return nullptr;
    }
    if (!check_exact_arg(mapping, &PyDict_Type, "mapping", "dict")) return nullptr;
    Py_XSETREF(as_visitor(self)->mapping, new_ref(mapping));
    Py_RETURN_NONE;
}

#define ZQ_S(name, fn) ZQ_OP(name, fn, kFamilyTransform, nullptr, "SubstitutionTransformer." name)

const OpImpl ops[3] = {
    ZQ_S("visit_variable", substitute_variable),
    ZQ_S("visit_forall", substitute_quantifier<kForall>),
    ZQ_S("visit_exists", substitute_quantifier<kExists>),
};

PyMethodDef methods[] = {
    {"__init__", ZQ_FASTCALL(substitution_init),
     METH_FASTCALL | METH_KEYWORDS,
     "__init__($self, /, mapping)\n--\n\nKeeps the mapping from variables to terms (a dict, not copied)."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef members[] = {
    {"mapping", ZQ_T_OBJECT_EX, static_cast<Py_ssize_t>(offsetof(VisitorObject, mapping)), ZQ_READONLY,
     "The substitution: a dict from variables to terms."},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

const ClassParts kSubstitutionFamily = {ops, 3, methods, members};

}  // namespace zelqor::visitors
