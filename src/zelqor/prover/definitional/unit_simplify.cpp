#include "zelqor/prover/definitional/unit_simplify.hpp"

#include "common/guard.hpp"
#include "zelqor/prover/clausifier/values.hpp"
#include "zelqor/prover/definitional/state.hpp"

#include <cstdint>
#include <utility>

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

clausifier::LiteralObject *as_literal(PyObject *o) { return reinterpret_cast<clausifier::LiteralObject *>(o); }

int equal(PyObject *a, PyObject *b) { return a == b ? 1 : PyObject_RichCompareBool(a, b, Py_EQ); }

// One-way matching: the variables of a unit's atom may stand for terms, the
// clause's literal is taken as it is.
class Matcher {
public:
    // 1 when `pattern` becomes `target` under the bindings (extended), 0
    // when not (bindings as before), -1 with an exception set.
    int atoms(PyObject *pattern, PyObject *target) {
        int kind = kind_of(pattern);
        if (kind != kind_of(target)) return 0;
        if (is_kind(kind, Kind::Equality)) {
            size_t mark = bound_.size();
            int r = pair(ast::field(pattern, slot::eq_left), ast::field(pattern, slot::eq_right),
                         ast::field(target, slot::eq_left), ast::field(target, slot::eq_right));
            if (r != 0) return r;
            bound_.resize(mark);
            return pair(ast::field(pattern, slot::eq_left), ast::field(pattern, slot::eq_right),
                        ast::field(target, slot::eq_right), ast::field(target, slot::eq_left));
        }
        if (!is_kind(kind, Kind::PredicateApp)) return equal(pattern, target);
        int same = equal(ast::field(pattern, slot::pred_pred), ast::field(target, slot::pred_pred));
        if (same <= 0) return same;
        return arguments(ast::field(pattern, slot::pred_args), ast::field(target, slot::pred_args));
    }

    void clear() { bound_.clear(); }

private:
    int pair(PyObject *a, PyObject *b, PyObject *c, PyObject *d) {
        int r = term(a, c);
        return r <= 0 ? r : term(b, d);
    }

    int arguments(PyObject *pattern, PyObject *target) {
        if (!PyTuple_Check(pattern) || !PyTuple_Check(target)) return equal(pattern, target);
        Py_ssize_t n = PyTuple_GET_SIZE(pattern);
        if (n != PyTuple_GET_SIZE(target)) return 0;
        size_t mark = bound_.size();
        for (Py_ssize_t i = 0; i < n; ++i) {
            int r = term(PyTuple_GET_ITEM(pattern, i), PyTuple_GET_ITEM(target, i));
            if (r <= 0) {
                bound_.resize(mark);
                return r;
            }
        }
        return 1;
    }

    int term(PyObject *pattern, PyObject *target) {
        RecursionGuard guard(" while simplifying clauses");
        if (!guard.ok()) return -1;
        int kind = kind_of(pattern);
        if (is_kind(kind, Kind::Variable)) {
            for (const auto &[var, value] : bound_) {
                int same = equal(var, pattern);
                if (same < 0) return -1;
                if (same) return equal(value, target);
            }
            // A variable stands only for terms of its own sort.
            if (kind_of(target) < 0) return 0;
            int sorted = equal(ast::field(pattern, slot::sort), ast::field(target, slot::sort));
            if (sorted <= 0) return sorted;
            bound_.emplace_back(pattern, target);
            return 1;
        }
        if (is_kind(kind, Kind::FunctionApp) && is_kind(kind_of(target), Kind::FunctionApp)) {
            int same = equal(ast::field(pattern, slot::fn_func), ast::field(target, slot::fn_func));
            if (same <= 0) return same;
            return arguments(ast::field(pattern, slot::fn_args), ast::field(target, slot::fn_args));
        }
        return equal(pattern, target);
    }

    // Borrowed: units and clauses hold their terms for the whole pass.
    std::vector<std::pair<PyObject *, PyObject *>> bound_;
};

PyObject *atom_of(const Ref &literal) { return as_literal(literal.get())->atom; }
bool sign_of(const Ref &literal) { return as_literal(literal.get())->positive == Py_True; }

// The units of a round, by the symbol of their atom (equalities under one
// key), so that a literal is matched only against units that could fit.
class UnitIndex {
public:
    bool build(const std::vector<ClauseLiterals> &clauses, const std::vector<bool> &alive) {
        keys_ = Ref::steal(PyDict_New());
        if (!keys_) return false;
        lists_.clear();
        for (size_t c = 0; c < clauses.size(); ++c) {
            if (!alive[c] || clauses[c].size() != 1) continue;
            PyObject *key = key_of(atom_of(clauses[c][0]));
            PyObject *slot = PyDict_GetItemWithError(keys_.get(), key);
            if (slot == nullptr) {
                if (PyErr_Occurred()) return false;
                Ref number = Ref::steal(PyLong_FromSize_t(lists_.size()));
                if (!number || PyDict_SetItem(keys_.get(), key, number.get()) < 0) return false;
                lists_.emplace_back();
                lists_.back().push_back(c);
            } else {
                lists_[PyLong_AsSize_t(slot)].push_back(c);
            }
        }
        return true;
    }

    // The units that could match an atom (null for none), or null with an
    // exception set.
    const std::vector<size_t> *for_atom(PyObject *atom) const {
        PyObject *slot = PyDict_GetItemWithError(keys_.get(), key_of(atom));
        return slot == nullptr ? nullptr : &lists_[PyLong_AsSize_t(slot)];
    }
    bool empty() const { return lists_.empty(); }

private:
    static PyObject *key_of(PyObject *atom) {
        return is_kind(kind_of(atom), Kind::PredicateApp) ? ast::field(atom, slot::pred_pred) : node_type(Kind::Equality);
    }

    Ref keys_;  // symbol -> position in lists_
    std::vector<std::vector<size_t>> lists_;
};

class UnitPass {
public:
    UnitPass(std::vector<ClauseLiterals> &clauses, std::vector<Ref> &made)
        : clauses_(clauses), made_(made), alive_(clauses.size(), true) {}

    bool run() {
        for (const ClauseLiterals &clause : clauses_) found_empty_ |= clause.empty();
        for (bool changed = true; changed && !found_empty_;) {
            if (!index_.build(clauses_, alive_)) return false;
            if (index_.empty()) break;
            changed = false;
            for (size_t c = 0; c < clauses_.size() && !found_empty_; ++c) {
                int r = alive_[c] ? simplify(c) : 0;
                if (r < 0) return false;
                changed |= r > 0;
            }
        }
        finish();
        return true;
    }

private:
    // Applies the units to clause c: 1 when it changed, 0 when not, -1 on error.
    int simplify(size_t c) {
        ClauseLiterals &clause = clauses_[c];
        bool changed = false;
        for (size_t i = 0; i < clause.size();) {
            const std::vector<size_t> *units = index_.for_atom(atom_of(clause[i]));
            if (units == nullptr && PyErr_Occurred()) return -1;
            int outcome = 0;  // 1 the clause follows from a unit, 2 the literal is false
            for (size_t k = 0; units != nullptr && k < units->size() && outcome == 0; ++k) {
                size_t u = (*units)[k];
                if (u == c || !alive_[u]) continue;
                const Ref &unit = clauses_[u][0];
                matcher_.clear();
                int m = matcher_.atoms(atom_of(unit), atom_of(clause[i]));
                if (m < 0) return -1;
                if (m > 0) outcome = sign_of(unit) == sign_of(clause[i]) ? 1 : 2;
            }
            if (outcome == 0) {
                ++i;
                continue;
            }
            changed = true;
            if (outcome == 1) {
                alive_[c] = false;
                return 1;
            }
            made_[c].reset();
            clause.erase(clause.begin() + static_cast<std::ptrdiff_t>(i));
            if (clause.empty()) {
                found_empty_ = true;
                return 1;
            }
        }
        return changed ? 1 : 0;
    }

    void finish() {
        std::vector<ClauseLiterals> kept;
        std::vector<Ref> kept_made;
        if (found_empty_) {
            kept.emplace_back();
            kept_made.emplace_back();
        } else {
            for (size_t c = 0; c < clauses_.size(); ++c) {
                if (!alive_[c]) continue;
                kept.push_back(std::move(clauses_[c]));
                kept_made.push_back(std::move(made_[c]));
            }
        }
        clauses_ = std::move(kept);
        made_ = std::move(kept_made);
    }

    std::vector<ClauseLiterals> &clauses_;
    std::vector<Ref> &made_;
    std::vector<bool> alive_;
    bool found_empty_ = false;
    UnitIndex index_;
    Matcher matcher_;
};

}  // namespace

bool simplify_by_units(std::vector<ClauseLiterals> &clauses, std::vector<Ref> &made) {
    return UnitPass(clauses, made).run();
}

}  // namespace zelqor::definitional
