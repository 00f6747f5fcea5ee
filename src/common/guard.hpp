// Recursion guard for every recursive walk over a tree: a tree deeper than
// the interpreter allows ends in RecursionError instead of a stack overflow.
#pragma once

#include "common/pyref.hpp"

namespace zelqor {

class RecursionGuard {
public:
    explicit RecursionGuard(const char *where) noexcept
        : entered_(Py_EnterRecursiveCall(where) == 0), ok_(entered_) {}
    // Checks only when `check`: a walk whose levels are known to be few and
    // small may check every few levels.
    RecursionGuard(const char *where, bool check) noexcept
        : entered_(check && Py_EnterRecursiveCall(where) == 0), ok_(!check || entered_) {}
    ~RecursionGuard() { if (entered_) Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard &) = delete;
    RecursionGuard &operator=(const RecursionGuard &) = delete;
    // False when the limit was hit; the RecursionError is then already set.
    bool ok() const noexcept { return ok_; }

private:
    bool entered_;
    bool ok_;
};

}  // namespace zelqor
