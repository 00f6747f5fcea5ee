// Construction of nodes: the checks of each class in their fixed order, the
// cached hash, and the cached set of free variables of atoms and applications.
#include "zelqor/core/ast/construct.hpp"

#include "common/args.hpp"
#include "common/compat.hpp"
#include "common/hashing.hpp"
#include "zelqor/core/ast/kinds.hpp"
#include "zelqor/core/ast/queries.hpp"

namespace zelqor::ast {

// ---- hashing -------------------------------------------------------------

Py_hash_t cached_hash(PyObject *self) { return as_node(self)->hash; }

static Py_hash_t kind_member_hash(PyObject *kind) {
    for (int i = 0; i < 3; ++i) {
        if (kind == g.kind_members[i]) return g.kind_hashes[i];
    }
    return PyObject_Hash(kind);
}

static bool add_value_hash(TupleHasher &h, PyObject *o) {
    Py_hash_t v = child_hash(o);
    if (v == -1) return false;
    h.add(v);
    return true;
}

// A variable or constant over one of our interned sorts, with an exact int
// id or str name and a VariableKind member, always hashes alike: its hash is
// kept after the first computation. Other values are hashed on every call.
static bool is_leaf_sort(PyObject *sort) {
    for (const LeafSortLayout &layout : g.leaf_sorts) {
        if (layout.type != nullptr && Py_TYPE(sort) == layout.type) return true;
    }
    return false;
}

Py_hash_t variable_hash(PyObject *self) {
    Node *node = as_node(self);
    if (node->hash != -1) return node->hash;
    TupleHasher h;
    PyObject *kind = field(self, slot::var_kind);
    Py_hash_t kind_hash = kind_member_hash(kind);
    if (!h.add_object(field(self, slot::sort)) || !h.add_object(field(self, slot::var_id)) || kind_hash == -1) {
        return -1;
    }
    h.add(kind_hash);
    Py_hash_t result = h.finish();
    if (is_leaf_sort(field(self, slot::sort)) && PyLong_CheckExact(field(self, slot::var_id)) &&
        kind_hash == kind_member_hash(kind) && (kind == g.kind_members[0] || kind == g.kind_members[1] ||
                                                kind == g.kind_members[2])) {
        node->hash = result;
    }
    return result;
}

Py_hash_t constant_hash(PyObject *self) {
    Node *node = as_node(self);
    if (node->hash != -1) return node->hash;
    TupleHasher h;
    if (!h.add_object(field(self, slot::sort)) || !h.add_object(field(self, slot::const_name))) return -1;
    Py_hash_t result = h.finish();
    if (is_leaf_sort(field(self, slot::sort)) && PyUnicode_CheckExact(field(self, slot::const_name))) {
        node->hash = result;
    }
    return result;
}

Py_hash_t child_hash(PyObject *o) {
    hashfunc f = Py_TYPE(o)->tp_hash;
    if (f == cached_hash) return as_node(o)->hash;
    if (f == variable_hash) return variable_hash(o);
    if (f == constant_hash) return constant_hash(o);
    return PyObject_Hash(o);
}

// ---- checks ----------------------------------------------------------------

// `value < 0`, with the interpreter's own error for values that do not compare.
static int is_negative(PyObject *value) {
    if (PyLong_CheckExact(value)) {
        int overflow = 0;
        long v = PyLong_AsLongAndOverflow(value, &overflow);
        if (overflow != 0) return overflow < 0;
        return v < 0;
    }
    return PyObject_RichCompareBool(value, g.zero, Py_LT);
}

static bool fail(PyObject *message) {
    if (message != nullptr) {
        raise_invalid(message);
        Py_DECREF(message);
    }
    return false;
}

// Symbol, arity sign and argument count of an application.
static bool check_application(PyObject *symbol, PyObject *arity, PyObject *args, bool function) {
    const char *what = function ? "Function" : "Predicate";
    if (PyUnicode_Check(symbol)) {
        int truth = PyObject_IsTrue(symbol);
        if (truth < 0) return false;
        if (!truth) return fail(PyUnicode_FromFormat("%s name cannot be empty.", what));
    } else {
        int ok = has_attr(symbol, g.str_index);
        if (ok > 0) ok = has_attr(symbol, g.str_arity);
        if (ok < 0) return false;
        if (ok == 0) {
            Ref display = type_display(symbol);
            if (!display) return false;
            return fail(PyUnicode_FromFormat("%s symbol must be str or %s, got %U.", what,
                                             function ? "FunctionVariable" : "PredicateVariable", display.get()));
        }
    }
    int negative = is_negative(arity);
    if (negative < 0) return false;
    if (negative) return fail(PyUnicode_FromFormat("%s arity must be non-negative, got %S.", what, arity));

    Py_ssize_t count = PyObject_Size(args);
    if (count < 0) return false;
    int differs;
    if (PyLong_CheckExact(arity)) {
        int overflow = 0;
        long a = PyLong_AsLongAndOverflow(arity, &overflow);
        differs = overflow != 0 || a != count;
    } else {
        Ref n = Ref::steal(PyLong_FromSsize_t(count));
        if (!n) return false;
        differs = PyObject_RichCompareBool(arity, n.get(), Py_NE);
        if (differs < 0) return false;
    }
    if (differs) {
        return fail(PyUnicode_FromFormat("%s '%S' expected arity %S, got %zd arguments.",
                                         function ? "FunctionApp" : "PredicateApp", symbol, arity, count));
    }
    return true;
}

// ---- free-variable caches -------------------------------------------------

namespace {

// Union of the free-variable sets of a node's children. A single non-empty
// cached set is shared rather than copied; an accumulated set is frozen and
// left untracked when it holds nothing that could form a cycle.
class FreeSetBuilder {
public:
    bool add_child(PyObject *child) {
        // Our own classes answer from their fields; anything else, a
        // subclass included, through free_variables().
        if (is_exact(child, Kind::Variable)) return add_item(child);
        if (is_exact(child, Kind::Constant)) return true;
        if (is_exact(child, Kind::FunctionApp)) return add_cached(field(child, slot::fn_free));
        if (is_exact(child, Kind::PredicateApp)) return add_cached(field(child, slot::pred_free));
        if (is_exact(child, Kind::Equality)) return add_cached(field(child, slot::eq_free));
        Ref set = Ref::steal(free_variables(child));
        if (!set) return false;
        return add_all(set.get());
    }

    // The finished frozen set (new reference).
    PyObject *finish() {
        if (acc_) {
            if (!tracked_items_ && PyObject_GC_IsTracked(acc_.get())) PyObject_GC_UnTrack(acc_.get());
            return acc_.release();
        }
        return shared_ ? shared_.release() : new_ref(g.empty_frozenset);
    }

private:
    bool add_cached(PyObject *set) {
        if (PySet_GET_SIZE(set) == 0) return true;
        if (!acc_ && !shared_) {
            shared_ = Ref::borrow(set);
            return true;
        }
        return add_all(set);
    }

    bool materialize() {
        if (acc_) return true;
        acc_ = Ref::steal(PyFrozenSet_New(shared_.get()));
        if (!acc_) return false;
        if (shared_ && PyObject_GC_IsTracked(shared_.get())) tracked_items_ = true;
        shared_.reset();
        return true;
    }

    bool add_item(PyObject *item) {
        if (!materialize()) return false;
        if (!tracked_items_ && !is_gc_leaf(item)) tracked_items_ = true;
        return PySet_Add(acc_.get(), item) == 0;
    }

    bool add_all(PyObject *iterable) {
        Ref it = Ref::steal(PyObject_GetIter(iterable));
        if (!it) return false;
        while (PyObject *item = PyIter_Next(it.get())) {
            Ref owned = Ref::steal(item);
            if (!add_item(item)) return false;
        }
        return !PyErr_Occurred();
    }

    Ref acc_;
    // A child's cached set, held: reading a later child can run caller code
    // that drops the child (from a list of arguments, say).
    Ref shared_;
    bool tracked_items_ = false;
};

}  // namespace

static PyObject *free_set_of_sequence(PyObject *args) {
    FreeSetBuilder builder;
    if (PyTuple_CheckExact(args)) {
        for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(args); i < n; ++i) {
            if (!builder.add_child(PyTuple_GET_ITEM(args, i))) return nullptr;
        }
        return builder.finish();
    }
    Ref it = Ref::steal(PyObject_GetIter(args));
    if (!it) return nullptr;
    while (PyObject *item = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(item);
        if (!builder.add_child(item)) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    return builder.finish();
}

// ---- allocation -------------------------------------------------------------

// A tuple of arguments holding only leaves cannot take part in a cycle; the
// collector would untrack it itself on its next pass.
static bool args_are_leaves(PyObject *args) {
    if (is_gc_leaf(args)) return true;
    if (!PyTuple_CheckExact(args)) return false;
    for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(args); i < n; ++i) {
        if (!is_gc_leaf(PyTuple_GET_ITEM(args, i))) return false;
    }
    PyObject_GC_UnTrack(args);
    return true;
}

static PyObject *allocate(Kind kind, PyTypeObject *type, PyObject *const *values, Py_hash_t hash,
                          PyObject *free_set /* stolen, may be null */) {
    const KindInfo &ki = info(kind_index(kind));
    bool exact = type == type_of(kind);
    Node *node;
    if (exact) {
        node = PyObject_GC_New(Node, type);
    } else {
        node = reinterpret_cast<Node *>(type->tp_alloc(type, 0));
    }
    if (node == nullptr) {
        Py_XDECREF(free_set);
        return nullptr;
    }
    node->hash = hash;
    bool leaves = true;
    for (int i = 0; i < ki.nvalue; ++i) {
        PyObject *v = values[i];
        node->field[i] = new_ref(v);
        if (leaves) leaves = (kind == Kind::FunctionApp && i == slot::fn_args) ||
                                     (kind == Kind::PredicateApp && i == slot::pred_args)
                                 ? args_are_leaves(v)
                                 : is_gc_leaf(v);
    }
    if (ki.free_slot >= 0) {
        node->field[ki.free_slot] = free_set;
        if (leaves) leaves = is_gc_leaf(free_set);
    }
    if (exact && !leaves) PyObject_GC_Track(node);
    return reinterpret_cast<PyObject *>(node);
}

// ---- per class ------------------------------------------------------------

PyObject *construct(Kind kind, PyTypeObject *type, PyObject *const *in) {
    switch (kind) {
    case Kind::Variable: {
        int negative = is_negative(in[slot::var_id]);
        if (negative < 0) return nullptr;
        if (negative) {
            fail(PyUnicode_FromFormat("Variable ID must be non-negative, got %S.", in[slot::var_id]));
            return nullptr;
        }
        return allocate(kind, type, in, -1, nullptr);
    }
    case Kind::Constant: {
        int truth = PyObject_IsTrue(in[slot::const_name]);
        if (truth < 0) return nullptr;
        if (!truth) {
            fail(PyUnicode_FromString("Constant name cannot be empty."));
            return nullptr;
        }
        return allocate(kind, type, in, -1, nullptr);
    }
    case Kind::FunctionApp: {
        if (!check_application(in[slot::fn_func], in[slot::fn_arity], in[slot::fn_args], true)) return nullptr;
        // Whatever stands in the sort field, the sort is the return sort.
        auto values = function_app_fields(in[slot::fn_func], in[slot::fn_arity], in[slot::fn_args],
                                          in[slot::fn_return_sort]);
        TupleHasher h;
        h.add(PyObject_Hash(reinterpret_cast<PyObject *>(type)));
        for (int i = slot::fn_func; i <= slot::fn_return_sort; ++i) {
            if (!add_value_hash(h, values[i])) return nullptr;
        }
        PyObject *free_set = free_set_of_sequence(values[slot::fn_args]);
        if (free_set == nullptr) return nullptr;
        return allocate(kind, type, values.data(), h.finish(), free_set);
    }
    case Kind::PredicateApp: {
        if (!check_application(in[slot::pred_pred], in[slot::pred_arity], in[slot::pred_args], false)) {
            return nullptr;
        }
        TupleHasher h;
        h.add(PyObject_Hash(reinterpret_cast<PyObject *>(type)));
        for (int i = 0; i < 3; ++i) {
            if (!add_value_hash(h, in[i])) return nullptr;
        }
        PyObject *free_set = free_set_of_sequence(in[slot::pred_args]);
        if (free_set == nullptr) return nullptr;
        return allocate(kind, type, in, h.finish(), free_set);
    }
    case Kind::Equality: {
        TupleHasher h;
        h.add(PyObject_Hash(reinterpret_cast<PyObject *>(type)));
        if (!add_value_hash(h, in[0]) || !add_value_hash(h, in[1])) return nullptr;
        FreeSetBuilder builder;
        if (!builder.add_child(in[slot::eq_left]) || !builder.add_child(in[slot::eq_right])) return nullptr;
        return allocate(kind, type, in, h.finish(), builder.finish());
    }
    default: {
        // Connectives and quantifiers: only the hash to compute.
        TupleHasher h;
        h.add(PyObject_Hash(reinterpret_cast<PyObject *>(type)));
        for (int i = 0; i < info(kind_index(kind)).nvalue; ++i) {
            if (!add_value_hash(h, in[i])) return nullptr;
        }
        return allocate(kind, type, in, h.finish(), nullptr);
    }
    }
}

PyObject *make_node(Kind kind, PyObject *const *values) { return construct(kind, type_of(kind), values); }

}  // namespace zelqor::ast
