// What one call of `evaluate` has read about the worlds it met: their rows
// and valuation sets, and lists of the rows it walked more than once.
//
// Kept only for plain worlds, whose hashing and comparison run no Python
// code, and only while no overriding method or replaced name of the caller's
// can run between two reads. Within one call the model is then read once per
// world; nothing outlives the call.
//
// A world's entry is found through the world's own `mark` field rather than
// a table: the call marks each world it keeps something for and unmarks it
// before returning. A mark that is not this call's (a call made from Python
// code that this call ran, or one that another thread's call left while it
// released the interpreter) is left alone, and the world is then read as if
// nothing were kept.
#pragma once

#include "common/small_vector.hpp"
#include "zelqor/constructive/kripke/world.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelqor::kripke {

struct alignas(64) WorldInfo {
    const void *owner;           // the WorldCache that made it
    PyObject *world;             // held by the cache's list of marked worlds
    PyObject *valuation;         // owned; null: none
    PyObject *row;               // owned; null: none
    Py_hash_t hash;              // the world's hash, once a row showed it; else -1
    // A row walked again in the same call is walked from the list of its
    // worlds' entries, in table order: a visit then needs no lookup of its
    // world. The list grows only as far as the walks go, since an early
    // result leaves most of a row unvisited. `resume` is the first slot of
    // the row's table not yet listed, and `used` the row's size when the list
    // was begun (a change of size is caught as the set's own iterator would).
    uint32_t head, tail, count;  // the list: chunks of WorldCache
    uint32_t resume, used;
    bool walked : 1;             // the row was walked once in place
    bool valuation_read : 1, row_read : 1, complete : 1, unlistable : 1, listing : 1;
};
static_assert(sizeof(WorldInfo) == 64, "one cache line per world");

class WorldCache {
public:
    WorldCache() = default;
    ~WorldCache() {
        // Unmark first: dropping the references below may free anything.
        for (PyObject *w : marked_) world_of(w)->mark &= kPlainWorld;
        for (size_t b = 0, left = entries_; left > 0; ++b) {
            size_t n = std::min(left, block_size(b));
            WorldInfo *block = b == 0 ? small_block() : blocks_[b - 1].get();
            for (size_t k = 0; k < n; ++k) {
                Py_XDECREF(block[k].valuation);
                Py_XDECREF(block[k].row);
            }
            left -= n;
        }
        for (PyObject *w : marked_) Py_DECREF(w);
    }
    WorldCache(const WorldCache &) = delete;
    WorldCache &operator=(const WorldCache &) = delete;

    // The entry of `w`, made on first use; null when `w` is not cacheable.
    WorldInfo *find(PyObject *w) { return lookup(w, false); }
    // The entry of `w` whose row is about to be walked, made at the second
    // walk: a row walked once in a call, as most are, costs no entry. Null
    // at the first walk, and when `w` is not cacheable.
    WorldInfo *find_walked(PyObject *w) { return lookup(w, true); }

    static constexpr uint32_t kNoChunk = UINT32_MAX;
    static constexpr int kChunk = 7;

    // What extend() did to a row's list.
    enum class Listing {
        kListed,       // one more world is listed
        kComplete,     // the whole row is listed
        kRestInPlace,  // the next world gets no entry: walk the rest of the row in place from `resume`
        kChanged,      // the row changed since the list was begun (RuntimeError set)
    };

    // Lists one more world of `info`'s row, the exact set `set`. Runs no
    // Python code.
    Listing extend(WorldInfo *info, const PySetObject *set) {
        if (info->complete) return Listing::kComplete;
        if (!info->listing) {
            info->listing = true;
            info->used = static_cast<uint32_t>(set->used);
        } else if (static_cast<uint32_t>(set->used) != info->used) {
            PyErr_SetString(PyExc_RuntimeError, "Set changed size during iteration");
            return Listing::kChanged;
        }
        if (info->unlistable) return Listing::kRestInPlace;
        Py_ssize_t i = info->resume;  // the table may have moved: read it anew
        while (i <= set->mask && (set->table[i].key == nullptr || set->table[i].hash == -1)) ++i;
        if (i > set->mask) {
            info->complete = true;
            return Listing::kComplete;
        }
        WorldInfo *member = find(set->table[i].key);
        if (member == nullptr) {
            info->unlistable = true;
            info->resume = static_cast<uint32_t>(i);
            return Listing::kRestInPlace;
        }
        member->hash = set->table[i].hash;
        if (info->count % kChunk == 0) {
            uint32_t c = static_cast<uint32_t>(chunks_.size());
            chunks_.push_back(Chunk{{}, kNoChunk});
            if (info->tail == kNoChunk) info->head = c;
            else chunks_[info->tail].next = c;
            info->tail = c;
        }
        chunks_[info->tail].item[info->count % kChunk] = member;
        ++info->count;
        info->resume = static_cast<uint32_t>(i + 1);
        return Listing::kListed;
    }
    // Chunks grow while a list is walked: read them by index.
    uint32_t next_chunk(uint32_t c) const { return chunks_[c].next; }
    WorldInfo *item(uint32_t c, int k) const { return chunks_[c].item[k]; }

private:
    // What a call that meets few worlds needs, without allocating.
    static constexpr size_t kSmall = 16;

    WorldInfo *lookup(PyObject *w, bool walking) {
#ifdef Py_GIL_DISABLED
        return nullptr;
#else
        if (!is_plain_world(w)) return nullptr;
        uintptr_t &mark = world_of(w)->mark;
        auto *info = reinterpret_cast<WorldInfo *>(mark & ~kPlainWorld);
        if (info == nullptr) return mark_new(w, mark, walking);
        if (info == &walked_once_) return mark_again(w, mark);
        return info->owner == this ? info : nullptr;
#endif
    }

    static WorldObject *world_of(PyObject *w) { return reinterpret_cast<WorldObject *>(w); }
    static uintptr_t mark_of(const WorldInfo *info) { return reinterpret_cast<uintptr_t>(info) | kPlainWorld; }

    // Marks an unmarked world: walked once, or with an entry of its own.
    WorldInfo *mark_new(PyObject *w, uintptr_t &mark, bool walked_once) {
        marked_.push_back(new_ref(w));
        if (walked_once) {
            mark = mark_of(&walked_once_);
            return nullptr;
        }
        WorldInfo *info = make(w, false);
        mark = mark_of(info);
        return info;
    }
    // The entry of a world met walked once before.
    WorldInfo *mark_again(PyObject *w, uintptr_t &mark) {
        WorldInfo *info = make(w, true);
        mark = mark_of(info);
        return info;
    }

    // Block 0 is the inline one; block b > 0 holds as many as all before it.
    static size_t block_size(size_t b) { return b == 0 ? kSmall : kSmall << (b - 1); }
    WorldInfo *small_block() { return reinterpret_cast<WorldInfo *>(small_storage_); }
    WorldInfo *make(PyObject *w, bool walked) {
        if (free_ == 0) {
            // Blocks double: a call that meets few worlds allocates little.
            free_ = block_size(blocks_.size() + 1);
            blocks_.push_back(std::make_unique_for_overwrite<WorldInfo[]>(free_));
            next_ = blocks_.back().get();
        }
        WorldInfo *info = next_++;
        --free_;
        ++entries_;
        *info = WorldInfo{this, w, nullptr, nullptr, -1, kNoChunk, kNoChunk, 0, 0, 0,
                          walked, false, false, false, false, false};
        return info;
    }

    struct Chunk {
        WorldInfo *item[kChunk];
        uint32_t next;
    };
    alignas(WorldInfo) unsigned char small_storage_[sizeof(WorldInfo) * kSmall];
    std::vector<std::unique_ptr<WorldInfo[]>> blocks_;   // stable addresses
    WorldInfo *next_ = small_block();
    size_t free_ = kSmall;
    size_t entries_ = 0;
    SmallVector<PyObject *, 64> marked_;   // every world this cache marked, held
    SmallVector<Chunk, 16> chunks_;
    // The mark of a world walked once, which has no entry yet. Never read:
    // only its address is compared.
    WorldInfo walked_once_{};
};

}  // namespace zelqor::kripke
