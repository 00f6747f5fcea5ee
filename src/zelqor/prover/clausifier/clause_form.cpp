// The clause form of a formula straight from the formula: the clauses
// to_cnf's steps would give, in one walk, for the common case where every
// step is our own.
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
#include "zelqor/prover/clausifier/clause_form.hpp"

#include "common/guard.hpp"
#include "common/small_vector.hpp"
#include "zelqor/prover/clause_pool.hpp"
#include "zelqor/prover/walk_scope.hpp"
#include "zelqor/prover/clausifier/clause.hpp"
#include "zelqor/prover/clausifier/literal.hpp"

#include <climits>
#include <cstdint>
#include <new>
#include <vector>

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

bool is_exact(PyObject *o, Kind k) { return Py_TYPE(o) == g.api->type(k); }

// The kind of a formula of exactly one of our classes; kNoKind for anything else.
Kind exact_kind(PyObject *o) {
    PyTypeObject *t = Py_TYPE(o);
    for (int k = ast::kind_index(Kind::PredicateApp); k <= ast::kind_index(Kind::Exists); ++k) {
        if (t == g.api->types[k]) return ast::kind_at(k);
    }
    return kNoKind;
}

// ---- first pass: shape check and the largest id -------------------------------------

// Whether the one walk can clausify a formula.
enum class Fit {
    kFits,
    kForeign,  // a node or id the walk does not take: the step-by-step path
    kError,    // with the exception set (RecursionError)
};

class Survey {
public:
    long long max_id = 0;
    bool any_id = false;

    Fit visit(PyObject *f) {
        RecursionGuard guard(" while clausifying");
        if (!guard.ok()) return Fit::kError;
        switch (exact_kind(f)) {
        case Kind::PredicateApp: return ids_of(ast::field(f, slot::pred_free));
        case Kind::Equality: return ids_of(ast::field(f, slot::eq_free));
        case Kind::Not: return visit(ast::field(f, slot::operand));
        case Kind::And:
        case Kind::Or:
        case Kind::Implies:
        case Kind::Iff: {
            Fit left = visit(ast::field(f, slot::left));
            return left == Fit::kFits ? visit(ast::field(f, slot::right)) : left;
        }
        case Kind::Forall:
        case Kind::Exists: {
            PyObject *var = ast::field(f, slot::variable);
            if (!is_exact(var, Kind::Variable) || !take_id(var)) return Fit::kForeign;
            return visit(ast::field(f, slot::body));
        }
        default: return Fit::kForeign;
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

    Fit ids_of(PyObject *free) {
        if (!PyFrozenSet_CheckExact(free)) return Fit::kForeign;
        if (PySet_GET_SIZE(free) == 0) return Fit::kFits;
        Ref it = Ref::steal(PyObject_GetIter(free));
        if (!it) return Fit::kError;
        while (PyObject *var = PyIter_Next(it.get())) {
            // Only our own variables: a subclass may read its id otherwise.
            bool ok = Py_IS_TYPE(var, g.api->type(Kind::Variable)) && take_id(var);
            Py_DECREF(var);
            if (!ok) return Fit::kForeign;
        }
        return PyErr_Occurred() ? Fit::kError : Fit::kFits;
    }
};

// ---- second pass: clauses ----------------------------------------------------------

using prover::Cnf;

class Clausifier {
public:
    // The call's view of the module globals is not needed by the walk itself
    // any more (its quantifier step is the shared one); kept in the signature
    // so every step is built the same way.
    Clausifier(const Ctx &, PyObject *signature, long long first_id) : signature_(signature), next_id_(first_id) {}

    // Set for a first attempt without the survey: the walk then stops, with
    // no exception and nothing drawn, at the first quantifier or foreign node.
    bool tentative = false;
    bool stopped = false;

    bool init() { return true; }

    // False with an exception set on error.
    bool walk(PyObject *f, bool positive, Cnf &out) {
        Kind kind = exact_kind(f);
        if (kind == Kind::PredicateApp || kind == Kind::Equality) {
            return atom(f, positive, out);
        }
        RecursionGuard guard(" while clausifying");
        if (!guard.ok()) return false;
        switch (kind) {
        case Kind::Not: return walk(ast::field(f, slot::operand), !positive, out);
        case Kind::And:
            return positive ? both(f, true, true, false, out) : both(f, false, false, true, out);
        case Kind::Or:
            return positive ? both(f, true, true, true, out) : both(f, false, false, false, out);
        case Kind::Implies:
            // ¬a ∨ b, or a ∧ ¬b under a negation.
            return positive ? both(f, false, true, true, out) : both(f, true, false, false, out);
        case Kind::Iff: return equivalence(f, positive, out);
        case Kind::Forall:
        case Kind::Exists:
            if (tentative) {
                stopped = true;
                return false;
            }
            return quantifier(f, positive, (kind == Kind::Forall) == positive, out);
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
        return scope_.quantified(
            g.api, var, id.get(), universal, universals_, [this](PyObject *sort) { return skolem_term(sort); },
            [&] { return walk(ast::field(f, slot::body), positive, out); });
    }

    Ref skolem_term(PyObject *sort) {
        return prover::skolem_term(g.api, sort, universals_, signature_,
                                   {g.str_register_constant, g.str_register_function},
                                   [](prover::SkolemSymbol symbol) {
                                       return draw(symbol == prover::SkolemSymbol::kConstant ? kConstantCounter
                                                                                             : kFunctionCounter);
                                   });
    }

    bool atom(PyObject *f, bool positive, Cnf &out) {
        Ref image = Ref::steal(scope_.apply(g.subst_api, f));
        if (!image) return false;
        PyObject *sign = positive ? Py_True : Py_False;
        Kind atom_kind = exact_kind(image.get());
        Ref literal = Ref::steal(atom_kind == Kind::PredicateApp || atom_kind == Kind::Equality
                                     ? new_own_literal(image.get(), sign)
                                     : new_literal(g.literal_type, image.get(), sign));
        if (!literal) return false;
        literals_.add_unit(literal.release(), out);
        return true;
    }

    PyObject *signature_;
    long long next_id_;
    prover::Scope scope_;          // old variable -> fresh variable or Skolem term
    std::vector<Ref> universals_;  // fresh universal variables in scope, outermost first
    prover::LiteralPool literals_;
};

}  // namespace

PyObject *clause_form(const Ctx &c, PyObject *formula, PyObject *signature, bool &taken) {
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
    Fit fit = survey.visit(formula);
    if (fit == Fit::kForeign) return nullptr;
    taken = true;  // a formula too deep to survey is too deep for every step
    if (fit == Fit::kError) return nullptr;
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
