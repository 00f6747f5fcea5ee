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
