#!/usr/bin/python3
"""Checks that a fast run's lines lie within EPS × A of an exact run's.

    within_bound.py SAMPLES EPS EXACT FAST [--double]

SAMPLES is the sample file both runs read, EXACT and FAST their text output.
A = Σ |w_k x_k| with the trapezoid's weights, as the tool's bound states it.
Prints the largest |difference| ÷ A of the real and imaginary parts; exits 1
when it exceeds EPS (plus the printing's own rounding, 15 digits).
"""
import sys

import numpy as np


def main(argv):
    path, eps, exact_path, fast_path = argv[:4]
    numbers = np.array(open(path).read().split(), dtype=np.float64 if "--double" in argv else np.float32)
    t, x = numbers[0::2].astype(np.float64), numbers[1::2].astype(np.float64)
    if len(t) < 2:
        return 0
    after = np.concatenate([t[1:], t[-1:]])
    before = np.concatenate([t[:1], t[:-1]])
    total = np.sum(np.abs((after - before) / 2 * x))
    exact = np.loadtxt(exact_path, ndmin=2)
    fast = np.loadtxt(fast_path, ndmin=2)
    if exact.shape != fast.shape or not np.array_equal(exact[:, 0], fast[:, 0]):
        print(f"{fast_path}: not the lines of {exact_path}")
        return 1
    worst = np.max(np.abs(fast[:, 1:3] - exact[:, 1:3])) / total
    print(f"{fast_path}: worst |difference| / A {worst:.3g} (EPS {eps})")
    return 0 if worst <= float(eps) + 2e-15 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
