from dataclasses import dataclass as dataclass
from typing import Any as Any, Dict as Dict, List as List, Optional as Optional, Set as Set

from typing_extensions import disjoint_base

from zelqor.constructive.common import (
    FALSUM as FALSUM,
    VERUM as VERUM,
    _is_atomic as _is_atomic,
    _is_falsum as _is_falsum,
    _is_verum as _is_verum,
)
from zelqor.core.ast import (
    And as And,
    Formula as Formula,
    Iff as Iff,
    Implies as Implies,
    Not as Not,
    Or as Or,
    PredicateApp as PredicateApp,
)
from zelqor.core.parser import to_string as to_string

__all__ = ["World", "KripkeModel"]

@disjoint_base
class World:
    __match_args__ = ("id", "name")
    @property
    def id(self) -> int: ...
    @property
    def name(self) -> str: ...
    def __new__(cls, id: int, name: str) -> World: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
    def __copy__(self) -> World: ...
    def __deepcopy__(self, memo: Any, /) -> World: ...

@disjoint_base
class KripkeModel:
    worlds: List[World]
    relations: Dict[World, Set[World]]
    valuations: Dict[World, Set[Formula]]
    def __init__(
        self,
        worlds: Optional[List[World]] = None,
        relations: Optional[Dict[World, Set[World]]] = None,
        valuations: Optional[Dict[World, Set[Formula]]] = None,
    ) -> None: ...
    def add_world(self, world: World) -> None: ...
    def add_relation(self, source: World, target: World) -> None: ...
    def add_valuation(self, world: World, formula: Formula) -> None: ...
    def is_accessible(self, source: World, target: World) -> bool: ...
    def accessible_worlds(self, world: World) -> Set[World]: ...
    def _compute_transitive_closure(self) -> None: ...
    def _enforce_monotonicity(self) -> None: ...
    def evaluate(self, formula: Formula, world: World) -> bool: ...
    def to_dict(self) -> Dict[str, Any]: ...
    def to_string(self) -> str: ...
