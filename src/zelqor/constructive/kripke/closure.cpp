// _compute_transitive_closure and _enforce_monotonicity.
//
// Both produce exactly the rows and valuation sets that their repeated
// passes would reach, but compute that fixpoint in one go: the model is read
// once into a numbered graph, reachability comes from its strongly connected
// components, and only then is anything written. The cost is linear in the
// size of the model (rows plus valuation sets) instead of one model scan per
// pass, which matters because add_relation runs both over the whole model on
// every call.
//
// Nothing is assumed from an earlier call: callers may change the members
// between calls. Every object read is held strongly, since hashing and
// comparing a caller's objects can run arbitrary code.
#include "zelqor/constructive/kripke/graph.hpp"
#include "zelqor/constructive/kripke/model.hpp"

#include <vector>

namespace zelqor::kripke {

namespace {

// The worlds of `worlds` as node numbers, first occurrences in list order.
bool number_worlds(PyObject *worlds, NodeTable &nodes, std::vector<int> &order) {
    Ref snapshot = Ref::steal(PyList_GetSlice(worlds, 0, PY_SSIZE_T_MAX));
    if (!snapshot) return false;
    std::vector<char> seen;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(snapshot.get()); ++i) {
        int v = nodes.index(PyList_GET_ITEM(snapshot.get(), i));
        if (v < 0) return false;
        if (static_cast<size_t>(v) >= seen.size()) seen.resize(static_cast<size_t>(v) + 1, 0);
        if (!seen[static_cast<size_t>(v)]) {
            seen[static_cast<size_t>(v)] = 1;
            order.push_back(v);
        }
    }
    return true;
}

// Numbers of the members of a container (a set, or whatever a caller put there).
bool number_members(PyObject *container, NodeTable &table, std::vector<int> &out) {
    Ref it = Ref::steal(PyObject_GetIter(container));
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        int i = table.index(item.get());
        if (i < 0) return false;
        out.push_back(i);
    }
    return !PyErr_Occurred();
}

// Where additions go: the existing container (null: create one on writing)
// and, unless it is an exact set, its bound `add`, fetched before anything
// is written so that an unusable container fails the call up front.
struct Target {
    int node;
    Ref container;
    Ref adder;
    size_t first, last;   // range of the additions
};

bool prepare(Target &t) {
    if (!t.container || PySet_CheckExact(t.container.get()) || t.first == t.last) return true;
    t.adder = Ref::steal(PyObject_GetAttr(t.container.get(), g.str_add));
    return static_cast<bool>(t.adder);
}

// Applies one target's additions; creates its set under `key` in `dict` when absent.
bool apply(Target &t, PyObject *dict, PyObject *key, const std::vector<int> &additions, const NodeTable &objects) {
    if (!t.container) {
        t.container = Ref::steal(PySet_New(nullptr));
        if (!t.container || PyDict_SetItem(dict, key, t.container.get()) < 0) return false;
    }
    for (size_t i = t.first; i < t.last; ++i) {
        PyObject *item = objects.object(additions[i]);
        if (t.adder) {
            Ref r = Ref::steal(PyObject_CallOneArg(t.adder.get(), item));
            if (!r) return false;
        } else if (PySet_Add(t.container.get(), item) < 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Row of each world of `worlds` := itself plus everything reachable from it
// along rows (rows of keys outside `worlds` are followed but left alone).
PyObject *compute_transitive_closure(PyObject *self) {
    ModelObject *m = as_model(self);
    Ref relations = Ref::borrow(m->relations);
    NodeTable nodes;
    if (!nodes.ok()) return nullptr;
    std::vector<int> order;
    if (!number_worlds(m->worlds, nodes, order)) return nullptr;

    // Read the rows of everything reachable from the worlds, breadth first.
    std::vector<Ref> rows;
    std::vector<std::pair<int, int>> edges;
    std::vector<int> queue(order), members;
    std::vector<char> queued(queue.size(), 1);
    for (size_t qi = 0; qi < queue.size(); ++qi) {
        int v = queue[qi];
        if (rows.size() <= static_cast<size_t>(v)) rows.resize(static_cast<size_t>(v) + 1);
        Ref row = dict_get(relations.get(), nodes.object(v));
        if (!row) {
            if (PyErr_Occurred()) return nullptr;
            continue;
        }
        members.clear();
        if (!number_members(row.get(), nodes, members)) return nullptr;
        rows[static_cast<size_t>(v)] = std::move(row);
        for (int u : members) {
            edges.emplace_back(v, u);
            if (queued.size() <= static_cast<size_t>(u)) queued.resize(static_cast<size_t>(u) + 1, 0);
            if (!queued[static_cast<size_t>(u)]) {
                queued[static_cast<size_t>(u)] = 1;
                queue.push_back(u);
            }
        }
    }
    rows.resize(static_cast<size_t>(nodes.size()));

    Digraph graph = Digraph::from_edges(nodes.size(), edges);
    Components comps = strong_components(graph);
    Reach reach = reachability(graph, comps);

    // What each world's row lacks.
    std::vector<int> additions;
    std::vector<Target> targets;
    Marks marks(static_cast<size_t>(nodes.size()));
    for (int w : order) {
        marks.next();
        for (const int *t = graph.begin(w); t != graph.end(w); ++t) marks.set(*t);
        size_t first = additions.size();
        int c = comps.of[static_cast<size_t>(w)];
        for (int i = reach.start[static_cast<size_t>(c)]; i < reach.start[static_cast<size_t>(c) + 1]; ++i) {
            int x = reach.nodes[static_cast<size_t>(i)];
            if (!marks.test(x)) additions.push_back(x);
        }
        Ref &row = rows[static_cast<size_t>(w)];
        if (row && first == additions.size()) continue;
        targets.push_back(Target{w, Ref::borrow(row.get()), Ref(), first, additions.size()});
        if (!prepare(targets.back())) return nullptr;
    }
    for (Target &t : targets) {
        if (!apply(t, relations.get(), nodes.object(t.node), additions, nodes)) return nullptr;
    }
    Py_RETURN_NONE;
}

// Valuation set of every v in the row of a world w of `worlds` (v != w) :=
// itself plus the valuation sets of w; repeated along chains of such rows.
PyObject *enforce_monotonicity(PyObject *self) {
    ModelObject *m = as_model(self);
    Ref relations = Ref::borrow(m->relations);
    Ref valuations = Ref::borrow(m->valuations);
    NodeTable nodes, formulas;
    if (!nodes.ok() || !formulas.ok()) return nullptr;
    std::vector<int> order;
    if (!number_worlds(m->worlds, nodes, order)) return nullptr;

    // The valuation sets, as formula numbers per node (nodes in number order).
    std::vector<Ref> sets;
    std::vector<int> v0_start{0}, v0;
    auto read_valuations_upto = [&](int n) -> bool {
        while (static_cast<int>(sets.size()) < n) {
            Ref set = dict_get(valuations.get(), nodes.object(static_cast<int>(sets.size())));
            if (!set && PyErr_Occurred()) return false;
            if (set && !number_members(set.get(), formulas, v0)) return false;
            sets.push_back(std::move(set));
            v0_start.push_back(static_cast<int>(v0.size()));
        }
        return true;
    };
    if (!read_valuations_upto(nodes.size())) return nullptr;
    if (v0.empty()) Py_RETURN_NONE;  // nothing true anywhere in `worlds`: nothing to carry

    // Edges w -> v for v in the row of a world w, v != w.
    std::vector<std::pair<int, int>> edges;
    std::vector<int> members;
    for (int w : order) {
        Ref row = dict_get(relations.get(), nodes.object(w));
        if (!row) {
            if (PyErr_Occurred()) return nullptr;
            continue;
        }
        members.clear();
        if (!number_members(row.get(), nodes, members)) return nullptr;
        for (int v : members) {
            if (v != w) edges.emplace_back(w, v);
        }
    }
    if (!read_valuations_upto(nodes.size())) return nullptr;

    const int n = nodes.size();
    Digraph graph = Digraph::from_edges(n, edges);
    Components comps = strong_components(graph);
    Reach reach = reachability(graph, comps);

    // Final set of each component: its own formulas plus those of the
    // components with a kept edge into it, sources first.
    std::vector<std::pair<int, int>> reversed;
    reversed.reserve(reach.kept.size());
    for (const auto &e : reach.kept) reversed.emplace_back(e.second, e.first);
    Digraph preds = Digraph::from_edges(comps.count, reversed);
    std::vector<int> final_start(static_cast<size_t>(comps.count) + 1, 0), final_end(static_cast<size_t>(comps.count), 0);
    std::vector<int> finals;
    Marks fmarks(static_cast<size_t>(formulas.size()));
    for (int c = comps.count - 1; c >= 0; --c) {
        fmarks.next();
        final_start[static_cast<size_t>(c)] = static_cast<int>(finals.size());
        for (int i = comps.start[static_cast<size_t>(c)]; i < comps.start[static_cast<size_t>(c) + 1]; ++i) {
            int v = comps.members[static_cast<size_t>(i)];
            for (int k = v0_start[static_cast<size_t>(v)]; k < v0_start[static_cast<size_t>(v) + 1]; ++k) {
                if (fmarks.set(v0[static_cast<size_t>(k)])) finals.push_back(v0[static_cast<size_t>(k)]);
            }
        }
        for (const int *p = preds.begin(c); p != preds.end(c); ++p) {
            for (int k = final_start[static_cast<size_t>(*p)]; k < final_end[static_cast<size_t>(*p)]; ++k) {
                int f = finals[static_cast<size_t>(k)];
                if (fmarks.set(f)) finals.push_back(f);
            }
        }
        final_end[static_cast<size_t>(c)] = static_cast<int>(finals.size());
    }

    // What each reached node lacks, in the order the rows name them.
    std::vector<int> additions;
    std::vector<Target> targets;
    std::vector<char> planned(static_cast<size_t>(n), 0);
    for (int w : order) {
        for (const int *t = graph.begin(w); t != graph.end(w); ++t) {
            int v = *t;
            if (planned[static_cast<size_t>(v)]) continue;
            planned[static_cast<size_t>(v)] = 1;
            fmarks.next();
            for (int k = v0_start[static_cast<size_t>(v)]; k < v0_start[static_cast<size_t>(v) + 1]; ++k) {
                fmarks.set(v0[static_cast<size_t>(k)]);
            }
            size_t first = additions.size();
            int c = comps.of[static_cast<size_t>(v)];
            for (int k = final_start[static_cast<size_t>(c)]; k < final_end[static_cast<size_t>(c)]; ++k) {
                int f = finals[static_cast<size_t>(k)];
                if (!fmarks.test(f)) additions.push_back(f);
            }
            if (first == additions.size()) continue;
            targets.push_back(Target{v, Ref::borrow(sets[static_cast<size_t>(v)].get()), Ref(), first, additions.size()});
            if (!prepare(targets.back())) return nullptr;
        }
    }
    for (Target &t : targets) {
        if (!apply(t, valuations.get(), nodes.object(t.node), additions, formulas)) return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace zelqor::kripke
