"""Frequency lists and the caller's weights: against direct numpy sums, the grid's bits, batches and refusals."""
import numpy as np
import pytest

import trapft
from conftest import bits

RNG = np.random.default_rng(7)
T = np.sort(RNG.uniform(0.0, 20.0, 300))
X = np.cos(2 * np.pi * 0.7 * T) + RNG.normal(size=300)
W = RNG.uniform(0.5, 2.0, 300)
F = np.concatenate([RNG.uniform(-5, 5, 200), [0.0, 0.7, 0.7, -0.7], np.logspace(-3, 3, 50)])
fast = pytest.mark.skipif(not trapft.fast_evaluation_available(), reason="built without the fast evaluation")


def direct(t, x, w, f):
    return np.exp(-2j * np.pi * np.outer(f, t)) @ (w * x)


@pytest.mark.parametrize("tolerance", [None, pytest.param(1e-6, marks=fast), pytest.param(1e-12, marks=fast)])
@pytest.mark.parametrize("weights", ["ones", "random", "trapezoid"])
def test_lists_and_weights_against_a_direct_sum(weights, tolerance):
    w = {"ones": np.ones_like(T), "random": W, "trapezoid": None}[weights]
    if w is None:  # the trapezoid's weights, as numpy would write them
        w = np.zeros_like(T)
        w[1:] += np.diff(T) / 2
        w[:-1] += np.diff(T) / 2
    s = trapft.spectrum(T, X, frequencies=F, weights=w if weights != "trapezoid" else "trapezoid", tolerance=tolerance)
    assert bits(s.frequency) == bits(F)
    A = np.sum(np.abs(w * X))
    # numpy's phases 2π·f·t carry its rounding of f·t: about u·|f·t| radians.
    numpy_error = 4 * 2**-53 * 2 * np.pi * np.max(np.abs(F)) * np.max(np.abs(T))
    allowed = ((tolerance or 0.0) + 1e-14 + numpy_error) * A
    assert np.max(np.abs(s.transform - direct(T, X, w, F))) <= allowed


def test_a_listed_frequency_gives_the_grid_line():
    grid = trapft.spectrum(T, X, -3.0, 3.0, 601)
    listed = trapft.spectrum(T, X, frequencies=grid.frequency[::-1])
    assert bits(listed.transform[::-1]) == bits(grid.transform)


@pytest.mark.parametrize("tolerance", [None, pytest.param(1e-9, marks=fast)])
def test_batches_parts_and_jobs_of_a_list(tolerance):
    rows = np.stack([X, -2 * X, np.sin(T)])
    whole = trapft.spectrum(T, rows, frequencies=F, weights=W, tolerance=tolerance)
    for r in range(3):
        alone = trapft.spectrum(T, rows[r], frequencies=F, weights=W, tolerance=tolerance)
        assert bits(whole.transform[r]) == bits(alone.transform)
    parts = [trapft.spectrum(T, X, frequencies=F, weights=W, tolerance=tolerance, part=(k, 3), jobs=2) for k in (1, 2, 3)]
    one = trapft.spectrum(T, X, frequencies=F, weights=W, tolerance=tolerance)
    assert bits(np.concatenate([p.transform for p in parts])) == bits(one.transform)


def test_weights_follow_their_samples_through_omit_and_sort():
    x = X.copy()
    x[[3, 50]] = np.nan
    order = RNG.permutation(len(T))
    got = trapft.spectrum(T[order], x[order], frequencies=F, weights=W[order], nan_policy="omit", sort=True)
    keep = ~np.isnan(x)
    want = trapft.spectrum(T[keep], X[keep], frequencies=F, weights=W[keep])
    assert bits(got.transform) == bits(want.transform)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: trapft.spectrum(T, X, 0, 1, 3, frequencies=F), TypeError, "not both"),
        (lambda: trapft.spectrum(T, X), TypeError, "or frequencies"),
        (lambda: trapft.spectrum(T, X, 0, 1), TypeError, "or frequencies"),
        (lambda: trapft.spectrum(T, X, frequencies=F.reshape(2, -1)), ValueError, "one-dimensional"),
        (lambda: trapft.spectrum(T, X, frequencies=F, weights=W[:-1]), ValueError, "one per sample"),
        (lambda: trapft.spectrum(T, X, frequencies=F, weights="simpson"), ValueError, "'trapezoid'"),
        (lambda: trapft.spectrum(T, X, frequencies=["a"]), TypeError, "real numbers"),
    ],
)
def test_refusals(call, error, message):
    with pytest.raises(error, match=message):
        call()
