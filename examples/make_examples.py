#!/usr/bin/env python3
"""Writes the example sample files (all but two_tone.txt) into a directory.

    python3 examples/make_examples.py [DIRECTORY]     (default: this script's own)

Times are uneven (seeded random jitter, so every run writes the same bytes).
Each time is rounded to single precision before its value is computed, so the
file holds exactly the times trapft reads, and the values belong to them.
"""
import math
import os
import random
import struct
import sys

# Width of the Gaussian pulse; tests/example_test.cpp relies on it.
GAUSSIAN_SIGMA = 0.5


def single(v):
    """v rounded to the nearest single-precision number, as trapft reads it."""
    return struct.unpack("f", struct.pack("f", v))[0]


def uneven_times(start, end, count, rng):
    """`count` increasing times from start to end: an even grid, each inner
    point moved at random by up to 40 % of the step."""
    step = (end - start) / (count - 1)
    times = [start]
    for k in range(1, count - 1):
        times.append(start + (k + 0.8 * (rng.random() - 0.5)) * step)
    times.append(end)
    return [single(t) for t in times]


def write(directory, name, times, signal):
    with open(os.path.join(directory, name), "w") as out:
        for t in times:
            out.write("%.9g %.9g\n" % (t, signal(t)))


def gaussian(t):
    return math.exp(-t * t / (2 * GAUSSIAN_SIGMA * GAUSSIAN_SIGMA))


def two_tone(t):
    return math.sin(2 * math.pi * 2 * t) + 0.5 * math.cos(2 * math.pi * 3.25 * t)


def decaying(t):
    return math.exp(-t / 2) * math.cos(2 * math.pi * 3 * t)


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(directory, exist_ok=True)

    # The pulse over ±8σ, where it has fallen below 1.3e-14, at three densities.
    for count in (100, 400, 1600):
        times = uneven_times(-4.0, 4.0, count, random.Random(count))
        write(directory, "gaussian_%d.txt" % count, times, gaussian)

    # 2 and 3.25 cycles per unit over 0…20 with three stretches not sampled.
    gaps = ((4.0, 6.5), (11.0, 12.0), (15.0, 17.5))
    times = [t for t in uneven_times(0.0, 20.0, 801, random.Random(2))
             if not any(a < t < b for a, b in gaps)]
    write(directory, "two_tone_gaps.txt", times, two_tone)

    # 3 cycles per unit, amplitude halving every 2·ln 2 units, over 0…20.
    times = uneven_times(0.0, 20.0, 1001, random.Random(3))
    write(directory, "decaying.txt", times, decaying)


if __name__ == "__main__":
    main()
