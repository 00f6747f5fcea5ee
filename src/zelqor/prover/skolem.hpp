// Skolem symbols as the clause-form walks of the prover modules make them:
// "sk_c<n>" for an existential outside every universal, "sk_f<n>" applied
// to all enclosing universal variables otherwise, numbers drawn from the
// clausifier's counters, each symbol offered to the caller's signature.
#pragma once

#include "zelqor/core/ast/api.hpp"

#include <initializer_list>
#include <vector>

namespace zelqor::prover {

// Calls signature.<method>(*args), discarding any ordinary exception; false
// with the exception set for anything else (KeyboardInterrupt, say).
inline bool register_symbol(PyObject *signature, PyObject *method, std::initializer_list<PyObject *> args) {
    Ref bound = Ref::steal(PyObject_GetAttr(signature, method));
    Ref result = bound ? Ref::steal(PyObject_Vectorcall(bound.get(), args.begin(), args.size(), nullptr)) : Ref();
    if (result) return true;
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    return true;
}

// next(counter), as the interpreter's next() would.
inline PyObject *next_of(PyObject *counter) {
    if (!PyIter_Check(counter)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object is not an iterator", Py_TYPE(counter)->tp_name);
        return nullptr;
    }
    PyObject *value = (*Py_TYPE(counter)->tp_iternext)(counter);
    if (value == nullptr && !PyErr_Occurred()) PyErr_SetNone(PyExc_StopIteration);
    return value;
}

// Which kind of Skolem symbol a number is drawn for.
enum class SkolemSymbol { kConstant, kFunction };

// The signature methods Skolem symbols are registered through (interned).
struct SkolemRegistration {
    PyObject *register_constant, *register_function;
};

// The Skolem term for an existential variable of sort `sort` under the
// fresh universal variables `universals` (outermost first); `draw(symbol)`
// gives the next number for that kind of symbol as a new reference.
// Registered in `signature` unless it is None.
template <typename Draw>
Ref skolem_term(const ast::Api *api, PyObject *sort, const std::vector<Ref> &universals, PyObject *signature,
                const SkolemRegistration &methods, Draw &&draw) {
    using ast::Kind;
    if (universals.empty()) {
        Ref n = Ref::steal(draw(SkolemSymbol::kConstant));
        Ref name = n ? Ref::steal(PyUnicode_FromFormat("sk_c%S", n.get())) : Ref();
        if (!name) return Ref();
        Ref term = Ref::steal(api->make(Kind::Constant, ast::constant_fields(name.get(), sort).data()));
        if (!term) return Ref();
        if (signature != Py_None && !register_symbol(signature, methods.register_constant, {name.get(), sort})) {
            return Ref();
        }
        return term;
    }
    Ref n = Ref::steal(draw(SkolemSymbol::kFunction));
    Ref name = n ? Ref::steal(PyUnicode_FromFormat("sk_f%S", n.get())) : Ref();
    if (!name) return Ref();
    Py_ssize_t count = static_cast<Py_ssize_t>(universals.size());
    Ref arg_sorts = Ref::steal(PyTuple_New(count));
    Ref args = Ref::steal(PyTuple_New(count));
    Ref arity = Ref::steal(PyLong_FromSsize_t(count));
    if (!arg_sorts || !args || !arity) return Ref();
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *u = universals[static_cast<size_t>(i)].get();
        PyTuple_SET_ITEM(arg_sorts.get(), i, new_ref(ast::field(u, ast::slot::sort)));
        PyTuple_SET_ITEM(args.get(), i, new_ref(u));
    }
    Ref term = Ref::steal(
        api->make(Kind::FunctionApp, ast::function_app_fields(name.get(), arity.get(), args.get(), sort).data()));
    if (!term) return Ref();
    if (signature != Py_None &&
        !register_symbol(signature, methods.register_function, {name.get(), arity.get(), arg_sorts.get(), sort})) {
        return Ref();
    }
    return term;
}

}  // namespace zelqor::prover
