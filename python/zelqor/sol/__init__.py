"""Second-order extensions of the syntax tree."""
