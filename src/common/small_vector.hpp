// A growable array of trivially copyable values whose first N live inline:
// per-call scratch that allocates nothing in the common case.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace zelqor {

template <typename T, size_t N>
class SmallVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    SmallVector() = default;
    ~SmallVector() {
        if (data_ != inline_data()) std::free(data_);
    }
    SmallVector(const SmallVector &) = delete;
    SmallVector &operator=(const SmallVector &) = delete;

    size_t size() const { return size_; }
    T &operator[](size_t i) { return data_[i]; }
    const T &operator[](size_t i) const { return data_[i]; }
    T *begin() { return data_; }
    T *end() { return data_ + size_; }

    // Throws std::bad_alloc when memory runs out, as the standard containers do.
    void push_back(const T &value) {
        if (size_ == capacity_) grow();
        data_[size_++] = value;
    }

private:
    T *inline_data() { return reinterpret_cast<T *>(inline_); }
    void grow() {
        size_t capacity = 2 * capacity_;
        auto *bigger = static_cast<T *>(std::malloc(capacity * sizeof(T)));
        if (bigger == nullptr) throw std::bad_alloc();
        std::memcpy(static_cast<void *>(bigger), static_cast<const void *>(data_), size_ * sizeof(T));
        if (data_ != inline_data()) std::free(data_);
        data_ = bigger;
        capacity_ = capacity;
    }

    alignas(T) unsigned char inline_[N * sizeof(T)];
    T *data_ = inline_data();
    size_t size_ = 0;
    size_t capacity_ = N;
};

}  // namespace zelqor
