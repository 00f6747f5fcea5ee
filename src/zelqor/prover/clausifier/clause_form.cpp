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

#include "common/dict_lookup.hpp"
#include "common/guard.hpp"
#include "common/small_vector.hpp"
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

// Clauses as runs of literal indices in one pool: `ends[i]` is where clause
// i stops, so that forming products allocates two arrays, not one per clause.
struct Cnf {
    SmallVector<uint32_t, 8> pool;
    SmallVector<uint32_t, 4> ends;

    size_t size() const { return ends.size(); }
    size_t begin_of(size_t i) const { return i == 0 ? 0 : ends[i - 1]; }
};

void append(Cnf &into, Cnf &&more) {
    if (into.ends.empty()) {
        into = std::move(more);
        return;
    }
    uint32_t base = static_cast<uint32_t>(into.pool.size());
    into.pool.append(more.pool.data(), more.pool.size());
    into.ends.reserve(into.ends.size() + more.ends.size());
    for (size_t i = 0; i < more.ends.size(); ++i) into.ends.push_back(base + more.ends[i]);
}

// Literal indices and pool offsets fit 32 bits: a clause set beyond that
// would not fit in memory as Python objects anyway.
Cnf product(const Cnf &left, const Cnf &right) {
    Cnf out;
    out.ends.reserve(left.size() * right.size());
    out.pool.reserve(left.pool.size() * right.size() + right.pool.size() * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        for (size_t j = 0; j < right.size(); ++j) {
            out.pool.append(left.pool.data() + left.begin_of(i), left.ends[i] - left.begin_of(i));
            out.pool.append(right.pool.data() + right.begin_of(j), right.ends[j] - right.begin_of(j));
            out.ends.push_back(static_cast<uint32_t>(out.pool.size()));
        }
    }
    return out;
}

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
        if (disjunction) {
            out = product(a, b);
        } else {
            append(a, std::move(b));
            out = std::move(a);
        }
        return true;
    }

    // a ⟺ b: (¬a ∨ b) ∧ (¬b ∨ a); negated: (a ∧ ¬b) ∨ (b ∧ ¬a).
    bool equivalence(PyObject *f, bool positive, Cnf &out) {
        PyObject *a = ast::field(f, slot::left), *b = ast::field(f, slot::right);
        Cnf p1, p2, p3, p4;
        if (!walk(a, !positive, p1) || !walk(b, positive, p2) || !walk(b, !positive, p3) ||
            !walk(a, positive, p4)) {
            return false;
        }
        if (positive) {
            out = product(p1, p2);
            append(out, product(p3, p4));
        } else {
            append(p1, std::move(p2));
            append(p3, std::move(p4));
            out = product(p1, p3);
        }
        return true;
    }

    bool quantifier(PyObject *f, bool positive, bool universal, Cnf &out) {
        PyObject *var = ast::field(f, slot::variable);
        PyObject *sort = ast::field(var, slot::sort);
        Ref id = Ref::steal(PyLong_FromLongLong(next_id_++));
        if (!id) return false;
        Ref image;
        if (universal) {
            auto fields = ast::variable_fields(id.get(), ast::field(var, slot::var_kind), sort);
            image = Ref::steal(g.api->make(Kind::Variable, fields.data()));
        } else {
            image = skolem_term(sort);
        }
        if (!image) return false;
        if (!scope_) {
            scope_ = Ref::steal(PyDict_New());
            if (!scope_) return false;
        }
        Ref previous = dict_lookup(scope_.get(), var);
        if (!previous && PyErr_Occurred()) return false;
        if (PyDict_SetItem(scope_.get(), var, image.get()) < 0) return false;
        if (universal) universals_.push_back(Ref::borrow(image.get()));
        bool ok = walk(ast::field(f, slot::body), positive, out);
        if (universal) universals_.pop_back();
        // A failed walk fails the whole call, which drops the scope: nothing
        // to restore, and no hash to run with an error pending.
        if (!ok) return false;
        int restored = previous ? PyDict_SetItem(scope_.get(), var, previous.get()) : PyDict_DelItem(scope_.get(), var);
        return restored == 0;
    }

    Ref skolem_term(PyObject *sort) {
        if (universals_.empty()) {
            Ref n = Ref::steal(draw(kConstantCounter));
            Ref name = n ? Ref::steal(PyUnicode_FromFormat("sk_c%S", n.get())) : Ref();
            if (!name) return Ref();
            Ref term = Ref::steal(g.api->make(Kind::Constant, ast::constant_fields(name.get(), sort).data()));
            if (!term) return Ref();
            if (signature_ != Py_None &&
                !register_symbol(signature_, g.str_register_constant, {name.get(), sort})) {
                return Ref();
            }
            return term;
        }
        Ref n = Ref::steal(draw(kFunctionCounter));
        Ref name = n ? Ref::steal(PyUnicode_FromFormat("sk_f%S", n.get())) : Ref();
        if (!name) return Ref();
        Py_ssize_t count = static_cast<Py_ssize_t>(universals_.size());
        Ref arg_sorts = Ref::steal(PyTuple_New(count));
        Ref args = Ref::steal(PyTuple_New(count));
        Ref arity = Ref::steal(PyLong_FromSsize_t(count));
        if (!arg_sorts || !args || !arity) return Ref();
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject *u = universals_[static_cast<size_t>(i)].get();
            PyTuple_SET_ITEM(arg_sorts.get(), i, new_ref(ast::field(u, slot::sort)));
            PyTuple_SET_ITEM(args.get(), i, new_ref(u));
        }
        Ref term = Ref::steal(
            g.api->make(Kind::FunctionApp, ast::function_app_fields(name.get(), arity.get(), args.get(), sort).data()));
        if (!term) return Ref();
        if (signature_ != Py_None &&
            !register_symbol(signature_, g.str_register_function, {name.get(), arity.get(), arg_sorts.get(), sort})) {
            return Ref();
        }
        return term;
    }

    bool atom(PyObject *f, bool positive, Cnf &out) {
        Ref image;
        if (!scope_ || PyDict_GET_SIZE(scope_.get()) == 0) {
            image = Ref::borrow(f);
        } else {
            // Fresh variables and Skolem terms keep the sorts of what they replace.
            image = Ref::steal(g.subst_api->substitute_formula_presorted(f, scope_.get()));
            if (!image) return false;
        }
        PyObject *sign = positive ? Py_True : Py_False;
        Kind atom_kind = exact_kind(image.get());
        Ref literal = Ref::steal(atom_kind == Kind::PredicateApp || atom_kind == Kind::Equality
                                     ? new_own_literal(image.get(), sign)
                                     : new_literal(g.literal_type, image.get(), sign));
        if (!literal) return false;
        literals_.push(literal.release());
        out.pool.clear();
        out.ends.clear();
        out.pool.push_back(static_cast<uint32_t>(literals_.size() - 1));
        out.ends.push_back(1);
        return true;
    }

    const Ctx &c_;
    PyObject *signature_;
    long long next_id_;
    Ref scope_;                    // old variable -> fresh variable or Skolem term
    std::vector<Ref> universals_;  // fresh universal variables in scope, outermost first
    // Owned references, released with the walker.
    class Literals {
    public:
        ~Literals() {
            for (size_t i = 0; i < items_.size(); ++i) Py_DECREF(items_[i]);
        }
        void push(PyObject *stolen) { items_.push_back(stolen); }
        PyObject *operator[](size_t i) const { return items_[i]; }
        size_t size() const { return items_.size(); }

    private:
        SmallVector<PyObject *, 32> items_;
    };
    Literals literals_;
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
