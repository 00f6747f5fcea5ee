// Graph machinery for closing the accessibility relation and propagating
// valuations: objects numbered by equality, a compact digraph, its strongly
// connected components and the reachability sets of the components.
#pragma once

#include "common/pyref.hpp"

#include <cstdint>
#include <memory_resource>
#include <utility>
#include <vector>

namespace zelqor::kripke {

// One call's scratch memory: every vector of a closure or propagation lives
// in it and goes away with the call, most of it without touching the heap.
using Arena = std::pmr::memory_resource;
template <typename T>
using Vec = std::pmr::vector<T>;

// Numbers objects as a dict would tell them apart: equal objects (hash, then
// ==) share one number. The same pointer is recognised without hashing, which
// is how nearly every lookup of a model's worlds and formulas resolves.
class NodeTable {
public:
    explicit NodeTable(Arena *a) : objects_(a), hashes_(a), aliases_(a), pointers_(a), values_(a) {}
    // Number of `o`, assigned when it is new; -1 with an exception set.
    int index(PyObject *o);
    // Appends the numbers of the members of a container (a set, or whatever
    // a caller put there). False with an exception set.
    bool index_members(PyObject *container, Vec<int> &out);
    // The first object met with that number (borrowed; kept alive by the table).
    PyObject *object(int i) const { return objects_[static_cast<size_t>(i)].get(); }
    int size() const { return static_cast<int>(objects_.size()); }
    // Room for about `n` objects, so that numbering them does not regrow.
    void reserve(size_t n);
    // The hash computed when that object was numbered.
    Py_hash_t hash(int i) const { return hashes_[static_cast<size_t>(i)]; }

private:
    int find_pointer(PyObject *o) const;
    void insert_pointer(PyObject *o, int index);
    void insert_value(int index);

    Vec<Ref> objects_;
    Vec<Py_hash_t> hashes_;
    Vec<Ref> aliases_;                        // equal to a numbered object, other pointer
    Vec<std::pair<PyObject *, int>> pointers_;  // open addressing on the pointer
    Vec<int> values_;                         // open addressing on the hash: numbers, -1 free
};

// A directed graph on 0..n-1 in compressed rows, built node by node.
struct Digraph {
    explicit Digraph(Arena *a) : start(1, 0, a), targets(a) {}
    int n = 0;
    Vec<int> start;   // n + 1 offsets into targets
    Vec<int> targets;

    // Closes the edge list of the next node (its edges were appended to targets).
    void end_node() {
        start.push_back(static_cast<int>(targets.size()));
        ++n;
    }
    // From an edge list; the edges of each node keep their order.
    static Digraph from_edges(int n, const Vec<std::pair<int, int>> &edges, Arena *a);
    const int *begin(int v) const { return targets.data() + start[static_cast<size_t>(v)]; }
    const int *end(int v) const { return targets.data() + start[static_cast<size_t>(v) + 1]; }
};

// Strongly connected components, numbered so that every edge between two
// components goes from a higher number to a lower one (sinks first).
struct Components {
    explicit Components(Arena *a) : of(a), start(a), members(a) {}
    int count = 0;
    Vec<int> of;          // component of each node
    Vec<int> start;       // count + 1 offsets into members
    Vec<int> members;
};
Components strong_components(const Digraph &g, Arena *a);

// For every component C, the nodes reachable from C (its members included):
// R(C) = members(C) + R(D) for each successor D. Successors are merged
// nearest first (highest component number), and one already inside the
// growing set is skipped whole, since everything it reaches is then in the
// set as well: on a transitive relation only the covering edges are merged,
// so a closed row costs about its own size. `kept` are the merged edges; they
// connect exactly the same pairs as the whole graph.
struct Reach {
    explicit Reach(Arena *a) : start(a), nodes(a), kept(a) {}
    Vec<int> start;       // count + 1 offsets into nodes
    Vec<int> nodes;
    Vec<std::pair<int, int>> kept;   // (C, D) between components
};
Reach reachability(const Digraph &g, const Components &c, Arena *a);

// Marks for set operations on small integers, reset in O(1).
class Marks {
public:
    Marks(size_t n, Arena *a) : stamp_of_(n, 0, a) {}
    void next() { ++stamp_; }
    bool test(int i) const { return stamp_of_[static_cast<size_t>(i)] == stamp_; }
    // True when newly set.
    bool set(int i) {
        uint32_t &s = stamp_of_[static_cast<size_t>(i)];
        if (s == stamp_) return false;
        s = stamp_;
        return true;
    }

private:
    Vec<uint32_t> stamp_of_;
    uint32_t stamp_ = 1;
};

}  // namespace zelqor::kripke
