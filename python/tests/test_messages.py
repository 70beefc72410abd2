"""The core's messages, word for word, in the tool's standard error and the module's exceptions."""
import os
import subprocess
import sys

import pytest

import trapft
from conftest import EXAMPLES

SAMPLES = str(EXAMPLES / "two_tone.txt")

# (tool's arguments, the same mistake in Python, exception): the tool prints
# the core's message; the module raises it, adding the value and range.
OPTIONS = [
    (["-e", "0.2", SAMPLES, "0", "1", "3"], lambda t, x: trapft.spectrum(t, x, 0, 1, 3, tolerance=0.2), ValueError),
    (["--jobs=1025", SAMPLES, "0", "1", "3"], lambda t, x: trapft.spectrum(t, x, 0, 1, 3, jobs=1025), ValueError),
    (["--part=3/2", SAMPLES, "0", "1", "3"], lambda t, x: trapft.spectrum(t, x, 0, 1, 3, part=(3, 2)), ValueError),
    ([SAMPLES, "0", "1", "2147483648"], lambda t, x: trapft.spectrum(t, x, 0, 1, 2**31), ValueError),
    (["--max-samples=0", SAMPLES, "0", "1", "3"], lambda t, x: trapft.load(SAMPLES, max_samples=0), ValueError),
]


def tool_says(tool, arguments, **environment):
    run = subprocess.run([tool, *arguments], capture_output=True, text=True,
                         env=dict(os.environ, **environment), timeout=60)
    assert run.stdout == "" and run.returncode != 0
    return run.stderr


@pytest.mark.parametrize("arguments, call, error", OPTIONS)
def test_options_out_of_range(tool, two_tone, arguments, call, error):
    said = tool_says(tool, arguments)
    assert said.endswith(".\n") and said.count("\n") == 1
    with pytest.raises(error) as raised:
        call(*two_tone)
    assert str(raised.value).startswith(said[:-2])


@pytest.mark.parametrize("content, max_samples", [
    ("0 1\nx 2\n", None), ("0 1\n1 2\n3\n", None), ("0 1 1 2 2 3", 2), ("0 1 1 2", 1),
])
def test_load_failures(tool, tmp_path, content, max_samples):
    path = tmp_path / "samples.txt"
    path.write_text(content)
    options = [] if max_samples is None else [f"--max-samples={max_samples}"]
    said = tool_says(tool, [*options, str(path), "0", "1", "3"])
    with pytest.raises(ValueError) as raised:
        trapft.load(path, max_samples=max_samples)
    assert str(raised.value) + "\n" == said


@pytest.mark.skipif(not trapft.fast_evaluation_available(), reason="built without the fast evaluation")
def test_an_instruction_set_the_processor_lacks(tool):
    said = tool_says(tool, ["-e1e-9", SAMPLES, "0", "1", "3"], TRAPFT_ISA="sse5")
    script = "import trapft\ntry:\n    trapft.spectrum([0, 1], [1, 1], 0, 1, 3, tolerance=1e-9)\n" \
             "except ValueError as error:\n    print(error)\n"
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, TRAPFT_ISA="sse5", PYTHONPATH=os.pathsep.join(sys.path))).stdout
    assert out == said
