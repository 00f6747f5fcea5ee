import copy
import pickle

import pytest

from zelqor.core.sorts import Bool, FunctionSort, Ind, Nat, ParameterizedSort, PrimitiveSort, Sort

LIST_NAT = ParameterizedSort("List", (Nat,))
PRED = FunctionSort((Ind, LIST_NAT), Bool)
SORTS = [Ind, Nat, Bool, LIST_NAT, ParameterizedSort("Unit"), PRED]


class TestInterning:
    def test_equal_sorts_are_the_same_object(self):
        assert PrimitiveSort("Ind") is Ind
        assert ParameterizedSort("List", [Nat]) is LIST_NAT
        assert FunctionSort([Ind, ParameterizedSort("List", (PrimitiveSort("Nat"),))], Bool) is PRED

    def test_distinct_sorts_differ(self):
        distinct = [Ind, PrimitiveSort("ind"), ParameterizedSort("Ind"), ParameterizedSort("List", (Ind,)),
                    LIST_NAT, FunctionSort((), Ind), FunctionSort((Ind,), Ind), FunctionSort((Ind,), Bool)]
        assert len(set(distinct)) == len(distinct)
        assert all(isinstance(s, Sort) for s in distinct)

    def test_usable_as_dict_keys(self):
        table = {s: i for i, s in enumerate(SORTS)}
        assert table[FunctionSort((Ind, ParameterizedSort("List", (Nat,))), Bool)] == SORTS.index(PRED)


@pytest.mark.parametrize("sort", SORTS, ids=str)
class TestValueBehaviour:
    def test_pickle_and_copy_keep_identity(self, sort):
        for proto in range(pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.loads(pickle.dumps(sort, proto)) is sort
        assert copy.copy(sort) is sort and copy.deepcopy([sort])[0] is sort

    def test_immutable(self, sort):
        with pytest.raises(AttributeError):
            sort.name = "Other"
        with pytest.raises(AttributeError):
            del sort.name
        with pytest.raises(AttributeError):
            sort.extra = 1


class TestText:
    def test_repr_and_str(self):
        assert repr(Ind) == "PrimitiveSort(name='Ind')"
        assert repr(LIST_NAT) == "ParameterizedSort(name='List', params=(PrimitiveSort(name='Nat'),))"
        assert repr(FunctionSort((Ind,), Bool)) == (
            "FunctionSort(domain=(PrimitiveSort(name='Ind'),), codomain=PrimitiveSort(name='Bool'))"
        )
        assert str(Ind) == "Ind" and str(LIST_NAT) == "List[Nat]"
        assert str(PRED) == PRED.name == "(Ind × List[Nat] → Bool)"


@pytest.mark.parametrize(
    "build",
    [
        lambda: PrimitiveSort(1),
        lambda: ParameterizedSort(None, ()),
        lambda: ParameterizedSort("List", ("Nat",)),
        lambda: FunctionSort((Ind, "Nat"), Bool),
        lambda: FunctionSort((Ind,), "Bool"),
    ],
)
def test_rejects_non_sorts(build):
    with pytest.raises(TypeError):
        build()
