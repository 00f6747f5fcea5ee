"""Caller code that runs in the middle of a walk (a key's __eq__, a sort's __hash__, a property) and frees
what the walk is reading: the walk must hold what it reads. Each case runs in a fresh interpreter, since
the fault it guards against is a crash."""

import pytest

from isolated import output_of

pytestmark = pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")

HOSTILE_SORT = """
from zelqor.core.sorts import Sort
class HostileSort(Sort):
    '''Runs `on_hash` (once armed) whenever something hashes it.'''
    __slots__ = ("on_hash",)
    def __new__(cls, on_hash):
        self = object.__new__(cls)
        object.__setattr__(self, "on_hash", on_hash)
        return self
    def __hash__(self):
        if armed:
            self.on_hash()
        return 11
    def __eq__(self, other):
        return self is other
armed = False
class HashableList(list):
    __hash__ = lambda self: 0
"""


def test_evaluate_holds_the_valuation_set_a_key_replaces():
    assert output_of("""
        from zelqor.constructive.kripke import World, KripkeModel
        from zelqor.core.ast import PredicateApp
        w, p = World(0, "w0"), PredicateApp("p", 0, ())
        m = KripkeModel()
        class Key:
            def __hash__(self): return hash(w)
            def __eq__(self, other): m.valuations = {}; return True
        class Twin:
            def __hash__(self): return hash(p)
            def __eq__(self, other): return False
        m.valuations = {Key(): {Twin()} | {PredicateApp(f"q{i}", 0, ()) for i in range(20)}}
        print(m.evaluate(p, w))
    """) == "False"


@pytest.mark.parametrize("replace", ["t.__init__({})", "t.__setstate__({'mapping': {}})"])
def test_substitution_visitor_holds_its_mapping_while_searching_it(replace):
    assert output_of(f"""
        from zelqor.core.ast import Variable, Constant
        from zelqor.core.visitors import SubstitutionTransformer
        x, keep = Variable(1), []
        class Key:
            def __hash__(self): return hash(x)
            def __eq__(self, other):
                {replace}
                keep.extend({{x: "from an unrelated dict"}} for _ in range(4))
                return False
        t = SubstitutionTransformer({{Key(): Constant("c")}})
        print(t.visit(x) is x)
    """) == "True"


@pytest.mark.parametrize("call", [
    "Literal(atom).substitute(mapping).atom",
    "Clause(frozenset({Literal(atom)})).substitute(mapping).literals.__iter__().__next__().atom",
    "substitute_formula(atom, mapping)",
])
def test_substitution_works_on_what_the_mapping_held_when_called(call):
    # The replacement's sort, read to check the mapping, empties the caller's dict.
    assert output_of(f"""
        from zelqor.core.ast import Variable, Constant, PredicateApp
        from zelqor.core.sorts import Ind
        from zelqor.core.substitutions import substitute_formula
        from zelqor.prover.clausifier import Literal, Clause
        class Sneaky(Constant):
            @property
            def sort(self):
                mapping.clear()
                return Ind
        mapping = {{Variable(5): Sneaky("c")}}
        atom = PredicateApp("P", 1, (Variable(5),))
        result = {call}
        print(type(result.args[0]).__name__, mapping)
    """) == "Sneaky {}"


def test_substitution_survives_a_key_that_empties_the_mapping():
    assert output_of(HOSTILE_SORT + """
from zelqor.core.ast import Variable, Constant, PredicateApp
from zelqor.core.substitutions import substitute_formula
mapping = {}
mapping[Variable(3, sort=HostileSort(mapping.clear))] = Constant("c", sort=None)
key = next(iter(mapping))
mapping[key] = Constant("c", sort=key.sort)
del key
atom = PredicateApp("P", 2, (Variable(1), Variable(2)))
armed = True
print(substitute_formula(atom, mapping) is atom, len(mapping))
""") == "True 0"


def test_clause_holds_the_free_variables_a_literal_computes():
    assert output_of("""
        import gc
        from zelqor.core.ast import PredicateApp, Variable
        from zelqor.prover.clausifier import Literal, Clause
        class L(Literal):
            @property
            def _free_vars(self):
                return frozenset({Variable(1), Variable(2)})
        clause = Clause(frozenset({L(PredicateApp("P", 0, ()))}))
        gc.collect()
        print(sorted(v.id for v in clause.free_variables()), sorted(v.id for v in clause._free_vars))
    """) == "[1, 2] [1, 2]"


def test_substitution_of_arguments_that_a_hash_empties():
    assert output_of(HOSTILE_SORT + """
from zelqor.core.ast import Variable, Constant, PredicateApp
from zelqor.core.substitutions import substitute_formula
x = Variable(0)
args = HashableList([x, Variable(1, sort=HostileSort(lambda: args.clear())), Variable(2)])
atom = PredicateApp("P", 3, args)
armed = True
result = substitute_formula(atom, {x: Constant("c")})
print([type(a).__name__ for a in result.args], len(args))
""") == "['Constant', 'Variable', 'Variable'] 0"


def test_canonicalization_of_arguments_that_a_hash_empties():
    assert output_of(HOSTILE_SORT + """
from zelqor.core.ast import Forall, Variable, PredicateApp, canonicalize_bound_variables
x = Variable(5)
args = HashableList([x, Variable(1, sort=HostileSort(lambda: args.clear())), Variable(2)])
f = Forall(x, PredicateApp("P", 3, args))
armed = True
result = canonicalize_bound_variables(f)
print(result.variable.id, [a.id for a in result.body.args], len(args))
""") == "0 [0, 1, 2] 0"


def test_construction_holds_a_childs_free_variables_while_reading_the_next():
    assert output_of("""
        from zelqor.core.ast import Constant, FunctionApp, PredicateApp, Variable, free_variables
        armed = False
        class Shifty(Constant):
            @property
            def _free_vars(self):
                if armed:
                    args.clear()
                return frozenset({Variable(4)})
        class HashableList(list):
            __hash__ = lambda self: 0
        args = HashableList([FunctionApp("f", 1, (Variable(3),)), Shifty("k")])
        armed = True
        atom = PredicateApp("P", 2, args)
        print(sorted(v.id for v in free_variables(atom)))
    """) == "[3, 4]"


def test_dispatch_table_replaced_while_visit_looks_at_the_instance():
    assert output_of("""
        from zelqor.core.ast import Not, PredicateApp
        from zelqor.core.visitors import SizeVisitor
        class Name(str):
            __hash__ = str.__hash__
            def __eq__(self, other):
                type(v)._dispatch_table = dict(type(v)._dispatch_table)
                keep.extend({1: 2} for _ in range(4))  # whatever memory the old table had
                return False
        keep = []
        class V(SizeVisitor):
            pass
        v = V()
        v.__dict__[Name("visit")] = 0
        print(v.visit(Not(Not(PredicateApp("P", 0, ())))))
    """) == "3"


def test_visitor_setstate_holds_each_entry_while_setting_it():
    assert output_of("""
        from zelqor.core.visitors import SizeVisitor
        class Name(str):
            __hash__ = lambda self: hash("visit")  # met in the class dicts on the attribute's way
            def __eq__(self, other):
                state.clear()
                keep.extend([0] * 8 for _ in range(16))  # whatever memory the value had
                return False
        keep = []
        class V(SizeVisitor):
            pass
        v = V()
        state = {Name("mine"): ["held", "by", "state"]}
        v.__setstate__(state)
        print(list(vars(v).values()))
    """) == "[['held', 'by', 'state']]"
