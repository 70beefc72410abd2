#!/usr/bin/python3
"""Prints the wide difference stencil's weights for spectrum/nufft/stencils.hpp.

    wide_stencil.py [REACH] [SPAN]

Term 1 of a line comes from term 0's lines m − K … m + K (K = REACH) as
Σ_j α_j (σ^j W_(m+j) − σ^(−j) W_(m−j)), which takes a sample at phase θ per
line to 2 Σ_j α_j sin(jθ). The weights make that as close to θ as they can,
relatively, for |θ| ≤ SPAN (radians): Lawson's iteration on weighted least
squares drives the largest relative miss down. Prints the weights as C++
doubles, the largest relative miss on a fine grid and 2 Σ |α_j|; the unit
test measures the printed weights again, in long double.
"""
import sys

import numpy as np


def design(reach, span):
    theta = np.concatenate([span * np.cos(np.linspace(0, np.pi / 2, 6000)), np.linspace(1e-3, span, 6000)])
    theta = theta[theta > 1e-4]
    basis = np.sin(np.outer(theta, np.arange(1, reach + 1))) / theta[:, None]
    emphasis = np.full(theta.size, 1.0 / theta.size)
    for _ in range(400):
        root = np.sqrt(emphasis)
        b = np.linalg.lstsq(basis * root[:, None], root, rcond=None)[0]
        miss = np.abs(basis @ b - 1.0)
        emphasis *= miss
        emphasis /= emphasis.sum()
    return b / 2  # α_j


def main(argv):
    reach = int(argv[1]) if len(argv) > 1 else 12
    span = float(argv[2]) if len(argv) > 2 else 2.0
    alpha = design(reach, span)
    theta = np.linspace(1e-6, span, 400001)
    miss = np.abs(2 * np.sin(np.outer(theta, np.arange(1, reach + 1))) @ alpha - theta) / theta
    print("inline constexpr double wide_weights[wide_reach] = {")
    print(",\n".join(f"    {a!r}" for a in alpha) + "};")
    print(f"// largest relative miss {miss.max():.3e}, 2 Σ |α_j| {2 * np.abs(alpha).sum():.4f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
