"""Shared fixtures: the tool for the parity tests, and sample data."""
import os
import pathlib

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = SOURCE_DIR / "examples"


@pytest.fixture(scope="session")
def tool():
    """The command-line tool, from TRAPFT_TOOL (ctest sets it)."""
    path = os.environ.get("TRAPFT_TOOL")
    if not path:
        pytest.skip("TRAPFT_TOOL does not name the tool")
    return path


@pytest.fixture(scope="session")
def two_tone():
    import trapft

    return trapft.load(EXAMPLES / "two_tone.txt")


def bits(array):
    """The bytes of an array, so that comparisons see every bit (NaN and -0 too)."""
    return np.ascontiguousarray(array).tobytes()
