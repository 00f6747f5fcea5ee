from typing import Dict, List, Literal, Optional, Tuple, Union

from zelqor.core.ast import Formula, PredicateApp

# (hypotheses, goal, rule, premises, principal, renaming)
_StepData = Tuple[Tuple[Formula, ...], Formula, str, Tuple[int, ...], Optional[Formula],
                 Optional[Dict[PredicateApp, PredicateApp]]]
# (atoms, successors)
_WorldData = Tuple[Tuple[PredicateApp, ...], Tuple[int, ...]]

def search(
    formula: Formula, *, budget: Optional[int] = None, first_look: Optional[int] = None
) -> Union[
    Tuple[Literal["valid"], List[_StepData], Dict[str, int]],
    Tuple[Literal["invalid"], List[_WorldData], Dict[str, int]],
    Tuple[Literal["unknown"], None, Dict[str, int]],
]: ...
