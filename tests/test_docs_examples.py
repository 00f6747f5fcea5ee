"""Every example in the README and the user guide runs and shows what it says."""

import doctest
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
GUIDE_PAGES = sorted((ROOT / "docs").rglob("*.rst"))
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


def run_examples(text, name):
    parser = doctest.DocTestParser()
    test = parser.get_doctest(text, {}, name, name, 0)
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    runner.run(test)
    return runner.summarize(verbose=False)


def test_readme_examples_run():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    blocks = re.findall(r"^```pycon\n(.*?)^```", readme, flags=re.S | re.M)
    assert blocks, "the README has no pycon examples"
    result = run_examples("\n".join(blocks), "README.md")
    assert result.attempted > 10 and result.failed == 0


@pytest.mark.parametrize("page", GUIDE_PAGES, ids=lambda page: str(page.relative_to(ROOT / "docs")))
def test_guide_examples_run(page):
    result = run_examples(page.read_text(encoding="utf-8"), page.name)
    assert result.failed == 0


def test_guide_has_examples():
    # A page moved or a glob gone wrong would otherwise pass with nothing checked.
    pages = {page.stem: run_examples(page.read_text(encoding="utf-8"), page.name).attempted for page in GUIDE_PAGES}
    for name in ("formulas", "visitors", "tptp", "clauses", "kripke"):
        assert pages[name] > 5, name
