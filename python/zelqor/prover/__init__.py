"""Clausification for refutation provers."""
