// One walk from a formula's table of subformulas to its clauses.
//
// The walk follows each occurrence with its polarity, so it meets
// quantifiers and atoms in the order the normal-form tree of the
// distributing pipeline presents them (each operand of an equivalence
// twice): fresh variable ids and Skolem numbers come out in that order and
// clauses are formed as the distributive law orders them. A named
// subformula stops the walk with its definition's atom over the images of
// its free variables; definitions are walked afterwards, in the order their
// names were first met, each in the directions its polarities need.
#pragma once

#include "zelqor/prover/clause_pool.hpp"
#include "zelqor/prover/definitional/alpha.hpp"
#include "zelqor/prover/walk_scope.hpp"
#include "zelqor/prover/definitional/fresh_ids.hpp"
#include "zelqor/prover/definitional/free_variables.hpp"
#include "zelqor/prover/definitional/names.hpp"

#include <vector>

namespace zelqor::definitional {

using prover::Cnf;

class ClauseWalk {
public:
    // `exact`: equivalences expand as the distributing pipeline expands them,
    // so that without names the clauses are exactly that pipeline's.
    ClauseWalk(const Subformulas &subformulas, FreshIds &ids, PyObject *signature, bool exact)
        : items_(subformulas.items), ids_(ids), signature_(signature), exact_(exact), names_(subformulas, signature),
          free_variables_(subformulas), alpha_equal_(subformulas), definition_of_(subformulas.items.size(), -1) {}

    // The clauses of the whole formula, then those of every definition met.
    // False with an exception set.
    bool run(int32_t root, Cnf &out);
    // The non-tautological clauses of `cnf` as a list of Clause values.
    PyObject *clauses(const Cnf &cnf);

private:
    struct Definition {
        int32_t subformula;
        Ref atom;       // the fresh predicate over the subformula's free variables
        Ref variables;  // those variables (a list), in argument order
    };

    bool walk(int32_t index, bool positive, Cnf &out, bool expand_name = false);
    bool both(const Subformula &item, bool left_positive, bool right_positive, bool disjunction, Cnf &out);
    bool equivalence(const Subformula &item, bool positive, Cnf &out);
    int same_operands(const Subformula &item);
    bool quantifier(const Subformula &item, bool positive, bool universal, Cnf &out);
    Ref skolem_term(PyObject *sort);
    bool atom(PyObject *atom, bool positive, Cnf &out);
    bool literal(PyObject *atom, bool positive, Cnf &out);
    int definition_for(int32_t index);
    bool definition_clauses(int definition, bool positive, Cnf &out);

    const std::vector<Subformula> &items_;
    FreshIds &ids_;
    PyObject *signature_;
    bool exact_;
    DefinitionNames names_;
    OrderedFreeVariables free_variables_;
    AlphaEquality alpha_equal_;
    std::vector<int> definition_of_;  // per subformula, -1 while unnamed
    std::vector<Definition> definitions_;
    prover::Scope scope_;
    std::vector<Ref> universals_;      // fresh universal variables in scope, outermost first

    prover::LiteralPool literals_;  // what the clauses refer to
};

}  // namespace zelqor::definitional
