"""The package's error types."""


class ZelqorError(Exception):
    """Base of every error raised by the package."""


class InvalidFormulaError(ZelqorError):
    """A term or formula that breaks a construction rule, or a node the operation does not support."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message

    def __str__(self):
        return str(self.message)


class SortError(ZelqorError):
    """A term of one sort given where another sort is required."""


class TPTPError(ZelqorError):
    """Text that is not a valid problem or formula of the TPTP language, or that uses what the reader does not support.

    Carries where the fault is: ``file``, ``line`` and ``column`` (both counted from 1; 0 when the
    fault has no position, such as a file that cannot be opened), the offending ``text`` line and
    the bare ``message``. ``str()`` gives ``file:line:col: message`` followed by the line and a
    caret under the column; ``summary`` is that first line alone.
    """

    def __init__(self, message, file="<string>", line=0, column=0, text="", caret=None):
        super().__init__(message, file, line, column, text, caret)
        self.message = message
        self.file = file
        self.line = line
        self.column = column
        self.text = text
        # Where the caret goes in `text` when the line was cut to a window around the column.
        self._caret = column - 1 if caret is None else caret

    @property
    def summary(self):
        """``file:line:col: message`` (``file: message`` when there is no position)."""
        if self.line <= 0:
            return f"{self.file}: {self.message}"
        return f"{self.file}:{self.line}:{self.column}: {self.message}"

    def __str__(self):
        if self.line <= 0 or not self.text:
            return self.summary
        # Tabs before the column stay tabs, so the caret lines up in a terminal.
        pad = "".join(ch if ch == "\t" else " " for ch in self.text[: max(self._caret, 0)])
        return f"{self.summary}\n{self.text}\n{pad}^"
