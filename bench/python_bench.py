#!/usr/bin/python3
"""Speed goals of the Python module, as ratios measured side by side.

Usage: /usr/bin/python3 bench/python_bench.py BUILD_DIR [--rounds N] [--quick]

BUILD_DIR is a build configured with -DTRAPFT_PYTHON=ON (it holds the tool,
python/trapft and python/trapft_core_timing). Each comparison runs its
candidates in turns, the order alternating from round to round, and reports
the median of each and their ratio. The machine's load shows in every round:
compare ratios, not seconds.
"""
import os

# One thread for numpy's matrix product too, so that the comparison is core to
# core (set before numpy is imported).
for variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(variable, "1")

import argparse
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

try:
    import numpy as np
except ImportError:
    sys.exit(f"{sys.executable} has no numpy: run this with /usr/bin/python3 (apt-get install python3-numpy)")


def timed(call):
    started = time.perf_counter()
    result = call()
    return time.perf_counter() - started, result


def compare(title, candidates, rounds, goal=None):
    """candidates: (name, function returning its seconds). Prints medians and the
    ratio of the first candidate's to the second's."""
    seconds = {name: [] for name, _ in candidates}
    for round_ in range(rounds):
        order = candidates if round_ % 2 == 0 else candidates[::-1]
        for name, run in order:
            seconds[name].append(run())
    (first, _), (second, _) = candidates
    a, b = statistics.median(seconds[first]), statistics.median(seconds[second])
    print(f"{title}\n  {first}: {a:.4g} s   {second}: {b:.4g} s   ratio {a / b:.3f}"
          + (f"   (goal: {goal})" if goal else ""), flush=True)
    return a / b


def write_samples(path, n, seed):
    rng = np.random.default_rng(seed)
    t = np.cumsum(rng.uniform(0.5, 1.5, n)) / n * 10
    x = np.sin(2 * np.pi * 1.5 * t) + 0.5 * rng.normal(size=n)
    np.savetxt(path, np.column_stack([t, x]), fmt="%.9g")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="smaller sizes, to check that the script runs")
    arguments = parser.parse_args()
    build = arguments.build.resolve()
    sys.path.insert(0, str(build / "python"))
    import trapft

    tool, core = str(build / "trapft"), str(build / "python" / "trapft_core_timing")
    rounds, quick = arguments.rounds, arguments.quick
    print(f"trapft {trapft.__version__}, {sys.executable}, numpy {np.__version__}")
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        signal = scratch / "signal.txt"
        write_samples(signal, 16384, 1)
        t, x = trapft.load(signal)

        def through_tool(path, start, end, count, *options):
            def run():
                seconds, _ = timed(lambda: np.loadtxt(subprocess.run(
                    [tool, *options, str(path), start, end, str(count)], capture_output=True, check=True
                ).stdout.splitlines(), ndmin=2))
                return seconds
            return run

        def call(t, x, start, end, count, **options):
            return lambda: timed(lambda: trapft.spectrum(t, x, float(np.float32(start)), float(np.float32(end)),
                                                          count, **options))[0]

        def core_alone(path, start, end, count, tolerance=0.0, jobs=1):
            return lambda: float(subprocess.run([core, str(path), start, end, str(count), str(tolerance), str(jobs)],
                                                capture_output=True, check=True, text=True).stdout)

        count = 101 if quick else 401
        compare(f"Exact, 16384 samples x {count} lines: the module's call against the core alone",
                [("call", call(t, x, "0", "50", count)), ("core", core_alone(signal, "0", "50", count))],
                rounds, "at most 1.05")

        count = 10**5 if quick else 10**6
        compare(f"Fast (1e-12), 16384 samples x {count} lines: the tool and numpy.loadtxt against the call",
                [("subprocess+loadtxt", through_tool(signal, "0", "5000", count, "-e", "1e-12")),
                 ("call", call(t, x, "0", "5000", count, tolerance=1e-12))], rounds, "at least 10")

        pair = scratch / "pair.txt"
        pair.write_text("0 1\n1 0.5\n")
        tp, xp = trapft.load(pair)
        count = 150000 if quick else 1500000
        compare(f"Exact, 2 samples x {count} lines: the tool and numpy.loadtxt against the call",
                [("subprocess+loadtxt", through_tool(pair, "0", "5", count)), ("call", call(tp, xp, "0", "5", count))],
                rounds, "at least 5")

        n, lines = (10**5, 10**4) if quick else (10**6, 10**5)
        rng = np.random.default_rng(2)
        tb = np.cumsum(rng.uniform(0.5, 1.5, n)) / n * 100
        xb = rng.normal(size=(8, n))
        compare(f"Fast (1e-9), 8 rows of {n} samples x {lines} lines: one batch call against eight calls",
                [("batch", lambda: timed(lambda: trapft.spectrum(tb, xb, 0, 500, lines, tolerance=1e-9))[0]),
                 ("eight calls", lambda: timed(lambda: [trapft.spectrum(tb, row, 0, 500, lines, tolerance=1e-9)
                                                        for row in xb])[0])],
                rounds, "at most 0.6")

        n, lines = (10**5, 10**4) if quick else (10**6, 10**5)
        tn = np.cumsum(rng.uniform(0.5, 1.5, n)) / n * 1000
        xn = rng.normal(size=n)
        xnan = xn.copy()
        xnan[n // 2] = np.nan
        compare(f"Fast (1e-9), {n} samples x {lines} lines: a NaN among the values against none",
                [("with a NaN", lambda: timed(lambda: trapft.spectrum(tn, xnan, 0, 1000, lines, tolerance=1e-9))[0]),
                 ("without", lambda: timed(lambda: trapft.spectrum(tn, xn, 0, 1000, lines, tolerance=1e-9))[0])],
                rounds, "at most 2")

        small_calls(rounds, quick)
        exact_batch(rounds, quick)
        frequency_lists(tool, scratch, rounds, quick)


def small_calls(rounds, quick):
    """500 samples x 2000 frequencies at 1e-9, called in a loop, against
    astropy's extirpolation sum (LombScargle's method='fast') at its defaults."""
    import trapft
    try:
        from astropy.timeseries.periodograms.lombscargle.implementations.utils import trig_sum
    except ImportError:
        print("Small calls: astropy is missing (apt-get install python3-astropy); skipped")
        return
    rng = np.random.default_rng(3)
    t = np.sort(rng.uniform(0, 100, 500))
    x = rng.normal(size=500)
    df, lines, calls = 0.01, 2000, 50 if quick else 500

    def loop(call):
        return lambda: timed(lambda: [call() for _ in range(calls)])[0] / calls

    compare(f"500 samples x {lines} frequencies at 1e-9, per call in a loop: trapft against astropy's trig_sum",
            [("trapft", loop(lambda: trapft.spectrum(t, x, 0, (lines - 1) * df, lines, tolerance=1e-9))),
             ("trig_sum", loop(lambda: trig_sum(t, x, df, lines)))], rounds, "at most 0.5")


def exact_batch(rounds, quick):
    """An exact batch against a numpy matrix product over the same
    exponentials (with the trapezoid's weights), one thread each."""
    import trapft
    rows, n, lines = (20, 2000, 2001) if quick else (100, 2000, 20001)
    rng = np.random.default_rng(4)
    t = np.sort(rng.uniform(0, 100, n))
    x = rng.normal(size=(rows, n))
    f = trapft.frequencies(0, 50, lines)
    step = np.diff(t)
    w = np.concatenate([[step[0] / 2], (step[:-1] + step[1:]) / 2, [step[-1] / 2]])

    def product():
        return (x * w) @ np.exp(-2j * np.pi * np.outer(t, f))

    compare(f"Exact batch, {rows} rows x {n} samples x {lines} frequencies: trapft against a numpy product",
            [("trapft", lambda: timed(lambda: trapft.spectrum(t, x, 0, 50, lines))[0]),
             ("numpy", lambda: timed(product)[0])], rounds, "at most 0.5")


def exact_sums(t, c, f):
    """Σ c_k e^(−2πi f t_k) with f·t_k exact (a two-product by Veltkamp
    splitting) and reduced modulo 1 before the angle, in long double."""
    def split(a):
        big = a * 134217729.0
        high = big - (big - a)
        return high, a - high
    ft = np.outer(f, t)
    fh, fl = split(np.broadcast_to(f[:, None], ft.shape))
    th, tl = split(np.broadcast_to(t[None, :], ft.shape))
    error = ((fh * th - ft) + fh * tl + fl * th) + fl * tl
    cycles = (ft - np.round(ft)).astype(np.longdouble) + error
    angle = 2 * np.pi * np.longdouble(1) * cycles
    return (np.cos(angle) @ c.astype(np.longdouble)) - 1j * (np.sin(angle) @ c.astype(np.longdouble))


def worst_error(t, x, f, transform, rng, picks=100):
    """max |ΔRe|, |ΔIm| ÷ A over `picks` lines drawn at random."""
    w = np.zeros_like(t)
    w[1:] += np.diff(t) / 2
    w[:-1] += np.diff(t) / 2
    c = w * x
    lines = rng.choice(len(f), size=min(picks, len(f)), replace=False)
    reference = exact_sums(t, c, f[lines])
    got = transform[lines]
    return float(max(np.max(np.abs(got.real - reference.real)), np.max(np.abs(got.imag - reference.imag)))
                 / np.sum(np.abs(c)))


def frequency_lists(tool, scratch, rounds, quick):
    """Lists of frequencies against the grid of the same count and span, in
    the tool and the module; their errors against exact sums."""
    import trapft
    rng = np.random.default_rng(25)
    n, count = 16384, (10**5 if quick else 10**6)
    t = np.sort(rng.uniform(0, 100, n))
    x = rng.normal(size=n)
    samples, listed = scratch / "lists.txt", scratch / "frequencies.txt"
    np.savetxt(samples, np.column_stack([t, x]), fmt="%.17g")
    uniform = rng.uniform(0, 5000, count)
    np.savetxt(listed, uniform, fmt="%.17g")

    def process(*arguments):
        return lambda: timed(lambda: subprocess.run([tool, "--double", "-e", "1e-12", "--format=npy", *arguments],
                                                    stdout=subprocess.DEVNULL, check=True))[0]

    compare(f"The tool, {n} samples, {count} uniform random frequencies in [0, 5000] at 1e-12, npy: list against grid",
            [("list", process(f"--frequencies={listed}", str(samples))),
             ("grid", process(str(samples), "0", "5000", str(count)))], rounds, "at most 2")
    linear = np.linspace(0, 5000, count)
    compare(f"The module, {n} samples, numpy.linspace(0, 5000, {count}) at 1e-12: list against grid",
            [("list", lambda: timed(lambda: trapft.spectrum(t, x, frequencies=linear, tolerance=1e-12))[0]),
             ("grid", lambda: timed(lambda: trapft.spectrum(t, x, 0.0, 5000.0, count, tolerance=1e-12))[0])],
            rounds, "at most 1.2")
    for name, order in (("descending", np.sort(uniform)[::-1].copy()), ("shuffled", rng.permutation(uniform))):
        ascending = np.sort(uniform)
        compare(f"The module, {n} samples, {count} random frequencies at 1e-12: {name} against sorted",
                [(name, lambda: timed(lambda: trapft.spectrum(t, x, frequencies=order, tolerance=1e-12))[0]),
                 ("sorted", lambda: timed(lambda: trapft.spectrum(t, x, frequencies=ascending, tolerance=1e-12))[0])],
                rounds, "at most 1.3")
    big, lines = (10**5, 10**4) if quick else (10**6, 10**5)
    tb = np.sort(rng.uniform(0, 1000, big))
    xb = rng.normal(size=big)
    random_list = rng.uniform(0, 1000, lines)
    compare(f"The module, {big} samples, {lines} random frequencies in [0, 1000] at 1e-12: list against grid",
            [("list", lambda: timed(lambda: trapft.spectrum(tb, xb, frequencies=random_list, tolerance=1e-12))[0]),
             ("grid", lambda: timed(lambda: trapft.spectrum(tb, xb, 0.0, 1000.0, lines, tolerance=1e-12))[0])],
            rounds, "at most 2")

    shapes = {
        "uniform [0, 5000]": uniform,
        "linspace": linear,
        "clustered": np.concatenate([c + 1e-7 * rng.normal(size=1000) for c in rng.uniform(0, 5000, 100)]),
        "log-spaced, 12 decades": np.logspace(-6, 6, 10**5),
        "duplicates and signs": np.repeat(rng.uniform(-3000, 3000, 10**4), 3) * rng.choice([-1, 1], 3 * 10**4),
        "huge |f·t|": 1e9 + rng.uniform(0, 1, 10**4),
    }
    for eps in (1e-12, 1e-9, 1e-6):
        worst = {name: worst_error(t, x, f, trapft.spectrum(t, x, frequencies=f, tolerance=eps).transform, rng)
                 for name, f in shapes.items()}
        print(f"Error ÷ A at {eps:g} (100 random lines of each list): "
              + ", ".join(f"{name} {value:.2g}" for name, value in worst.items()), flush=True)


if __name__ == "__main__":
    main()
