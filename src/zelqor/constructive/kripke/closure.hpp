// Closing the accessibility relation and propagating the valuation.
#pragma once

#include "zelqor/constructive/kripke/graph.hpp"
#include "zelqor/constructive/kripke/model.hpp"

namespace zelqor::kripke {

// What one closure computed, kept for the propagation that follows it in add_relation.
struct ClosureRun {
    NodeTable nodes;
    std::vector<int> order;   // the worlds of `worlds`: nodes 0..k-1
    Digraph graph;            // the rows as read
    Components comps;
    Reach reach;
    bool pure = true;         // nothing read could have run Python code
};

// _compute_transitive_closure, leaving its results in `run`.
bool close_rows(PyObject *self, ClosureRun &run);
// Whether `run` can stand in for reading the rows again.
bool reusable(const ClosureRun &run);
// _enforce_monotonicity over the rows `run` has just written.
PyObject *enforce_monotonicity_after(PyObject *self, ClosureRun &run);

}  // namespace zelqor::kripke
