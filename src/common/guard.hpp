// Recursion guard for every recursive walk over a tree: a tree deeper than
// the interpreter allows, or deeper than the thread's C stack can hold, ends
// in RecursionError instead of a stack overflow.
#pragma once

#include "common/pyref.hpp"
#include "common/stack_limit.hpp"

namespace zelqor {

class RecursionGuard {
public:
    explicit RecursionGuard(const char *where) noexcept : entered_(enter(where)), ok_(entered_) {}
    // Checks only when `check`: a walk whose levels are known to be few and
    // small may check every few levels.
    RecursionGuard(const char *where, bool check) noexcept
        : entered_(check && enter(where)), ok_(!check || entered_) {}
    ~RecursionGuard() { if (entered_) Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;
    // False when the limit was hit; the RecursionError is then already set.
    bool ok() const noexcept { return ok_; }

private:
    static bool enter(const char *where) noexcept {
        if (!StackLimit::has_room()) {
            PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s (C stack nearly full)", where);
            return false;
        }
        return Py_EnterRecursiveCall(where) == 0;
    }

    bool entered_;
    bool ok_;
};

}  // namespace zelqor
