"""Sorts of many-sorted logic.

Sorts are immutable values compared by value. Every sort is interned: building
a sort equal to an existing one returns that same object, so equality and
hashing by value reduce to identity and cost nothing on the hot paths of the
syntax tree (every Variable hashes and compares its sort).
"""

import weakref

__all__ = ["Sort", "PrimitiveSort", "ParameterizedSort", "FunctionSort", "Ind", "Nat", "Bool"]


class Sort:
    """Base of every sort. Subclasses are interned, immutable values."""

    __slots__ = ("__weakref__",)
    _instances = weakref.WeakValueDictionary()

    name: str

    @classmethod
    def _intern(cls, key, init):
        key = (cls, *key)
        try:
            return Sort._instances[key]
        except KeyError:
            pass
        self = object.__new__(cls)
        init(self)
        Sort._instances[key] = self
        return self

    def __setattr__(self, name, value):
        raise AttributeError(f"cannot assign to field {name!r}")

    def __delattr__(self, name):
        raise AttributeError(f"cannot delete field {name!r}")

    def __copy__(self):
        return self

    def __deepcopy__(self, memo):
        return self

    # Interning makes value equality the same as identity: keep the default
    # (C-level) __eq__ and __hash__.


def _check_name(name):
    if not isinstance(name, str):
        raise TypeError(f"sort name must be str, got {type(name).__name__}")
    # A plain copy of a str subclass: the interning table holds the name for
    # as long as the sort lives, and a subclass instance could reach back to
    # the sort (through its __dict__) in a cycle that table would keep alive.
    # Equal names give the same sort anyway, whatever their class.
    return str.__str__(name)


def _check_sorts(sorts, what):
    sorts = tuple(sorts)
    for s in sorts:
        if not isinstance(s, Sort):
            raise TypeError(f"{what} must be sorts, got {type(s).__name__}")
    return sorts


class PrimitiveSort(Sort):
    """A basic sort such as Ind, Nat or Bool."""

    __slots__ = ("name",)

    def __new__(cls, name):
        name = _check_name(name)
        return cls._intern((name,), lambda self: object.__setattr__(self, "name", name))

    def __reduce__(self):
        return (type(self), (self.name,))

    def __repr__(self):
        return f"PrimitiveSort(name={self.name!r})"

    def __str__(self):
        return self.name


class ParameterizedSort(Sort):
    """A sort constructor applied to sort parameters, e.g. List[Nat]."""

    __slots__ = ("name", "params")

    def __new__(cls, name, params=()):
        name = _check_name(name)
        params = _check_sorts(params, "sort parameters")

        def init(self):
            object.__setattr__(self, "name", name)
            object.__setattr__(self, "params", params)

        return cls._intern((name, params), init)

    def __reduce__(self):
        return (type(self), (self.name, self.params))

    def __repr__(self):
        return f"ParameterizedSort(name={self.name!r}, params={self.params!r})"

    def __str__(self):
        return f"{self.name}[{', '.join(map(str, self.params))}]"


class FunctionSort(Sort):
    """The sort of functions from a tuple of domain sorts to a codomain sort."""

    __slots__ = ("domain", "codomain")

    def __new__(cls, domain, codomain):
        domain = _check_sorts(domain, "domain sorts")
        (codomain,) = _check_sorts((codomain,), "codomain sort")

        def init(self):
            object.__setattr__(self, "domain", domain)
            object.__setattr__(self, "codomain", codomain)

        return cls._intern((domain, codomain), init)

    @property
    def name(self):
        return f"({' × '.join(map(str, self.domain))} → {self.codomain})"

    def __reduce__(self):
        return (type(self), (self.domain, self.codomain))

    def __repr__(self):
        return f"FunctionSort(domain={self.domain!r}, codomain={self.codomain!r})"

    def __str__(self):
        return self.name


Ind = PrimitiveSort("Ind")
Nat = PrimitiveSort("Nat")
Bool = PrimitiveSort("Bool")
