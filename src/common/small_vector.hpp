// A vector of trivially copyable values that keeps its first N elements in
// place, for the many small per-call collections (the clause sets of most
// subformulas, the worlds one evaluation marks) whose allocation would
// otherwise dominate their cost.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

namespace zelqor {

template <typename T, size_t N>
class SmallVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    SmallVector() = default;
    SmallVector(const SmallVector &) = delete;
    SmallVector &operator=(const SmallVector &) = delete;
    SmallVector(SmallVector &&other) noexcept { take(other); }
    SmallVector &operator=(SmallVector &&other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~SmallVector() { release(); }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T *data() { return heap_ != nullptr ? heap_ : inline_; }
    const T *data() const { return heap_ != nullptr ? heap_ : inline_; }
    T &operator[](size_t i) { return data()[i]; }
    const T &operator[](size_t i) const { return data()[i]; }
    T &back() { return data()[size_ - 1]; }
    T *begin() { return data(); }
    T *end() { return data() + size_; }

    void reserve(size_t wanted) {
        if (wanted <= capacity()) return;
        T *bigger = static_cast<T *>(::operator new(wanted * sizeof(T)));
        if (size_ > 0) std::memcpy(bigger, data(), size_ * sizeof(T));
        ::operator delete(heap_);
        heap_ = bigger;
        heap_capacity_ = wanted;
    }
    void push_back(T value) {
        if (size_ == capacity()) reserve(capacity() * 2);
        data()[size_++] = value;
    }
    void append(const T *first, size_t count) {
        if (size_ + count > capacity()) reserve(size_ + count > capacity() * 2 ? size_ + count : capacity() * 2);
        if (count > 0) std::memcpy(data() + size_, first, count * sizeof(T));
        size_ += count;
    }
    T pop_back() { return data()[--size_]; }
    void clear() { size_ = 0; }

private:
    size_t capacity() const { return heap_ != nullptr ? heap_capacity_ : N; }
    void release() {
        ::operator delete(heap_);
        heap_ = nullptr;
        size_ = 0;
    }
    void take(SmallVector &other) {
        size_ = other.size_;
        heap_ = other.heap_;
        heap_capacity_ = other.heap_capacity_;
        if (heap_ == nullptr && size_ > 0) std::memcpy(inline_, other.inline_, size_ * sizeof(T));
        other.heap_ = nullptr;
        other.size_ = 0;
    }

    T inline_[N];
    T *heap_ = nullptr;
    size_t heap_capacity_ = 0;
    size_t size_ = 0;
};

}  // namespace zelqor
