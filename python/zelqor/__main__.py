"""A short tour of the library: `python -m zelqor`."""

from zelqor.core.ast import (
    And, Exists, Forall, FunctionApp, Implies, Not, PredicateApp, Variable,
    bound_variables, canonicalize_bound_variables, formula_depth, formula_size, free_variables,
)
from zelqor.core.parser import to_string


def main():
    x, y, z = Variable(0), Variable(1), Variable(2)
    loves = lambda a, b: PredicateApp("Loves", 2, (a, b))  # noqa: E731
    mother = lambda a: FunctionApp("mother", 1, (a,))  # noqa: E731

    # Everybody loves their mother, and somebody loves y.
    f = And(Forall(x, loves(x, mother(x))), Exists(z, loves(z, y)))
    print("formula:        ", to_string(f))
    print("free variables: ", sorted(to_string(v) for v in free_variables(f)))
    print("bound variables:", sorted(to_string(v) for v in bound_variables(f)))
    print("depth, size:    ", formula_depth(f), formula_size(f))

    g = And(Forall(Variable(7), loves(Variable(7), mother(Variable(7)))), Exists(Variable(9), loves(Variable(9), y)))
    print("alpha-variant:  ", to_string(g))
    print("equal as trees: ", f == g)
    print("equal up to the names of bound variables:",
          canonicalize_bound_variables(f) == canonicalize_bound_variables(g))

    h = Implies(Not(loves(x, y)), Not(Not(loves(x, y))))
    match h:
        case Implies(Not(atom), _):
            print("matched an implication from the negation of", to_string(atom))
    print("text form:      ", repr(Not(PredicateApp("P", 0, ()))))


if __name__ == "__main__":
    main()
