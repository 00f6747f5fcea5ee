#include "zelqor/core/ast/kinds.hpp"

namespace zelqor::ast {

// Order follows Kind.
const KindInfo kKinds[kKindCount] = {
    {"Variable", "Variable(id, kind=..., *, sort=...)\n--\n\n"
     "Represents an individual variable v_id with an integer index, sort, and kind.",
     3, 3, false, -1, true, {"sort", "id", "kind"},
     {"The sort of the variable (Ind by default).", "The variable's number: v0, v1, ...",
      "What the variable ranges over (a VariableKind; INDIVIDUAL by default)."},
     3, 2, {"id", "kind", "sort"}, {1, 2, 0}, "Variable.__init__"},
    {"Constant", "Constant(name, *, sort=...)\n--\n\n"
     "Represents a constant symbol c_name with a sort annotation.",
     2, 2, false, -1, true, {"sort", "name"},
     {"The sort of the constant (Ind by default).", "The constant's name."},
     2, 1, {"name", "sort"}, {1, 0}, "Constant.__init__"},
    {"FunctionApp", "FunctionApp(func, arity, args, return_sort=..., *, sort=...)\n--\n\n"
     "Represents function application f(t_1, ..., t_k).",
     6, 5, true, 5, true, {"sort", "func", "arity", "args", "return_sort", "_free_vars"},
     {"The sort of the application: always its return sort.",
      "The function symbol: a name or a FunctionVariable.", "The number of arguments.",
      "The argument terms, a tuple of length arity.", "The sort the function returns (Ind by default).",
      "The free variables of the arguments (cached)."},
     5, 4, {"func", "arity", "args", "return_sort", "sort"}, {1, 2, 3, 4, 0}, "FunctionApp.__init__"},
    {"PredicateApp", "PredicateApp(pred, arity, args)\n--\n\n"
     "Represents predicate application P(t_1, ..., t_k).",
     4, 3, true, 3, false, {"pred", "arity", "args", "_free_vars"},
     {"The predicate symbol: a name or a PredicateVariable.", "The number of arguments.",
      "The argument terms, a tuple of length arity.", "The free variables of the arguments (cached)."},
     3, 3, {"pred", "arity", "args"}, {0, 1, 2}, "PredicateApp.__init__"},
    {"Equality", "Equality(left, right)\n--\n\nRepresents term equality t_1 = t_2.",
     3, 2, true, 2, false, {"left", "right", "_free_vars"},
     {"The term on the left of =.", "The term on the right of =.", "The free variables of both sides (cached)."},
     2, 2, {"left", "right"}, {0, 1}, "Equality.__init__"},
    {"Not", "Not(operand)\n--\n\nRepresents logical negation ~operand.",
     1, 1, true, -1, false, {"operand"},
     {"The negated formula."},
     1, 1, {"operand"}, {0}, "Not.__init__"},
    {"And", "And(left, right)\n--\n\nRepresents logical conjunction left & right.",
     2, 2, true, -1, false, {"left", "right"},
     {"The left conjunct.", "The right conjunct."},
     2, 2, {"left", "right"}, {0, 1}, "And.__init__"},
    {"Or", "Or(left, right)\n--\n\nRepresents logical disjunction left | right.",
     2, 2, true, -1, false, {"left", "right"},
     {"The left disjunct.", "The right disjunct."},
     2, 2, {"left", "right"}, {0, 1}, "Or.__init__"},
    {"Implies", "Implies(left, right)\n--\n\nRepresents logical implication left => right.",
     2, 2, true, -1, false, {"left", "right"},
     {"The premise.", "The conclusion."},
     2, 2, {"left", "right"}, {0, 1}, "Implies.__init__"},
    {"Iff", "Iff(left, right)\n--\n\nRepresents logical equivalence left <=> right.",
     2, 2, true, -1, false, {"left", "right"},
     {"The left side.", "The right side."},
     2, 2, {"left", "right"}, {0, 1}, "Iff.__init__"},
    {"Forall", "Forall(variable, body)\n--\n\n"
     "Represents universal quantification forall variable. body.",
     2, 2, true, -1, false, {"variable", "body"},
     {"The bound variable.", "The formula in its scope."},
     2, 2, {"variable", "body"}, {0, 1}, "Forall.__init__"},
    {"Exists", "Exists(variable, body)\n--\n\n"
     "Represents existential quantification exists variable. body.",
     2, 2, true, -1, false, {"variable", "body"},
     {"The bound variable.", "The formula in its scope."},
     2, 2, {"variable", "body"}, {0, 1}, "Exists.__init__"},
};

}  // namespace zelqor::ast
