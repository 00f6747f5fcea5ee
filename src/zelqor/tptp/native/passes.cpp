#include "zelqor/tptp/native/passes.hpp"

#include "common/guard.hpp"
#include "zelqor/tptp/native/state.hpp"

#include <unordered_map>

namespace zelqor::tptp {

namespace ns = ast::slot;

// ---- truth constants -------------------------------------------------------------------

namespace {

enum class Truth : unsigned char { False, True, Neither };

Truth truth_of(PyObject *node) {
    bool value = false;
    if (!is_truth_atom(node, value)) return Truth::Neither;
    return value ? Truth::True : Truth::False;
}

PyObject *truth_atom(bool value) { return new_ref(value ? g.verum : g.falsum); }

PyObject *negated(PyObject *f) {
    Truth t = truth_of(f);
    if (t != Truth::Neither) return truth_atom(t == Truth::False);
    return g.api->make(Kind::Not, &f);
}

PyObject *simplify(PyObject *f) {
    RecursionGuard guard(" while simplifying truth constants");
    if (!guard.ok()) return nullptr;
    int kind = kind_of(f);
    switch (static_cast<Kind>(kind)) {
    case Kind::Not: {
        PyObject *operand = ast::field(f, ns::operand);
        Ref inner = Ref::steal(simplify(operand));
        if (!inner) return nullptr;
        Truth t = truth_of(inner.get());
        if (t != Truth::Neither) return truth_atom(t == Truth::False);
        if (inner.get() == operand) return new_ref(f);
        PyObject *fields[] = {inner.get()};
        return g.api->make(Kind::Not, fields);
    }
    case Kind::And:
    case Kind::Or:
    case Kind::Implies:
    case Kind::Iff: {
        PyObject *left = ast::field(f, ns::left), *right = ast::field(f, ns::right);
        Ref a = Ref::steal(simplify(left));
        if (!a) return nullptr;
        Ref b = Ref::steal(simplify(right));
        if (!b) return nullptr;
        Truth ta = truth_of(a.get()), tb = truth_of(b.get());
        Kind k = static_cast<Kind>(kind);
        if (ta != Truth::Neither || tb != Truth::Neither) {
            bool left_known = ta != Truth::Neither;
            bool value = left_known ? ta == Truth::True : tb == Truth::True;
            PyObject *other = left_known ? b.get() : a.get();
            switch (k) {
            case Kind::And:
                return value ? new_ref(other) : truth_atom(false);
            case Kind::Or:
                return value ? truth_atom(true) : new_ref(other);
            case Kind::Iff:
                return value ? new_ref(other) : negated(other);
            default:  // Implies
                if (left_known) return value ? new_ref(b.get()) : truth_atom(true);
                return value ? truth_atom(true) : negated(a.get());
            }
        }
        if (a.get() == left && b.get() == right) return new_ref(f);
        PyObject *fields[] = {a.get(), b.get()};
        return g.api->make(k, fields);
    }
    case Kind::Forall:
    case Kind::Exists: {
        // The domain is never empty: a quantifier over $true or $false is that constant.
        PyObject *body = ast::field(f, ns::body);
        Ref inner = Ref::steal(simplify(body));
        if (!inner) return nullptr;
        if (truth_of(inner.get()) != Truth::Neither) return inner.release();
        if (inner.get() == body) return new_ref(f);
        PyObject *fields[] = {ast::field(f, ns::variable), inner.get()};
        return g.api->make(static_cast<Kind>(kind), fields);
    }
    default:
        // Atoms, and anything the clausifier will judge for itself.
        return new_ref(f);
    }
}

}  // namespace

PyObject *simplify_truth_constants(PyObject *formula) { return simplify(formula); }

// ---- clause counting ----------------------------------------------------------------------

namespace {

uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
uint64_t saturating_mul(uint64_t a, uint64_t b) {
    if (a == 0 || b == 0) return 0;
    return a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

class ClauseCounter {
public:
    bool count(PyObject *f, bool positive, uint64_t &result) {
        int kind = kind_of(f);
        if (kind == static_cast<int>(Kind::PredicateApp) || kind == static_cast<int>(Kind::Equality)) {
            result = 1;  // an atom: nothing to remember
            return true;
        }
        auto &memo = positive ? positive_ : negative_;
        auto found = memo.find(f);
        if (found != memo.end()) {
            result = found->second;
            return true;
        }
        RecursionGuard guard(" while counting clauses");
        if (!guard.ok()) return false;
        uint64_t a = 0, b = 0, c = 0, d = 0;
        switch (static_cast<Kind>(kind)) {
        case Kind::Not:
            if (!count(ast::field(f, ns::operand), !positive, result)) return false;
            break;
        case Kind::And:
        case Kind::Or: {
            if (!count(ast::field(f, ns::left), positive, a) || !count(ast::field(f, ns::right), positive, b)) {
                return false;
            }
            bool conjunction = (kind == static_cast<int>(Kind::And)) == positive;
            result = conjunction ? saturating_add(a, b) : saturating_mul(a, b);
            break;
        }
        case Kind::Implies:
            // A => B is ~A | B.
            if (!count(ast::field(f, ns::left), !positive, a) || !count(ast::field(f, ns::right), positive, b)) {
                return false;
            }
            result = positive ? saturating_mul(a, b) : saturating_add(a, b);
            break;
        case Kind::Iff:
            // A <=> B is (~A | B) & (~B | A); its negation (A & ~B) | (B & ~A).
            if (!count(ast::field(f, ns::left), false, a) || !count(ast::field(f, ns::left), true, b) ||
                !count(ast::field(f, ns::right), false, c) || !count(ast::field(f, ns::right), true, d)) {
                return false;
            }
            result = positive ? saturating_add(saturating_mul(a, d), saturating_mul(c, b))
                              : saturating_mul(saturating_add(b, c), saturating_add(d, a));
            break;
        case Kind::Forall:
        case Kind::Exists:
            if (!count(ast::field(f, ns::body), positive, result)) return false;
            break;
        default:
            result = 1;
            break;
        }
        memo.emplace(f, result);
        return true;
    }

private:
    std::unordered_map<PyObject *, uint64_t> positive_, negative_;
};

}  // namespace

bool count_distributed_clauses(PyObject *formula, bool positive, uint64_t &count) {
    ClauseCounter counter;
    return counter.count(formula, positive, count);
}

}  // namespace zelqor::tptp
