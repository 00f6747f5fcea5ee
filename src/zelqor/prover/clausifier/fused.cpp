// to_cnf in one walk, for the common case where every step is our own.
//
// The pipeline's intermediate trees are never seen by the caller of to_cnf:
// only the clauses, the Skolem numbers drawn and the calls to the signature
// are. One walk over the input with the current polarity visits the
// quantifiers and atoms exactly in the order the normal-form tree would
// present them (each operand of an equivalence twice), so fresh ids and
// Skolem numbers come out in the same order, and clauses are formed as the
// distributive law orders them: conjuncts of a conjunction left then right,
// those of a disjunction as the product, left operand outermost.
//
// A first pass checks that the formula holds only our own node classes and
// plain integer ids; anything else takes the step-by-step path, so that
// every error is reported by the step that owns it, before any Skolem number
// is drawn.
#include "zelqor/prover/clausifier/fused.hpp"

#include "common/guard.hpp"
#include "common/small_vector.hpp"
#include "zelqor/prover/clause_pool.hpp"
#include "zelqor/prover/walk_scope.hpp"
#include "zelqor/prover/clausifier/values.hpp"

#include <climits>
#include <cstdint>
#include <new>
#include <vector>

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

bool is_exact(PyObject *o, Kind k) { return Py_TYPE(o) == g.api->types[static_cast<int>(k)]; }

int exact_kind(PyObject *o) {
    PyTypeObject *t = Py_TYPE(o);
    for (int k = static_cast<int>(Kind::PredicateApp); k <= static_cast<int>(Kind::Exists); ++k) {
        if (t == g.api->types[k]) return k;
    }
    return -1;
}

// ---- first pass: shape check and the largest id -------------------------------------

class Survey {
public:
    long long max_id = 0;
    bool any_id = false;

    // 1 fits, 0 does not, -1 error (RecursionError).
    int visit(PyObject *f) {
        RecursionGuard guard(" while clausifying");
        if (!guard.ok()) return -1;
        switch (exact_kind(f)) {
        case static_cast<int>(Kind::PredicateApp): return ids_of(ast::field(f, slot::pred_free));
        case static_cast<int>(Kind::Equality): return ids_of(ast::field(f, slot::eq_free));
        case static_cast<int>(Kind::Not): return visit(ast::field(f, slot::operand));
        case static_cast<int>(Kind::And):
        case static_cast<int>(Kind::Or):
        case static_cast<int>(Kind::Implies):
        case static_cast<int>(Kind::Iff): {
            int r = visit(ast::field(f, slot::left));
            return r == 1 ? visit(ast::field(f, slot::right)) : r;
        }
        case static_cast<int>(Kind::Forall):
        case static_cast<int>(Kind::Exists): {
            PyObject *var = ast::field(f, slot::variable);
            if (!is_exact(var, Kind::Variable) || !take_id(var)) return 0;
            return visit(ast::field(f, slot::body));
        }
        default: return 0;
        }
    }

private:
    bool take_id(PyObject *var) {
        PyObject *id = ast::field(var, slot::var_id);
        if (!PyLong_CheckExact(id)) return false;
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(id, &overflow);
        if (overflow != 0 || v == LLONG_MAX) return false;
        if (!any_id || v > max_id) max_id = v;
        any_id = true;
        return true;
    }

    int ids_of(PyObject *free) {
        if (!PyFrozenSet_CheckExact(free) || PySet_GET_SIZE(free) == 0) return PyFrozenSet_CheckExact(free);
        Ref it = Ref::steal(PyObject_GetIter(free));
        if (!it) return -1;
        while (PyObject *var = PyIter_Next(it.get())) {
            bool ok = PyObject_TypeCheck(var, g.api->types[static_cast<int>(Kind::Variable)]) && take_id(var);
            Py_DECREF(var);
            if (!ok) return 0;
        }
        return PyErr_Occurred() ? -1 : 1;
    }
};

// ---- second pass: clauses ----------------------------------------------------------

using prover::Cnf;

class Clausifier {
public:
    Clausifier(const Ctx &c, PyObject *signature, long long first_id)
        : c_(c), signature_(signature), next_id_(first_id) {}

    // Set for a first attempt without the survey: the walk then stops, with
    // no exception and nothing drawn, at the first quantifier or foreign node.
    bool tentative = false;
    bool stopped = false;

    bool init() { return true; }

    // False with an exception set on error.
    bool walk(PyObject *f, bool positive, Cnf &out) {
        int kind = exact_kind(f);
        if (kind == static_cast<int>(Kind::PredicateApp) || kind == static_cast<int>(Kind::Equality)) {
            return atom(f, positive, out);
        }
        RecursionGuard guard(" while clausifying");
        if (!guard.ok()) return false;
        switch (kind) {
        case static_cast<int>(Kind::Not): return walk(ast::field(f, slot::operand), !positive, out);
        case static_cast<int>(Kind::And):
            return positive ? both(f, true, true, false, out) : both(f, false, false, true, out);
        case static_cast<int>(Kind::Or):
            return positive ? both(f, true, true, true, out) : both(f, false, false, false, out);
        case static_cast<int>(Kind::Implies):
            // ¬a ∨ b, or a ∧ ¬b under a negation.
            return positive ? both(f, false, true, true, out) : both(f, true, false, false, out);
        case static_cast<int>(Kind::Iff): return equivalence(f, positive, out);
        case static_cast<int>(Kind::Forall):
        case static_cast<int>(Kind::Exists):
            if (tentative) {
                stopped = true;
                return false;
            }
            return quantifier(f, positive, (kind == static_cast<int>(Kind::Forall)) == positive, out);
        default:
            if (tentative) {
                stopped = true;
                return false;
            }
            PyErr_SetString(PyExc_SystemError, "clausifier: unchecked node");
            return false;
        }
    }

    PyObject *clauses(const Cnf &cnf) {
        Ref list = Ref::steal(PyList_New(0));
        if (!list) return nullptr;
        SmallVector<PyObject *, 16> members;
        for (size_t i = 0; i < cnf.size(); ++i) {
            members.clear();
            for (size_t k = cnf.begin_of(i); k < cnf.ends[i]; ++k) members.push_back(literals_[cnf.pool[k]]);
            Ref clause = Ref::steal(new_own_clause(members.data(), members.size()));
            if (!clause) return nullptr;
            if (!reinterpret_cast<ClauseObject *>(clause.get())->is_tautology &&
                PyList_Append(list.get(), clause.get()) < 0) {
                return nullptr;
            }
        }
        return list.release();
    }

private:
    // Operands left then right with the given polarities, joined as a
    // disjunction (product) or a conjunction (concatenation).
    bool both(PyObject *f, bool left_positive, bool right_positive, bool disjunction, Cnf &out) {
        Cnf a, b;
        if (!walk(ast::field(f, slot::left), left_positive, a)) return false;
        if (!walk(ast::field(f, slot::right), right_positive, b)) return false;
        out = prover::join(std::move(a), std::move(b), disjunction);
        return true;
    }

    bool equivalence(PyObject *f, bool positive, Cnf &out) {
        PyObject *a = ast::field(f, slot::left), *b = ast::field(f, slot::right);
        Cnf parts[4];
        if (!walk(a, !positive, parts[0]) || !walk(b, positive, parts[1]) || !walk(b, !positive, parts[2]) ||
            !walk(a, positive, parts[3])) {
            return false;
        }
        out = prover::equivalence(positive, parts);
        return true;
    }

    bool quantifier(PyObject *f, bool positive, bool universal, Cnf &out) {
        PyObject *var = ast::field(f, slot::variable);
        Ref id = Ref::steal(PyLong_FromLongLong(next_id_++));
        if (!id) return false;
        Ref image = universal ? Ref::steal(prover::fresh_variable(g.api, var, id.get()))
                              : skolem_term(ast::field(var, slot::sort));
        Ref previous;
        if (!image || !scope_.bind(var, image.get(), previous)) return false;
        if (universal) universals_.push_back(Ref::borrow(image.get()));
        bool ok = walk(ast::field(f, slot::body), positive, out);
        if (universal) universals_.pop_back();
        return scope_.unbind(var, previous) && ok;
    }

    Ref skolem_term(PyObject *sort) {
        static const prover::SkolemNames names{g.str_constant_counter, g.str_function_counter,
                                               g.str_register_constant, g.str_register_function};
        return prover::skolem_term(g.api, sort, universals_, signature_, names, draw);
    }

    bool atom(PyObject *f, bool positive, Cnf &out) {
        Ref image = Ref::steal(scope_.apply(g.subst_api, f));
        if (!image) return false;
        PyObject *sign = positive ? Py_True : Py_False;
        Ref literal = Ref::steal(exact_kind(image.get()) == static_cast<int>(Kind::PredicateApp) ||
                                         exact_kind(image.get()) == static_cast<int>(Kind::Equality)
                                     ? new_own_literal(image.get(), sign)
                                     : new_literal(g.literal_type, image.get(), sign));
        if (!literal) return false;
        literals_.add_unit(literal.release(), out);
        return true;
    }

    const Ctx &c_;
    PyObject *signature_;
    long long next_id_;
    prover::Scope scope_;
    std::vector<Ref> universals_;  // fresh universal variables in scope, outermost first
    prover::LiteralPool literals_;
};

}  // namespace

PyObject *fused_to_cnf(const Ctx &c, PyObject *formula, PyObject *signature, bool &taken) {
    taken = false;
    if (!c.pure || !c.own_subst) return nullptr;
    try {
        // Without quantifiers no id is needed and nothing is drawn: try
        // that first, without surveying the formula.
        Clausifier attempt(c, signature, 1);
        attempt.tentative = true;
        Cnf cnf;
        if (attempt.init() && attempt.walk(formula, true, cnf)) {
            taken = true;
            return attempt.clauses(cnf);
        }
        if (!attempt.stopped) {
            taken = true;
            return nullptr;
        }
    } catch (const std::bad_alloc &) {
        taken = true;
        return PyErr_NoMemory();
    }
    Survey survey;
    int fits = survey.visit(formula);
    if (fits == 0) return nullptr;
    taken = true;  // a formula too deep to survey is too deep for every step
    if (fits < 0) return nullptr;
    try {
        Clausifier clausifier(c, signature, survey.max_id + 1);
        Cnf cnf;
        if (!clausifier.init() || !clausifier.walk(formula, true, cnf)) return nullptr;
        return clausifier.clauses(cnf);
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

}  // namespace zelqor::clausifier
