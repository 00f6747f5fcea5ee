#include "zelqor/core/ast/kinds.hpp"

namespace zelqor::ast {

// Order follows Kind.
const KindInfo kKinds[kKindCount] = {
    {"Variable", "Variable(id, kind=..., *, sort=...)\n--\n\n"
     "Represents an individual variable v_id with an integer index, sort, and kind.",
     3, 3, false, -1, true, {"sort", "id", "kind"},
     3, 2, {"id", "kind", "sort"}, {1, 2, 0}, "Variable.__init__"},
    {"Constant", "Constant(name, *, sort=...)\n--\n\n"
     "Represents a constant symbol c_name with a sort annotation.",
     2, 2, false, -1, true, {"sort", "name"},
     2, 1, {"name", "sort"}, {1, 0}, "Constant.__init__"},
    {"FunctionApp", "FunctionApp(func, arity, args, return_sort=..., *, sort=...)\n--\n\n"
     "Represents function application f(t_1, ..., t_k).",
     6, 5, true, 5, true, {"sort", "func", "arity", "args", "return_sort", "_free_vars"},
     5, 4, {"func", "arity", "args", "return_sort", "sort"}, {1, 2, 3, 4, 0}, "FunctionApp.__init__"},
    {"PredicateApp", "PredicateApp(pred, arity, args)\n--\n\n"
     "Represents predicate application P(t_1, ..., t_k).",
     4, 3, true, 3, false, {"pred", "arity", "args", "_free_vars"},
     3, 3, {"pred", "arity", "args"}, {0, 1, 2}, "PredicateApp.__init__"},
    {"Equality", "Equality(left, right)\n--\n\nRepresents term equality t_1 = t_2.",
     3, 2, true, 2, false, {"left", "right", "_free_vars"},
     2, 2, {"left", "right"}, {0, 1}, "Equality.__init__"},
    {"Not", "Not(operand)\n--\n\nRepresents logical negation ~operand.",
     1, 1, true, -1, false, {"operand"},
     1, 1, {"operand"}, {0}, "Not.__init__"},
    {"And", "And(left, right)\n--\n\nRepresents logical conjunction left & right.",
     2, 2, true, -1, false, {"left", "right"},
     2, 2, {"left", "right"}, {0, 1}, "And.__init__"},
    {"Or", "Or(left, right)\n--\n\nRepresents logical disjunction left | right.",
     2, 2, true, -1, false, {"left", "right"},
     2, 2, {"left", "right"}, {0, 1}, "Or.__init__"},
    {"Implies", "Implies(left, right)\n--\n\nRepresents logical implication left => right.",
     2, 2, true, -1, false, {"left", "right"},
     2, 2, {"left", "right"}, {0, 1}, "Implies.__init__"},
    {"Iff", "Iff(left, right)\n--\n\nRepresents logical equivalence left <=> right.",
     2, 2, true, -1, false, {"left", "right"},
     2, 2, {"left", "right"}, {0, 1}, "Iff.__init__"},
    {"Forall", "Forall(variable, body)\n--\n\n"
     "Represents universal quantification forall variable. body.",
     2, 2, true, -1, false, {"variable", "body"},
     2, 2, {"variable", "body"}, {0, 1}, "Forall.__init__"},
    {"Exists", "Exists(variable, body)\n--\n\n"
     "Represents existential quantification exists variable. body.",
     2, 2, true, -1, false, {"variable", "body"},
     2, 2, {"variable", "body"}, {0, 1}, "Exists.__init__"},
};

}  // namespace zelqor::ast
