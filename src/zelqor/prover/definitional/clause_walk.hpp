// One walk from a formula's table of subformulas to its clauses.
//
// The walk follows each occurrence with its polarity, so it meets
// quantifiers and atoms in the order the normal-form tree of the
// distributing pipeline presents them (each operand of an equivalence
// twice): fresh variable ids and Skolem numbers come out in that order and
// clauses are formed as the distributive law orders them.
//
// A named subformula stops the walk with a definition's atom. Definitions
// are made as Skolemization leaves the subformula there: its free variables
// stand for what the walk made of them (fresh universal variables, Skolem
// terms), and the fresh predicate takes the variables of those images as
// arguments, so that a Skolem constant outside stays a constant inside.
// Occurrences whose images are equal up to their variables share one
// definition, which is written after the formula's clauses, in the order
// first met, in each direction an occurrence needs: d -> φ where φ must hold,
// φ -> d where it must fail.
#pragma once

#include "zelqor/prover/clause_pool.hpp"
#include "zelqor/prover/definitional/alpha.hpp"
#include "zelqor/prover/walk_scope.hpp"
#include "zelqor/prover/definitional/fresh_ids.hpp"
#include "zelqor/prover/definitional/free_variables.hpp"
#include "zelqor/prover/definitional/names.hpp"

#include <utility>
#include <vector>

namespace zelqor::definitional {

using prover::Cnf;

class ClauseWalk {
public:
    // `exact`: equivalences expand as the distributing pipeline expands them,
    // so that without names the clauses are exactly that pipeline's.
    ClauseWalk(const Subformulas &subformulas, FreshIds &ids, PyObject *signature, bool exact)
        : items_(subformulas.items), ids_(ids), signature_(signature), exact_(exact), names_(subformulas, signature),
          free_variables_(subformulas), alpha_equal_(subformulas) {}

    // The clauses of the whole formula, then those of every definition met.
    // False with an exception set.
    bool run(int32_t root, Cnf &out);
    // The non-tautological clauses of `cnf` as a list of Clause values.
    PyObject *clauses(const Cnf &cnf);

private:
    struct Definition {
        int32_t subformula;
        Ref name;        // of the fresh predicate
        // An atom over the images of the subformula's free variables, their
        // variables renamed to `parameters`, its arguments in order.
        Ref pattern;
        Ref parameters;  // tuple of the predicate's argument variables
        uint8_t queued = kNoPolarity;  // directions given to the queue
    };

    bool walk(int32_t index, bool positive, Cnf &out, bool expand_name = false);
    bool both(const Subformula &item, bool left_positive, bool right_positive, bool disjunction, Cnf &out);
    bool equivalence(const Subformula &item, bool positive, Cnf &out);
    int same_operands(const Subformula &item);
    bool quantifier(const Subformula &item, bool positive, bool universal, Cnf &out);
    Ref skolem_term(PyObject *sort);
    bool atom(PyObject *atom, bool positive, Cnf &out);
    bool literal(PyObject *atom, bool positive, Cnf &out);
    // The definition for an occurrence of named subformula `index` with
    // `positive` polarity, and in `atom` its atom there; -1 on error.
    int definition_for(int32_t index, bool positive, Ref &atom);
    bool definition_clauses(int definition, bool positive, Cnf &out);

    const std::vector<Subformula> &items_;
    FreshIds &ids_;
    PyObject *signature_;
    bool exact_;
    DefinitionNames names_;
    OrderedFreeVariables free_variables_;
    AlphaEquality alpha_equal_;
    std::vector<Definition> definitions_;
    Ref definitions_by_pattern_;  // (subformula, pattern) -> position in definitions_
    std::vector<std::pair<int, bool>> queue_;  // definitions and directions to write
    prover::Scope scope_;
    std::vector<Ref> universals_;      // fresh universal variables in scope, outermost first

    prover::LiteralPool literals_;  // what the clauses refer to
};

}  // namespace zelqor::definitional
