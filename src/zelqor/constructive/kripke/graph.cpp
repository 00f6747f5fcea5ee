#include "zelqor/constructive/kripke/graph.hpp"

#include <algorithm>

namespace zelqor::kripke {

// ---- NodeTable ------------------------------------------------------------------

namespace {

size_t pointer_hash(const PyObject *o) {
    // Objects sit at regular strides: take the well-mixed high bits down.
    uint64_t h = (reinterpret_cast<uintptr_t>(o) >> 4) * 0x9E3779B97F4A7C15ULL;
    return static_cast<size_t>(h ^ (h >> 32));
}

}  // namespace

int NodeTable::find_pointer(PyObject *o) const {
    if (pointers_.empty()) return -1;
    size_t mask = pointers_.size() - 1;
    for (size_t i = pointer_hash(o) & mask;; i = (i + 1) & mask) {
        if (pointers_[i].first == o) return pointers_[i].second;
        if (pointers_[i].first == nullptr) return -1;
    }
}

void NodeTable::insert_pointer(PyObject *o, int index) {
    size_t used = objects_.size() + aliases_.size();  // including this one
    if (2 * used > pointers_.size()) {
        Vec<std::pair<PyObject *, int>> old(std::max<size_t>(16, pointers_.size() * 2), {nullptr, -1}, pointers_.get_allocator());
        old.swap(pointers_);
        size_t mask = pointers_.size() - 1;
        for (const auto &entry : old) {
            if (entry.first == nullptr) continue;
            size_t i = pointer_hash(entry.first) & mask;
            while (pointers_[i].first != nullptr) i = (i + 1) & mask;
            pointers_[i] = entry;
        }
    }
    size_t mask = pointers_.size() - 1;
    size_t i = pointer_hash(o) & mask;
    while (pointers_[i].first != nullptr) i = (i + 1) & mask;
    pointers_[i] = {o, index};
}

void NodeTable::insert_value(int index) {
    if (2 * objects_.size() > values_.size()) {
        Vec<int> old(std::max<size_t>(16, values_.size() * 2), -1, values_.get_allocator());
        old.swap(values_);
        size_t mask = values_.size() - 1;
        for (int entry : old) {
            if (entry < 0) continue;
            size_t i = static_cast<size_t>(hashes_[static_cast<size_t>(entry)]) & mask;
            while (values_[i] >= 0) i = (i + 1) & mask;
            values_[i] = entry;
        }
    }
    size_t mask = values_.size() - 1;
    size_t i = static_cast<size_t>(hashes_[static_cast<size_t>(index)]) & mask;
    while (values_[i] >= 0) i = (i + 1) & mask;
    values_[i] = index;
}

void NodeTable::reserve(size_t n) {
    objects_.reserve(n);
    hashes_.reserve(n);
    size_t size = 16;
    while (size < 2 * n + 2) size *= 2;
    if (pointers_.empty()) pointers_.assign(size, {nullptr, -1});
    if (values_.empty()) values_.assign(size, -1);
}

// As a dict looks a key up: identity, else equal hash and the stored object == o.
int NodeTable::index(PyObject *o) {
    int found = find_pointer(o);
    if (found >= 0) return found;
    Py_hash_t h = PyObject_Hash(o);
    if (h == -1) return -1;
    if (!values_.empty()) {
        size_t mask = values_.size() - 1;
        for (size_t i = static_cast<size_t>(h) & mask; values_[i] >= 0; i = (i + 1) & mask) {
            int candidate = values_[i];
            if (hashes_[static_cast<size_t>(candidate)] != h) continue;
            // The table is private to this call: comparing cannot change it.
            int eq = PyObject_RichCompareBool(objects_[static_cast<size_t>(candidate)].get(), o, Py_EQ);
            if (eq < 0) return -1;
            if (eq > 0) {
                aliases_.push_back(Ref::borrow(o));
                insert_pointer(o, candidate);
                return candidate;
            }
        }
    }
    int fresh = size();
    objects_.push_back(Ref::borrow(o));
    hashes_.push_back(h);
    insert_value(fresh);
    insert_pointer(o, fresh);
    return fresh;
}

// Rows are read many times per call: an exact set's table is scanned in
// place, without an iterator or reference counting, as long as every member
// is a pointer numbered before. Nothing in that scan can run Python code, so
// the table cannot change under it; members met for the first time are held
// and numbered once the scan is over.
bool NodeTable::index_members(PyObject *container, Vec<int> &out) {
#ifndef Py_GIL_DISABLED
    if (PyAnySet_CheckExact(container)) {
        auto *set = reinterpret_cast<PySetObject *>(container);
        Vec<Ref> fresh(objects_.get_allocator());
        const setentry *table = set->table;
        for (Py_ssize_t i = 0; i <= set->mask; ++i) {
            PyObject *key = table[i].key;
            if (key == nullptr || table[i].hash == -1) continue;  // free or deleted
            int known_index = find_pointer(key);
            if (known_index >= 0) {
                out.push_back(known_index);
            } else {
                fresh.push_back(Ref::borrow(key));
            }
        }
        for (const Ref &key : fresh) {
            int i = index(key.get());
            if (i < 0) return false;
            out.push_back(i);
        }
        return true;
    }
#endif
    Ref it = Ref::steal(PyObject_GetIter(container));
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        int i = index(item.get());
        if (i < 0) return false;
        out.push_back(i);
    }
    return !PyErr_Occurred();
}

// ---- Digraph ----------------------------------------------------------------------

Digraph Digraph::from_edges(int n, const Vec<std::pair<int, int>> &edges, Arena *a) {
    Digraph g(a);
    g.n = n;
    g.start.assign(static_cast<size_t>(n) + 1, 0);
    for (const auto &e : edges) ++g.start[static_cast<size_t>(e.first) + 1];
    for (int v = 0; v < n; ++v) g.start[static_cast<size_t>(v) + 1] += g.start[static_cast<size_t>(v)];
    g.targets.resize(edges.size());
    Vec<int> fill(g.start.begin(), g.start.end() - 1, a);
    for (const auto &e : edges) g.targets[static_cast<size_t>(fill[static_cast<size_t>(e.first)]++)] = e.second;
    return g;
}

// ---- strongly connected components (Tarjan, with an explicit stack) ----------------

Components strong_components(const Digraph &g, Arena *a) {
    const size_t n = static_cast<size_t>(g.n);
    Components c(a);
    c.of.assign(n, -1);
    c.start.reserve(n + 1);
    c.members.reserve(n);
    Vec<int> order(n, -1, a), low(n, 0, a);
    Vec<int> stack(a);                              // Tarjan's stack of open nodes
    Vec<std::pair<int, const int *>> calls(a);      // the depth-first walk: node, next edge
    stack.reserve(n);
    calls.reserve(n);
    int counter = 0;
    c.start.push_back(0);
    for (int root = 0; root < g.n; ++root) {
        if (order[static_cast<size_t>(root)] >= 0) continue;
        calls.emplace_back(root, g.begin(root));
        order[static_cast<size_t>(root)] = low[static_cast<size_t>(root)] = counter++;
        stack.push_back(root);
        while (!calls.empty()) {
            auto &[v, next] = calls.back();
            const size_t vi = static_cast<size_t>(v);
            if (next != g.end(v)) {
                int w = *next++;
                const size_t wi = static_cast<size_t>(w);
                if (order[wi] < 0) {
                    order[wi] = low[wi] = counter++;
                    stack.push_back(w);
                    calls.emplace_back(w, g.begin(w));
                } else if (c.of[wi] < 0) {
                    low[vi] = std::min(low[vi], order[wi]);
                }
                continue;
            }
            if (low[vi] == order[vi]) {
                int w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    c.of[static_cast<size_t>(w)] = c.count;
                    c.members.push_back(w);
                } while (w != v);
                ++c.count;
                c.start.push_back(static_cast<int>(c.members.size()));
            }
            int done = v;
            calls.pop_back();
            if (!calls.empty()) {
                size_t parent = static_cast<size_t>(calls.back().first);
                low[parent] = std::min(low[parent], low[static_cast<size_t>(done)]);
            }
        }
    }
    return c;
}

// ---- reachability -------------------------------------------------------------------

namespace {

// Successor components of `comp` not yet in the set, nearest first. A few
// rounds pick the nearest one by scanning, which suffices when one successor
// covers the others (chains, trees, closed rows); past that the remaining
// ones are sorted once.
class Successors {
public:
    Successors(const Digraph &g, const Components &c, const Marks &marks, int comp, Arena *a)
        : g_(g), c_(c), marks_(marks), comp_(comp), pending_(a) {}

    // Next successor component whose nodes are not all in the set; -1 when done.
    int next() {
        if (rounds_ < kScanRounds) {
            ++rounds_;
            int best = -1;
            for_each_open([&](int d) { best = d > best ? d : best; });
            return best;
        }
        if (!sorted_) {
            for_each_open([&](int d) { pending_.push_back(d); });
            std::sort(pending_.begin(), pending_.end(), [](int a, int b) { return a > b; });
            pending_.erase(std::unique(pending_.begin(), pending_.end()), pending_.end());
            sorted_ = true;
        }
        while (cursor_ < pending_.size()) {
            int d = pending_[cursor_++];
            if (!marks_.test(c_.members[static_cast<size_t>(c_.start[static_cast<size_t>(d)])])) return d;
        }
        return -1;
    }

private:
    static constexpr int kScanRounds = 4;

    template <typename F>
    void for_each_open(F &&f) {
        for (int i = c_.start[static_cast<size_t>(comp_)]; i < c_.start[static_cast<size_t>(comp_) + 1]; ++i) {
            int m = c_.members[static_cast<size_t>(i)];
            for (const int *t = g_.begin(m); t != g_.end(m); ++t) {
                if (!marks_.test(*t)) f(c_.of[static_cast<size_t>(*t)]);
            }
        }
    }

    const Digraph &g_;
    const Components &c_;
    const Marks &marks_;
    int comp_;
    int rounds_ = 0;
    bool sorted_ = false;
    Vec<int> pending_;
    size_t cursor_ = 0;
};

}  // namespace

Reach reachability(const Digraph &g, const Components &c, Arena *a) {
    Reach r(a);
    r.start.reserve(static_cast<size_t>(c.count) + 1);
    r.nodes.reserve(g.targets.size() + static_cast<size_t>(g.n));
    r.kept.reserve(static_cast<size_t>(c.count));
    r.start.push_back(0);
    Marks marks(static_cast<size_t>(g.n), a);
    for (int comp = 0; comp < c.count; ++comp) {  // sinks first: successors are done
        marks.next();
        for (int i = c.start[static_cast<size_t>(comp)]; i < c.start[static_cast<size_t>(comp) + 1]; ++i) {
            int m = c.members[static_cast<size_t>(i)];
            marks.set(m);
            r.nodes.push_back(m);
        }
        Successors successors(g, c, marks, comp, a);
        for (int d = successors.next(); d >= 0; d = successors.next()) {
            r.kept.emplace_back(comp, d);
            for (int i = r.start[static_cast<size_t>(d)]; i < r.start[static_cast<size_t>(d) + 1]; ++i) {
                int x = r.nodes[static_cast<size_t>(i)];
                if (marks.set(x)) r.nodes.push_back(x);
            }
        }
        r.start.push_back(static_cast<int>(r.nodes.size()));
    }
    return r;
}

}  // namespace zelqor::kripke
