#include "zelqor/tptp/native/node_factory.hpp"

namespace zelqor::tptp {

namespace ns = ast::slot;

NodeFactory::NodeFactory(size_t expected_nodes) {
    constexpr size_t kLargestStart = size_t{1} << 20;
    size_t size = 1024;
    while (size < expected_nodes * 2 && size < kLargestStart) size *= 2;
    slots_.assign(size, Slot{0, nullptr});
}

NodeFactory::~NodeFactory() {
    for (PyObject *node : made_) Py_XDECREF(node);
}

size_t NodeFactory::hash_of(const Key &key) {
    // Children are told apart by address: pointers, mixed so that their
    // aligned low bits do not crowd the table's low slots.
    uint64_t h = (static_cast<uint64_t>(key.kind) + 1) * 0x9e3779b97f4a7c15ULL;
    auto mix = [&h](const void *p) {
        h = (h ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p))) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
    };
    mix(key.symbol);
    mix(key.sort);
    for (size_t i = 0; i < key.count; ++i) mix(key.children[i]);
    h ^= h >> 32;
    h *= 0x94d049bb133111ebULL;
    return static_cast<size_t>(h ^ (h >> 29));
}

static bool same_arguments(PyObject *args, PyObject *const *children, size_t count) {
    if (!PyTuple_CheckExact(args) || static_cast<size_t>(PyTuple_GET_SIZE(args)) != count) return false;
    for (size_t i = 0; i < count; ++i) {
        if (PyTuple_GET_ITEM(args, i) != children[i]) return false;
    }
    return true;
}

bool NodeFactory::matches(PyObject *node, const Key &key) {
    if (Py_TYPE(node) != node_type(key.kind)) return false;
    switch (key.kind) {
    case Kind::Constant:
        return ast::field(node, ns::const_name) == key.symbol && ast::field(node, ns::sort) == key.sort;
    case Kind::FunctionApp:
        return ast::field(node, ns::fn_func) == key.symbol && ast::field(node, ns::fn_return_sort) == key.sort &&
               same_arguments(ast::field(node, ns::fn_args), key.children, key.count);
    case Kind::PredicateApp:
        return ast::field(node, ns::pred_pred) == key.symbol &&
               same_arguments(ast::field(node, ns::pred_args), key.children, key.count);
    case Kind::Not:
        return ast::field(node, ns::operand) == key.children[0];
    default:  // Equality
        return ast::field(node, 0) == key.children[0] && ast::field(node, 1) == key.children[1];
    }
}

void NodeFactory::grow() {
    size_t size = slots_.empty() ? 1024 : slots_.size() * 2;
    std::vector<Slot> bigger(size, Slot{0, nullptr});
    for (const Slot &slot : slots_) {
        if (slot.node == nullptr) continue;
        size_t i = slot.hash & (size - 1);
        while (bigger[i].node != nullptr) i = (i + 1) & (size - 1);
        bigger[i] = slot;
    }
    slots_.swap(bigger);
}

PyObject *NodeFactory::make(const Key &key) {
    switch (key.kind) {
    case Kind::Constant: {
        PyObject *fields[] = {key.sort, key.symbol};
        return g.api->make(Kind::Constant, fields);
    }
    case Kind::FunctionApp:
    case Kind::PredicateApp: {
        Ref args;
        if (key.count == 0) {
            args = Ref::borrow(g.empty_tuple);
        } else {
            args = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(key.count)));
            if (!args) return nullptr;
            for (size_t i = 0; i < key.count; ++i) {
                PyTuple_SET_ITEM(args.get(), static_cast<Py_ssize_t>(i), new_ref(key.children[i]));
            }
        }
        Ref arity = Ref::steal(PyLong_FromSize_t(key.count));
        if (!arity) return nullptr;
        if (key.kind == Kind::FunctionApp) {
            PyObject *fields[] = {key.sort, key.symbol, arity.get(), args.get(), key.sort};
            return g.api->make(Kind::FunctionApp, fields);
        }
        PyObject *fields[] = {key.symbol, arity.get(), args.get()};
        return g.api->make(Kind::PredicateApp, fields);
    }
    default:
        return g.api->make(key.kind, key.children);
    }
}

PyObject *NodeFactory::find_or_make(const Key &key) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    size_t h = hash_of(key);
    size_t mask = slots_.size() - 1;
    size_t i = h & mask;
    while (slots_[i].node != nullptr) {
        if (slots_[i].hash == h && matches(slots_[i].node, key)) return new_ref(slots_[i].node);
        i = (i + 1) & mask;
    }
    made_.push_back(nullptr);  // room first, so that nothing can fail once the node exists
    PyObject *node = make(key);
    if (node == nullptr) {
        made_.pop_back();
        return nullptr;
    }
    slots_[i] = Slot{h, new_ref(node)};
    made_.back() = node;
    ++used_;
    return node;
}

PyObject *NodeFactory::variable(long long id, PyObject *sort) {
    Ref number = Ref::steal(PyLong_FromLongLong(id));
    if (!number) return nullptr;
    PyObject *fields[] = {sort, number.get(), g.individual};
    return g.api->make(Kind::Variable, fields);
}

PyObject *NodeFactory::constant(PyObject *name, PyObject *sort) {
    return find_or_make(Key{Kind::Constant, name, sort, nullptr, 0});
}

PyObject *NodeFactory::function(PyObject *name, PyObject *const *args, size_t count, PyObject *return_sort) {
    return find_or_make(Key{Kind::FunctionApp, name, return_sort, args, count});
}

PyObject *NodeFactory::predicate(PyObject *name, PyObject *const *args, size_t count) {
    return find_or_make(Key{Kind::PredicateApp, name, nullptr, args, count});
}

PyObject *NodeFactory::equality(PyObject *left, PyObject *right) {
    PyObject *children[] = {left, right};
    return find_or_make(Key{Kind::Equality, nullptr, nullptr, children, 2});
}

PyObject *NodeFactory::negation(PyObject *operand) {
    return find_or_make(Key{Kind::Not, nullptr, nullptr, &operand, 1});
}

PyObject *NodeFactory::binary(Kind kind, PyObject *first, PyObject *second) {
    PyObject *children[] = {first, second};
    return g.api->make(kind, children);
}

}  // namespace zelqor::tptp
