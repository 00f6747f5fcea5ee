#include "zelqor/prover/definitional/unit_simplify.hpp"

#include "common/guard.hpp"
#include "zelqor/prover/clausifier/layout.hpp"
#include "zelqor/prover/definitional/state.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace zelqor::definitional {

namespace slot = ast::slot;

namespace {

using clausifier::as_literal;

// Node equality, told at once for the common cases: our constants by name
// and sort, our compound nodes apart by their cached hashes.
int equal(PyObject *a, PyObject *b) {
    if (a == b) return 1;
    PyTypeObject *type = Py_TYPE(a);
    if (type == Py_TYPE(b)) {
        if (type == g.api->type(Kind::Constant)) {
            PyObject *x = ast::field(a, slot::const_name), *y = ast::field(b, slot::const_name);
            if (PyUnicode_CheckExact(x) && PyUnicode_CheckExact(y) && x != y && PyUnicode_Compare(x, y) != 0) {
                return PyErr_Occurred() ? -1 : 0;
            }
        } else if (type == g.api->type(Kind::FunctionApp) ||
                   type == g.api->type(Kind::PredicateApp) ||
                   type == g.api->type(Kind::Equality)) {
            if (ast::as_node(a)->hash != ast::as_node(b)->hash) return 0;
        }
    }
    return PyObject_RichCompareBool(a, b, Py_EQ);
}

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
        int r = term(a, c, 0);
        return r <= 0 ? r : term(b, d, 0);
    }

    int arguments(PyObject *pattern, PyObject *target, int depth = 0) {
        if (!PyTuple_Check(pattern) || !PyTuple_Check(target)) return equal(pattern, target);
        Py_ssize_t n = PyTuple_GET_SIZE(pattern);
        if (n != PyTuple_GET_SIZE(target)) return 0;
        size_t mark = bound_.size();
        for (Py_ssize_t i = 0; i < n; ++i) {
            int r = term(PyTuple_GET_ITEM(pattern, i), PyTuple_GET_ITEM(target, i), depth);
            if (r <= 0) {
                bound_.resize(mark);
                return r;
            }
        }
        return 1;
    }

    // Terms are small and their frames too: the guard looks every fourth level.
    int term(PyObject *pattern, PyObject *target, int depth) {
        RecursionGuard guard(" while simplifying clauses", depth % 4 == 0);
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
            return arguments(ast::field(pattern, slot::fn_args), ast::field(target, slot::fn_args), depth + 1);
        }
        return equal(pattern, target);
    }

    // Borrowed: units and clauses hold their terms for the whole pass.
    std::vector<std::pair<PyObject *, PyObject *>> bound_;
};

PyObject *atom_of(const Ref &literal) { return as_literal(literal.get())->atom; }
bool sign_of(const Ref &literal) { return as_literal(literal.get())->positive == Py_True; }

// The units new in a round, so that a literal is matched only against units
// that could fit. A unit is filed under its symbol and the outline of one
// argument (the first of a predicate, a side of an equality that is not a
// variable): that argument's head symbol and its first argument's, None
// where there is a variable or nothing.
class UnitIndex {
public:
    bool build(const std::vector<ClauseLiterals> &clauses, const std::vector<bool> &fresh) {
        keys_ = Ref::steal(PyDict_New());
        ground_ = Ref::steal(PyDict_New());
        if (!keys_ || !ground_) return false;
        lists_.clear();
        for (size_t c = 0; c < clauses.size(); ++c) {
            if (!fresh[c]) continue;
            PyObject *atom = atom_of(clauses[c][0]);
            int ground = is_ground(atom);
            if (ground < 0) return false;
            if (ground) {
                // Only an equal atom is an instance: filed by the atom itself,
                // an equality both ways round.
                if (!add(ground_.get(), atom, c)) return false;
                if (is_kind(kind_of(atom), Kind::Equality)) {
                    PyObject *sides[2] = {ast::field(atom, slot::eq_right), ast::field(atom, slot::eq_left)};
                    Ref swapped = Ref::steal(g.api->make(Kind::Equality, sides));
                    if (!swapped || !add(ground_.get(), swapped.get(), c)) return false;
                }
                continue;
            }
            PyObject *probes[2] = {nullptr, nullptr};
            PyObject *filed = nullptr;
            for (int i = 0, n = probes_of(atom, probes); i < n && filed == nullptr; ++i) {
                if (head_of(probes[i]) != Py_None) filed = probes[i];
            }
            Ref key = key_of(atom, head_of(filed), head_of(first_argument_of(filed)));
            if (!key || !add(keys_.get(), key.get(), c)) return false;
        }
        return true;
    }

    // Calls `visit(unit)` for each unit that could match `atom`, until it
    // returns something other than 0; returns that, or 0.
    template <typename Visit>
    int each_for(PyObject *atom, Visit &&visit) const {
        int r = visit_list(ground_.get(), atom, visit);
        if (r != 0 || PyDict_GET_SIZE(keys_.get()) == 0) return r;
        PyObject *probes[2] = {nullptr, nullptr};
        int n = probes_of(atom, probes);
        r = visit_key(atom, Py_None, Py_None, visit);
        for (int i = 0; i < n && r == 0; ++i) {
            PyObject *head = head_of(probes[i]);
            if (head == Py_None || (i == 1 && head == head_of(probes[0]) &&
                                    head_of(first_argument_of(probes[1])) == head_of(first_argument_of(probes[0])))) {
                continue;
            }
            PyObject *below = head_of(first_argument_of(probes[i]));
            r = visit_key(atom, head, Py_None, visit);
            if (r == 0 && below != Py_None) r = visit_key(atom, head, below, visit);
        }
        return r;
    }

    bool empty() const { return lists_.empty(); }

private:
    template <typename Visit>
    int visit_key(PyObject *atom, PyObject *head, PyObject *below, Visit &visit) const {
        Ref key = key_of(atom, head, below);
        return key ? visit_list(keys_.get(), key.get(), visit) : -1;
    }

    template <typename Visit>
    int visit_list(PyObject *table, PyObject *key, Visit &visit) const {
        PyObject *slot = PyDict_GetItemWithError(table, key);
        if (slot == nullptr) return PyErr_Occurred() ? -1 : 0;
        for (size_t unit : lists_[PyLong_AsSize_t(slot)]) {
            int r = visit(unit);
            if (r != 0) return r;
        }
        return 0;
    }

    // The arguments an atom is filed by: both sides of an equality, the
    // first argument of a predicate.
    static int probes_of(PyObject *atom, PyObject **out) {
        if (is_kind(kind_of(atom), Kind::Equality)) {
            out[0] = ast::field(atom, slot::eq_left);
            out[1] = ast::field(atom, slot::eq_right);
            return 2;
        }
        out[0] = first_argument_of(atom);
        return out[0] != nullptr ? 1 : 0;
    }

    // The symbol at the head of a term; None for a variable, anything else
    // or nothing.
    static PyObject *head_of(PyObject *term) {
        if (term == nullptr) return Py_None;
        switch (ast::kind_at(kind_of(term))) {
        case Kind::Constant: return ast::field(term, slot::const_name);
        case Kind::FunctionApp: return ast::field(term, slot::fn_func);
        default: return Py_None;
        }
    }

    // The first argument of a predicate atom or a function term, or null.
    static PyObject *first_argument_of(PyObject *node) {
        if (node == nullptr) return nullptr;
        int kind = kind_of(node);
        PyObject *args = is_kind(kind, Kind::PredicateApp) ? ast::field(node, slot::pred_args)
                         : is_kind(kind, Kind::FunctionApp) ? ast::field(node, slot::fn_args)
                                                            : nullptr;
        return args != nullptr && PyTuple_Check(args) && PyTuple_GET_SIZE(args) > 0 ? PyTuple_GET_ITEM(args, 0)
                                                                                       : nullptr;
    }

    static Ref key_of(PyObject *atom, PyObject *head, PyObject *below) {
        PyObject *symbol = is_kind(kind_of(atom), Kind::PredicateApp) ? ast::field(atom, slot::pred_pred)
                                                                      : node_type(Kind::Equality);
        return Ref::steal(PyTuple_Pack(3, symbol, head, below));
    }

    // 1 when an atom has no variables, 0 when it has, -1 on error.
    static int is_ground(PyObject *atom) {
        int kind = kind_of(atom);
        if (!is_kind(kind, Kind::PredicateApp) && !is_kind(kind, Kind::Equality)) return 0;
        PyObject *free = ast::field(atom, is_kind(kind, Kind::PredicateApp) ? slot::pred_free : slot::eq_free);
        return PyAnySet_Check(free) && PySet_GET_SIZE(free) == 0;
    }

    bool add(PyObject *table, PyObject *key, size_t unit) {
        PyObject *slot = PyDict_GetItemWithError(table, key);
        if (slot != nullptr) {
            lists_[PyLong_AsSize_t(slot)].push_back(unit);
            return true;
        }
        if (PyErr_Occurred()) return false;
        Ref number = Ref::steal(PyLong_FromSize_t(lists_.size()));
        if (!number || PyDict_SetItem(table, key, number.get()) < 0) return false;
        lists_.emplace_back(1, unit);
        return true;
    }

    Ref keys_;    // (symbol, head, head below) -> position in lists_
    Ref ground_;  // atom of a unit without variables -> position in lists_
    std::vector<std::vector<size_t>> lists_;
};

class UnitPass {
public:
    UnitPass(std::vector<ClauseLiterals> &clauses, std::vector<Ref> &made)
        : clauses_(clauses), made_(made), alive_(clauses.size(), true), fresh_(clauses.size()) {}

    // Each unit meets each literal once: in the round after it became a unit
    // (the first round for the units given), by which time every older unit
    // has met that literal already.
    bool run() {
        for (size_t c = 0; c < clauses_.size(); ++c) {
            found_empty_ |= clauses_[c].empty();
            fresh_[c] = clauses_[c].size() == 1;
        }
        while (!found_empty_) {
            if (!index_.build(clauses_, fresh_)) return false;
            if (index_.empty()) break;
            std::fill(fresh_.begin(), fresh_.end(), false);
            for (size_t c = 0; c < clauses_.size() && !found_empty_; ++c) {
                if (alive_[c] && simplify(c) < 0) return false;
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
            // 1 the clause follows from a unit, 2 the literal is false.
            int outcome = index_.each_for(atom_of(clause[i]), [&](size_t u) {
                if (u == c || !alive_[u]) return 0;
                const Ref &unit = clauses_[u][0];
                matcher_.clear();
                int m = matcher_.atoms(atom_of(unit), atom_of(clause[i]));
                if (m <= 0) return m;
                return sign_of(unit) == sign_of(clause[i]) ? 1 : 2;
            });
            if (outcome < 0) return -1;
            if (outcome == 0) {
                ++i;
                continue;
            }
            changed = true;
            if (outcome == 1) {
                alive_[c] = fresh_[c] = false;
                return 1;
            }
            made_[c].reset();
            clause.erase(clause.begin() + static_cast<std::ptrdiff_t>(i));
            if (clause.empty()) {
                found_empty_ = true;
                return 1;
            }
            fresh_[c] = clause.size() == 1;
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
    std::vector<bool> fresh_;  // became a unit in the current round
    bool found_empty_ = false;
    UnitIndex index_;
    Matcher matcher_;
};

}  // namespace

bool simplify_by_units(std::vector<ClauseLiterals> &clauses, std::vector<Ref> &made) {
    return UnitPass(clauses, made).run();
}

}  // namespace zelqor::definitional
