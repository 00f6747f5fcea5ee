// The skeleton the clausifier's walks share: a node rebuilt, through the
// call's view of the module, from its operands each passed through `walk`.
// Each operand is read just before it is walked, left before right and the
// variable before the body, as the documented steps read them; `walk` takes
// an operand and returns a new reference, or null with an exception set.
#pragma once

#include "zelqor/prover/clausifier/state.hpp"

#include <type_traits>

namespace zelqor::clausifier {

// Not(walk(operand)).
template <typename Walk>
PyObject *rebuild_not(const Ctx &c, PyObject *f, Walk &&walk) {
    Ref operand = c.get(f, ast::slot::operand, g.str_operand);
    if (!operand) return nullptr;
    Ref a = Ref::steal(walk(operand.get()));
    return a ? c.make(Kind::Not, {a.get()}) : nullptr;
}

// `kind`(walk(left), walk(right)) for a binary connective `f`.
template <typename Walk>
PyObject *rebuild_binary(const Ctx &c, PyObject *f, Kind kind, Walk &&walk) {
    Ref left = c.get(f, ast::slot::left, g.str_left);
    if (!left) return nullptr;
    Ref a = Ref::steal(walk(left.get()));
    if (!a) return nullptr;
    Ref right = c.get(f, ast::slot::right, g.str_right);
    if (!right) return nullptr;
    Ref b = Ref::steal(walk(right.get()));
    if (!b) return nullptr;
    return c.make(kind, {a.get(), b.get()});
}

// `kind`(variable, walk(body)) for a quantifier `f`, over the same variable.
// A walk that keeps track of the variables in scope takes (variable, body).
template <typename Walk>
PyObject *rebuild_quantifier(const Ctx &c, PyObject *f, Kind kind, Walk &&walk) {
    Ref variable = c.get(f, ast::slot::variable, g.str_variable);
    if (!variable) return nullptr;
    Ref body = c.get(f, ast::slot::body, g.str_body);
    if (!body) return nullptr;
    Ref new_body;
    if constexpr (std::is_invocable_v<Walk, PyObject *, PyObject *>) {
        new_body = Ref::steal(walk(variable.get(), body.get()));
    } else {
        new_body = Ref::steal(walk(body.get()));
    }
    if (!new_body) return nullptr;
    return c.make(kind, {variable.get(), new_body.get()});
}

}  // namespace zelqor::clausifier
