"""What the commands share: reading problems, one-line errors, safe output files, progress, jobs."""

from __future__ import annotations

import enum
import os
import stat
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor
from typing import Callable, Iterable, Iterator, List, Optional, Sequence, TypeVar, Union

from zelqor.core.exceptions import ZelqorError

class ExitStatus(enum.IntEnum):
    """What a command's process exits with."""

    OK = 0
    UNDECIDED = 1  # decide: a budget or time limit ran out before an answer
    FAILURE = 2  # bad input or a usage error (argparse uses 2 as well)
    INTERRUPTED = 130  # Ctrl-C, as shells report SIGINT


EXIT_OK = ExitStatus.OK
EXIT_FAILURE = ExitStatus.FAILURE

T = TypeVar("T")
R = TypeVar("R")

# Problems nest formulas deeper than the interpreter's default allows (a thousand levels); the
# library's own walks check the C stack they have left, so a command may let them go deeper.
DEEP_RECURSION_LIMIT = 200_000


def allow_deep_formulas() -> None:
    """Let the library's tree walks go as deep as the C stack allows."""
    if sys.getrecursionlimit() < DEEP_RECURSION_LIMIT:
        sys.setrecursionlimit(DEEP_RECURSION_LIMIT)


def error_line(error: BaseException) -> Optional[str]:
    """The one line a command prints for an error it expects, or None for anything else."""
    if isinstance(error, ZelqorError):
        summary = getattr(error, "summary", None)
        return summary if isinstance(summary, str) else str(error).splitlines()[0]
    if isinstance(error, OSError):
        where = error.filename if error.filename is not None else "zelqor"
        return f"{where}: {error.strerror or error}"
    if isinstance(error, RecursionError):
        return f"zelqor: a formula is nested too deeply for this interpreter's stack ({error})"
    if isinstance(error, MemoryError):
        return "zelqor: out of memory"
    return None


def add_include_option(parser) -> None:
    parser.add_argument("-I", "--include-dir", dest="include_dirs", action="append", default=[], metavar="DIR",
                        help="another folder to look for included files in (after the including file's own; "
                             "the TPTP environment variable is looked at last)")


def write_atomically(path: str, text: Union[str, bytes]) -> None:
    """Write `text` (or bytes) to `path` through a temporary file in the same folder, renamed into
    place when complete: a failure leaves the old file (or none), never half of the new one."""
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".zelqor-", suffix=".tmp", dir=folder)
    try:
        # mkstemp makes the file private; the result gets the mode a plain open would give it.
        os.fchmod(handle, _mode_for(path))
        with (os.fdopen(handle, "wb") if isinstance(text, bytes) else
              os.fdopen(handle, "w", encoding="utf-8")) as out:
            out.write(text)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _mode_for(path: str) -> int:
    """The permissions of the file being replaced, or those the user's umask gives a new file."""
    try:
        return stat.S_IMODE(os.stat(path).st_mode)
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


class Progress:
    """A one-line progress bar on stderr, shown only when stderr is a terminal."""

    WIDTH = 30

    def __init__(self, total: int, enabled: Optional[bool] = None) -> None:
        self.total = total
        self.done = 0
        self.failed = 0
        self.started = time.monotonic()
        self.enabled = sys.stderr.isatty() if enabled is None else enabled
        self.shown = False

    def advance(self, label: str, failed: bool = False) -> None:
        self.done += 1
        self.failed += failed
        if not self.enabled:
            return
        filled = self.WIDTH * self.done // max(self.total, 1)
        bar = "#" * filled + "-" * (self.WIDTH - filled)
        elapsed = time.monotonic() - self.started
        failures = f", {self.failed} failed" if self.failed else ""
        sys.stderr.write(f"\r[{bar}] {self.done}/{self.total}{failures} {elapsed:5.1f}s {label[-40:]:<40}")
        sys.stderr.flush()
        self.shown = True

    def message(self, line: str) -> None:
        """Print a line above the bar."""
        if self.shown:
            sys.stderr.write("\r" + " " * (self.WIDTH + 70) + "\r")
        print(line, file=sys.stderr)

    def close(self) -> None:
        if self.shown:
            sys.stderr.write("\n")
            sys.stderr.flush()


def run_all(work: Callable[[T], R], items: Sequence[T], jobs: int) -> Iterator[R]:
    """`work` applied to each item, results in order; with several jobs, in as many processes."""
    if jobs <= 1 or len(items) <= 1:
        for item in items:
            yield work(item)
        return
    with ProcessPoolExecutor(max_workers=jobs, initializer=allow_deep_formulas) as pool:
        yield from pool.map(work, items, chunksize=1)


def positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise ValueError(text)
    return value


def expand(paths: Iterable[str]) -> List[str]:
    """The files named, folders replaced by the TPTP problems (*.p) they hold, sorted."""
    files: List[str] = []
    for path in paths:
        if os.path.isdir(path):
            for root, _, names in sorted(os.walk(path)):
                files.extend(os.path.join(root, name) for name in sorted(names) if name.endswith(".p"))
        else:
            files.append(path)
    return files
