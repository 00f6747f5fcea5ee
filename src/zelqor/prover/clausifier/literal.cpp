// Literal: an immutable record whose hash and free variables are computed
// once, at construction. The module attributes its operations name
// (Literal, free_variables, substitute_formula, the atom classes) are read at
// call time, with the native path taken while they are still our own.
#include "zelqor/prover/clausifier/literal.hpp"

#include "common/args.hpp"
#include "common/boundary.hpp"
#include "common/compat.hpp"
#include "common/frozen_record.hpp"
#include "common/hashing.hpp"
#include "common/members.hpp"
#include "zelqor/prover/clausifier/value_support.hpp"

#include <cstddef>

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

PyObject *text_not = nullptr;        // "¬"
PyObject *text_equals = nullptr;     // " = "
PyObject *text_differs = nullptr;    // " ≠ "

// `isinstance(obj, (PredicateApp, Equality))` with the module's bindings.
int is_atom(PyObject *obj) {
    constexpr Kind kinds[2] = {Kind::PredicateApp, Kind::Equality};
    Ref classes[2];
    for (int i = 0; i < 2; ++i) {
        classes[i] = g.globals.get(class_global(kinds[i]));
        if (!classes[i]) return -1;
    }
    for (int i = 0; i < 2; ++i) {
        PyTypeObject *own = g.api->type(kinds[i]);
        int r = classes[i].get() == reinterpret_cast<PyObject *>(own) ? PyObject_TypeCheck(obj, own)
                                                                      : PyObject_IsInstance(obj, classes[i].get());
        if (r != 0) return r;
    }
    return 0;
}

// frozenset(free_variables(atom)), sharing the atom's own cache when it can.
PyObject *atom_free_vars(PyObject *atom) {
    Ref fn = g.globals.get(kFreeVariables);
    if (!fn) return nullptr;
    Ref set;
    if (fn.get() == g.globals.original(kFreeVariables)) {
        if (Py_TYPE(atom) == g.api->type(Kind::PredicateApp)) {
            return new_ref(ast::field(atom, slot::pred_free));
        }
        if (Py_TYPE(atom) == g.api->type(Kind::Equality)) {
            return new_ref(ast::field(atom, slot::eq_free));
        }
        set = Ref::steal(g.api->free_variables(atom));
    } else {
        set = Ref::steal(PyObject_CallOneArg(fn.get(), atom));
    }
    return set ? PyFrozenSet_New(set.get()) : nullptr;
}

// Literal(atom, positive) through the module's current binding of the name.
PyObject *call_literal_class(PyObject *atom, PyObject *positive) {
    Ref cls = g.globals.get(kLiteral);
    if (!cls) return nullptr;
    if (cls.get() == reinterpret_cast<PyObject *>(g.literal_type)) return new_literal(g.literal_type, atom, positive);
    PyObject *args[2] = {atom, positive};
    return PyObject_Vectorcall(cls.get(), args, 2, nullptr);
}

PyObject *literal_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *const names[] = {"atom", "positive"};
    static PyObject *const defaults[] = {nullptr, Py_True};
    static const Signature sig{"Literal.__init__", 2, 2, names, defaults, true};
    PyObject *bound[2];
    if (!bind_tuple(sig, args, kwargs, bound)) return nullptr;
    return new_literal(type, bound[0], bound[1]);
}

PyObject *literal_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    static const char *const names[] = {"atom", "positive"};
    static PyObject *const defaults[] = {nullptr, Py_True};
    static const Signature sig{"Literal.__init__", 2, 2, names, defaults, true};
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject *bound[2];
    if (kwnames == nullptr && (nargs == 1 || nargs == 2)) {
        bound[0] = args[0];
        bound[1] = nargs == 2 ? args[1] : Py_True;
    } else if (!bind_vector(sig, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    return new_literal(type, bound[0], bound[1]);
}

void literal_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    LiteralObject *lit = as_literal(self);
    Py_CLEAR(lit->atom);
    Py_CLEAR(lit->positive);
    Py_CLEAR(lit->free_vars);
    type->tp_free(self);
    Py_DECREF(type);
}

int literal_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    LiteralObject *lit = as_literal(self);
    Py_VISIT(lit->atom);
    Py_VISIT(lit->positive);
    Py_VISIT(lit->free_vars);
    return 0;
}

Py_hash_t literal_hash(PyObject *self) { return as_literal(self)->hash; }

PyObject *literal_richcompare(PyObject *self, PyObject *other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(self) != Py_TYPE(other)) Py_RETURN_NOTIMPLEMENTED;
    LiteralObject *a = as_literal(self), *b = as_literal(other);
    int eq = PyObject_RichCompareBool(a->atom, b->atom, Py_EQ);
    if (eq > 0) eq = PyObject_RichCompareBool(a->positive, b->positive, Py_EQ);
    if (eq < 0) return nullptr;
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

PyObject *literal_repr(PyObject *self) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(self)));
    if (!name) return nullptr;
    LiteralObject *lit = as_literal(self);
    return PyUnicode_FromFormat("%U(atom=%R, positive=%R)", name.get(), lit->atom, lit->positive);
}

PyObject *literal_str(PyObject *self) {
    return native_or_override(self, is_exact_literal(self), g.str_to_string, literal_to_string_native);
}

int literal_setattro(PyObject *self, PyObject *name, PyObject *value) {
    return set_record_attribute(self, name, value, g.literal_type, [](PyObject *n) {
        return is_field_name(n, {"atom", "positive", "_hash_cache", "_free_vars"});
    });
}

PyObject *literal_negate(PyObject *self, PyObject *) {
    LiteralObject *lit = as_literal(self);
    int positive = PyObject_IsTrue(lit->positive);
    if (positive < 0) return nullptr;
    return call_literal_class(lit->atom, positive ? Py_False : Py_True);
}

PyObject *literal_free_variables(PyObject *self, PyObject *) { return PySet_New(as_literal(self)->free_vars); }
PyObject *literal_substitute(PyObject *self, PyObject *subst) { return literal_substitute_native(self, subst); }
PyObject *literal_to_string(PyObject *self, PyObject *) { return literal_to_string_native(self); }

PyObject *literal_reduce(PyObject *self, PyObject *) {
    LiteralObject *lit = as_literal(self);
    Ref args = Ref::steal(PyTuple_Pack(2, lit->atom, lit->positive));
    return args ? reduce_with(self, args.get()) : nullptr;
}

PyMethodDef literal_methods[] = {
    {"negate", boundary<literal_negate>, METH_NOARGS,
     "negate($self, /)\n--\n\nThe literal of the same atom with the opposite sign."},
    {"free_variables", boundary<literal_free_variables>, METH_NOARGS,
     "free_variables($self, /)\n--\n\nThe free variables of the atom, as a new set."},
    {"substitute", boundary<literal_substitute>, METH_O,
     "substitute($self, subst, /)\n--\n\nThe literal with `subst` (a dict from variables to terms) applied to its atom."},
    {"to_string", boundary<literal_to_string>, METH_NOARGS,
     "to_string($self, /)\n--\n\nThe display text of the literal."},
    {"__reduce__", boundary<literal_reduce>, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef literal_members[] = {
    {"atom", ZQ_T_OBJECT_EX, offsetof(LiteralObject, atom), ZQ_READONLY, "The atom: a PredicateApp or an Equality."},
    {"positive", ZQ_T_OBJECT_EX, offsetof(LiteralObject, positive), ZQ_READONLY,
     "True for the atom itself, False for its negation."},
    {"_hash_cache", ZQ_T_PYSSIZET, offsetof(LiteralObject, hash), ZQ_READONLY, nullptr},
    {"_free_vars", ZQ_T_OBJECT_EX, offsetof(LiteralObject, free_vars), ZQ_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot literal_slots[] = {
    {Py_tp_doc, const_cast<char *>("Literal(atom, positive=True)\n--\n\n"
                                   "An atomic formula (PredicateApp or Equality) or its negation.")},
    {Py_tp_new, ZQ_SLOT(literal_new)},
    {Py_tp_dealloc, ZQ_SLOT(literal_dealloc)},
    {Py_tp_traverse, ZQ_SLOT(literal_traverse)},
    {Py_tp_hash, ZQ_SLOT(literal_hash)},
    {Py_tp_richcompare, ZQ_SLOT(literal_richcompare)},
    {Py_tp_repr, ZQ_SLOT(literal_repr)},
    {Py_tp_str, ZQ_SLOT(literal_str)},
    {Py_tp_setattro, ZQ_SLOT(literal_setattro)},
    {Py_tp_methods, literal_methods},
    {Py_tp_members, literal_members},
    {0, nullptr},
};

PyType_Spec literal_spec = {"zelqor.prover.clausifier.Literal", sizeof(LiteralObject), 0, kValueTypeFlags,
                            literal_slots};

// The literal with its free-variable set (stolen) already computed.
PyObject *build_literal(PyTypeObject *type, PyObject *atom, PyObject *positive, PyObject *free_vars) {
    Ref owned_free = Ref::steal(free_vars);
    TupleHasher h;
    Py_hash_t th = type_hash(type);
    if (th == -1) return nullptr;
    h.add(th);
    if (!h.add_object(atom) || !h.add_object(positive)) return nullptr;
    bool exact = type == g.literal_type;
    PyObject *self = allocate_value(type, exact);
    if (self == nullptr) return nullptr;
    LiteralObject *lit = as_literal(self);
    lit->atom = new_ref(atom);
    lit->positive = new_ref(positive);
    lit->hash = h.finish();
    lit->free_vars = owned_free.release();
    // A literal over an untracked atom (the syntax tree untracks nodes made
    // of immutable leaves) cannot be part of a cycle: leaving it untracked
    // spares the collector millions of objects in large clause sets.
    bool leaves = is_cycle_leaf(atom) && is_cycle_leaf(positive) && is_cycle_leaf(lit->free_vars);
    if (exact && !leaves) PyObject_GC_Track(self);
    return self;
}

}  // namespace

PyObject *literal_to_string_native(PyObject *self) {
    LiteralObject *lit = as_literal(self);
    int positive = PyObject_IsTrue(lit->positive);
    if (positive < 0) return nullptr;
    Ref equality = g.globals.get(class_global(Kind::Equality));
    if (!equality) return nullptr;
    PyTypeObject *own_equality = g.api->type(Kind::Equality);
    int is_equality = equality.get() == reinterpret_cast<PyObject *>(own_equality)
                          ? PyObject_TypeCheck(lit->atom, own_equality)
                          : PyObject_IsInstance(lit->atom, equality.get());
    if (is_equality < 0) return nullptr;
    if (is_equality) {
        bool exact = Py_IS_TYPE(lit->atom, own_equality);
        ast::Field left(lit->atom, exact, slot::eq_left, g.str_left);
        if (!left) return nullptr;
        ast::Field right(lit->atom, exact, slot::eq_right, g.str_right);
        if (!right) return nullptr;
        Ref left_text = Ref::steal(PyObject_Str(left.get()));
        Ref right_text = left_text ? Ref::steal(PyObject_Str(right.get())) : Ref();
        if (!right_text) return nullptr;
        return PyUnicode_FromFormat("%U%U%U", left_text.get(), positive ? text_equals : text_differs,
                                    right_text.get());
    }
    Ref text = Ref::steal(PyObject_Str(lit->atom));
    if (!text) return nullptr;
    if (positive) return text.release();
    return PyUnicode_Concat(text_not, text.get());
}

PyObject *literal_substitute_native(PyObject *self, PyObject *subst) {
    if (!check_subst(subst)) return nullptr;
    if (PyDict_GET_SIZE(subst) == 0) return new_ref(self);
    LiteralObject *lit = as_literal(self);
    Ref fn = g.globals.get(kSubstituteFormula);
    if (!fn) return nullptr;
    PyObject *args[2] = {lit->atom, subst};
    Ref new_atom = Ref::steal(PyObject_Vectorcall(fn.get(), args, 2, nullptr));
    if (!new_atom) return nullptr;
    if (assertions_enabled()) {
        int ok = is_atom(new_atom.get());
        if (ok < 0) return nullptr;
        if (!ok) {
            PyErr_SetNone(PyExc_AssertionError);
            return nullptr;
        }
    }
    return call_literal_class(new_atom.get(), lit->positive);
}

PyObject *new_literal(PyTypeObject *type, PyObject *atom, PyObject *positive) {
    PyObject *free_vars = atom_free_vars(atom);
    return free_vars != nullptr ? build_literal(type, atom, positive, free_vars) : nullptr;
}

PyObject *new_own_literal(PyObject *atom, PyObject *positive) {
    PyObject *free_vars = ast::field(atom, Py_TYPE(atom) == g.api->type(Kind::PredicateApp)
                                               ? slot::pred_free
                                               : slot::eq_free);
    return build_literal(g.literal_type, atom, positive, new_ref(free_vars));
}

bool create_literal_type(PyObject *module) {
    text_not = PyUnicode_FromString("\u00ac");
    text_equals = PyUnicode_FromString(" = ");
    text_differs = PyUnicode_FromString(" \u2260 ");
    if (!text_not || !text_equals || !text_differs) return false;
    g.literal_type = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &literal_spec, nullptr));
    if (g.literal_type == nullptr) return false;
    g.literal_type->tp_vectorcall = boundary<literal_vectorcall>;
    g.globals.set_original(kLiteral, reinterpret_cast<PyObject *>(g.literal_type));
    return set_match_args(g.literal_type, {"atom", "positive"});
}

}  // namespace zelqor::clausifier
