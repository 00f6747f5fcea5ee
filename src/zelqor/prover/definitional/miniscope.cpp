#include "zelqor/prover/definitional/miniscope.hpp"

#include "common/args.hpp"
#include "common/guard.hpp"

#include <unordered_map>
#include <vector>

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

PyObject *make(Kind kind, PyObject *a, PyObject *b = nullptr) {
    PyObject *fields[2] = {a, b};
    return g.api->make(kind, fields);
}

bool is_atom(int kind) { return is_kind(kind, Kind::PredicateApp) || is_kind(kind, Kind::Equality); }

class Miniscoper {
public:
    // Each distinct node once: a tree that shares subtrees costs its number
    // of distinct nodes.
    Ref scope(PyObject *f) {
        auto known = scoped_.find(f);
        if (known != scoped_.end()) return Ref::borrow(known->second.get());
        RecursionGuard guard(" while moving quantifiers inward");
        if (!guard.ok()) return Ref();
        int kind = kind_of(f);
        Ref result;
        switch (ast::kind_at(kind)) {
        case Kind::PredicateApp:
        case Kind::Equality: result = Ref::borrow(f); break;
        case Kind::Not: {
            Ref operand = scope(ast::field(f, slot::operand));
            if (!operand) return Ref();
            result = operand.get() == ast::field(f, slot::operand) ? Ref::borrow(f)
                                                                  : Ref::steal(make(Kind::Not, operand.get()));
            break;
        }
        case Kind::And:
        case Kind::Or:
        case Kind::Implies:
        case Kind::Iff: {
            Ref left = scope(ast::field(f, slot::left));
            Ref right = left ? scope(ast::field(f, slot::right)) : Ref();
            if (!right) return Ref();
            bool same = left.get() == ast::field(f, slot::left) && right.get() == ast::field(f, slot::right);
            result = same ? Ref::borrow(f) : Ref::steal(make(ast::kind_at(kind), left.get(), right.get()));
            break;
        }
        case Kind::Forall:
        case Kind::Exists: {
            PyObject *var = ast::field(f, slot::variable);
            if (!is_kind(kind_of(var), Kind::Variable)) return Ref::borrow(f);  // reported later
            Ref body = scope(ast::field(f, slot::body));
            if (!body) return Ref();
            result = push(is_kind(kind, Kind::Forall), var, body.get());
            if (result && is_stuck(result.get(), is_kind(kind, Kind::Forall), var) &&
                body.get() == ast::field(f, slot::body)) {
                result = Ref::borrow(f);
            }
            break;
        }
        default: raise_with_type(PyExc_ValueError, "Unsupported formula node: ", f); return Ref();
        }
        if (!result) return Ref();
        keep_.push_back(Ref::borrow(f));
        scoped_.emplace(f, Ref::borrow(result.get()));
        return result;
    }

private:
    // Whether `f` is the quantifier `var` could not pass.
    static bool is_stuck(PyObject *f, bool universal, PyObject *var) {
        int kind = kind_of(f);
        return is_kind(kind, universal ? Kind::Forall : Kind::Exists) && ast::field(f, slot::variable) == var;
    }

    Ref quantify(bool universal, PyObject *var, PyObject *body) {
        return Ref::steal(make(universal ? Kind::Forall : Kind::Exists, var, body));
    }

    // Q var. f with the quantifier moved as far inward as it goes.
    Ref push(bool universal, PyObject *var, PyObject *f) {
        RecursionGuard guard(" while moving quantifiers inward");
        if (!guard.ok()) return Ref();
        int in_f = occurs_free(var, f);
        if (in_f <= 0) return in_f == 0 ? Ref::borrow(f) : Ref();
        int kind = kind_of(f);
        switch (ast::kind_at(kind)) {
        case Kind::Not: {
            Ref operand = push(!universal, var, ast::field(f, slot::operand));
            return operand ? Ref::steal(make(Kind::Not, operand.get())) : Ref();
        }
        case Kind::And:
        case Kind::Or:
        case Kind::Implies: {
            PyObject *left = ast::field(f, slot::left), *right = ast::field(f, slot::right);
            // Over a conjunction a universal splits, over a disjunction an
            // existential; an implication's left operand counts negated.
            bool splits = is_kind(kind, Kind::And) ? universal : !universal;
            bool left_universal = is_kind(kind, Kind::Implies) ? !universal : universal;
            int in_left = occurs_free(var, left);
            int in_right = in_left < 0 ? -1 : occurs_free(var, right);
            if (in_right < 0) return Ref();
            if (!splits && in_left && in_right) return quantify(universal, var, f);
            Ref new_left = in_left ? push(left_universal, var, left) : Ref::borrow(left);
            Ref new_right = new_left && in_right ? push(universal, var, right) : Ref::borrow(right);
            if (!new_left || !new_right) return Ref();
            return Ref::steal(make(ast::kind_at(kind), new_left.get(), new_right.get()));
        }
        case Kind::Forall:
        case Kind::Exists: {
            // A block of quantifiers of one kind commutes: move `var` below
            // the inner one, which may then move further in itself.
            if (is_kind(kind, Kind::Forall) != universal) break;
            PyObject *inner_var = ast::field(f, slot::variable);
            Ref inner = push(universal, var, ast::field(f, slot::body));
            if (!inner) return Ref();
            if (is_stuck(inner.get(), universal, var)) break;
            return push(universal, inner_var, inner.get());
        }
        default: break;
        }
        return quantify(universal, var, f);
    }

    // 1 when `var` occurs free in `f`, 0 when not, -1 with an exception set.
    int occurs_free(PyObject *var, PyObject *f) {
        PyObject *free = free_set(f);
        return free == nullptr ? -1 : PySet_Contains(free, var);
    }

    // The free variables of `f`, kept with `f` for the rest of the call.
    PyObject *free_set(PyObject *f) {
        auto known = free_.find(f);
        if (known != free_.end()) return known->second.get();
        RecursionGuard guard(" while moving quantifiers inward");
        if (!guard.ok()) return nullptr;
        int kind = kind_of(f);
        Ref set;
        if (is_atom(kind)) {
            set = Ref::borrow(ast::field(f, is_kind(kind, Kind::PredicateApp) ? slot::pred_free : slot::eq_free));
        } else if (is_kind(kind, Kind::Not)) {
            PyObject *operand = free_set(ast::field(f, slot::operand));
            if (operand == nullptr) return nullptr;
            set = Ref::borrow(operand);
        } else if (is_kind(kind, Kind::Forall) || is_kind(kind, Kind::Exists)) {
            PyObject *body = free_set(ast::field(f, slot::body));
            if (body == nullptr) return nullptr;
            set = Ref::steal(PySet_New(body));
            if (!set || PySet_Discard(set.get(), ast::field(f, slot::variable)) < 0) return nullptr;
        } else {
            PyObject *left = free_set(ast::field(f, slot::left));
            PyObject *right = left ? free_set(ast::field(f, slot::right)) : nullptr;
            if (right == nullptr) return nullptr;
            set = Ref::steal(PyNumber_Or(left, right));
            if (!set) return nullptr;
        }
        keep_.push_back(Ref::borrow(f));
        PyObject *result = set.get();
        free_.emplace(f, std::move(set));
        return result;
    }

    // Keys are nodes kept alive in `keep_`, so an address is never reused
    // for another node during the call.
    std::unordered_map<PyObject *, Ref> scoped_, free_;
    std::vector<Ref> keep_;
};

}  // namespace

PyObject *miniscope(PyObject *formula) {
    Miniscoper miniscoper;
    return miniscoper.scope(formula).release();
}

}  // namespace zelqor::definitional
