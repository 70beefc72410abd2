"""The documentation's Python blocks marked to run, each run as written from the source tree."""
import os
import pathlib
import re

import pytest

import trapft
from conftest import SOURCE_DIR

MARK = "<!-- The block below runs in python/tests/test_docs.py. -->\n```python\n(.*?)```"
PAGES = [SOURCE_DIR / "README.md", *sorted((SOURCE_DIR / "docs").glob("*.md"))]
BLOCKS = [(page, block) for page in PAGES for block in re.findall(MARK, page.read_text(), re.S)]


def test_the_pages_mark_their_runnable_blocks():
    assert {page.name for page, _ in BLOCKS} >= {"README.md", "python.md"}


@pytest.mark.parametrize("page, block", BLOCKS, ids=[f"{page.name}:{n}" for n, (page, _) in enumerate(BLOCKS)])
def test_block_runs(page, block, monkeypatch, tool):
    if "tolerance=" in block and not trapft.fast_evaluation_available():
        pytest.skip("the block asks for the fast evaluation, which this build lacks")
    monkeypatch.chdir(SOURCE_DIR)
    monkeypatch.setenv("PATH", f"{pathlib.Path(tool).parent}{os.pathsep}{os.environ['PATH']}")
    exec(compile(block, str(page.relative_to(SOURCE_DIR)), "exec"), {})
