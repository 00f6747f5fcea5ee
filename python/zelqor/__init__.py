"""zelqor: symbolic logic with a C++ core.

Immutable formula trees (`zelqor.core.ast`), visitors over them, a clausifier
for refutation provers and finite Kripke models for intuitionistic logic.
"""

__version__ = "0.1.0"
