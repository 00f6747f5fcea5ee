// The one boundary where C++ exceptions meet the interpreter. Every entry
// point the interpreter calls (module functions, methods, slots, vectorcall)
// goes through it, so no exception ever unwinds through interpreter frames:
// std::bad_alloc becomes MemoryError, anything else a SystemError that names
// it, and the entry point returns its error value.
//
//     PyMethodDef methods[] = {{"parse", ZQ_FASTCALL(boundary<parse>), METH_FASTCALL, doc}, ...};
//     PyType_Slot slots[] = {{Py_tp_repr, ZQ_SLOT(node_repr)}, ...};
//     result = shield([&] { return build_everything(); });
#pragma once

#include "common/pyref.hpp"

#include <exception>
#include <new>
#include <type_traits>

namespace zelqor {

namespace detail {

// Sets the Python exception for the C++ exception being handled.
inline void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const std::exception &error) {
        PyErr_Format(PyExc_SystemError, "internal error in zelqor: %s", error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal error in zelqor: unknown C++ exception");
    }
}

// What an entry point returns on failure: null for objects, -1 for
// integers (hash, length, status codes).
template <typename Result>
Result error_value() noexcept {
    if constexpr (std::is_pointer_v<Result>) {
        return nullptr;
    } else {
        return static_cast<Result>(-1);
    }
}

}  // namespace detail

// Runs `body`; if it throws, the exception becomes a Python exception and the
// result is the error value of its type. A body returning nothing (a
// deallocator) reports the exception as unraisable, as the interpreter does
// for errors it cannot pass on.
template <typename Body>
auto shield(Body &&body) noexcept -> decltype(body()) {
    using Result = decltype(body());
    try {
        return body();
    } catch (...) {
        detail::raise_current_exception();
    }
    if constexpr (std::is_void_v<Result>) {
        PyErr_WriteUnraisable(nullptr);
    } else {
        return detail::error_value<Result>();
    }
}

// `boundary<function>`: a noexcept function with the same signature that runs
// `function` inside `shield`, for tables of entry points.
template <auto Function>
struct Boundary;

template <typename Result, typename... Params, Result (*Function)(Params...)>
struct Boundary<Function> {
    static Result call(Params... params) noexcept {
        return shield([&]() -> Result { return Function(params...); });
    }
};

template <auto Function>
inline constexpr auto boundary = &Boundary<Function>::call;

}  // namespace zelqor

// A slot function behind the boundary, as PyType_Slot holds it. A template
// instance goes in parentheses: ZQ_SLOT((node_dealloc<2>)).
#define ZQ_SLOT(f) reinterpret_cast<void *>(::zelqor::boundary<f>)
