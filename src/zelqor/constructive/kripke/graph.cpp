#include "zelqor/constructive/kripke/graph.hpp"

#include <algorithm>

namespace zelqor::kripke {

// ---- NodeTable ------------------------------------------------------------------

namespace {

size_t pointer_hash(const PyObject *o) {
    auto bits = reinterpret_cast<uintptr_t>(o) >> 4;
    return static_cast<size_t>(bits * 0x9E3779B97F4A7C15ULL);
}

}  // namespace

NodeTable::NodeTable() : slots_(64, {nullptr, -1}), by_value_(Ref::steal(PyDict_New())) {}

int NodeTable::find_pointer(PyObject *o) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = pointer_hash(o) & mask;; i = (i + 1) & mask) {
        if (slots_[i].first == o) return slots_[i].second;
        if (slots_[i].first == nullptr) return -1;
    }
}

void NodeTable::insert_pointer(PyObject *o, int index) {
    if (2 * (used_ + 1) > slots_.size()) {
        std::vector<std::pair<PyObject *, int>> old(slots_.size() * 2, {nullptr, -1});
        old.swap(slots_);
        size_t mask = slots_.size() - 1;
        for (const auto &entry : old) {
            if (entry.first == nullptr) continue;
            size_t i = pointer_hash(entry.first) & mask;
            while (slots_[i].first != nullptr) i = (i + 1) & mask;
            slots_[i] = entry;
        }
    }
    size_t mask = slots_.size() - 1;
    size_t i = pointer_hash(o) & mask;
    while (slots_[i].first != nullptr) i = (i + 1) & mask;
    slots_[i] = {o, index};
    ++used_;
}

int NodeTable::index(PyObject *o) {
    int found = find_pointer(o);
    if (found >= 0) return found;
    PyObject *number = PyDict_GetItemWithError(by_value_.get(), o);
    if (number != nullptr) {
        found = static_cast<int>(PyLong_AsLong(number));
        aliases_.push_back(Ref::borrow(o));
        insert_pointer(o, found);
        return found;
    }
    if (PyErr_Occurred()) return -1;
    int fresh = size();
    Ref key = Ref::steal(PyLong_FromLong(fresh));
    if (!key || PyDict_SetItem(by_value_.get(), o, key.get()) < 0) return -1;
    objects_.push_back(Ref::borrow(o));
    insert_pointer(o, fresh);
    return fresh;
}

// ---- Digraph ----------------------------------------------------------------------

Digraph Digraph::from_edges(int n, const std::vector<std::pair<int, int>> &edges) {
    Digraph g;
    g.n = n;
    g.start.assign(static_cast<size_t>(n) + 1, 0);
    for (const auto &e : edges) ++g.start[static_cast<size_t>(e.first) + 1];
    for (int v = 0; v < n; ++v) g.start[static_cast<size_t>(v) + 1] += g.start[static_cast<size_t>(v)];
    g.targets.resize(edges.size());
    std::vector<int> fill(g.start.begin(), g.start.end() - 1);
    for (const auto &e : edges) g.targets[static_cast<size_t>(fill[static_cast<size_t>(e.first)]++)] = e.second;
    return g;
}

// ---- strongly connected components (Tarjan, with an explicit stack) ----------------

Components strong_components(const Digraph &g) {
    const size_t n = static_cast<size_t>(g.n);
    Components c;
    c.of.assign(n, -1);
    std::vector<int> order(n, -1), low(n, 0);
    std::vector<int> stack;                       // Tarjan's stack of open nodes
    std::vector<std::pair<int, const int *>> calls;  // the depth-first walk: node, next edge
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

Reach reachability(const Digraph &g, const Components &c) {
    const size_t count = static_cast<size_t>(c.count);
    // Edges between components, grouped by source, each group ordered by
    // target from the highest number down (nearest first): two stable
    // counting sorts.
    std::vector<std::pair<int, int>> by_target;
    {
        std::vector<int> bucket(count + 1, 0);
        for (int v = 0; v < g.n; ++v) {
            int cv = c.of[static_cast<size_t>(v)];
            for (const int *t = g.begin(v); t != g.end(v); ++t) {
                int ct = c.of[static_cast<size_t>(*t)];
                if (ct != cv) ++bucket[count - static_cast<size_t>(ct)];
            }
        }
        for (size_t i = 0; i < count; ++i) bucket[i + 1] += bucket[i];
        by_target.resize(static_cast<size_t>(bucket[count]));
        for (int v = 0; v < g.n; ++v) {
            int cv = c.of[static_cast<size_t>(v)];
            for (const int *t = g.begin(v); t != g.end(v); ++t) {
                int ct = c.of[static_cast<size_t>(*t)];
                if (ct != cv) by_target[static_cast<size_t>(bucket[count - 1 - static_cast<size_t>(ct)]++)] = {cv, ct};
            }
        }
    }
    Digraph cond = Digraph::from_edges(c.count, by_target);

    Reach r;
    r.start.reserve(count + 1);
    r.start.push_back(0);
    Marks marks(static_cast<size_t>(g.n));
    for (int comp = 0; comp < c.count; ++comp) {  // sinks first: successors are done
        marks.next();
        for (int i = c.start[static_cast<size_t>(comp)]; i < c.start[static_cast<size_t>(comp) + 1]; ++i) {
            int m = c.members[static_cast<size_t>(i)];
            marks.set(m);
            r.nodes.push_back(m);
        }
        for (const int *d = cond.begin(comp); d != cond.end(comp); ++d) {
            int representative = c.members[static_cast<size_t>(c.start[static_cast<size_t>(*d)])];
            if (marks.test(representative)) continue;
            r.kept.emplace_back(comp, *d);
            for (int i = r.start[static_cast<size_t>(*d)]; i < r.start[static_cast<size_t>(*d) + 1]; ++i) {
                int x = r.nodes[static_cast<size_t>(i)];
                if (marks.set(x)) r.nodes.push_back(x);
            }
        }
        r.start.push_back(static_cast<int>(r.nodes.size()));
    }
    return r;
}

}  // namespace zelqor::kripke
