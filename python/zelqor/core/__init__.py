"""Syntax trees, sorts, substitution and the formula printer."""
