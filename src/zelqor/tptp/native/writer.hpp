// Formulas, terms and clauses as text: TPTP, or a readable infix form with
// logical symbols. Variables print under the names a caller prefers (their
// source names) where that captures nothing, else as X0, X1, ... in order of
// first appearance; a binder may reuse the name of an outer one its body never
// mentions, as sources do. A clause's literals print in a fixed order, so the
// same clause always gives the same text.
#pragma once

#include "zelqor/tptp/native/errors.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace zelqor::tptp {

enum class Style : unsigned char { Tptp, Infix };

class Writer {
public:
    // `preferred`: a dict from variable id to name, or null.
    Writer(Style style, PyObject *preferred, bool typed_binders)
        : style_(style), preferred_(preferred), typed_binders_(typed_binders) {}
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // Ready for the next text, keeping what was allocated; `typed_binders` as at construction.
    void reset(bool typed_binders);

    // Each appends to `out`; on failure the exception is set and Unwind thrown.
    void formula(PyObject *formula);
    void term(PyObject *term);
    // The literals of a clause tree (an Or of literals, as cnf formulas are
    // read), flattened.
    void clause_tree(PyObject *formula);
    // A Clause value: its literals in a fixed order.
    void clause(PyObject *clause);
    // Names the free variables of `formula` in order of first appearance;
    // call before writing it.
    void name_free_variables(PyObject *formula);
    // ! [X: s, ...] : for the free variables (a typed clause).
    void free_variable_prefix();

    // Whether a sort other than $i was met (fof and cnf cannot say it).
    bool met_sorts() const { return met_sorts_; }
    bool has_free_variables() const { return !free_.empty(); }

    std::string out;

private:
    enum class Context : unsigned char { Top, Operand, Unit };
    enum class Naming : unsigned char { Named, Skeleton, ById };
    struct Named {
        PyObject *variable;  // borrowed from the tree being written
        std::string name;
    };

    void formula_in(PyObject *f, Context context);
    void binary_chain(PyObject *f, int kind, Context context);
    void quantifiers(PyObject *f, int kind, Context context);
    void atom(PyObject *atom);
    void literal(PyObject *atom, bool positive);
    void arguments(PyObject *args);
    void symbol(PyObject *name, bool constant);
    void sort_name(PyObject *sort);
    void variable(PyObject *variable);
    void note_sort(PyObject *sort);

    void collect_free(PyObject *node, std::vector<PyObject *> &bound);
    const std::string *name_in_scope(PyObject *variable);
    std::string choose_name(PyObject *variable, bool binder);
    std::string binder_name(PyObject *variable, PyObject *body, size_t run_start);
    bool mentions(PyObject *root, const std::vector<PyObject *> &variables);
    bool name_taken(const std::string &name, PyObject *variable, bool binder) const;
    bool preferred_name(PyObject *variable, std::string &name);
    bool same_variable(PyObject *a, PyObject *b) const;
    [[noreturn]] void fail_node(const char *what, PyObject *node) const;

    Style style_;
    PyObject *preferred_;
    bool typed_binders_;
    bool met_sorts_ = false;
    Naming naming_ = Naming::Named;
    int counter_ = 0;
    std::vector<Named> scope_;  // binders around the current position, innermost last
    std::vector<Named> free_;   // free variables, in order of first appearance
    std::vector<PyObject *> shadowed_;  // outer binders a binder's name would hide
    std::vector<PyObject *> pending_;   // nodes left to look at in `mentions`
    // Nodes `mentions` may still visit before the next reset: beyond them a
    // binder is renamed rather than looked through, so nested shadowing stays
    // linear in the text written.
    static constexpr size_t kShadowBudget = size_t{1} << 20;
    size_t shadow_budget_ = kShadowBudget;
};

// A sort as a TPTP type: $i for Ind, the quoted name of a named sort.
void append_sort_name(std::string &out, PyObject *sort);

// <name> of an annotated formula: a lower_word or an integer bare, else
// quoted. False when the name holds characters no quoting can carry.
bool append_formula_name(std::string &out, std::string_view name);

}  // namespace zelqor::tptp
