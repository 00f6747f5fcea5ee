// A hash table from short strings (names) to small values, open addressing
// with a hash that reads eight bytes at a time: the reader looks a name up at
// every symbol it meets, so this is on its hottest path.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zelqor::tptp {

inline uint64_t hash_text(std::string_view text) {
    const char *p = text.data();
    size_t n = text.size();
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ n;
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 31;
        p += 8;
        n -= 8;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = (h ^ tail) * 0x94d049bb133111ebULL;
    return h ^ (h >> 29);
}

template <typename Value>
class StringTable {
public:
    // The value stored for `key`, or null. Valid until the next insert.
    Value *find(std::string_view key) {
        if (slots_.empty()) return nullptr;
        uint64_t h = hash_text(key);
        for (size_t i = h & mask(); slots_[i].entry != kFree; i = (i + 1) & mask()) {
            if (slots_[i].hash == h && entries_[slots_[i].entry].key == key) return &entries_[slots_[i].entry].value;
        }
        return nullptr;
    }

    // Adds `key`, which must be absent. Valid until the next insert.
    Value &insert(std::string_view key, Value value) {
        if ((entries_.size() + 1) * 2 > slots_.size()) grow();
        uint64_t h = hash_text(key);
        size_t i = h & mask();
        while (slots_[i].entry != kFree) i = (i + 1) & mask();
        entries_.push_back(Entry{std::string(key), value});
        slots_[i] = Slot{h, static_cast<uint32_t>(entries_.size() - 1)};
        return entries_.back().value;
    }

    template <typename Visit>
    void for_each(Visit visit) const {
        for (const Entry &e : entries_) visit(e.key, e.value);
    }

private:
    static constexpr uint32_t kFree = UINT32_MAX;
    struct Entry {
        std::string key;
        Value value;
    };
    struct Slot {
        uint64_t hash;
        uint32_t entry;
    };

    size_t mask() const { return slots_.size() - 1; }

    void grow() {
        size_t size = slots_.empty() ? 64 : slots_.size() * 2;
        std::vector<Slot> bigger(size, Slot{0, kFree});
        for (const Slot &slot : slots_) {
            if (slot.entry == kFree) continue;
            size_t i = slot.hash & (size - 1);
            while (bigger[i].entry != kFree) i = (i + 1) & (size - 1);
            bigger[i] = slot;
        }
        slots_.swap(bigger);
    }

    std::vector<Entry> entries_;  // in insertion order
    std::vector<Slot> slots_;
};

}  // namespace zelqor::tptp
