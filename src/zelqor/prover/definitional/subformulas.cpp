#include "zelqor/prover/definitional/subformulas.hpp"

#include "common/args.hpp"
#include "common/hashing.hpp"

namespace zelqor::definitional {

namespace slot = ast::slot;

// Open addressing from node hashes to entries; equal nodes (node equality)
// find the same entry.
class Subformulas::Table {
public:
    // The entry equal to `node`, -1 when none, -2 with an exception set.
    int32_t find(PyObject *node, Py_hash_t hash, const std::vector<Subformula> &items) const {
        if (slots_.empty()) return -1;
        size_t mask = slots_.size() - 1;
        for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
            const Slot &s = slots_[i];
            if (s.index < 0) return -1;
            if (s.hash != hash) continue;
            PyObject *candidate = items[static_cast<size_t>(s.index)].node;
            if (candidate == node) return s.index;
            int equal = PyObject_RichCompareBool(candidate, node, Py_EQ);
            if (equal < 0) return -2;
            if (equal) return s.index;
        }
    }

    void insert(Py_hash_t hash, int32_t index) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        place(hash, index);
        ++used_;
    }

private:
    struct Slot {
        Py_hash_t hash = 0;
        int32_t index = -1;
    };

    void place(Py_hash_t hash, int32_t index) {
        size_t mask = slots_.size() - 1;
        size_t i = static_cast<size_t>(hash) & mask;
        while (slots_[i].index >= 0) i = (i + 1) & mask;
        slots_[i] = Slot{hash, index};
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        for (const Slot &s : old) {
            if (s.index >= 0) place(s.hash, s.index);
        }
    }

    std::vector<Slot> slots_;
    size_t used_ = 0;
};

namespace {

// Shape of a formula node (our classes and classes derived from them), or
// -1 for anything else.
int shape_of(PyObject *node) {
    switch (ast::kind_at(kind_of(node))) {
    case Kind::PredicateApp:
    case Kind::Equality: return static_cast<int>(Shape::Atom);
    case Kind::Not: return static_cast<int>(Shape::Not);
    case Kind::And: return static_cast<int>(Shape::And);
    case Kind::Or: return static_cast<int>(Shape::Or);
    case Kind::Implies: return static_cast<int>(Shape::Implies);
    case Kind::Iff: return static_cast<int>(Shape::Iff);
    case Kind::Forall: return static_cast<int>(Shape::Forall);
    case Kind::Exists: return static_cast<int>(Shape::Exists);
    default: return -1;
    }
}

// The operands of a node of shape `shape`, in order; returns their number.
int operands_of(PyObject *node, Shape shape, PyObject **out) {
    switch (shape) {
    case Shape::Atom: return 0;
    case Shape::Not: out[0] = ast::field(node, slot::operand); return 1;
    case Shape::Forall:
    case Shape::Exists: out[0] = ast::field(node, slot::body); return 1;
    default:
        out[0] = ast::field(node, slot::left);
        out[1] = ast::field(node, slot::right);
        return 2;
    }
}

bool observe_variable(PyObject *var, FreshIds &ids) {
    if (!is_kind(kind_of(var), Kind::Variable)) {
        raise_with_type(PyExc_TypeError, "quantified variable must be a Variable, got ", var);
        return false;
    }
    return ids.observe(ast::field(var, slot::var_id));
}

bool observe_atom(PyObject *atom, FreshIds &ids) {
    bool predicate = is_kind(kind_of(atom), Kind::PredicateApp);
    PyObject *free = ast::field(atom, predicate ? slot::pred_free : slot::eq_free);
    if (PySet_GET_SIZE(free) == 0) return true;
    Ref it = Ref::steal(PyObject_GetIter(free));
    if (!it) return false;
    while (PyObject *var = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(var);
        if (!ids.observe(ast::field(var, slot::var_id))) return false;
    }
    return !PyErr_Occurred();
}

// The outline of an atom: its symbol and arity, or that it is an equality.
bool atom_outline(PyObject *atom, Py_hash_t &out) {
    TupleHasher h;
    if (is_kind(kind_of(atom), Kind::Equality)) {
        h.add(-2);
    } else {
        if (!h.add_object(ast::field(atom, slot::pred_pred))) return false;
        h.add(PyTuple_Check(ast::field(atom, slot::pred_args)) ? PyTuple_GET_SIZE(ast::field(atom, slot::pred_args)) : -1);
    }
    out = h.finish();
    return true;
}

struct Frame {
    PyObject *node;
    Shape shape;
    int8_t count = -1;   // operands; -1 before the node was looked at
    int8_t done = 0;     // operands listed so far
    Py_hash_t hash = 0;
    PyObject *operands[2] = {nullptr, nullptr};
    int32_t entries[2] = {-1, -1};
};

}  // namespace

bool Subformulas::build(PyObject *root, FreshIds &ids) {
    Table table;
    std::vector<Frame> stack;
    stack.push_back(Frame{root, Shape::Atom});
    int32_t finished = -1;
    while (!stack.empty()) {
        Frame &top = stack.back();
        if (top.count < 0) {
            int shape = shape_of(top.node);
            if (shape < 0) {
                raise_with_type(PyExc_ValueError, "Unsupported formula node: ", top.node);
                return false;
            }
            top.shape = static_cast<Shape>(shape);
            if (top.shape == Shape::Atom) {
                // Atoms are never named: each occurrence gets an entry of its
                // own, without a look-up.
                if (!observe_atom(top.node, ids)) return false;
                Subformula atom{top.node, Shape::Atom};
                if (!atom_outline(top.node, atom.outline)) return false;
                finished = static_cast<int32_t>(items.size());
                items.push_back(atom);
                stack.pop_back();
                if (!stack.empty()) stack.back().entries[stack.back().done - 1] = finished;
                continue;
            }
            top.hash = PyObject_Hash(top.node);
            if (top.hash == -1) return false;
            int32_t known = table.find(top.node, top.hash, items);
            if (known == -2) return false;
            if (known >= 0) {
                finished = known;
                stack.pop_back();
                if (!stack.empty()) stack.back().entries[stack.back().done - 1] = finished;
                continue;
            }
            if (top.shape == Shape::Forall || top.shape == Shape::Exists) {
                if (!observe_variable(ast::field(top.node, slot::variable), ids)) return false;
            }
            top.count = static_cast<int8_t>(operands_of(top.node, top.shape, top.operands));
        }
        if (top.done < top.count) {
            PyObject *operand = top.operands[top.done++];
            stack.push_back(Frame{operand, Shape::Atom});
            continue;
        }
        Subformula item{top.node, top.shape};
        item.left = top.entries[0];
        item.right = top.entries[1];
        TupleHasher outline;
        outline.add(static_cast<Py_hash_t>(top.shape));
        for (int i = 0; i < top.count; ++i) outline.add(items[static_cast<size_t>(top.entries[i])].outline);
        item.outline = outline.finish();
        finished = static_cast<int32_t>(items.size());
        items.push_back(item);
        table.insert(top.hash, finished);
        stack.pop_back();
        if (!stack.empty()) stack.back().entries[stack.back().done - 1] = finished;
    }
    return true;
}

}  // namespace zelqor::definitional
