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
#include "zelqor/constructive/kripke/closure.hpp"

#include "zelqor/constructive/kripke/world.hpp"

#include <algorithm>
#include <vector>

namespace zelqor::kripke {

namespace {

// The worlds of `worlds` as node numbers 0..k-1, first occurrences in list order.
bool number_worlds(PyObject *worlds, NodeTable &nodes, Vec<int> &order) {
    Ref snapshot = Ref::steal(PyList_GetSlice(worlds, 0, PY_SSIZE_T_MAX));
    if (!snapshot) return false;
    nodes.reserve(static_cast<size_t>(PyList_GET_SIZE(snapshot.get())));
    order.reserve(static_cast<size_t>(PyList_GET_SIZE(snapshot.get())));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(snapshot.get()); ++i) {
        int before = nodes.size();
        int v = nodes.index(PyList_GET_ITEM(snapshot.get(), i));
        if (v < 0) return false;
        if (v == before) order.push_back(v);
    }
    return true;
}

// dict.get(node) for a numbered node, with the hash computed when it was
// numbered.
Ref lookup(PyObject *dict, const NodeTable &nodes, int v) {
    return world_entry(dict, nodes.object(v), nodes.hash(v));
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
bool apply(Target &t, PyObject *dict, PyObject *key, const Vec<int> &additions, const NodeTable &objects) {
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

// The valuation sets of nodes, as formula numbers (nodes in number order).
struct Valuations {
    explicit Valuations(Arena *a) : formulas(a), sets(a), start(1, 0, a), members(a) {}
    NodeTable formulas;
    Vec<Ref> sets;
    Vec<int> start, members;

    bool read_upto(PyObject *valuations, const NodeTable &nodes, int n) {
        sets.reserve(static_cast<size_t>(n));
        start.reserve(static_cast<size_t>(n) + 1);
        members.reserve(2 * static_cast<size_t>(n));
        while (static_cast<int>(sets.size()) < n) {
            Ref set = lookup(valuations, nodes, static_cast<int>(sets.size()));
            if (!set && PyErr_Occurred()) return false;
            if (set && !formulas.index_members(set.get(), members)) return false;
            sets.push_back(std::move(set));
            start.push_back(static_cast<int>(members.size()));
        }
        return true;
    }
    const int *begin(int v) const { return members.data() + start[static_cast<size_t>(v)]; }
    const int *end(int v) const { return members.data() + start[static_cast<size_t>(v) + 1]; }
};

// Final valuation of every component: its own formulas plus those of the
// components with a kept edge into it, sources first. Then writes what each
// node lacks, nodes taken in `visit` order.
bool propagate(PyObject *valuations_dict, const NodeTable &nodes, const Components &comps,
               const Vec<std::pair<int, int>> &kept, Valuations &v0, const Vec<int> &visit, Arena *a) {
    Vec<std::pair<int, int>> reversed(a);
    reversed.reserve(kept.size());
    for (const auto &e : kept) reversed.emplace_back(e.second, e.first);
    Digraph preds = Digraph::from_edges(comps.count, reversed, a);
    const size_t count = static_cast<size_t>(comps.count);
    Vec<int> final_start(count, 0, a), final_end(count, 0, a), finals(a);
    finals.reserve(v0.members.size() + count);
    Marks marks(static_cast<size_t>(v0.formulas.size()), a);
    for (int c = comps.count - 1; c >= 0; --c) {
        marks.next();
        final_start[static_cast<size_t>(c)] = static_cast<int>(finals.size());
        for (int i = comps.start[static_cast<size_t>(c)]; i < comps.start[static_cast<size_t>(c) + 1]; ++i) {
            for (const int *f = v0.begin(comps.members[static_cast<size_t>(i)]);
                 f != v0.end(comps.members[static_cast<size_t>(i)]); ++f) {
                if (marks.set(*f)) finals.push_back(*f);
            }
        }
        for (const int *p = preds.begin(c); p != preds.end(c); ++p) {
            for (int k = final_start[static_cast<size_t>(*p)]; k < final_end[static_cast<size_t>(*p)]; ++k) {
                if (marks.set(finals[static_cast<size_t>(k)])) finals.push_back(finals[static_cast<size_t>(k)]);
            }
        }
        final_end[static_cast<size_t>(c)] = static_cast<int>(finals.size());
    }

    Vec<int> additions(a);
    Vec<Target> targets(a);
    additions.reserve(visit.size());
    for (int v : visit) {
        marks.next();
        for (const int *f = v0.begin(v); f != v0.end(v); ++f) marks.set(*f);
        size_t first = additions.size();
        int c = comps.of[static_cast<size_t>(v)];
        for (int k = final_start[static_cast<size_t>(c)]; k < final_end[static_cast<size_t>(c)]; ++k) {
            if (!marks.test(finals[static_cast<size_t>(k)])) additions.push_back(finals[static_cast<size_t>(k)]);
        }
        if (first == additions.size()) continue;
        targets.push_back(Target{v, Ref::borrow(v0.sets[static_cast<size_t>(v)].get()), Ref(), first, additions.size()});
        if (!prepare(targets.back())) return false;
    }
    for (Target &t : targets) {
        if (!apply(t, valuations_dict, nodes.object(t.node), additions, v0.formulas)) return false;
    }
    return true;
}

}  // namespace

// Row of each world of `worlds` := itself plus everything reachable from it
// along rows (rows of keys outside `worlds` are followed but left alone).
bool close_rows(PyObject *self, ClosureRun &run) {
    ModelObject *m = as_model(self);
    Ref relations = Ref::borrow(m->relations);
    if (!number_worlds(m->worlds, run.nodes, run.order)) return false;

    // Read the rows of everything reachable from the worlds, breadth first.
    // Nodes are numbered on first sight, so the queue is the numbering itself.
    NodeTable &nodes = run.nodes;
    Digraph &graph = run.graph;
    Arena *a = &run.arena;
    Vec<Ref> rows(a);
    rows.reserve(run.order.size());
    graph.start.reserve(run.order.size() + 1);
    graph.targets.reserve(4 * run.order.size());
    for (int v = 0; v < nodes.size(); ++v) {
        Ref row = lookup(relations.get(), nodes, v);
        if (!row && PyErr_Occurred()) return false;
        if (row && !nodes.index_members(row.get(), graph.targets)) return false;
        run.pure = run.pure && (!row || PySet_CheckExact(row.get()));
        rows.push_back(std::move(row));
        graph.end_node();
    }
    for (int v = 0; v < nodes.size() && run.pure; ++v) run.pure = is_plain_world(nodes.object(v));

    run.comps = strong_components(graph, a);
    run.reach = reachability(graph, run.comps, a);
    const Components &comps = run.comps;
    const Reach &reach = run.reach;

    // What each world's row lacks.
    Vec<int> additions(a);
    Vec<Target> targets(a);
    additions.reserve(run.order.size());
    Marks marks(static_cast<size_t>(nodes.size()), a);
    for (int w : run.order) {
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
        if (!prepare(targets.back())) return false;
    }
    for (Target &t : targets) {
        if (!apply(t, relations.get(), nodes.object(t.node), additions, nodes)) return false;
    }
    return true;
}

PyObject *compute_transitive_closure(PyObject *self) {
    ClosureRun run;
    if (!close_rows(self, run)) return nullptr;
    Py_RETURN_NONE;
}

// Valuation set of every v in the row of a world w of `worlds` (v != w) :=
// itself plus the valuation sets of w; repeated along chains of such rows.
PyObject *enforce_monotonicity(PyObject *self) {
    ModelObject *m = as_model(self);
    Ref relations = Ref::borrow(m->relations);
    Ref valuations = Ref::borrow(m->valuations);
    ScratchArena arena;
    Arena *a = &arena;
    NodeTable nodes(a);
    Valuations v0(a);
    Vec<int> order(a);
    if (!number_worlds(m->worlds, nodes, order)) return nullptr;
    if (!v0.read_upto(valuations.get(), nodes, nodes.size())) return nullptr;
    if (v0.members.empty()) Py_RETURN_NONE;  // nothing true anywhere in `worlds`: nothing to carry

    // Edges w -> v for v in the row of a world w, v != w. The worlds are
    // numbered 0..k-1; nodes met in rows only have no edges.
    Digraph graph(a);
    for (int w : order) {
        Ref row = lookup(relations.get(), nodes, w);
        if (!row && PyErr_Occurred()) return nullptr;
        size_t first = graph.targets.size();
        if (row && !nodes.index_members(row.get(), graph.targets)) return nullptr;
        graph.targets.erase(std::remove(graph.targets.begin() + static_cast<std::ptrdiff_t>(first),
                                        graph.targets.end(), w),
                            graph.targets.end());
        graph.end_node();
    }
    while (graph.n < nodes.size()) graph.end_node();
    if (!v0.read_upto(valuations.get(), nodes, nodes.size())) return nullptr;

    Components comps = strong_components(graph, a);
    Reach reach = reachability(graph, comps, a);
    // Nodes are written in the order the rows name them.
    Vec<int> visit(a);
    Vec<char> seen(static_cast<size_t>(nodes.size()), 0, a);
    for (int w : order) {
        for (const int *t = graph.begin(w); t != graph.end(w); ++t) {
            if (!seen[static_cast<size_t>(*t)]) {
                seen[static_cast<size_t>(*t)] = 1;
                visit.push_back(*t);
            }
        }
    }
    if (!propagate(valuations.get(), nodes, comps, reach.kept, v0, visit, a)) return nullptr;
    Py_RETURN_NONE;
}

// Right after close_rows, when it read only plain worlds in exact sets and
// every node is a world of `worlds`: the rows are now what the run computed,
// so their components and covering edges serve the propagation as they are
// (a row's own world does not change reachability), without reading the
// rows again.
bool reusable(const ClosureRun &run) { return run.pure && run.nodes.size() == static_cast<int>(run.order.size()); }

PyObject *enforce_monotonicity_after(PyObject *self, ClosureRun &run) {
    Ref valuations = Ref::borrow(as_model(self)->valuations);
    Valuations v0(&run.arena);
    if (!v0.read_upto(valuations.get(), run.nodes, run.nodes.size())) return nullptr;
    if (v0.members.empty()) Py_RETURN_NONE;
    if (!propagate(valuations.get(), run.nodes, run.comps, run.reach.kept, v0, run.order, &run.arena)) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace zelqor::kripke
