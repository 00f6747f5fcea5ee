#include "zelqor/prover/clausifier/atom_substitution.hpp"

#include "common/guard.hpp"

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

bool is_exact(PyObject *o, Kind k) { return Py_TYPE(o) == g.api->types[static_cast<int>(k)]; }

// Whether a key of `renaming` is in the cached free set: 1, 0, -1 error.
int touches(PyObject *free, PyObject *renaming) {
    Py_ssize_t nfree = PySet_GET_SIZE(free);
    if (nfree == 0) return 0;
    if (PyDict_GET_SIZE(renaming) < nfree) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(renaming, &pos, &key, &value)) {
            int in = PySet_Contains(free, key);
            if (in != 0) return in;
        }
        return 0;
    }
    Ref it = Ref::steal(PyObject_GetIter(free));
    if (!it) return -1;
    while (PyObject *var = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(var);
        int in = PyDict_Contains(renaming, var);
        if (in != 0) return in;
    }
    return PyErr_Occurred() ? -1 : 0;
}

class Renamer {
public:
    explicit Renamer(PyObject *renaming) : renaming_(renaming) {}
    bool handled = true;

    PyObject *term(PyObject *t) {
        RecursionGuard guard(" while substituting in a term");
        if (!guard.ok()) return nullptr;
        if (is_exact(t, Kind::Variable)) {
            PyObject *image = PyDict_GetItemWithError(renaming_, t);
            if (image != nullptr) return new_ref(image);
            return PyErr_Occurred() ? nullptr : new_ref(t);
        }
        if (is_exact(t, Kind::Constant)) return new_ref(t);
        if (is_exact(t, Kind::FunctionApp)) {
            int hit = touches(ast::field(t, slot::fn_free), renaming_);
            if (hit <= 0) return hit < 0 ? nullptr : new_ref(t);
            PyObject *args = ast::field(t, slot::fn_args);
            Ref mapped = map_args(args);
            if (!mapped || mapped.get() == args) return mapped.release();
            PyObject *values[5] = {ast::field(t, slot::sort), ast::field(t, slot::fn_func),
                                   ast::field(t, slot::fn_arity), mapped.get(), ast::field(t, slot::fn_return_sort)};
            return g.api->make(Kind::FunctionApp, values);
        }
        handled = false;
        return nullptr;
    }

    // The argument tuple with every term renamed, or `args` itself unchanged.
    Ref map_args(PyObject *args) {
        if (!PyTuple_CheckExact(args)) {
            handled = false;
            return Ref();
        }
        Py_ssize_t n = PyTuple_GET_SIZE(args);
        Ref out = Ref::steal(PyTuple_New(n));
        if (!out) return Ref();
        bool changed = false;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *old = PyTuple_GET_ITEM(args, i);
            PyObject *item = term(old);
            if (item == nullptr) return Ref();
            changed |= item != old;
            PyTuple_SET_ITEM(out.get(), i, item);
        }
        if (!changed) {
            // The caller tells "unchanged" by identity.
            return Ref::borrow(args);
        }
        return out;
    }

private:
    PyObject *renaming_;
};

}  // namespace

PyObject *rename_in_atom(PyObject *atom, PyObject *renaming, bool &handled) {
    Renamer r(renaming);
    PyObject *result = nullptr;
    if (is_exact(atom, Kind::PredicateApp)) {
        int hit = touches(ast::field(atom, slot::pred_free), renaming);
        if (hit <= 0) return hit < 0 ? nullptr : new_ref(atom);
        PyObject *args = ast::field(atom, slot::pred_args);
        Ref mapped = r.map_args(args);
        if (mapped && mapped.get() == args) {
            result = new_ref(atom);
        } else if (mapped) {
            PyObject *values[3] = {ast::field(atom, slot::pred_pred), ast::field(atom, slot::pred_arity),
                                   mapped.get()};
            result = g.api->make(Kind::PredicateApp, values);
        }
    } else {
        int hit = touches(ast::field(atom, slot::eq_free), renaming);
        if (hit <= 0) return hit < 0 ? nullptr : new_ref(atom);
        Ref left = Ref::steal(r.term(ast::field(atom, slot::eq_left)));
        Ref right = left ? Ref::steal(r.term(ast::field(atom, slot::eq_right))) : Ref();
        if (right) {
            if (left.get() == ast::field(atom, slot::eq_left) && right.get() == ast::field(atom, slot::eq_right)) {
                result = new_ref(atom);
            } else {
                PyObject *values[2] = {left.get(), right.get()};
                result = g.api->make(Kind::Equality, values);
            }
        }
    }
    handled = r.handled;
    return result;
}

}  // namespace zelqor::clausifier
