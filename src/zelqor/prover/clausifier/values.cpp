// Literal and Clause: immutable records whose hash, free variables and
// tautology flag are computed once, at construction. Slot functions are
// grouped per type; module attributes that the operations name (Literal,
// Clause, free_variables, substitute_formula, the atom classes) are read at
// call time, with the native path taken while they are still our own.
#include "zelqor/prover/clausifier/values.hpp"

#include "common/args.hpp"
#include "common/compat.hpp"
#include "common/hashing.hpp"
#include "common/small_vector.hpp"

#include <cstddef>
#include <vector>

#include "common/members.hpp"

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

PyObject *text_not = nullptr;        // "¬"
PyObject *text_equals = nullptr;     // " = "
PyObject *text_differs = nullptr;    // " ≠ "
PyObject *text_or = nullptr;         // " ∨ "
PyObject *text_empty = nullptr;      // "□"

bool is_tracked(PyObject *o) { return PyObject_IS_GC(o) && PyObject_GC_IsTracked(o); }

// An empty set references nothing, tracked or not.
bool holds_tracked(PyObject *set) { return is_tracked(set) && PySet_GET_SIZE(set) != 0; }

// Whether nothing reachable from the atom is tracked. Atoms without free
// variables stay tracked by the syntax tree (through their empty free set),
// so their fields are looked at instead.
bool atom_is_leaf(PyObject *atom) {
    if (!is_tracked(atom)) return true;
    if (Py_TYPE(atom) == g.api->types[static_cast<int>(Kind::PredicateApp)]) {
        return !is_tracked(ast::field(atom, slot::pred_pred)) && !is_tracked(ast::field(atom, slot::pred_args)) &&
               !holds_tracked(ast::field(atom, slot::pred_free));
    }
    if (Py_TYPE(atom) == g.api->types[static_cast<int>(Kind::Equality)]) {
        return !is_tracked(ast::field(atom, slot::eq_left)) && !is_tracked(ast::field(atom, slot::eq_right)) &&
               !holds_tracked(ast::field(atom, slot::eq_free));
    }
    return false;
}

// A frozen set of untracked members holds nothing that could lead back to it.
void untrack_if_leaves(PyObject *set) {
    if (!PyFrozenSet_CheckExact(set) || !PyObject_GC_IsTracked(set)) return;
    Ref it = Ref::steal(PyObject_GetIter(set));
    if (!it) {
        PyErr_Clear();  // only an optimisation: leave the set tracked
        return;
    }
    while (PyObject *key = PyIter_Next(it.get())) {
        bool tracked = is_tracked(key);
        Py_DECREF(key);
        if (tracked) return;
    }
    PyObject_GC_UnTrack(set);
}

LiteralObject *as_literal(PyObject *o) { return reinterpret_cast<LiteralObject *>(o); }
ClauseObject *as_clause(PyObject *o) { return reinterpret_cast<ClauseObject *>(o); }

PyObject *bound_attr(PyObject *name) {
    PyObject *value = module_attr(name);
    if (value == nullptr) return PyErr_Occurred() ? nullptr : raise_unbound(name);
    return new_ref(value);
}

// ---- shared by both types --------------------------------------------------------

PyObject *allocate(PyTypeObject *type, bool exact) {
    if (exact) return reinterpret_cast<PyObject *>(PyObject_GC_New(PyObject, type));
    return type->tp_alloc(type, 0);
}

// Frozen record: the class itself refuses every assignment, a subclass only
// those of the inherited fields.
int frozen_setattro(PyObject *self, PyObject *name, PyObject *value, PyTypeObject *own,
                    std::initializer_list<const char *> fields) {
    bool field = false;
    if (PyUnicode_Check(name)) {
        for (const char *f : fields) field |= PyUnicode_CompareWithASCIIString(name, f) == 0;
    }
    if (Py_TYPE(self) != own && !field) return PyObject_GenericSetAttr(self, name, value);
    Ref message = Ref::steal(
        PyUnicode_FromFormat(value != nullptr ? "cannot assign to field %R" : "cannot delete field %R", name));
    if (message) PyErr_SetObject(g.frozen_instance_error, message.get());
    return -1;
}

// (type, args), plus the instance dictionary of a subclass instance.
PyObject *reduce_with(PyObject *self, PyObject *args) {
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(self));
    static PyObject *dict_name = PyUnicode_InternFromString("__dict__");
    PyObject *dict = nullptr;
    if (dict_name == nullptr || get_optional_attr(self, dict_name, &dict) < 0) return nullptr;
    Ref owned = Ref::steal(dict);
    if (dict != nullptr && PyDict_Check(dict) && PyDict_GET_SIZE(dict) > 0) {
        return Py_BuildValue("(OOO)", type, args, dict);
    }
    return Py_BuildValue("(OO)", type, args);
}

// Calls method `name` of an object of a derived class (an override), or runs
// `native` on one of ours.
PyObject *dispatch(PyObject *self, bool exact, PyObject *name, PyObject *(*native)(PyObject *)) {
    if (exact) return native(self);
    return PyObject_CallMethodNoArgs(self, name);
}

// `isinstance(obj, (PredicateApp, Equality))` with the module's bindings.
int is_atom(PyObject *obj) {
    int kinds[2] = {static_cast<int>(Kind::PredicateApp), static_cast<int>(Kind::Equality)};
    Ref classes[2];
    for (int i = 0; i < 2; ++i) {
        classes[i] = Ref::steal(bound_attr(g.node_names[kinds[i]]));
        if (!classes[i]) return -1;
    }
    for (int i = 0; i < 2; ++i) {
        int r = classes[i].get() == reinterpret_cast<PyObject *>(g.api->types[kinds[i]])
                    ? PyObject_TypeCheck(obj, g.api->types[kinds[i]])
                    : PyObject_IsInstance(obj, classes[i].get());
        if (r != 0) return r;
    }
    return 0;
}

bool check_subst(PyObject *subst) { return check_exact_arg(subst, &PyDict_Type, "subst", "dict"); }

// ---- Literal -------------------------------------------------------------------------

// frozenset(free_variables(atom)), sharing the atom's own cache when it can.
PyObject *atom_free_vars(PyObject *atom) {
    Ref fn = Ref::steal(bound_attr(g.str_free_variables));
    if (!fn) return nullptr;
    Ref set;
    if (fn.get() == g.free_variables) {
        if (Py_TYPE(atom) == g.api->types[static_cast<int>(Kind::PredicateApp)]) {
            return new_ref(ast::field(atom, slot::pred_free));
        }
        if (Py_TYPE(atom) == g.api->types[static_cast<int>(Kind::Equality)]) {
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
    Ref cls = Ref::steal(bound_attr(g.str_literal));
    if (!cls) return nullptr;
    if (cls.get() == reinterpret_cast<PyObject *>(g.literal_type)) return new_literal(g.literal_type, atom, positive);
    PyObject *args[2] = {atom, positive};
    return PyObject_Vectorcall(cls.get(), args, 2, nullptr);
}

PyObject *literal_to_string_native(PyObject *self) {
    LiteralObject *lit = as_literal(self);
    int positive = PyObject_IsTrue(lit->positive);
    if (positive < 0) return nullptr;
    Ref equality = Ref::steal(bound_attr(g.node_names[static_cast<int>(Kind::Equality)]));
    if (!equality) return nullptr;
    PyTypeObject *own_equality = g.api->types[static_cast<int>(Kind::Equality)];
    int is_equality = equality.get() == reinterpret_cast<PyObject *>(own_equality)
                          ? PyObject_TypeCheck(lit->atom, own_equality)
                          : PyObject_IsInstance(lit->atom, equality.get());
    if (is_equality < 0) return nullptr;
    if (is_equality) {
        bool ours = PyObject_TypeCheck(lit->atom, own_equality);
        Ref left = ours ? Ref::borrow(ast::field(lit->atom, slot::eq_left))
                        : Ref::steal(PyObject_GetAttr(lit->atom, g.str_left));
        Ref right = !left ? Ref() : ours ? Ref::borrow(ast::field(lit->atom, slot::eq_right))
                                         : Ref::steal(PyObject_GetAttr(lit->atom, g.str_right));
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
    Ref fn = Ref::steal(bound_attr(g.str_substitute_formula));
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
    return dispatch(self, is_exact_literal(self), g.str_to_string, literal_to_string_native);
}

int literal_setattro(PyObject *self, PyObject *name, PyObject *value) {
    return frozen_setattro(self, name, value, g.literal_type, {"atom", "positive", "_hash_cache", "_free_vars"});
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
    {"negate", literal_negate, METH_NOARGS, "negate($self, /)\n--\n\nThe literal of the same atom with the opposite sign."},
    {"free_variables", literal_free_variables, METH_NOARGS,
     "free_variables($self, /)\n--\n\nThe free variables of the atom, as a new set."},
    {"substitute", literal_substitute, METH_O,
     "substitute($self, subst, /)\n--\n\nThe literal with `subst` (a dict from variables to terms) applied to its atom."},
    {"to_string", literal_to_string, METH_NOARGS, "to_string($self, /)\n--\n\nThe display text of the literal."},
    {"__reduce__", literal_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef literal_members[] = {
    {"atom", ZQ_T_OBJECT_EX, offsetof(LiteralObject, atom), ZQ_READONLY, nullptr},
    {"positive", ZQ_T_OBJECT_EX, offsetof(LiteralObject, positive), ZQ_READONLY, nullptr},
    {"_hash_cache", ZQ_T_PYSSIZET, offsetof(LiteralObject, hash), ZQ_READONLY, nullptr},
    {"_free_vars", ZQ_T_OBJECT_EX, offsetof(LiteralObject, free_vars), ZQ_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot literal_slots[] = {
    {Py_tp_doc, const_cast<char *>("Literal(atom, positive=True)\n--\n\n"
                                   "An atomic formula (PredicateApp or Equality) or its negation.")},
    {Py_tp_new, reinterpret_cast<void *>(literal_new)},
    {Py_tp_dealloc, reinterpret_cast<void *>(literal_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void *>(literal_traverse)},
    {Py_tp_hash, reinterpret_cast<void *>(literal_hash)},
    {Py_tp_richcompare, reinterpret_cast<void *>(literal_richcompare)},
    {Py_tp_repr, reinterpret_cast<void *>(literal_repr)},
    {Py_tp_str, reinterpret_cast<void *>(literal_str)},
    {Py_tp_setattro, reinterpret_cast<void *>(literal_setattro)},
    {Py_tp_methods, literal_methods},
    {Py_tp_members, literal_members},
    {0, nullptr},
};

// ---- Clause ---------------------------------------------------------------------------

// Union of the literals' free-variable sets: one non-empty set is shared,
// more are merged into a new frozen set.
class FreeUnion {
public:
    bool add(PyObject *set) {
        if (set == shared_) return true;
        if (PyAnySet_Check(set) && PySet_GET_SIZE(set) == 0) return true;
        if (!acc_ && shared_ == nullptr && PyFrozenSet_CheckExact(set)) {
            shared_ = set;
            return true;
        }
        if (!acc_) {
            acc_ = Ref::steal(PyFrozenSet_New(shared_));
            if (!acc_) return false;
        }
        Ref it = Ref::steal(PyObject_GetIter(set));
        if (!it) return false;
        while (PyObject *item = PyIter_Next(it.get())) {
            Ref owned = Ref::steal(item);
            if (PySet_Add(acc_.get(), item) < 0) return false;
        }
        return !PyErr_Occurred();
    }
    PyObject *finish() {
        if (acc_) {
            untrack_if_leaves(acc_.get());
            return acc_.release();
        }
        return new_ref(shared_ != nullptr ? shared_ : g.empty_frozenset);
    }

private:
    PyObject *shared_ = nullptr;  // borrowed: held by a literal of the clause
    Ref acc_;
};

// A field of a clause member: read from our literals, by attribute otherwise.
Ref literal_field(PyObject *lit, PyObject *LiteralObject::*member, PyObject *name) {
    if (is_exact_literal(lit)) return Ref::borrow(as_literal(lit)->*member);
    return Ref::steal(PyObject_GetAttr(lit, name));
}

// Whether some atom occurs both positively and negatively: 1, 0, -1 error.
int has_complementary_pair(PyObject *literals) {
    std::vector<Ref> positives, negatives;
    Ref it = Ref::steal(PyObject_GetIter(literals));
    if (!it) return -1;
    while (PyObject *lit = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(lit);
        Ref atom = literal_field(lit, &LiteralObject::atom, g.str_atom);
        Ref positive = atom ? literal_field(lit, &LiteralObject::positive, g.str_positive) : Ref();
        if (!positive) return -1;
        int truth = PyObject_IsTrue(positive.get());
        if (truth < 0) return -1;
        (truth ? positives : negatives).push_back(std::move(atom));
    }
    if (PyErr_Occurred()) return -1;
    if (positives.empty() || negatives.empty()) return 0;
    Ref seen = Ref::steal(PySet_New(nullptr));
    if (!seen) return -1;
    for (const Ref &atom : positives) {
        if (PySet_Add(seen.get(), atom.get()) < 0) return -1;
    }
    int found = 0;
    for (const Ref &atom : negatives) {
        int in = PySet_Contains(seen.get(), atom.get());
        if (in < 0) return -1;
        found |= in;
    }
    return found;
}

PyObject *clause_free_vars(PyObject *literals) {
    FreeUnion all;
    Ref it = Ref::steal(PyObject_GetIter(literals));
    if (!it) return nullptr;
    while (PyObject *lit = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(lit);
        Ref vars = literal_field(lit, &LiteralObject::free_vars, g.str_free_vars);
        if (!vars || !all.add(vars.get())) return nullptr;
    }
    return PyErr_Occurred() ? nullptr : all.finish();
}

PyObject *call_clause_class(PyObject *literals) {
    Ref cls = Ref::steal(bound_attr(g.str_clause));
    if (!cls) return nullptr;
    if (cls.get() == reinterpret_cast<PyObject *>(g.clause_type)) return new_clause(g.clause_type, literals);
    return PyObject_CallOneArg(cls.get(), literals);
}

PyObject *clause_to_string_native(PyObject *self) {
    PyObject *literals = as_clause(self)->literals;
    Py_ssize_t n = PyObject_Size(literals);
    if (n < 0) return nullptr;
    if (n == 0) return new_ref(text_empty);
    Ref texts = Ref::steal(PyList_New(0));
    Ref it = texts ? Ref::steal(PyObject_GetIter(literals)) : Ref();
    if (!it) return nullptr;
    while (PyObject *lit = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(lit);
        Ref text = Ref::steal(dispatch(lit, is_exact_literal(lit), g.str_to_string, literal_to_string_native));
        if (!text || PyList_Append(texts.get(), text.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred() || PyList_Sort(texts.get()) < 0) return nullptr;
    return PyUnicode_Join(text_or, texts.get());
}

// Stands for an omitted `literals`: a new empty set is made per clause.
PyObject *missing = nullptr;

PyObject *clause_from_bound(PyTypeObject *type, PyObject *literals) {
    if (literals != missing) return new_clause(type, literals);
    Ref empty = Ref::steal(PyFrozenSet_New(nullptr));
    return empty ? new_clause(type, empty.get()) : nullptr;
}

const Signature &clause_signature() {
    static const char *const names[] = {"literals"};
    static PyObject *defaults[] = {nullptr};
    defaults[0] = missing;
    static const Signature sig{"Clause.__init__", 1, 1, names, defaults, true};
    return sig;
}

PyObject *clause_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    PyObject *bound[1];
    if (!bind_tuple(clause_signature(), args, kwargs, bound)) return nullptr;
    return clause_from_bound(type, bound[0]);
}

PyObject *clause_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    PyTypeObject *type = reinterpret_cast<PyTypeObject *>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs == 1) return new_clause(type, args[0]);
    PyObject *bound[1];
    if (!bind_vector(clause_signature(), args, nargs, kwnames, bound)) return nullptr;
    return clause_from_bound(type, bound[0]);
}

void clause_dealloc(PyObject *self) {
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    ClauseObject *clause = as_clause(self);
    Py_CLEAR(clause->literals);
    Py_CLEAR(clause->free_vars);
    type->tp_free(self);
    Py_DECREF(type);
}

int clause_traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_clause(self)->literals);
    Py_VISIT(as_clause(self)->free_vars);
    return 0;
}

Py_hash_t clause_hash(PyObject *self) { return as_clause(self)->hash; }

PyObject *clause_richcompare(PyObject *self, PyObject *other, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(self) != Py_TYPE(other)) Py_RETURN_NOTIMPLEMENTED;
    int eq = PyObject_RichCompareBool(as_clause(self)->literals, as_clause(other)->literals, Py_EQ);
    if (eq < 0) return nullptr;
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

PyObject *clause_repr(PyObject *self) {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(self)));
    if (!name) return nullptr;
    return PyUnicode_FromFormat("%U(literals=%R)", name.get(), as_clause(self)->literals);
}

PyObject *clause_str(PyObject *self) {
    return dispatch(self, is_exact_clause(self), g.str_to_string, clause_to_string_native);
}

int clause_setattro(PyObject *self, PyObject *name, PyObject *value) {
    return frozen_setattro(self, name, value, g.clause_type, {"literals", "_hash_cache", "_is_tautology", "_free_vars"});
}

PyObject *clause_size_is(PyObject *self, Py_ssize_t expected) {
    Py_ssize_t n = PyObject_Size(as_clause(self)->literals);
    if (n < 0) return nullptr;
    return PyBool_FromLong(n == expected);
}

PyObject *clause_is_empty(PyObject *self, void *) { return clause_size_is(self, 0); }
PyObject *clause_is_unit(PyObject *self, void *) { return clause_size_is(self, 1); }
PyObject *clause_is_tautology(PyObject *self, void *) { return PyBool_FromLong(as_clause(self)->is_tautology); }

PyObject *clause_free_variables(PyObject *self, PyObject *) { return PySet_New(as_clause(self)->free_vars); }

PyObject *clause_substitute(PyObject *self, PyObject *subst) {
    if (!check_subst(subst)) return nullptr;
    if (PyDict_GET_SIZE(subst) == 0) return new_ref(self);
    Ref result = Ref::steal(PyFrozenSet_New(nullptr));
    Ref it = result ? Ref::steal(PyObject_GetIter(as_clause(self)->literals)) : Ref();
    if (!it) return nullptr;
    while (PyObject *lit = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(lit);
        Ref image = Ref::steal(is_exact_literal(lit) ? literal_substitute_native(lit, subst)
                                                     : PyObject_CallMethodOneArg(lit, g.str_substitute, subst));
        if (!image || PySet_Add(result.get(), image.get()) < 0) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    return call_clause_class(result.get());
}

PyObject *clause_to_string(PyObject *self, PyObject *) { return clause_to_string_native(self); }

PyObject *clause_reduce(PyObject *self, PyObject *) {
    Ref args = Ref::steal(PyTuple_Pack(1, as_clause(self)->literals));
    return args ? reduce_with(self, args.get()) : nullptr;
}

PyMethodDef clause_methods[] = {
    {"free_variables", clause_free_variables, METH_NOARGS,
     "free_variables($self, /)\n--\n\nThe free variables of all literals, as a new set."},
    {"substitute", clause_substitute, METH_O,
     "substitute($self, subst, /)\n--\n\nThe clause with `subst` (a dict from variables to terms) applied to every "
     "literal; literals that become equal merge."},
    {"to_string", clause_to_string, METH_NOARGS,
     "to_string($self, /)\n--\n\nThe literals' texts in code-point order joined by \" \u2228 \"; \"\u25a1\" when empty."},
    {"__reduce__", clause_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef clause_getset[] = {
    {"is_empty", clause_is_empty, nullptr, "True for the clause without literals (the contradiction).", nullptr},
    {"is_tautology", clause_is_tautology, nullptr, "True when some atom occurs both positively and negatively.",
     nullptr},
    {"is_unit", clause_is_unit, nullptr, "True for a clause of exactly one literal.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef clause_members[] = {
    {"literals", ZQ_T_OBJECT_EX, offsetof(ClauseObject, literals), ZQ_READONLY, nullptr},
    {"_hash_cache", ZQ_T_PYSSIZET, offsetof(ClauseObject, hash), ZQ_READONLY, nullptr},
    {"_is_tautology", ZQ_T_BOOL, offsetof(ClauseObject, is_tautology), ZQ_READONLY, nullptr},
    {"_free_vars", ZQ_T_OBJECT_EX, offsetof(ClauseObject, free_vars), ZQ_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot clause_slots[] = {
    {Py_tp_doc, const_cast<char *>("Clause(literals=frozenset())\n--\n\n"
                                   "A disjunction of literals, held as a frozen set.")},
    {Py_tp_new, reinterpret_cast<void *>(clause_new)},
    {Py_tp_dealloc, reinterpret_cast<void *>(clause_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void *>(clause_traverse)},
    {Py_tp_hash, reinterpret_cast<void *>(clause_hash)},
    {Py_tp_richcompare, reinterpret_cast<void *>(clause_richcompare)},
    {Py_tp_repr, reinterpret_cast<void *>(clause_repr)},
    {Py_tp_str, reinterpret_cast<void *>(clause_str)},
    {Py_tp_setattro, reinterpret_cast<void *>(clause_setattro)},
    {Py_tp_methods, clause_methods},
    {Py_tp_members, clause_members},
    {Py_tp_getset, clause_getset},
    {0, nullptr},
};

constexpr unsigned long kTypeFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE;

PyType_Spec literal_spec = {"zelqor.prover.clausifier.Literal", sizeof(LiteralObject), 0, kTypeFlags,
                            literal_slots};
PyType_Spec clause_spec = {"zelqor.prover.clausifier.Clause", sizeof(ClauseObject), 0, kTypeFlags, clause_slots};

// Immutable types take class attributes only through their dictionary.
bool set_match_args(PyTypeObject *type, std::initializer_list<const char *> names) {
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!tuple) return false;
    Py_ssize_t i = 0;
    for (const char *name : names) {
        PyObject *text = PyUnicode_InternFromString(name);
        if (text == nullptr) return false;
        PyTuple_SET_ITEM(tuple.get(), i++, text);
    }
#if PY_VERSION_HEX >= 0x030C0000
    Ref dict = Ref::steal(PyType_GetDict(type));
#else
    Ref dict = Ref::borrow(type->tp_dict);
#endif
    if (!dict || PyDict_SetItemString(dict.get(), "__match_args__", tuple.get()) < 0) return false;
    PyType_Modified(type);
    return true;
}

}  // namespace

namespace {

// Hash of a class, as hash() gives it: fixed for the life of the class.
Py_hash_t type_hash(PyTypeObject *type) {
    static PyTypeObject *cached_type[2] = {};
    static Py_hash_t cached[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (cached_type[i] == type) return cached[i];
    }
    Py_hash_t h = PyObject_Hash(reinterpret_cast<PyObject *>(type));
    if (h != -1 && (type == g.literal_type || type == g.clause_type)) {
        int i = type == g.literal_type ? 0 : 1;
        cached_type[i] = type;
        cached[i] = h;
    }
    return h;
}

// The literal with its free-variable set (stolen) already computed.
PyObject *build_literal(PyTypeObject *type, PyObject *atom, PyObject *positive, PyObject *free_vars) {
    Ref owned_free = Ref::steal(free_vars);
    TupleHasher h;
    Py_hash_t th = type_hash(type);
    if (th == -1) return nullptr;
    h.add(th);
    if (!h.add_object(atom) || !h.add_object(positive)) return nullptr;
    bool exact = type == g.literal_type;
    PyObject *self = allocate(type, exact);
    if (self == nullptr) return nullptr;
    LiteralObject *lit = as_literal(self);
    lit->atom = new_ref(atom);
    lit->positive = new_ref(positive);
    lit->hash = h.finish();
    lit->free_vars = owned_free.release();
    // A literal over an untracked atom (the syntax tree untracks nodes made
    // of immutable leaves) cannot be part of a cycle: leaving it untracked
    // spares the collector millions of objects in large clause sets.
    bool leaves = atom_is_leaf(atom) && !is_tracked(positive) && !holds_tracked(lit->free_vars);
    if (exact && !leaves) PyObject_GC_Track(self);
    if (!exact && leaves && PyObject_GC_IsTracked(self)) PyObject_GC_UnTrack(self);
    return self;
}

// Whether an atom of a negative literal equals one of a positive literal.
// Node equality, told "unequal" at once by the cached hashes of two atoms of
// the same exact class (equal nodes hash alike).
int same_atom(PyObject *a, PyObject *b) {
    if (a == b) return 1;
    PyTypeObject *t = Py_TYPE(a);
    if (t == Py_TYPE(b) && (t == g.api->types[static_cast<int>(Kind::PredicateApp)] ||
                            t == g.api->types[static_cast<int>(Kind::Equality)]) &&
        ast::as_node(a)->hash != ast::as_node(b)->hash) {
        return 0;
    }
    return PyObject_RichCompareBool(a, b, Py_EQ);
}

template <typename Atoms>
int complementary(const Atoms &positives, const Atoms &negatives) {
    if (positives.empty() || negatives.empty()) return 0;
    if (positives.size() * negatives.size() <= 64) {
        for (size_t i = 0; i < negatives.size(); ++i) {
            for (size_t j = 0; j < positives.size(); ++j) {
                int eq = same_atom(negatives[i], positives[j]);
                if (eq != 0) return eq;
            }
        }
        return 0;
    }
    Ref seen = Ref::steal(PySet_New(nullptr));
    if (!seen) return -1;
    for (size_t j = 0; j < positives.size(); ++j) {
        if (PySet_Add(seen.get(), positives[j]) < 0) return -1;
    }
    for (size_t i = 0; i < negatives.size(); ++i) {
        int in = PySet_Contains(seen.get(), negatives[i]);
        if (in != 0) return in;
    }
    return 0;
}

// What a clause needs from its literals when they are all ours, read
// without attribute look-ups.
struct OwnMembers {
    int tautology = 0;    // -1 error
    Ref free_vars;        // null on error
    bool tracked = false;  // some literal is tracked by the collector
};

OwnMembers read_own_members(PyObject *const *literals, size_t n) {
    OwnMembers out;
    SmallVector<PyObject *, 16> positives, negatives;
    FreeUnion all;
    for (size_t i = 0; i < n; ++i) {
        LiteralObject *lit = as_literal(literals[i]);
        (lit->positive == Py_True ? positives : negatives).push_back(lit->atom);
        if (!all.add(lit->free_vars)) {
            out.tautology = -1;
            return out;
        }
        out.tracked |= PyObject_GC_IsTracked(literals[i]) != 0;
    }
    out.tautology = complementary(positives, negatives);
    if (out.tautology >= 0) out.free_vars = Ref::steal(all.finish());
    return out;
}

// The members of `literals` when it is a frozen set of our own literals with
// True or False signs (borrowed: the set holds them): 1, 0 for any other
// set, -1 on error.
int own_members(PyObject *literals, SmallVector<PyObject *, 16> &members) {
    if (!PyFrozenSet_CheckExact(literals)) return 0;
    Ref it = Ref::steal(PyObject_GetIter(literals));
    if (!it) return -1;
    while (PyObject *lit = PyIter_Next(it.get())) {
        Py_DECREF(lit);
        if (!is_exact_literal(lit)) return 0;
        PyObject *sign = as_literal(lit)->positive;
        if (sign != Py_True && sign != Py_False) return 0;
        members.push_back(lit);
    }
    return PyErr_Occurred() ? -1 : 1;
}

}  // namespace

PyObject *new_literal(PyTypeObject *type, PyObject *atom, PyObject *positive) {
    PyObject *free_vars = atom_free_vars(atom);
    return free_vars != nullptr ? build_literal(type, atom, positive, free_vars) : nullptr;
}

PyObject *new_own_literal(PyObject *atom, PyObject *positive) {
    PyObject *free_vars = ast::field(atom, Py_TYPE(atom) == g.api->types[static_cast<int>(Kind::PredicateApp)]
                                               ? slot::pred_free
                                               : slot::eq_free);
    return build_literal(g.literal_type, atom, positive, new_ref(free_vars));
}

PyObject *new_own_clause(PyObject *const *literals, size_t n) {
    Ref set = Ref::steal(PyFrozenSet_New(nullptr));
    if (!set) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        if (PySet_Add(set.get(), literals[i]) < 0) return nullptr;
    }
    OwnMembers members = read_own_members(literals, n);
    if (!members.free_vars) return nullptr;
    if (!members.tracked && PyObject_GC_IsTracked(set.get())) PyObject_GC_UnTrack(set.get());
    TupleHasher h;
    Py_hash_t th = type_hash(g.clause_type);
    if (th == -1) return nullptr;
    h.add(th);
    if (!h.add_object(set.get())) return nullptr;
    PyObject *self = allocate(g.clause_type, true);
    if (self == nullptr) return nullptr;
    ClauseObject *clause = as_clause(self);
    clause->literals = set.release();
    clause->hash = h.finish();
    clause->is_tautology = static_cast<char>(members.tautology);
    clause->free_vars = members.free_vars.release();
    if (members.tracked || holds_tracked(clause->free_vars)) PyObject_GC_Track(self);
    return self;
}

PyObject *new_clause(PyTypeObject *type, PyObject *literals) {
    TupleHasher h;
    Py_hash_t th = type_hash(type);
    if (th == -1) return nullptr;
    h.add(th);
    if (!h.add_object(literals)) return nullptr;
    SmallVector<PyObject *, 16> members;
    int own = own_members(literals, members);
    if (own < 0) return nullptr;
    int tautology;
    Ref free_vars;
    if (own) {
        // One pass over our own literals instead of three by attribute.
        OwnMembers read = read_own_members(members.data(), members.size());
        if (!read.free_vars) return nullptr;
        if (!read.tracked && PyObject_GC_IsTracked(literals)) PyObject_GC_UnTrack(literals);
        tautology = read.tautology;
        free_vars = std::move(read.free_vars);
    } else {
        untrack_if_leaves(literals);
        tautology = has_complementary_pair(literals);
        if (tautology < 0) return nullptr;
        free_vars = Ref::steal(clause_free_vars(literals));
        if (!free_vars) return nullptr;
    }
    bool exact = type == g.clause_type;
    PyObject *self = allocate(type, exact);
    if (self == nullptr) return nullptr;
    ClauseObject *clause = as_clause(self);
    clause->literals = new_ref(literals);
    clause->hash = h.finish();
    clause->is_tautology = static_cast<char>(tautology);
    clause->free_vars = free_vars.release();
    bool leaves = !is_tracked(literals) && !holds_tracked(clause->free_vars);
    if (exact && !leaves) PyObject_GC_Track(self);
    if (!exact && leaves && PyObject_GC_IsTracked(self)) PyObject_GC_UnTrack(self);
    return self;
}

bool create_value_types(PyObject *module) {
    missing = PyObject_CallNoArgs(reinterpret_cast<PyObject *>(&PyBaseObject_Type));
    if (missing == nullptr) return false;
    text_not = PyUnicode_FromString("\u00ac");
    text_equals = PyUnicode_FromString(" = ");
    text_differs = PyUnicode_FromString(" \u2260 ");
    text_or = PyUnicode_FromString(" \u2228 ");
    text_empty = PyUnicode_FromString("\u25a1");
    if (!text_not || !text_equals || !text_differs || !text_or || !text_empty) return false;
    g.literal_type = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &literal_spec, nullptr));
    if (g.literal_type == nullptr) return false;
    g.literal_type->tp_vectorcall = literal_vectorcall;
    g.clause_type = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &clause_spec, nullptr));
    if (g.clause_type == nullptr) return false;
    g.clause_type->tp_vectorcall = clause_vectorcall;
    return set_match_args(g.literal_type, {"atom", "positive"}) && set_match_args(g.clause_type, {"literals"});
}

}  // namespace zelqor::clausifier
