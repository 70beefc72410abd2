"""The module's numbers against the tool's bytes, and against each other
across dtypes, strides, batches, jobs and parts."""
import math
import subprocess

import numpy as np
import pytest

import trapft
from conftest import EXAMPLES, bits


def c_text(value):
    """"%.15g" as C prints it: Python prints every NaN as "nan", C a NaN with
    its sign bit as "-nan"."""
    if math.isnan(value):
        return "-nan" if math.copysign(1.0, value) < 0 else "nan"
    return "%.15g" % value


def module_text(s):
    f, X = s
    return "".join(
        f"{c_text(a)} {c_text(b)} {c_text(c)} {c_text(d)}\n"
        for a, b, c, d in zip(f.tolist(), X.real.tolist(), X.imag.tolist(), s.magnitude.tolist())
    ).encode()


def write_random(path, seed, special=False):
    """Uneven, partly decreasing times and values of every magnitude, as text."""
    rng = np.random.default_rng(seed)
    n = int(rng.integers(2, 3000))
    t = np.cumsum(rng.exponential(0.01, n) * rng.choice([1, 1, 1, -1], n))
    x = rng.normal(0, 1, n) * 10.0 ** rng.integers(-5, 5, n)
    if special:
        x[n // 2] = np.nan
    path.write_text("".join(f"{a:.9g} {b:.9g}\n" for a, b in zip(t, x)))
    return path


# Options of the tool, with the module's arguments for the same run.
RUNS = [
    ([], {}),
    (["--tolerance=1e-9"], {"tolerance": 1e-9}),
    (["--jobs=2"], {"jobs": 2}),
    (["--part=2/3"], {"part": (2, 3)}),
    (["-e", "1e-12", "--jobs=2", "--part=1/4"], {"tolerance": 1e-12, "jobs": 2, "part": (1, 4)}),
    (["--double", "--part=3/3", "-j0"], {"double": True, "part": (3, 3), "jobs": 0}),
]
GRIDS = [("0", "5", "101"), ("-7", "300", "2001"), ("0.1", "0.3", "7"), ("5", "-0.5", "40"), ("3", "3", "1")]
FILES = sorted(p.name for p in EXAMPLES.glob("*.txt")) + ["random-1", "random-2", "random-nan"]


@pytest.mark.parametrize("name", FILES)
@pytest.mark.parametrize("run", range(len(RUNS)))
def test_the_tools_bytes(tool, tmp_path, name, run):
    if name.startswith("random"):
        path = write_random(tmp_path / "samples.txt", len(name) + run, special=name.endswith("nan"))
    else:
        path = EXAMPLES / name
    options, arguments = RUNS[run]
    grid = GRIDS[(run + len(name)) % len(GRIDS)]
    expected = subprocess.run([tool, *options, str(path), *grid], capture_output=True, check=True).stdout

    arguments = dict(arguments)
    double = arguments.pop("double", False)
    # The tool reads its frequencies through single precision unless --double.
    start, end = (float(v) if double else float(np.float32(v)) for v in grid[:2])
    t, x = trapft.load(path, double=double)
    s = trapft.spectrum(t, x, start, end, int(grid[2]), **arguments)
    assert module_text(s) == expected
    assert bits(trapft.frequencies(start, end, int(grid[2]), part=arguments.get("part"))) == bits(s.frequency)


def test_the_grid_is_a_running_sum_cut_into_parts():
    f = trapft.frequencies(0, 10, 1001)
    assert "%.15g" % f[-1] == "9.99999999999983" and not f.flags.writeable
    parts = [trapft.frequencies(0, 10, 1001, part=(k, 7)) for k in range(1, 8)]
    assert [len(p) for p in parts] == [143] * 7 and bits(np.concatenate(parts)) == bits(f)
    assert len(trapft.frequencies(0, 1, 0)) == 0 and trapft.frequencies(2, 9, 1).tolist() == [2.0]


def test_dtypes_and_strides_give_the_float64_numbers(two_tone):
    t, x = two_tone  # read through single precision: float32 holds them exactly
    rng = np.random.default_rng(5)
    ti = np.cumsum(rng.integers(1, 9, 500))
    xi = rng.integers(-1000, 1000, 500)
    xh = (xi / 8).astype(np.float16)
    cases = [  # (float64 times, float64 values, the same numbers otherwise)
        (t, x, t.astype(np.float32), x.astype(np.float32)),
        (t, x, t.astype(">f8"), x),
        (t, x, np.repeat(t, 2)[::2], np.stack([x, x], axis=1)[:, 1]),
        (t, x, list(t), x.tolist()),
        (ti * 1.0, xi * 1.0, ti.astype(np.int16), xi.astype(np.int32)),
        (ti * 1.0, xi * 1.0, ti.astype(np.uint64), xi.astype(np.int64)),
        (ti * 1.0, xh.astype(np.float64), ti.astype(np.longdouble), xh),
    ]
    s = trapft.spectrum(t, x, 0, 3, 31)
    assert (s.frequency.dtype, s.transform.dtype, s.magnitude.dtype) == (np.float64, np.complex128, np.float64)
    assert all(a.flags.owndata and not a.flags.writeable for a in (s.frequency, s.transform, s.magnitude))
    for t64, x64, t_other, x_other in cases:
        expected = trapft.spectrum(t64, x64, 0, 3, 31)
        got = trapft.spectrum(t_other, x_other, 0, 3, 31)
        assert bits(got.transform) == bits(expected.transform) and bits(got.magnitude) == bits(expected.magnitude)
    large = np.array([2**60, 2**60 + 2**10], dtype=np.int64)  # exact in float64
    assert trapft.spectrum(large, large, 0, 0, 1).transform[0] == 0.5 * 2**10 * (2.0**61 + 2**10)


@pytest.mark.parametrize("options", [{}, {"tolerance": 1e-9, "jobs": 2}, {"part": (2, 3), "jobs": 0}])
@pytest.mark.parametrize("with_nan", [False, True])
def test_batch_rows_are_the_one_row_calls(two_tone, options, with_nan):
    t, x = two_tone
    # All finite, the fast evaluation spreads the rows together; with NaN, row by row.
    rows = np.stack([x, -2 * x, np.where(t > 5, np.nan if with_nan else 1e200, x), np.zeros_like(x)])
    batch = trapft.spectrum(t, np.asfortranarray(rows), -1, 6, 301, **options)
    assert batch.transform.shape == batch.magnitude.shape == (4, len(batch.frequency))
    for row, values in enumerate(rows):
        one = trapft.spectrum(t, values, -1, 6, 301, **options)
        assert bits(one.frequency) == bits(batch.frequency)
        assert bits(one.transform) == bits(batch.transform[row]) and bits(one.magnitude) == bits(batch.magnitude[row])
    none = trapft.spectrum(t, rows[:0], -1, 6, 301, **options)
    assert none.transform.shape == (0, len(batch.frequency)) and bits(none.frequency) == bits(batch.frequency)


def test_contiguous_float64_is_not_copied():
    import tracemalloc

    t = np.linspace(0.0, 1.0, 2 * 10**6)
    t.setflags(write=False)
    tracemalloc.start()
    peaks = []
    for times in (t, t[::2]):  # the view is strided: copied, and the copy shows
        tracemalloc.reset_peak()
        before = tracemalloc.get_traced_memory()[0]
        trapft.spectrum(times, times, 0, 1, 1)
        peaks.append(tracemalloc.get_traced_memory()[1] - before)
    tracemalloc.stop()
    assert peaks[0] < 1 << 16 and peaks[1] >= t.nbytes
