// Clause: an immutable record whose hash, free variables and tautology flag
// are computed once, at construction. The module attributes its operations
// name (Clause, and through the literals Literal and substitute_formula) are
// read at call time, with the native path taken while they are still our own.
#include "zelqor/prover/clausifier/clause.hpp"

#include "common/args.hpp"
#include "common/boundary.hpp"
#include "common/frozen_record.hpp"
#include "common/hashing.hpp"
#include "common/members.hpp"
#include "common/small_vector.hpp"
#include "zelqor/prover/clausifier/literal.hpp"
#include "zelqor/prover/clausifier/value_support.hpp"

#include <cstddef>
#include <vector>

namespace zelqor::clausifier {

namespace {

PyObject *text_or = nullptr;         // " ∨ "
PyObject *text_empty = nullptr;      // "□"

// Union of the literals' free-variable sets: one non-empty set is shared,
// more are merged into a new frozen set.
class FreeUnion {
public:
    bool add(PyObject *set) {
        if (set == shared_.get()) return true;
        if (PyAnySet_Check(set) && PySet_GET_SIZE(set) == 0) return true;
        if (!acc_ && !shared_ && PyFrozenSet_CheckExact(set)) {
            shared_ = Ref::borrow(set);
            return true;
        }
        if (!acc_) {
            acc_ = Ref::steal(PyFrozenSet_New(shared_.get()));
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
        return shared_ ? shared_.release() : new_ref(g.empty_frozenset);
    }

private:
    // Held: a literal of a subclass may compute its set anew on every read.
    Ref shared_;
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
    Ref cls = g.globals.get(kClause);
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
        Ref text = Ref::steal(native_or_override(lit, is_exact_literal(lit), g.str_to_string, literal_to_string_native));
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
    return native_or_override(self, is_exact_clause(self), g.str_to_string, clause_to_string_native);
}

int clause_setattro(PyObject *self, PyObject *name, PyObject *value) {
    return set_record_attribute(self, name, value, g.clause_type, [](PyObject *n) {
        return is_field_name(n, {"literals", "_hash_cache", "_is_tautology", "_free_vars"});
    });
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
    {"free_variables", boundary<clause_free_variables>, METH_NOARGS,
     "free_variables($self, /)\n--\n\nThe free variables of all literals, as a new set."},
    {"substitute", boundary<clause_substitute>, METH_O,
     "substitute($self, subst, /)\n--\n\nThe clause with `subst` (a dict from variables to terms) applied to every "
     "literal; literals that become equal merge."},
    {"to_string", boundary<clause_to_string>, METH_NOARGS,
     "to_string($self, /)\n--\n\nThe literals' texts in code-point order joined by \" \u2228 \"; \"\u25a1\" when empty."},
    {"__reduce__", boundary<clause_reduce>, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef clause_getset[] = {
    {"is_empty", boundary<clause_is_empty>, nullptr, "True for the clause without literals (the contradiction).",
     nullptr},
    {"is_tautology", boundary<clause_is_tautology>, nullptr,
     "True when some atom occurs both positively and negatively.", nullptr},
    {"is_unit", boundary<clause_is_unit>, nullptr, "True for a clause of exactly one literal.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef clause_members[] = {
    {"literals", ZQ_T_OBJECT_EX, offsetof(ClauseObject, literals), ZQ_READONLY,
     "The literals of the disjunction, a frozenset."},
    {"_hash_cache", ZQ_T_PYSSIZET, offsetof(ClauseObject, hash), ZQ_READONLY, nullptr},
    {"_is_tautology", ZQ_T_BOOL, offsetof(ClauseObject, is_tautology), ZQ_READONLY, nullptr},
    {"_free_vars", ZQ_T_OBJECT_EX, offsetof(ClauseObject, free_vars), ZQ_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot clause_slots[] = {
    {Py_tp_doc, const_cast<char *>("Clause(literals=...)\n--\n\n"
                                   "A disjunction of literals, held as a frozen set; `literals` is empty by "
                                   "default.")},
    {Py_tp_new, ZQ_SLOT(clause_new)},
    {Py_tp_dealloc, ZQ_SLOT(clause_dealloc)},
    {Py_tp_traverse, ZQ_SLOT(clause_traverse)},
    {Py_tp_hash, ZQ_SLOT(clause_hash)},
    {Py_tp_richcompare, ZQ_SLOT(clause_richcompare)},
    {Py_tp_repr, ZQ_SLOT(clause_repr)},
    {Py_tp_str, ZQ_SLOT(clause_str)},
    {Py_tp_setattro, ZQ_SLOT(clause_setattro)},
    {Py_tp_methods, clause_methods},
    {Py_tp_members, clause_members},
    {Py_tp_getset, clause_getset},
    {0, nullptr},
};

PyType_Spec clause_spec = {"zelqor.prover.clausifier.Clause", sizeof(ClauseObject), 0, kValueTypeFlags, clause_slots};

// Whether an atom of a negative literal equals one of a positive literal.
// Node equality, told "unequal" at once by the cached hashes of two atoms of
// the same exact class (equal nodes hash alike).
int same_atom(PyObject *a, PyObject *b) {
    if (a == b) return 1;
    PyTypeObject *t = Py_TYPE(a);
    if (t == Py_TYPE(b) && (t == g.api->type(Kind::PredicateApp) ||
                            t == g.api->type(Kind::Equality)) &&
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
    int tautology = 0;     // -1 error
    Ref free_vars;         // null on error
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
    PyObject *self = allocate_value(g.clause_type, true);
    if (self == nullptr) return nullptr;
    ClauseObject *clause = as_clause(self);
    clause->literals = set.release();
    clause->hash = h.finish();
    clause->is_tautology = static_cast<char>(members.tautology);
    clause->free_vars = members.free_vars.release();
    if (members.tracked || !is_cycle_leaf(clause->free_vars)) PyObject_GC_Track(self);
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
    PyObject *self = allocate_value(type, exact);
    if (self == nullptr) return nullptr;
    ClauseObject *clause = as_clause(self);
    clause->literals = new_ref(literals);
    clause->hash = h.finish();
    clause->is_tautology = static_cast<char>(tautology);
    clause->free_vars = free_vars.release();
    bool leaves = is_cycle_leaf(literals) && is_cycle_leaf(clause->free_vars);
    if (exact && !leaves) PyObject_GC_Track(self);
    return self;
}

bool create_clause_type(PyObject *module) {
    missing = PyObject_CallNoArgs(reinterpret_cast<PyObject *>(&PyBaseObject_Type));
    if (missing == nullptr) return false;
    text_or = PyUnicode_FromString(" \u2228 ");
    text_empty = PyUnicode_FromString("\u25a1");
    if (!text_or || !text_empty) return false;
    g.clause_type = reinterpret_cast<PyTypeObject *>(PyType_FromModuleAndSpec(module, &clause_spec, nullptr));
    if (g.clause_type == nullptr) return false;
    g.clause_type->tp_vectorcall = boundary<clause_vectorcall>;
    g.globals.set_original(kClause, reinterpret_cast<PyObject *>(g.clause_type));
    return set_match_args(g.clause_type, {"literals"});
}

}  // namespace zelqor::clausifier
