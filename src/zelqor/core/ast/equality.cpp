// Structural equality without recursion: pairs of values wait on an explicit
// stack and are compared depth first, left to right, exactly in the order a
// field-by-field comparison would visit them. Nodes whose cached hashes
// differ are unequal at once.
#include "zelqor/core/ast/equality.hpp"

#include "zelqor/core/ast/kinds.hpp"

#include <new>
#include <utility>
#include <vector>

namespace zelqor::ast {

namespace {

// Both references are borrowed: the trees are immutable and held by the caller.
class PairStack {
public:
    void push(PyObject *a, PyObject *b) {
        if (size_ < kInline) {
            inline_[size_++] = {a, b};
        } else {
            spill_.emplace_back(a, b);
            ++size_;
        }
    }
    std::pair<PyObject *, PyObject *> pop() {
        --size_;
        if (size_ >= kInline) {
            auto top = spill_.back();
            spill_.pop_back();
            return top;
        }
        return inline_[size_];
    }
    bool empty() const { return size_ == 0; }

private:
    static constexpr size_t kInline = 32;
    std::pair<PyObject *, PyObject *> inline_[kInline];
    std::vector<std::pair<PyObject *, PyObject *>> spill_;
    size_t size_ = 0;
};

// 1 equal, 0 unequal, -1 error.
int equal_values(PyObject *a, PyObject *b) {
    PairStack stack;
    stack.push(a, b);
    while (!stack.empty()) {
        auto [x, y] = stack.pop();
        if (x == y) continue;
        PyTypeObject *tx = Py_TYPE(x);
        if (tx == Py_TYPE(y) && tx->tp_richcompare == boundary<node_richcompare>) {
            const KindInfo &ki = info(kind_of_type(tx));
            if (ki.cached_hash && as_node(x)->hash != as_node(y)->hash) return 0;
            for (int i = ki.nvalue - 1; i >= 0; --i) stack.push(field(x, i), field(y, i));
        } else if (PyTuple_CheckExact(x) && PyTuple_CheckExact(y)) {
            Py_ssize_t n = PyTuple_GET_SIZE(x);
            if (n != PyTuple_GET_SIZE(y)) return 0;
            for (Py_ssize_t i = n - 1; i >= 0; --i) stack.push(PyTuple_GET_ITEM(x, i), PyTuple_GET_ITEM(y, i));
        } else {
            int r = PyObject_RichCompareBool(x, y, Py_EQ);
            if (r <= 0) return r;
        }
    }
    return 1;
}

}  // namespace

PyObject *node_richcompare(PyObject *a, PyObject *b, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(a) != Py_TYPE(b)) Py_RETURN_NOTIMPLEMENTED;
    int r;
    try {
        r = equal_values(a, b);
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        return nullptr;
    }
    if (r < 0) return nullptr;
    return PyBool_FromLong(op == Py_EQ ? r : !r);
}

}  // namespace zelqor::ast
