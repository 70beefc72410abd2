"""Sphinx configuration of trapft's documentation (docs/, built with
sphinx-build -W docs BUILD/html); the Python API comes from the module's
numpydoc docstrings, imported from the module built with TRAPFT_PYTHON
(TRAPFT_PYTHON_PATH, or build-python/python)."""
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, os.environ.get("TRAPFT_PYTHON_PATH", str(ROOT / "build-python" / "python")))

project = "trapft"
author = "the trapft developers"
copyright = "2026, the trapft developers"
release = version = (ROOT / "VERSION").read_text().strip()

extensions = ["myst_parser", "sphinx.ext.autodoc", "numpydoc"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build"]
myst_heading_anchors = 3
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
autodoc_typehints = "none"  # the docstrings state the types, numpy's way
html_theme = "alabaster"
html_static_path = []
