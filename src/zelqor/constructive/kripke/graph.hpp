// Graph machinery for closing the accessibility relation and propagating
// valuations: objects numbered by equality, a compact digraph, its strongly
// connected components and the reachability sets of the components.
#pragma once

#include "common/pyref.hpp"

#include <cstdint>
#include <utility>
#include <vector>

namespace zelqor::kripke {

// Numbers objects as a dict would tell them apart: equal objects (hash, then
// ==) share one number. The same pointer is recognised without hashing, which
// is how nearly every lookup of a model's worlds and formulas resolves.
class NodeTable {
public:
    // Number of `o`, assigned when it is new; -1 with an exception set.
    int index(PyObject *o);
    // Appends the numbers of the members of a container (a set, or whatever
    // a caller put there). False with an exception set.
    bool index_members(PyObject *container, std::vector<int> &out);
    // The first object met with that number (borrowed; kept alive by the table).
    PyObject *object(int i) const { return objects_[static_cast<size_t>(i)].get(); }
    int size() const { return static_cast<int>(objects_.size()); }

private:
    int find_pointer(PyObject *o) const;
    void insert_pointer(PyObject *o, int index);
    void insert_value(int index);

    std::vector<Ref> objects_;
    std::vector<Py_hash_t> hashes_;
    std::vector<Ref> aliases_;                        // equal to a numbered object, other pointer
    std::vector<std::pair<PyObject *, int>> pointers_;  // open addressing on the pointer
    std::vector<int> values_;                         // open addressing on the hash: numbers, -1 free
};

// A directed graph on 0..n-1 in compressed rows, built node by node.
struct Digraph {
    int n = 0;
    std::vector<int> start{0};   // n + 1 offsets into targets
    std::vector<int> targets;

    // Closes the edge list of the next node (its edges were appended to targets).
    void end_node() {
        start.push_back(static_cast<int>(targets.size()));
        ++n;
    }
    // From an edge list; the edges of each node keep their order.
    static Digraph from_edges(int n, const std::vector<std::pair<int, int>> &edges);
    const int *begin(int v) const { return targets.data() + start[static_cast<size_t>(v)]; }
    const int *end(int v) const { return targets.data() + start[static_cast<size_t>(v) + 1]; }
};

// Strongly connected components, numbered so that every edge between two
// components goes from a higher number to a lower one (sinks first).
struct Components {
    int count = 0;
    std::vector<int> of;          // component of each node
    std::vector<int> start;       // count + 1 offsets into members
    std::vector<int> members;
};
Components strong_components(const Digraph &g);

// For every component C, the nodes reachable from C (its members included):
// R(C) = members(C) + R(D) for each successor D. Successors are merged
// nearest first (highest component number), and one already inside the
// growing set is skipped whole, since everything it reaches is then in the
// set as well: on a transitive relation only the covering edges are merged,
// so a closed row costs about its own size. `kept` are the merged edges; they
// connect exactly the same pairs as the whole graph.
struct Reach {
    std::vector<int> start;       // count + 1 offsets into nodes
    std::vector<int> nodes;
    std::vector<std::pair<int, int>> kept;   // (C, D) between components
};
Reach reachability(const Digraph &g, const Components &c);

// Marks for set operations on small integers, reset in O(1).
class Marks {
public:
    explicit Marks(size_t n) : stamp_of_(n, 0) {}
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
    std::vector<uint32_t> stamp_of_;
    uint32_t stamp_ = 1;
};

}  // namespace zelqor::kripke
