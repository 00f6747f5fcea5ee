// Builds the nodes of one parse through the syntax-tree API, sharing every
// repeated term, atom and negation: a node asked for twice with the same
// symbol and the same children (the very same objects, since those are
// shared too) is made once. Sharing is safe because nodes are immutable, and
// it keeps large problems, whose formulas repeat the same atoms over and
// over, small and fast to build. Binary connectives and quantifiers are made
// afresh: they almost never repeat (a quantifier never does, its variable
// being its own), so looking them up would cost more than it saves.
#pragma once

#include "zelqor/tptp/native/state.hpp"

#include <cstddef>
#include <vector>

namespace zelqor::tptp {

class NodeFactory {
public:
    // `expected_nodes` sizes the table for the text at hand.
    explicit NodeFactory(size_t expected_nodes = 0);
    NodeFactory(const NodeFactory &) = delete;
    NodeFactory &operator=(const NodeFactory &) = delete;
    ~NodeFactory();

    // Each returns a new reference, or null with the exception set.
    PyObject *variable(long long id, PyObject *sort);
    PyObject *constant(PyObject *name, PyObject *sort);
    PyObject *function(PyObject *name, PyObject *const *args, size_t count, PyObject *return_sort);
    PyObject *predicate(PyObject *name, PyObject *const *args, size_t count);
    PyObject *equality(PyObject *left, PyObject *right);
    PyObject *negation(PyObject *operand);
    // And, Or, Implies, Iff; Forall and Exists take (variable, body).
    PyObject *binary(Kind kind, PyObject *first, PyObject *second);

private:
    struct Key {
        Kind kind;
        PyObject *symbol;      // name of an application or constant
        PyObject *sort;        // sort of a constant, return sort of a function
        PyObject *const *children;
        size_t count;
    };
    struct Slot {
        size_t hash;
        PyObject *node;  // strong; null when free
    };

    static size_t hash_of(const Key &key);
    static bool matches(PyObject *node, const Key &key);
    PyObject *find_or_make(const Key &key);
    PyObject *make(const Key &key);
    void grow();

    std::vector<Slot> slots_;
    std::vector<PyObject *> made_;  // every node in the table, each holding a reference
    size_t used_ = 0;
};

}  // namespace zelqor::tptp
