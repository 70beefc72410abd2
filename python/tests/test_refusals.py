"""Each refusal: the exception and, where the tool has one, its message."""
import numpy as np
import pytest

import trapft
from conftest import EXAMPLES

t = np.linspace(0.0, 1.0, 50)
x = np.cos(t)

CALLS = [  # (arguments, keyword arguments, exception, text in its message)
    ((t, x.astype(complex), 0, 1, 5), {}, TypeError, "real numbers"),
    ((["a", "b"], ["c", "d"], 0, 1, 5), {}, TypeError, "real numbers"),
    ((t, x > 0, 0, 1, 5), {}, TypeError, "real numbers"),
    ((t, x[:-1], 0, 1, 5), {}, ValueError, "differ in length"),
    ((t, np.stack([x, x])[:, :-1], 0, 1, 5), {}, ValueError, "differ in length"),
    ((np.stack([t, t]), x, 0, 1, 5), {}, ValueError, "one-dimensional"),
    ((t, x[None, None], 0, 1, 5), {}, ValueError, "two-dimensional"),
    ((np.array([0, 2**53 + 1]), [1, 1], 0, 1, 5), {}, ValueError, "exactly"),
    ((t, x, "0", 1, 5), {}, TypeError, "start"),
    ((t, x, 0, 1j, 5), {}, TypeError, "end"),
    ((t, x, 0, 1, -1), {}, ValueError, "Invalid frequency count."),
    ((t, x, 0, 1, 2**31), {}, ValueError, "Invalid frequency count."),
    ((t, x, 0, 1, 5.0), {}, TypeError, "count"),
    ((t, x, 0, 1, 5), {"tolerance": 0}, ValueError, "Invalid tolerance."),
    ((t, x, 0, 1, 5), {"tolerance": 0.2}, ValueError, "Invalid tolerance."),
    ((t, x, 0, 1, 5), {"tolerance": float("nan")}, ValueError, "Invalid tolerance."),
    ((t, x, 0, 1, 5), {"tolerance": "1e-9"}, TypeError, "tolerance"),
    ((t, x, 0, 1, 5), {"jobs": 1025}, ValueError, "Invalid number of jobs."),
    ((t, x, 0, 1, 5), {"jobs": -1}, ValueError, "Invalid number of jobs."),
    ((t, x, 0, 1, 5), {"jobs": 2.0}, TypeError, "jobs"),
    ((t, x, 0, 1, 5), {"part": (0, 3)}, ValueError, "Invalid part"),
    ((t, x, 0, 1, 5), {"part": (4, 3)}, ValueError, "Invalid part"),
    ((t, x, 0, 1, 5), {"part": 3}, TypeError, "part"),
    ((t, x, 0, 1, 5, None), {}, TypeError, "positional"),
    ((0, 1, -1), {"grid": True}, ValueError, "Invalid frequency count."),
    ((0, 1, 3), {"grid": True, "part": (2, 1)}, ValueError, "Invalid part"),
    ((0, "1", 3), {"grid": True}, TypeError, "end"),
]


@pytest.mark.parametrize("arguments, keywords, error, message", CALLS)
def test_spectrum_and_frequencies_refuse(arguments, keywords, error, message):
    keywords = dict(keywords)
    call = trapft.frequencies if keywords.pop("grid", False) else trapft.spectrum
    with pytest.raises(error, match=message):
        call(*arguments, **keywords)


@pytest.mark.parametrize("content, keywords, error, message", [
    (None, {}, FileNotFoundError, "No such file"),
    ("directory", {}, IsADirectoryError, ""),
    ("0 1\nx 2\n", {}, ValueError, "^Error reading file: line 2: not a number.$"),
    ("0 1\n1 2\n3\n", {}, ValueError, "^Error reading file: line 3: time without a value.$"),
    ("0 1 1 2 2 3", {"max_samples": 2}, ValueError, "^Error reading file: more than 2 samples.$"),
    ("0 1", {"max_samples": 0}, ValueError, "Invalid maximum number of samples."),
    ("0 1", {"double": "yes"}, TypeError, "double"),
])
def test_load_refuses(tmp_path, content, keywords, error, message):
    path = tmp_path / "samples.txt"
    if content == "directory":
        path.mkdir()
    elif content is not None:
        path.write_text(content)
    with pytest.raises(error, match=message):
        trapft.load(path, **keywords)


def test_load_reads_as_the_tool(tmp_path):
    path = tmp_path / "samples.txt"
    path.write_text("0.1 1e400\n")
    assert trapft.load(str(path))[0].tolist() == [float(np.float32(0.1))]
    assert trapft.load(path, double=True)[0].tolist() == [0.1]
    assert trapft.load(path)[1].tolist() == [float("inf")]
    path.write_text("")
    assert [a.tolist() for a in trapft.load(path)] == [[0.0], [0.0]]
    with pytest.raises(TypeError):
        trapft.load(EXAMPLES / "two_tone.txt", True)  # options are keyword-only
