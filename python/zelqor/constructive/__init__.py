"""Intuitionistic logic: shared predicates and Kripke semantics."""
