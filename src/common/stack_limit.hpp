// How much C stack the current thread has left. The interpreter's own depth
// count (3.11 to 3.13) knows nothing of the C stack: with a high recursion
// limit, or in a thread started with a small `threading.stack_size`, a deep
// walk would overflow long before the count trips. Every recursive walk
// therefore also compares its stack pointer with the thread's stack bounds.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace zelqor {

class StackLimit {
public:
    // True while the stack below the caller's frame still holds the margin.
    static bool has_room() noexcept {
        const Bounds &bounds = current();
        auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        return bounds.floor == 0 || here > bounds.floor;
    }

private:
    struct Bounds {
        uintptr_t floor = 0;  // lowest address a walk may reach; 0 when unknown
        bool known = false;
    };
    // Read on every level of every walk: the initial-exec model makes that
    // one load relative to the thread pointer instead of a call into the
    // dynamic loader (a few bytes of the static TLS that the C library keeps
    // for modules loaded later).
    static const Bounds &current() noexcept {
        static thread_local Bounds bounds __attribute__((tls_model("initial-exec")));
        if (!bounds.known) {
            bounds.floor = measure_floor();
            bounds.known = true;
        }
        return bounds;
    }
    // Start of the thread's stack plus a margin that leaves room for the
    // error path and for a Python callback made at the deepest level.
    static uintptr_t measure_floor() noexcept {
#if defined(__linux__)
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
        void *low = nullptr;
        size_t size = 0;
        int failed = pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
        if (failed != 0 || low == nullptr || size == 0) return 0;
        return reinterpret_cast<uintptr_t>(low) + margin_for(size);
#else
        return 0;  // unknown bounds: rely on the interpreter's own checks
#endif
    }
    // An eighth of the stack, at least 32 KiB and at most 256 KiB; but never
    // more than half of it, so the smallest thread stacks (32 KiB is the
    // least `threading.stack_size` accepts) keep a floor too.
    static constexpr size_t margin_for(size_t size) noexcept {
        size_t margin = size / 8;
        if (margin < kMinMargin) margin = kMinMargin;
        if (margin > kMaxMargin) margin = kMaxMargin;
        if (margin > size / 2) margin = size / 2;
        return margin;
    }
    static constexpr size_t kMinMargin = 32 * 1024;
    static constexpr size_t kMaxMargin = 256 * 1024;
};

}  // namespace zelqor
