"""What a hostile review found: signals while reading, numbers out of range,
scalars and inexact integers, every exception named, copies kept read-only."""
import copy
import os
import pickle
import re
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import trapft

t = np.linspace(0.0, 1.0, 50)
x = np.cos(t)


class Alarm(Exception):
    pass


def timer(interval, handler):
    """SIGALRM every `interval` seconds with `handler`, until the block ends."""
    class Timer:
        def __enter__(self):
            self.previous = signal.signal(signal.SIGALRM, handler)
            signal.setitimer(signal.ITIMER_REAL, interval, interval)

        def __exit__(self, *exc):
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, self.previous)

    return Timer()


def slow_writer(fifo, lines, pause):
    """A process that writes `lines` pairs into `fifo`, one every `pause` seconds."""
    script = (f"import time\nwith open({str(fifo)!r}, 'w') as f:\n"
              f"    for k in range({lines}):\n        f.write(f'{{k}} 1\\n'); f.flush(); time.sleep({pause})\n")
    return subprocess.Popen([sys.executable, "-c", script])


@pytest.mark.parametrize("raises", [False, True])
def test_load_from_a_fifo_survives_signals_or_passes_on_the_handlers_exception(tmp_path, raises):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    calls = []

    def handler(number, frame):
        calls.append(number)
        if raises:
            raise Alarm

    writer = slow_writer(fifo, 12, 0.02)
    try:
        with timer(0.005, handler):
            if raises:
                with pytest.raises(Alarm):
                    trapft.load(fifo)
            else:
                times, values = trapft.load(fifo)
    finally:
        writer.kill() if raises else None
        writer.wait(timeout=30)
    assert calls
    if not raises:
        assert times.tolist() == list(range(12)) and values.tolist() == [1.0] * 12


@pytest.mark.parametrize("call, text", [
    (lambda: trapft.spectrum(t, x, 10**400, 1, 5), "start does not fit in a float64"),
    (lambda: trapft.spectrum(t, x, 0, -(10**400), 5), "end does not fit in a float64"),
    (lambda: trapft.spectrum(t, x, 0, 1, 5, tolerance=10**400),
     r"^Invalid tolerance: an integer of 1329 bits \(allowed 1e-14 to 0.1\)\.$"),
    (lambda: trapft.spectrum(t, x, 0, 1, 5, tolerance=0.2), r"^Invalid tolerance: 0.2 \(allowed 1e-14 to 0.1\)\.$"),
    (lambda: trapft.spectrum(t, x, 0, 1, 5, jobs=10**30), r"^Invalid number of jobs: an integer of 100 bits"),
    (lambda: trapft.frequencies(10**400, 1, 5), "start does not fit in a float64"),
    (lambda: trapft.frequencies(0, 1, 2**31), r"^Invalid frequency count: 2147483648 \(allowed 0 to 2147483647\)\.$"),
    (lambda: trapft.load("x", max_samples=-1), r"^Invalid maximum number of samples: -1 \(allowed 1 to 2147483647\)"),
])
def test_numbers_out_of_range_are_value_errors_with_the_value_and_range(call, text):
    with pytest.raises(ValueError, match=text):
        call()


@pytest.mark.parametrize("times, values, name", [
    (1.0, 2.0, "times"),
    (np.float64(1.0), [2.0], "times"),
    (np.array(1.0), [2.0], "times"),
    ([1.0], 2.0, "values"),
    ([1.0], np.array(2), "values"),
])
def test_scalars_are_not_samples(times, values, name):
    with pytest.raises(ValueError, match=f"^{name} must be at least one-dimensional"):
        trapft.spectrum(times, values, 0, 1, 3)


@pytest.mark.parametrize("times, refused", [
    ([0, 2**63 + 1, 0.5], True),
    ([0.5, 2**53 + 1], True),
    ([[0, 2**53 + 1], [0.5, 1.0]], True),
    ([0, 2**64 + 1], True),
    ((0, 10**400), True),
    ([0, 2**64, 0.5], False),  # a power of two: exact
    ([0, 2**53, 0.5], False),
    ([True, 2.5, np.int64(7)], False),
])
def test_python_integers_are_checked_like_integer_arrays(times, refused):
    values = np.ones(np.shape(times)[-1])
    if refused:
        with pytest.raises(ValueError, match="cannot represent exactly"):
            trapft.spectrum(times, values, 0, 1, 3)
    else:
        s = trapft.spectrum(times, values, 0, 1, 3)
        exact = trapft.spectrum(np.array(times, dtype=np.float64), values, 0, 1, 3)
        assert s.transform.tobytes() == exact.transform.tobytes()


def raises_section(function):
    """The exception names in a numpydoc Raises section."""
    section = function.__doc__.split("Raises\n    ------\n")[1].split("\n\n    ")[0]
    return {name for line in re.findall(r"^    (\w[\w, ]*)$", section, re.M) for name in line.split(", ")}


THREADS_WITHOUT_MEMORY = """
import resource, numpy as np, trapft
t = np.linspace(0, 1, 1000); x = np.ones(1000)
with open("/proc/self/statm") as statm:
    size = int(statm.read().split()[0]) * resource.getpagesize()
resource.setrlimit(resource.RLIMIT_AS, (size + (4 << 20), resource.RLIM_INFINITY))
try:
    trapft.spectrum(t, x, 0, 1, 3000, jobs=64)
    print("computed")
except Exception as error:
    print(type(error).__name__)
"""


def test_every_exception_raised_is_named_in_the_docstring():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", THREADS_WITHOUT_MEMORY], env=environment, text=True,
                         capture_output=True, timeout=120).stdout.strip()
    assert out == "computed" or out in raises_section(trapft.spectrum), out
    for function in (trapft.load, trapft.frequencies, trapft.spectrum):
        assert {"KeyboardInterrupt", "MemoryError", "ValueError", "TypeError"} <= raises_section(function)
    assert "RuntimeError" in raises_section(trapft.spectrum)


@pytest.mark.parametrize("duplicate", [
    lambda s: pickle.loads(pickle.dumps(s)),
    copy.deepcopy,
    copy.copy,
])
def test_a_copied_spectrum_stays_read_only(duplicate):
    s = duplicate(trapft.spectrum(t, x, 0, 1, 5))
    for array in (s.frequency, s.transform, s.magnitude):
        with pytest.raises(ValueError, match="read-only"):
            array[0] = 0
    assert s.transform.tobytes() == trapft.spectrum(t, x, 0, 1, 5).transform.tobytes()


def interrupting(call):
    """`call` under a timer whose handler raises after 20 ms: the seconds it
    took to stop (it must not run to its end)."""
    def handler(number, frame):
        raise Alarm

    started = time.monotonic()
    previous = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.02)
    try:
        with pytest.raises(Alarm):
            call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    return time.monotonic() - started


def test_long_frequencies_and_loads_stop_on_a_signal(tmp_path):
    assert interrupting(lambda: trapft.frequencies(0, 1, 2**28)) < 1.0  # 2 GB of lines
    big = tmp_path / "big.txt"
    with open(big, "w") as f:
        f.write("0.123456 1.5\n" * 4_000_000)  # 52 MB
    assert interrupting(lambda: trapft.load(big, max_samples=2**31 - 1)) < 1.0


def test_frequencies_in_chunks_give_the_bits_of_one_run():
    for count, part in [(3 << 20, (1, 1)), (3 << 20, (2, 3)), (5, (2, 2))]:
        lines = trapft.frequencies(-1.3, 7.9, count, part=part)
        first = trapft.frequencies(-1.3, 7.9, count, part=(1, 1))
        k, parts = part
        begin = (k - 1) * (count // parts) + min(k - 1, count % parts)
        assert lines.tobytes() == first[begin:begin + len(lines)].tobytes()
        step = (7.9 - -1.3) / (count - 1)
        assert first[1] == -1.3 + step and first[-1] == first[-2] + step


FREQUENCIES_WITHOUT_MEMORY = """
import resource, trapft
resource.setrlimit(resource.RLIMIT_AS, (2 << 30, resource.RLIM_INFINITY))
try:
    trapft.frequencies(0, 1, 2**31 - 1)
except MemoryError:
    print("refused")
"""


def test_frequencies_refuse_an_array_that_cannot_be_had():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", FREQUENCIES_WITHOUT_MEMORY], env=environment, text=True,
                         capture_output=True, timeout=60)
    assert out.stdout == "refused\n", out.stderr
