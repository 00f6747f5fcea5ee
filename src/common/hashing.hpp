// Hash of a sequence of values, mixed exactly as the interpreter hashes a
// tuple: a node's hash equals the hash of the tuple of its hashed inputs.
#pragma once

#include "common/pyref.hpp"

namespace zelqor {

class TupleHasher {
public:
    void add(Py_hash_t lane) noexcept {
        acc_ += static_cast<Py_uhash_t>(lane) * kPrime2;
        acc_ = (acc_ << 31) | (acc_ >> 33);
        acc_ *= kPrime1;
        ++length_;
    }
    // Adds hash(obj); false (with the error set) if obj is unhashable.
    bool add_object(PyObject *obj) {
        Py_hash_t h = PyObject_Hash(obj);
        if (h == -1) return false;
        add(h);
        return true;
    }
    Py_hash_t finish() const noexcept {
        Py_uhash_t acc = acc_ + (static_cast<Py_uhash_t>(length_) ^ (kPrime5 ^ 3527539UL));
        if (acc == static_cast<Py_uhash_t>(-1)) return 1546275796;
        return static_cast<Py_hash_t>(acc);
    }

private:
    static_assert(sizeof(Py_uhash_t) == 8, "64-bit hashes expected");
    static constexpr Py_uhash_t kPrime1 = 11400714785074694791ULL;
    static constexpr Py_uhash_t kPrime2 = 14029467366897019727ULL;
    static constexpr Py_uhash_t kPrime5 = 2870177450012600261ULL;
    Py_uhash_t acc_ = kPrime5;
    Py_ssize_t length_ = 0;
};

}  // namespace zelqor
