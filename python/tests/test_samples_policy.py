"""What reaches the sum: NaN policies, masked arrays, sorting, units, each against the call on the samples it keeps."""
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import trapft
from conftest import bits

T = np.linspace(0.0, 10.0, 201) + np.sin(np.arange(201)) * 0.01  # uneven, ascending
X = np.cos(2 * np.pi * 1.5 * T)
GRID = (0.0, 5.0, 51)


def with_nan(array, *indices):
    array = array.copy()
    array[list(indices)] = np.nan
    return array


def same(got, want):
    assert bits(got.frequency) == bits(want.frequency)
    assert bits(got.transform) == bits(want.transform) and bits(got.magnitude) == bits(want.magnitude)


def kept(t, x, drop):
    keep = np.ones(len(t), dtype=bool)
    keep[list(drop)] = False
    return t[keep], x[..., keep]


# (name, times, values, options, samples the result must equal: (times, values) or a function of nothing)
CASES = [
    ("omit a NaN value", T, with_nan(X, 17), {"nan_policy": "omit"}, kept(T, X, [17])),
    ("omit NaN times", with_nan(T, 0, 200), X, {"nan_policy": "omit"}, kept(T, X, [0, 200])),
    ("omit, then sort", with_nan(T[::-1], 3), X[::-1], {"nan_policy": "omit", "sort": True}, kept(T, X, [197])),
    ("masked values", T, np.ma.masked_array(X, mask=np.arange(201) % 50 == 7), {}, kept(T, X, [7, 57, 107, 157])),
    ("masked times", np.ma.masked_array(T, mask=np.arange(201) == 9), X, {"nan_policy": "raise"}, kept(T, X, [9])),
    ("sort a shuffled series", T[np.random.default_rng(1).permutation(201)],
     X[np.random.default_rng(1).permutation(201)], {"sort": True}, (T, X)),
    ("propagate is today's call", T, with_nan(X, 5), {}, (T, with_nan(X, 5))),
]


def evaluations():
    """The exact evaluation, and the fast one where it is built."""
    return [None, 1e-9] if trapft.fast_evaluation_available() else [None]


@pytest.mark.parametrize("tolerance", evaluations())
@pytest.mark.parametrize("name, t, x, options, want", CASES, ids=[c[0] for c in CASES])
def test_policies_evaluate_the_samples_kept(name, t, x, options, want, tolerance):
    same(trapft.spectrum(t, x, *GRID, tolerance=tolerance, **options), trapft.spectrum(*want, *GRID, tolerance=tolerance))


@pytest.mark.parametrize("tolerance", evaluations())
def test_a_batch_omits_row_by_row(tolerance):
    rows = np.vstack([X, with_nan(X, 40), with_nan(X, 0, 200), with_nan(X, 80)])
    clean = np.vstack([X, 2 * X])  # rows that keep the same samples: one batch call
    for t, rows, drops in ((T, rows, [[], [40], [0, 200], [80]]),
                           (with_nan(T, 100), rows, [[100], [40, 100], [0, 100, 200], [80, 100]]),
                           (with_nan(T, 100), clean, [[100], [100]])):
        got = trapft.spectrum(t, rows, *GRID, nan_policy="omit", tolerance=tolerance)
        for r, drop in enumerate(drops):
            one = trapft.spectrum(*kept(T, rows[r], drop), *GRID, tolerance=tolerance)
            assert bits(got.transform[r]) == bits(one.transform) and bits(got.magnitude[r]) == bits(one.magnitude)


def test_sort_is_stable_on_equal_times():
    t = np.array([0.0, 1.0, 1.0, 2.0, 1.0])
    x = np.array([1.0, 2.0, 3.0, 4.0, 5.0])
    same(trapft.spectrum(t, x, *GRID, sort=True), trapft.spectrum(t[[0, 1, 2, 4, 3]], x[[0, 1, 2, 4, 3]], *GRID))


@pytest.mark.parametrize("values, where", [(with_nan(X, 30), "sample 30"),
                                           (np.vstack([X, with_nan(X, 12, 90)]), "sample 12 of row 1")])
def test_raise_names_the_first_nan(values, where):
    with pytest.raises(ValueError, match=f"NaN in the time or value of {where} "):
        trapft.spectrum(T, values, *GRID, nan_policy="raise")


def test_unknown_policy_and_units_are_refused():
    with pytest.raises(ValueError, match="nan_policy must be one of 'propagate', 'omit', 'raise'"):
        trapft.spectrum(T, X, *GRID, nan_policy="ignore")

    class Quantity(np.ndarray):  # what a unit-carrying array looks like to the module
        unit = "d"

    with pytest.raises(TypeError, match=r"times carry a unit \(d\): pass times.to_value\(unit\)"):
        trapft.spectrum(T.view(Quantity), X, *GRID)
    units = pytest.importorskip("astropy.units")
    with pytest.raises(TypeError, match="values carry a unit"):
        trapft.spectrum(T, X * units.Jy, *GRID)


def test_propagate_with_a_tolerance_gives_the_exact_bits():
    if not trapft.fast_evaluation_available():
        pytest.skip("built without the fast evaluation")
    for x in (with_nan(X, 100), np.where(np.arange(201) == 3, np.inf, X)):
        same(trapft.spectrum(T, x, *GRID, tolerance=1e-9), trapft.spectrum(T, x, *GRID))


def test_the_namespace_and_types_show_the_api():
    assert dir(trapft) == sorted(trapft.__all__)
    pytest.importorskip("mypy")
    program = "import trapft\nf, X = trapft.spectrum([0.0], [1.0], 0, 1, 2)\nreveal_type(f)\nreveal_type(X)\n"
    environment = dict(os.environ)
    package_dir = str(pathlib.Path(trapft.__file__).parents[1])
    if "-packages" not in package_dir:  # a build tree; mypy finds an install by itself
        environment["MYPYPATH"] = package_dir
    run = subprocess.run([sys.executable, "-m", "mypy", "--follow-imports=silent", "--cache-dir=/dev/null", "-c", program],
                         capture_output=True, text=True, env=environment)
    revealed = [line for line in run.stdout.splitlines() if "Revealed type" in line]
    assert len(revealed) == 2 and "floating" in revealed[0] and "complexfloating" in revealed[1], run.stdout
