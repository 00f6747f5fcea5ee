"""Printing the benchmark scripts' tables: times in readable units, columns right-aligned."""


def fmt_time(seconds):
    """A duration in s, ms or µs; text (a note such as "skipped") is shown as it is."""
    if isinstance(seconds, str):
        return seconds
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} µs"


def print_rows(lines):
    """Prints rows of text cells, right-aligned, the first one as the header above a rule."""
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    for i, line in enumerate(lines):
        print("  ".join(cell.rjust(w) for cell, w in zip(line, widths)))
        if i == 0:
            print("  ".join("-" * w for w in widths))
