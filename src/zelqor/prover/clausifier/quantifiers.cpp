// Standardization of bound variables, Skolemization, dropping of universals
// and the module's counters.
#include "common/dict_lookup.hpp"
#include "common/guard.hpp"
#include "zelqor/prover/clausifier/rebuild.hpp"
#include "zelqor/prover/clausifier/steps.hpp"

#include <climits>
#include <vector>

namespace zelqor::clausifier {

namespace {

namespace slot = ast::slot;

bool is_variable(PyObject *o) { return PyObject_TypeCheck(o, g.api->type(Kind::Variable)); }

// Field of a quantified variable: read directly from our variables, by
// attribute from anything else standing in that place.
Ref variable_field(PyObject *var, int slot, PyObject *name) {
    return ast::Field(var, Py_IS_TYPE(var, g.api->type(Kind::Variable)), slot, name).ref();
}

// ---- standardize_variables ----------------------------------------------------

// The largest id among the variables of `set` into `highest` (null: none yet),
// compared as max() compares.
bool raise_to_max_id(PyObject *set, Ref &highest) {
    Ref it = Ref::steal(PyObject_GetIter(set));
    if (!it) return false;
    while (PyObject *var = PyIter_Next(it.get())) {
        Ref owned = Ref::steal(var);
        Ref id = variable_field(var, slot::var_id, g.str_id);
        if (!id) return false;
        if (!highest) {
            highest = std::move(id);
            continue;
        }
        int greater = PyObject_RichCompareBool(id.get(), highest.get(), Py_GT);
        if (greater < 0) return false;
        if (greater) highest = std::move(id);
    }
    return !PyErr_Occurred();
}

// Fresh ids counting up from max_id + 1: in a machine integer while that fits.
class IdCounter {
public:
    bool start(PyObject *first) {
        int overflow = 0;
        if (PyLong_CheckExact(first)) {
            long long v = PyLong_AsLongLongAndOverflow(first, &overflow);
            if (v == -1 && PyErr_Occurred()) return false;
            if (overflow == 0) {
                native_ = v;
                return true;
            }
        }
        next_ = Ref::borrow(first);
        return true;
    }
    PyObject *next() {
        if (!next_) {
            if (native_ < LLONG_MAX) return PyLong_FromLongLong(native_++);
            next_ = Ref::steal(PyLong_FromLongLong(native_));
            if (!next_) return nullptr;
        }
        Ref one = Ref::steal(PyLong_FromLong(1));
        if (!one) return nullptr;
        PyObject *value = next_.release();
        next_ = Ref::steal(PyNumber_Add(value, one.get()));
        if (!next_) {
            Py_DECREF(value);
            return nullptr;
        }
        return value;
    }

private:
    long long native_ = 0;
    Ref next_;
};

class Standardizer {
public:
    Standardizer(const Ctx &c, PyObject *env) : c_(c), env_(env) {}
    IdCounter counter;

    PyObject *walk(PyObject *f) {
        RecursionGuard guard(" while standardizing variables");
        if (!guard.ok()) return nullptr;
        Kind k;
        if (!c_.classify(f, k, {Kind::PredicateApp, Kind::Equality, Kind::Not, Kind::And, Kind::Or, Kind::Implies,
                                Kind::Iff, Kind::Forall, Kind::Exists})) {
            return nullptr;
        }
        auto operand = [this](PyObject *x) { return walk(x); };
        switch (k) {
        case Kind::PredicateApp:
        case Kind::Equality: return atom(f);
        case Kind::Not: return rebuild_not(c_, f, operand);
        case Kind::And:
        case Kind::Or:
        case Kind::Implies:
        case Kind::Iff: return rebuild_binary(c_, f, k, operand);
        case Kind::Forall:
        case Kind::Exists: return quantifier(f, k);
        default: return raise_value_error("Unsupported formula: ", f);
        }
    }

private:
    PyObject *atom(PyObject *f) {
        if (PyDict_GET_SIZE(env_) == 0) return new_ref(f);
        // The package's own substitution, minus its sort check: a renaming to
        // fresh variables of the same sorts always passes it.
        if (c_.own_subst && not_variables_ == 0 && c_.pure) return g.subst_api->substitute_formula_presorted(f, env_);
        return c_.substitute(f, env_);
    }

    PyObject *quantifier(PyObject *f, Kind k) {
        Ref var = c_.get(f, slot::variable, g.str_variable);
        if (!var) return nullptr;
        Ref id = Ref::steal(counter.next());
        if (!id) return nullptr;
        Ref sort = variable_field(var.get(), slot::sort, g.str_sort);
        if (!sort) return nullptr;
        Ref kind = variable_field(var.get(), slot::var_kind, g.str_kind);
        if (!kind) return nullptr;
        Ref new_var = Ref::steal(c_.make_variable(id.get(), sort.get(), kind.get()));
        if (!new_var) return nullptr;
        Ref new_body;
        if (c_.own_subst) {
            // The package's substitute_formula keeps no reference to the
            // mapping: one dictionary serves every scope, entries restored
            // on the way out.
            Ref body = c_.get(f, slot::body, g.str_body);
            if (!body) return nullptr;
            Ref previous = dict_lookup(env_, var.get());
            if (!previous && PyErr_Occurred()) return nullptr;
            if (PyDict_SetItem(env_, var.get(), new_var.get()) < 0) return nullptr;
            bool counted = !is_variable(var.get());
            not_variables_ += counted;
            new_body = Ref::steal(walk(body.get()));
            not_variables_ -= counted;
            // A failed walk fails the whole call, which drops the dictionary:
            // nothing to restore, and no hash to run with an error pending.
            if (!new_body) return nullptr;
            int restored = previous ? PyDict_SetItem(env_, var.get(), previous.get())
                                    : PyDict_DelItem(env_, var.get());
            if (restored < 0) return nullptr;
        } else {
            Ref scope = Ref::steal(PyDict_Copy(env_));
            if (!scope || PyDict_SetItem(scope.get(), var.get(), new_var.get()) < 0) return nullptr;
            Ref body = c_.get(f, slot::body, g.str_body);
            if (!body) return nullptr;
            PyObject *outer = env_;
            env_ = scope.get();
            new_body = Ref::steal(walk(body.get()));
            env_ = outer;
        }
        if (!new_body) return nullptr;
        return c_.make(k, {new_var.get(), new_body.get()});
    }

    const Ctx &c_;
    PyObject *env_;               // borrowed dict: old variable -> fresh variable
    Py_ssize_t not_variables_ = 0;  // keys in scope that are not variables
};

// ---- skolemize ---------------------------------------------------------------------

class Skolemizer {
public:
    Skolemizer(const Ctx &c, PyObject *signature) : c_(c), signature_(signature) {}

    PyObject *walk(PyObject *f) {
        RecursionGuard guard(" while skolemizing");
        if (!guard.ok()) return nullptr;
        Kind k;
        if (!c_.classify(f, k, {Kind::PredicateApp, Kind::Equality, Kind::Not, Kind::And, Kind::Or, Kind::Forall,
                                Kind::Exists})) {
            return nullptr;
        }
        auto operand = [this](PyObject *x) { return walk(x); };
        switch (k) {
        case Kind::PredicateApp:
        case Kind::Equality: return new_ref(f);
        case Kind::Not: return rebuild_not(c_, f, operand);
        case Kind::And:
        case Kind::Or: return rebuild_binary(c_, f, k, operand);
        case Kind::Forall:
            // The body is walked with the variable among the enclosing universals.
            return rebuild_quantifier(c_, f, k, [this](PyObject *var, PyObject *body) {
                outer_.push_back(Ref::borrow(var));
                PyObject *new_body = walk(body);
                outer_.pop_back();
                return new_body;
            });
        case Kind::Exists: return existential(f);
        default: return raise_value_error("Unsupported formula in skolemization: ", f);
        }
    }

private:
    PyObject *existential(PyObject *f) {
        Ref var = c_.get(f, slot::variable, g.str_variable);
        if (!var) return nullptr;
        Ref term = outer_.empty() ? skolem_constant(var.get()) : skolem_function(var.get());
        if (!term) return nullptr;
        Ref body = c_.get(f, slot::body, g.str_body);
        if (!body) return nullptr;
        Ref mapping = Ref::steal(PyDict_New());
        if (!mapping || PyDict_SetItem(mapping.get(), var.get(), term.get()) < 0) return nullptr;
        Ref substituted = Ref::steal(c_.substitute(body.get(), mapping.get()));
        return substituted ? walk(substituted.get()) : nullptr;
    }

    Ref skolem_constant(PyObject *var) {
        Ref n = Ref::steal(draw(kConstantCounter));
        Ref name = n ? Ref::steal(PyUnicode_FromFormat("sk_c%S", n.get())) : Ref();
        Ref sort = name ? variable_field(var, slot::sort, g.str_sort) : Ref();
        Ref term = sort ? Ref::steal(c_.make_constant(name.get(), sort.get())) : Ref();
        if (!term) return Ref();
        if (signature_ != Py_None && !register_symbol(signature_, g.str_register_constant, {name.get(), sort.get()})) {
            return Ref();
        }
        return term;
    }

    Ref skolem_function(PyObject *var) {
        Ref n = Ref::steal(draw(kFunctionCounter));
        Ref name = n ? Ref::steal(PyUnicode_FromFormat("sk_f%S", n.get())) : Ref();
        if (!name) return Ref();
        Py_ssize_t count = static_cast<Py_ssize_t>(outer_.size());
        Ref arg_sorts = Ref::steal(PyTuple_New(count));
        Ref args = Ref::steal(PyTuple_New(count));
        if (!arg_sorts || !args) return Ref();
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject *u = outer_[static_cast<size_t>(i)].get();
            Ref sort = variable_field(u, slot::sort, g.str_sort);
            if (!sort) return Ref();
            PyTuple_SET_ITEM(arg_sorts.get(), i, sort.release());
            PyTuple_SET_ITEM(args.get(), i, new_ref(u));
        }
        Ref arity = Ref::steal(PyLong_FromSsize_t(count));
        Ref sort = arity ? variable_field(var, slot::sort, g.str_sort) : Ref();
        Ref term = sort ? Ref::steal(c_.make_function(name.get(), arity.get(), args.get(), sort.get())) : Ref();
        if (!term) return Ref();
        if (signature_ != Py_None &&
            !register_symbol(signature_, g.str_register_function,
                             {name.get(), arity.get(), arg_sorts.get(), sort.get()})) {
            return Ref();
        }
        return term;
    }

    const Ctx &c_;
    PyObject *signature_;
    std::vector<Ref> outer_;  // enclosing universal variables, outermost first
};

}  // namespace

PyObject *standardize_variables(const Ctx &c, PyObject *formula) {
    Ref free = Ref::steal(c.pure ? g.api->free_variables(formula)
                                 : (c.free_variables ? PyObject_CallOneArg(c.free_variables.get(), formula)
                                                     : g.globals.raise_unbound(kFreeVariables)));
    if (!free) return nullptr;
    Ref bound = Ref::steal(c.pure ? g.api->bound_variables(formula)
                                  : (c.bound_variables ? PyObject_CallOneArg(c.bound_variables.get(), formula)
                                                       : g.globals.raise_unbound(kBoundVariables)));
    if (!bound) return nullptr;
    Ref all = Ref::steal(PyNumber_Or(free.get(), bound.get()));
    if (!all) return nullptr;
    Ref highest;
    if (!raise_to_max_id(all.get(), highest)) return nullptr;
    if (!highest) highest = Ref::steal(PyLong_FromLong(0));
    Ref one = Ref::steal(PyLong_FromLong(1));
    Ref first = highest && one ? Ref::steal(PyNumber_Add(highest.get(), one.get())) : Ref();
    Ref env = Ref::steal(PyDict_New());
    if (!first || !env) return nullptr;
    Standardizer s(c, env.get());
    if (!s.counter.start(first.get())) return nullptr;
    return s.walk(formula);
}

PyObject *skolemize(const Ctx &c, PyObject *formula, PyObject *signature) {
    return Skolemizer(c, signature != nullptr ? signature : Py_None).walk(formula);
}

PyObject *drop_universals(const Ctx &c, PyObject *f) {
    RecursionGuard guard(" while dropping universal quantifiers");
    if (!guard.ok()) return nullptr;
    Kind k;
    if (!c.classify(f, k, {Kind::Forall, Kind::Exists, Kind::PredicateApp, Kind::Equality, Kind::Not, Kind::And,
                           Kind::Or})) {
        return nullptr;
    }
    auto drop = [&c](PyObject *operand) { return bound_step<kDropUniversals>(c, operand); };
    switch (k) {
    case Kind::Forall: {
        Ref body = c.get(f, slot::body, g.str_body);
        return body ? drop(body.get()) : nullptr;
    }
    case Kind::Exists: return rebuild_quantifier(c, f, k, drop);
    case Kind::PredicateApp:
    case Kind::Equality: return new_ref(f);
    case Kind::Not: return rebuild_not(c, f, drop);
    case Kind::And:
    case Kind::Or: return rebuild_binary(c, f, k, drop);
    default: return raise_value_error("Unsupported formula: ", f);
    }
}

PyObject *reset_skolem_counters() {
    constexpr Global counters[3] = {kConstantCounter, kFunctionCounter, kStandardizeCounter};
    constexpr long starts[3] = {0, 0, 1000};
    for (int i = 0; i < 3; ++i) {
        Ref itertools = g.globals.get(kItertools);
        if (!itertools) return nullptr;
        Ref count = Ref::steal(PyObject_GetAttr(itertools.get(), g.str_count));
        Ref start = count ? Ref::steal(PyLong_FromLong(starts[i])) : Ref();
        Ref counter = start ? Ref::steal(PyObject_CallOneArg(count.get(), start.get())) : Ref();
        if (!counter || !g.globals.set(counters[i], counter.get())) return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace zelqor::clausifier
