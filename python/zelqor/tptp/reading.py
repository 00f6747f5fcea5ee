"""Reading TPTP text: problems from files or strings, single formulas."""

from __future__ import annotations

import os
from typing import Iterable, Tuple, Union

from zelqor.core.ast import Formula
from zelqor.core.exceptions import TPTPError
from zelqor.core.signature import Signature
from zelqor.tptp import _native
from zelqor.tptp.problem import AnnotatedFormula, Problem

__all__ = ["read_problem", "parse_problem", "parse_formula"]

PathLike = Union[str, "os.PathLike[str]"]


class _IncludeResolver:
    """Finds an included file as provers do: next to the including file, then in the given
    include folders, then under the folder named by the ``TPTP`` environment variable."""

    def __init__(self, include_dirs: Iterable[PathLike]) -> None:
        self.folders = [os.fspath(d) for d in include_dirs]
        tptp = os.environ.get("TPTP")
        if tptp:
            self.folders.append(tptp)

    def __call__(self, name: str, including: str) -> Tuple[str, bytes]:
        folders = [os.path.dirname(including), *self.folders]
        for folder in folders:
            candidate = os.path.normpath(os.path.join(folder, name))
            # Only regular files: an include must not wait on a pipe or read a device forever.
            if not os.path.isfile(candidate):
                continue
            try:
                with open(candidate, "rb") as handle:
                    return candidate, handle.read()
            except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
                continue
            except OSError as error:
                raise OSError(f"cannot read included file '{candidate}': {error.strerror}") from None
        looked = ", ".join(f"'{folder or '.'}'" for folder in folders)
        raise LookupError(f"included file '{name}' not found (looked in {looked}; set TPTP or give include folders)")


def _problem(formulas, symbols, sorts, source: str) -> Problem:
    # The reader has checked every symbol against its other uses: fill the tables directly.
    signature = Signature()
    constants, functions, predicates = signature.constants, signature.functions, signature.predicates
    for kind, name, arity, arg_sorts, result in symbols:
        if kind == "predicate":
            predicates[name] = (arity, arg_sorts)
        elif kind == "constant":
            constants[name] = result
        else:
            functions[name] = (arity, arg_sorts, result)
    return Problem(tuple(formulas), signature, tuple(sorts), source)


def _parse(data: bytes, source: str, include_dirs) -> Problem:
    formulas, symbols, sorts = _native.parse_problem(data, source, _IncludeResolver(include_dirs), AnnotatedFormula)
    return _problem(formulas, symbols, sorts, source)


def parse_problem(text: Union[str, bytes], *, source: str = "<string>",
                  include_dirs: Iterable[PathLike] = ()) -> Problem:
    """Read a TPTP problem from text (``str`` or ``bytes``).

    ``source`` names the text in errors and in each formula's ``source``; includes resolve
    against its folder (the working folder for ``"<string>"``), then ``include_dirs``, then the
    ``TPTP`` environment variable. Raises `TPTPError` for anything that is not a valid problem.
    """
    data = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)
    return _parse(data, source, include_dirs)


def read_problem(path: PathLike, *, include_dirs: Iterable[PathLike] = ()) -> Problem:
    """Read the TPTP problem in the file at ``path``, with its includes (see `parse_problem`)."""
    source = os.fspath(path)
    try:
        with open(source, "rb") as handle:
            data = handle.read()
    except OSError as error:
        raise TPTPError(f"cannot read: {error.strerror}", source) from None
    return _parse(data, source, include_dirs)


def parse_formula(text: Union[str, bytes], language: str = "fof") -> Formula:
    """Read one formula, such as ``"! [X] : (p(X) => q(X))"``, in ``language`` (``"fof"``,
    ``"cnf"``, ``"tff"`` or ``"tcf"``). ``$true`` and ``$false`` become `VERUM` and `FALSUM`.

    Its variables get fresh ids from 0 in order of appearance. Raises `TPTPError`.
    """
    data = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)
    return _native.parse_formula(data, language)
