// Closing the accessibility relation and propagating the valuation.
#pragma once

#include "zelqor/constructive/kripke/graph.hpp"
#include "zelqor/constructive/kripke/model.hpp"

#include <cstddef>

namespace zelqor::kripke {

// An arena that starts in a buffer of its own (the calls are not recursive,
// so it can live on the stack) and takes further blocks from the heap.
class ScratchArena : public std::pmr::monotonic_buffer_resource {
public:
    ScratchArena() : std::pmr::monotonic_buffer_resource(buffer_, sizeof buffer_) {}

private:
    alignas(std::max_align_t) std::byte buffer_[12288];
};

// What one closure computed, kept for the propagation that follows it in add_relation.
struct ClosureRun {
    ScratchArena arena;
    NodeTable nodes{&arena};
    Vec<int> order{&arena};   // the worlds of `worlds`: nodes 0..k-1
    Digraph graph{&arena};    // the rows as read
    Components comps{&arena};
    Reach reach{&arena};
    bool pure = true;         // nothing read could have run Python code
};

// _compute_transitive_closure, leaving its results in `run`.
bool close_rows(PyObject *self, ClosureRun &run);
// Whether `run` can stand in for reading the rows again.
bool reusable(const ClosureRun &run);
// _enforce_monotonicity over the rows `run` has just written.
PyObject *enforce_monotonicity_after(PyObject *self, ClosureRun &run);

}  // namespace zelqor::kripke
