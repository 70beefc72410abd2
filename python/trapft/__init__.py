"""Trapezoidal Fourier transform of unevenly sampled data, on numpy arrays.

The continuous-time spectrum X(f) = ∫ x(t)·e^(−i·2πf·t) dt of samples
(t, x), which need not be evenly spaced, by the trapezoidal rule over the
samples in the order given, at evenly stepped frequencies: the same numbers,
bit for bit, as the command-line tool ``trapft`` prints.

Functions
---------
load
    Read a sample file as the tool reads it.
spectrum
    Evaluate the spectrum, exactly or within a tolerance.
frequencies
    The frequency grid alone.
fast_evaluation_available
    Whether ``tolerance=`` is built in.
"""

from __future__ import annotations

import numbers
import operator
import os
from typing import TYPE_CHECKING, Iterator, Optional, Tuple, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

from . import _core

__all__ = ["Spectrum", "fast_evaluation_available", "frequencies", "load", "spectrum", "__version__"]

__version__: str = _core.__version__


def __dir__() -> list:
    """The API, without the modules and names this one imports."""
    return sorted(__all__)

_INT32_MAX = 2**31 - 1

PathLike = Union[str, "os.PathLike[str]"]


if TYPE_CHECKING:
    # To a type checker a Spectrum unpacks as the pair it gives at run time,
    # each with its dtype: ``f, X = s`` keeps X complex.
    _Pair = Tuple[NDArray[np.float64], NDArray[np.complex128]]
else:
    _Pair = object


class Spectrum(_Pair):
    """The result of :func:`spectrum`: frequencies, transform and magnitude.

    Attributes
    ----------
    frequency : numpy.ndarray
        float64, shape (lines,): the frequency of each line, in cycles per
        unit of the times.
    transform : numpy.ndarray
        complex128, shape (lines,), or (rows, lines) for a batch: X(f), whose
        real part is ∫x·cos and imaginary part −∫x·sin.
    magnitude : numpy.ndarray
        float64, the shape of `transform`: sqrt(real² + imaginary²), as the
        tool computes it.

    All three are read-only. A Spectrum unpacks as ``(frequency, transform)``.

    Examples
    --------
    >>> s = trapft.spectrum([0.0, 1.0], [1.0, 1.0], 0.0, 0.5, 2)
    >>> f, X = s
    >>> s.magnitude[0]
    1.0
    """

    __slots__ = ("frequency", "transform", "magnitude")

    frequency: NDArray[np.float64]
    transform: NDArray[np.complex128]
    magnitude: NDArray[np.float64]

    def __init__(
        self, frequency: NDArray[np.float64], transform: NDArray[np.complex128], magnitude: NDArray[np.float64]
    ) -> None:
        # Read-only however it was made: by spectrum, pickle or copy.
        for array in (frequency, transform, magnitude):
            array.setflags(write=False)
        object.__setattr__(self, "frequency", frequency)
        object.__setattr__(self, "transform", transform)
        object.__setattr__(self, "magnitude", magnitude)

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError("a Spectrum is read-only")

    def __delattr__(self, name: str) -> None:
        raise AttributeError("a Spectrum is read-only")

    def __iter__(self) -> Iterator[NDArray[np.generic]]:  # type: ignore[override]
        return iter((self.frequency, self.transform))

    def __len__(self) -> int:  # type: ignore[override]
        return len(self.frequency)

    def __repr__(self) -> str:
        return f"Spectrum(lines={len(self.frequency)}, shape={self.transform.shape})"

    def __reduce__(self):
        return (Spectrum, (self.frequency, self.transform, self.magnitude))


def _shown(value: object) -> str:
    """`value` for a message; an integer too long to read by its size."""
    if isinstance(value, numbers.Integral) and abs(int(value)) >= 10**17:
        return f"an integer of {int(value).bit_length()} bits"
    return str(value)


def _range_error(value: object, limit: str) -> ValueError:
    """The core's message for `limit` with the value given and the range allowed."""
    message = _core.messages[limit]
    low, high = (f"{bound:g}" if isinstance(bound, float) else str(bound) for bound in _core.limits[limit])
    return ValueError(f"{message[:-1]}: {_shown(value)} (allowed {low} to {high}).")


def _real(value: object, name: str, limit: Optional[str] = None) -> float:
    """`value` as a double, refusing what is not a real number; one too large
    for a double is out of range (the core's message for `limit`, where given)."""
    if not isinstance(value, numbers.Real) and not (
        isinstance(value, np.ndarray) and value.ndim == 0 and value.dtype.kind in "fiu"
    ):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        if limit is not None:
            raise _range_error(value, limit) from None
        raise ValueError(f"{name} does not fit in a float64: {_shown(value)}") from None


def _integer(value: object, name: str) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None


def _count(count: object) -> int:
    n = _integer(count, "count")
    if not 0 <= n <= _INT32_MAX:
        raise _range_error(n, "count")
    return n


def _part(part: object) -> Tuple[int, int]:
    if part is None:
        return 1, 1
    try:
        given_k, given_parts = part  # type: ignore[misc]
    except (TypeError, ValueError):
        raise TypeError("part must be a pair (k, P) of integers") from None
    k = _integer(given_k, "part")
    parts = _integer(given_parts, "part")
    if not 1 <= k <= parts <= _INT32_MAX:
        raise ValueError(f"{_core.messages['part'][:-1]} (given {_shown(k)}/{_shown(parts)}).")
    return k, parts


def _check_sequence(data: object, name: str) -> None:
    """Refuses a sequence holding an integer that float64 cannot hold exactly,
    which numpy would round silently beside a float."""
    try:
        items = np.asarray(data, dtype=object).ravel()
    except (TypeError, ValueError):
        return  # numpy refuses it again, with its own message, below
    for item in items:
        if isinstance(item, numbers.Integral) and not isinstance(item, (bool, np.bool_)):
            exact = int(item)
            try:
                fits = int(float(exact)) == exact
            except OverflowError:
                fits = False
            if not fits:
                raise ValueError(f"{name} hold numbers that float64 cannot represent exactly")


def _samples(data: ArrayLike, name: str) -> NDArray[np.float64]:
    """`data` as a C-contiguous float64 array, copied only when it is not one
    already; integers and narrower floats are widened exactly, and a type that
    does not widen exactly is taken only where every value does."""
    array = np.asarray(data)
    if array.ndim == 0:
        raise ValueError(f"{name} must be at least one-dimensional, not a scalar")
    if not isinstance(data, np.ndarray) and array.dtype.kind in "fO":
        # Python integers beside floats, or beyond 64 bits: each must be exact.
        _check_sequence(data, name)
        if array.dtype == object:
            try:
                array = np.asarray(data, dtype=np.float64)
            except (TypeError, ValueError):
                raise TypeError(f"{name} must hold real numbers, not object") from None
    kind = array.dtype.kind
    if kind not in "fiu":
        raise TypeError(f"{name} must hold real numbers, not {array.dtype}")
    converted = np.ascontiguousarray(array, dtype=np.float64)
    if array.dtype.itemsize > (8 if kind == "f" else 4):
        # 64-bit integers, long double (numpy counts int64 to float64 as a
        # safe cast, though it rounds): the values must survive the round trip.
        with np.errstate(invalid="ignore", over="ignore"):
            back = converted.astype(array.dtype)
        same = back == array
        if kind == "f":
            same |= np.isnan(array)
        if not np.all(same):
            raise ValueError(f"{name} hold numbers that float64 cannot represent exactly")
    return converted


_NAN_POLICIES = ("propagate", "omit", "raise")


def _refuse_units(data: object, name: str) -> None:
    """Refuses numbers that carry a unit (an astropy Quantity, a pint one),
    whose unit would otherwise be dropped silently."""
    unit = getattr(data, "unit", None)
    if unit is None:
        unit = getattr(data, "units", None)
    if unit is not None and not isinstance(data, np.ma.MaskedArray) and type(data) is not np.ndarray:
        raise TypeError(
            f"{name} carry a unit ({unit}): pass {name}.to_value(unit), the numbers in the unit you mean "
            "(the result's frequencies are then in cycles per that unit)"
        )


def _unmasked(data: ArrayLike) -> Tuple[ArrayLike, Optional[NDArray[np.bool_]]]:
    """A masked array's data and its mask (True: left out); others as given."""
    if isinstance(data, np.ma.MaskedArray):
        mask = np.ma.getmaskarray(data)
        return np.ma.getdata(data), (mask if mask.any() else None)
    return data, None


def _first_nan(t: NDArray[np.float64], x: NDArray[np.float64], keep: NDArray[np.bool_]) -> Optional[Tuple[int, int]]:
    """(row, index) of the first kept sample whose time or value is NaN, rows
    in order; None if there is none."""
    bad = (np.isnan(t) | np.isnan(x)) & keep
    if not bad.any():
        return None
    row = int(np.argmax(bad.any(axis=1)))
    return row, int(np.argmax(bad[row]))


def _series(
    t: NDArray[np.float64],
    x: NDArray[np.float64],
    w: Optional[NDArray[np.float64]],
    keep: Optional[NDArray[np.bool_]],
    nan_policy: str,
    sort: bool,
) -> list:
    """The series to evaluate: [(t, x, w)] for one call (x 1-D or 2-D), or
    one (t, x, w) per row when the rows keep different samples; w (the
    weights, or None) follows the samples it belongs to."""
    rows = x.reshape(-1, t.shape[0])
    if keep is None and nan_policy == "propagate":
        keep_rows = None
    else:
        keep_rows = np.ones(rows.shape, dtype=bool) if keep is None else np.broadcast_to(keep, rows.shape).copy()
        times_nan = np.isnan(t) if w is None else np.isnan(t) | np.isnan(w)
        if nan_policy == "raise":
            found = _first_nan(np.broadcast_to(np.where(times_nan, np.nan, t), rows.shape), rows, keep_rows)
            if found is not None:
                row, index = found
                where = f"sample {index}" + (f" of row {row}" if x.ndim == 2 else "")
                what = "time or value" if w is None else "time, value or weight"
                raise ValueError(f"NaN in the {what} of {where} (nan_policy='raise')")
        elif nan_policy == "omit":
            keep_rows &= ~(times_nan | np.isnan(rows))
        if keep_rows.all():
            keep_rows = None

    def part(a: Optional[NDArray[np.float64]], index: object) -> Optional[NDArray[np.float64]]:
        return None if a is None else np.ascontiguousarray(a[index])

    def ordered(ti: NDArray[np.float64], xi: NDArray[np.float64], wi: Optional[NDArray[np.float64]]) -> tuple:
        if not sort:
            return ti, xi, wi
        order = np.argsort(ti, kind="stable")
        return np.ascontiguousarray(ti[order]), np.ascontiguousarray(xi[..., order]), part(wi, order)

    if keep_rows is None:
        return [ordered(t, x, w)]
    if (keep_rows == keep_rows[0]).all():
        kept = keep_rows[0]
        return [ordered(np.ascontiguousarray(t[kept]), np.ascontiguousarray(x[..., kept]), part(w, kept))]
    return [ordered(np.ascontiguousarray(t[k]), np.ascontiguousarray(r[k]), part(w, k)) for r, k in zip(rows, keep_rows)]


def fast_evaluation_available() -> bool:
    """Whether this build has the fast evaluation (``tolerance=``).

    Returns
    -------
    bool
        False for a build without FFTW3, where a `tolerance` raises
        NotImplementedError.
    """
    return bool(_core.fast_evaluation_available)


def load(
    path: PathLike, *, double: bool = False, max_samples: Optional[int] = None
) -> Tuple[NDArray[np.float64], NDArray[np.float64]]:
    """Read a sample file as the command-line tool reads it.

    Parameters
    ----------
    path : str or os.PathLike
        The file of white-space separated (time, value) pairs. ``"-"`` is a
        file of that name, not standard input.
    double : bool, optional
        Round every number to double precision instead of through single
        precision (the tool's ``--double``). Default False.
    max_samples : int, optional
        Refuse a file of more pairs (the tool's ``--max-samples``), 1 to
        2**31 - 1. Default: no limit but that one.

    Returns
    -------
    times, values : numpy.ndarray
        float64 arrays, one entry per pair, in file order. A file without any
        number gives the one sample (0, 0), as in the tool.

    Raises
    ------
    TypeError
        An argument of the wrong type.
    FileNotFoundError, PermissionError, OSError
        The file cannot be opened or read.
    ValueError
        Content that is not pairs of numbers, or more than `max_samples`
        pairs, with the tool's message ("Error reading file: line 2: not a
        number.").
    MemoryError
        The samples do not fit in memory.
    KeyboardInterrupt
        Ctrl-C while reading, which stops it; likewise any exception that
        another signal's handler raises. A handler that returns lets the
        reading go on, with nothing lost.

    Examples
    --------
    >>> t, x = trapft.load("examples/two_tone.txt")
    >>> t.dtype, t.shape == x.shape
    (dtype('float64'), True)
    """
    if not isinstance(double, (bool, np.bool_)):
        raise TypeError("double must be a bool")
    capacity = _INT32_MAX
    if max_samples is not None:
        capacity = _integer(max_samples, "max_samples")
        if not 1 <= capacity <= _INT32_MAX:
            raise _range_error(capacity, "max_samples")
    name = os.fsencode(path)
    if b"\0" in name:
        raise ValueError("embedded null byte in path")
    return _core.load(name, bool(double), capacity)


def frequencies(
    start: float, end: float, count: int, *, part: Optional[Tuple[int, int]] = None
) -> NDArray[np.float64]:
    """The frequency grid of :func:`spectrum`, without evaluating anything.

    Parameters
    ----------
    start, end : float
        First frequency, and the frequency the grid steps toward.
    count : int
        Lines of the grid, 0 to 2**31 - 1.
    part : (int, int), optional
        Only slice k of P equal slices (1 <= k <= P), as in :func:`spectrum`.

    Returns
    -------
    numpy.ndarray
        float64, read-only: ``start``, then each line the one before plus
        ``(end - start) / (count - 1)``, rounded as it runs, so the last line
        need not be ``end``. Bit for bit the ``frequency`` of :func:`spectrum`.

    Raises
    ------
    TypeError
        An argument of the wrong type.
    ValueError
        A count or part out of range, or a start or end beyond float64.
    MemoryError
        The array cannot be had; then nothing is computed.
    KeyboardInterrupt
        Ctrl-C while the lines are written, which stops it; likewise any
        exception that another signal's handler raises.

    Examples
    --------
    >>> float(trapft.frequencies(0, 10, 1001)[-1])
    9.999999999999831
    """
    k, parts = _part(part)
    return _core.frequencies(_real(start, "start"), _real(end, "end"), _count(count), k, parts)


def spectrum(
    times: ArrayLike,
    values: ArrayLike,
    start: Optional[float] = None,
    end: Optional[float] = None,
    count: Optional[int] = None,
    *,
    frequencies: Optional[ArrayLike] = None,
    weights: Union[str, ArrayLike] = "trapezoid",
    tolerance: Optional[float] = None,
    jobs: int = 1,
    part: Optional[Tuple[int, int]] = None,
    nan_policy: str = "propagate",
    sort: bool = False,
) -> Spectrum:
    """The trapezoidal Fourier transform of samples at evenly stepped frequencies, or at any.

    X(f) = ∫ x(t)·e^(−i·2πf·t) dt by the trapezoidal rule over the samples in
    the order given (nothing is sorted; a step back in time counts with its
    negative width), at `count` frequencies from `start` toward `end`, or at
    the listed `frequencies`; with `weights`, X(f) = Σ w_k·x_k·e^(−i·2πf·t_k).

    Parameters
    ----------
    times : array_like
        1-D, the sample times (float or integer; float32 and integers are
        widened exactly, and an integer that float64 cannot hold exactly is
        refused, in a list too; strided arrays are copied, contiguous float64
        arrays are used as they are).
    values : array_like
        The sample values: 1-D of the length of `times`, or 2-D of shape
        (rows, len(times)) for several series on the same times, each row
        evaluated bit for bit as it would be alone. The fast evaluation
        shares the work that depends only on the times between the rows.
    start, end : float
        The first frequency and the one the grid steps toward, in cycles per
        unit of the times, used as the doubles given (the tool reads its
        arguments through single precision: pass ``float(numpy.float32("0.1"))``
        to reproduce a run of it).
    count : int
        Frequencies, 0 to 2**31 - 1; 0 gives empty arrays.
    frequencies : array_like, optional
        1-D, the frequencies to evaluate, in place of `start`, `end` and
        `count` (giving both, or neither, is a TypeError): any order, repeats
        and signs, returned in the order given. The exact evaluation of a
        listed frequency is bit for bit that of a grid line at the same
        double; the fast one sorts the list and holds its bound for any list.
    weights : 'trapezoid' or array_like, optional
        'trapezoid' (default): the trapezoidal rule's weights. Otherwise 1-D,
        one real weight per sample, shared by every row:
        X(f) = Σ w_k·x_k·e^(−i·2πf·t_k) (all ones: the plain non-uniform
        DFT), with `tolerance` relative to ``sum(abs(weights * values))``. The weights follow
        their samples through `nan_policy`, masks and `sort`.
    tolerance : float, optional
        None (default): the exact evaluation. Otherwise 1e-14 to 0.1: the
        fast evaluation, within `tolerance` times the sum of
        ``abs(weight × value)`` of the exact sums.
    jobs : int, optional
        Threads, 1 to 1024, or 0 for one per processor. Default 1. The
        numbers never depend on it.
    part : (int, int), optional
        Only slice k of P equal slices of the lines (1 <= k <= P), the earlier
        slices one line longer where they differ. The slices put together in
        order are the whole result, bit for bit.
    nan_policy : {'propagate', 'omit', 'raise'}, optional
        What a NaN time or value does. 'propagate' (default): every line is
        NaN, as the tool gives it (with `tolerance`, at the fast evaluation's
        speed). 'omit': such samples are left out before anything else, so
        the trapezoid joins their neighbours; in a batch, row by row.
        'raise': ValueError naming the first such sample (and row). The
        masked samples of a numpy masked array are always left out.
    sort : bool, optional
        False (default): the samples in the order given. True: in time order
        (a stable sort: equal times keep their order). A series merged from
        several instruments, or otherwise out of order, needs True: in the
        order given, each step back in time counts with its negative width.

    Returns
    -------
    Spectrum
        Read-only arrays: ``frequency`` (float64, shape (lines,)),
        ``transform`` (complex128) and ``magnitude`` (float64), of shape
        (lines,), or (rows, lines) for 2-D `values`. Unpacks as
        ``(frequency, transform)``.

    Raises
    ------
    TypeError
        Times or values that are not real numbers (complex, strings,
        objects), numbers that carry a unit (an astropy ``Quantity``: pass
        ``.to_value(unit)``), or an option of the wrong type.
    ValueError
        Wrong shapes (a scalar for `times` or `values` among them), numbers
        that float64 cannot hold exactly, a NaN with ``nan_policy='raise'``,
        an unknown `nan_policy`, or an option out of range, with the tool's
        message, the value given and the range allowed where it has one
        ("Invalid tolerance: 0.2 (allowed 1e-14 to 0.1).").
    NotImplementedError
        A tolerance, in a build without the fast evaluation.
    MemoryError
        The result arrays or the evaluation's memory cannot be had; then
        nothing is evaluated.
    RuntimeError
        "Could not start the threads.": the system refused a thread
        (`jobs` other than 1; under a memory limit, as a rule); then
        nothing is evaluated.
    KeyboardInterrupt
        Ctrl-C during the evaluation, which stops it; likewise any exception
        that another signal's handler raises.

    Notes
    -----
    The GIL is released while evaluating: other Python threads run, and may
    call this function at the same time. For the same doubles, the lines the
    tool prints are ``"%.15g %.15g %.15g %.15g" % (f, X.real, X.imag, m)`` of
    these values (Python prints a NaN with its sign bit set as ``nan``, the
    tool as ``-nan``).

    Examples
    --------
    >>> t, x = trapft.load("examples/two_tone.txt")
    >>> s = trapft.spectrum(t, x, 0.0, 5.0, 501)
    >>> f, X = s
    >>> round(float(f[s.magnitude.argmax()]), 2)
    1.5
    """
    _refuse_units(times, "times")
    _refuse_units(values, "values")
    if nan_policy not in _NAN_POLICIES:
        raise ValueError(f"nan_policy must be one of {', '.join(map(repr, _NAN_POLICIES))}, not {nan_policy!r}")
    times, time_mask = _unmasked(times)
    values, value_mask = _unmasked(values)
    t = _samples(times, "times")
    x = _samples(values, "values")
    if t.ndim != 1:
        raise ValueError(f"times must be one-dimensional, not of shape {t.shape}")
    if x.ndim not in (1, 2):
        raise ValueError(f"values must be one- or two-dimensional, not of shape {x.shape}")
    if x.shape[-1] != t.shape[0]:
        raise ValueError(f"times and values differ in length ({t.shape[0]} and {x.shape[-1]})")
    grid = (start, end, count)
    if frequencies is not None and any(a is not None for a in grid):
        raise TypeError("give either start, end and count or frequencies, not both")
    listed = None
    if frequencies is None:
        if any(a is None for a in grid):
            raise TypeError("give start, end and count, or frequencies")
        first, last = _real(start, "start"), _real(end, "end")
        lines = _count(count)
    else:
        _refuse_units(frequencies, "frequencies")
        listed = _samples(frequencies, "frequencies")
        if listed.ndim != 1:
            raise ValueError(f"frequencies must be one-dimensional, not of shape {listed.shape}")
        first, last, lines = 0.0, 0.0, listed.shape[0]
    w = None
    if not (isinstance(weights, str) and weights == "trapezoid"):
        if isinstance(weights, str):
            raise ValueError(f"weights must be 'trapezoid' or an array of one weight per sample, not {weights!r}")
        _refuse_units(weights, "weights")
        w = _samples(weights, "weights")
        if w.shape != t.shape:
            raise ValueError(f"weights must be one per sample, of shape {t.shape}, not {w.shape}")
    epsilon = 0.0
    if tolerance is not None:
        epsilon = _real(tolerance, "tolerance", "tolerance")
        low, high = _core.limits["tolerance"]
        if not low <= epsilon <= high:
            raise _range_error(tolerance, "tolerance")
    threads = _integer(jobs, "jobs")
    low, high = _core.limits["jobs"]
    if not low <= threads <= high:
        raise _range_error(threads, "jobs")
    k, parts = _part(part)
    keep = None
    if time_mask is not None or value_mask is not None:
        keep = ~(np.zeros(x.shape, dtype=bool) if value_mask is None else value_mask)
        if time_mask is not None:
            keep &= ~time_mask
    series = _series(t, x, w, keep, nan_policy, bool(sort))
    if len(series) == 1:
        ti, xi, wi = series[0]
        return Spectrum(*_core.spectrum(ti, xi, first, last, lines, epsilon, threads, k, parts, listed, wi))
    # Rows that keep different samples: one call each, put together.
    each = [_core.spectrum(ti, xi, first, last, lines, epsilon, threads, k, parts, listed, wi) for ti, xi, wi in series]
    return Spectrum(each[0][0], np.stack([e[1] for e in each]), np.stack([e[2] for e in each]))
