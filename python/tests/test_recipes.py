"""The documentation's Dask recipe (docs/python.md), run as written, against one call."""
import os
import re

import pytest

import trapft
from conftest import SOURCE_DIR, bits


def test_dask_recipe_joins_into_one_call(monkeypatch):
    if os.environ.get("TRAPFT_REQUIRE_DASK") != "1":
        pytest.importorskip("dask")
    chapter = (SOURCE_DIR / "docs" / "python.md").read_text()
    recipe = re.search(r"<!-- The block below runs in python/tests/test_recipes.py. -->\n```python\n(.*?)```",
                       chapter, re.S).group(1)
    monkeypatch.chdir(SOURCE_DIR)
    scope = {}
    exec(compile(recipe, "docs/python.md", "exec"), scope)
    one = trapft.spectrum(scope["t"], scope["x"], 0, 5000, 10**6, tolerance=1e-12)
    assert len(scope["pieces"]) == 16
    assert bits(scope["frequency"]) == bits(one.frequency) and bits(scope["transform"]) == bits(one.transform)


def test_docstring_examples(monkeypatch):
    import doctest

    monkeypatch.chdir(SOURCE_DIR)
    failed, tried = doctest.testmod(trapft, extraglobs={"trapft": trapft}, optionflags=doctest.NORMALIZE_WHITESPACE)
    assert tried >= 5 and failed == 0
