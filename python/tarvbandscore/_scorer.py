"""band_score: the checks and the call."""
from __future__ import annotations

import ctypes
from typing import Any, Optional

import numpy as np

from . import _library
from ._arguments import described, real_number, thread_count
from ._calls import CoreCall

_LIB = _library.lib

_COLUMN_ARGUMENTS = ("span_mean", "span_sd", "span_min", "span_max")


def _column_values(name: str, value: Any) -> np.ndarray:
    """A per-column argument as float64 values in column-major order:
    real numbers of any NumPy kind that float64 holds exactly."""
    array = np.asarray(value)
    exact = array.dtype.kind in "iu" or (array.dtype.kind == "f" and array.dtype.itemsize <= 8)
    if not exact:
        raise TypeError(f"band_score() argument '{name}' must be an array of real numbers, one "
                        f"for each column of the image, was {described(value)}")
    return array


def band_score(top_offset: float, bottom_offset: float, image: np.ndarray, span_mean: Any,
               span_sd: Any, top_count: float, bottom_count: float, prior_weight: float,
               span_min: Any, span_max: Any, *, threads: Optional[int] = None) -> np.ndarray:
    """Scores of every pair of candidate upper and lower boundary rows, for
    every column of an image.

    For column c of the float64 image (rows x C), top a = 0 .. A - 1 is the
    row top = trunc(a + top_offset) and bottom b = 0 .. B - 1 the row bottom
    = trunc(b + bottom_offset), rows counted from 0; with span = bottom - top,

        S[a, b, c] = image[top:bottom + 1, c].mean()
                     + prior_weight * exp(-0.5 * ((span - span_mean[c]) / span_sd[c])**2)

    where span_min[c] <= span <= span_max[c] (a NaN limit excludes nothing),
    and -999999 otherwise. The best band of column c is the maximum of
    S[:, :, c].

    Example:
        C = out.shape[1]                      # out = tarv_filter(...)
        S = band_score(20, 50, out.astype(np.float64), np.full(C, 30.0),
                       np.full(C, 5.0), 40, 40, 1.0, np.full(C, 5.0), np.full(C, 60.0))
        a, b = np.unravel_index(S.reshape(-1, C, order="F").argmax(axis=0),
                                S.shape[:2], order="F")
        top, bottom = 20 + a, 50 + b          # per column, rows from 0

    Arguments (the numbers mean what the MATLAB call bandscore's mean, in
    the same order, so the same values give the same bits):
        top_offset, bottom_offset   real numbers: the rows of the first top
                                    and bottom candidates
        image                       float64 matrix, rows x columns, C or
                                    Fortran order; pass tarv_filter's result
                                    out as out.astype(np.float64)
        span_mean, span_sd          preferred span per column and the width
                                    of the preference, in rows
        top_count, bottom_count     the numbers A and B of candidates: real
                                    numbers 0 <= A, B < 2^31, truncated
                                    toward zero
        prior_weight                weight of the span preference
        span_min, span_max          smallest and largest admissible span per
                                    column
        threads                     the threads to share the work, as for
                                    tarv_filter: None or 0 for as many as
                                    the process may use (its affinity mask
                                    and CPU quota, OMP_NUM_THREADS where set
                                    to a positive integer), n for n at most.
                                    Every count gives the same bits.
    The per-column arguments are arrays of real numbers with a value for
    each column (the first C values, in Fortran order, are read). Every
    admissible pair must lie inside the image's rows 0 .. rows - 1.

    Returns a new float64 array of shape (A, B, C), in Fortran order.

    Raises TypeError or ValueError for a wrong argument (its message names
    it, says what was expected and what was passed), and KeyboardInterrupt
    on Ctrl-C during the call (on the main thread, with Python's own SIGINT
    handler), which stops it within a fraction of a second and leaves no
    thread behind; elsewhere the call runs to its end. The GIL is released
    while the scorer runs.
    """
    function = "band_score"
    arguments = {"top_offset": top_offset, "bottom_offset": bottom_offset, "image": image,
                 "span_mean": span_mean, "span_sd": span_sd, "top_count": top_count,
                 "bottom_count": bottom_count, "prior_weight": prior_weight,
                 "span_min": span_min, "span_max": span_max}
    scalars = {}
    columns = {}
    for name, value in arguments.items():
        if name == "image":
            if not isinstance(image, np.ndarray) or image.dtype.kind != "f" \
                    or image.dtype.itemsize != 8:
                single = isinstance(image, np.ndarray) and image.dtype == np.float32
                raise TypeError(
                    f"{function}() argument 'image' must be a float64 NumPy array, was "
                    f"{described(image)}"
                    + ("; pass a float32 image, such as tarv_filter's result out, as "
                       "out.astype(np.float64)" if single else ""))
        elif name in _COLUMN_ARGUMENTS:
            columns[name] = _column_values(name, value)
        else:
            scalars[name] = real_number(function, name, value)

    if image.ndim == 3:
        raise ValueError(f"{function}() argument 'image' must be a matrix, was an array of shape "
                         f"{image.shape}; score a volume V page by page: "
                         f"[band_score(..., V[:, :, p], ...) for p in range(V.shape[2])]")
    if image.ndim != 2:
        raise ValueError(f"{function}() argument 'image' must be a matrix (rows x columns), was "
                         f"an array of shape {image.shape}")
    rows, cols = image.shape
    if image.size >= 2**31 or rows >= 2**31 or cols >= 2**31:
        raise ValueError(f"{function}() argument 'image' must have fewer than 2^31 elements, "
                         f"rows and columns, was of shape {image.shape}")
    counts = []
    for name in ("top_count", "bottom_count"):
        count = scalars[name]
        if not 0.0 <= count < 2147483648.0:
            raise ValueError(f"{function}() argument '{name}' must be a number from 0 up to "
                             f"2^31 - 1, was {arguments[name]!r}")
        counts.append(int(count))
    top_count, bottom_count = counts
    if cols > 0 and top_count * bottom_count > (2**31 - 1) // cols:
        raise ValueError(f"{function}(): the result of top_count x bottom_count x image columns "
                         f"= {top_count} x {bottom_count} x {cols} must have fewer than 2^31 "
                         f"cells")
    for name, values in columns.items():
        if values.size < cols:
            raise ValueError(f"{function}() argument '{name}' must have a value for each of the "
                             f"image's {cols} columns, has {values.size}")
        # A copy: the row checks below hold for these values only, and the
        # caller's array may change while the GIL is released.
        columns[name] = np.array(values.ravel(order="F")[:cols], dtype=np.float64)

    bands = _library.Bands(scalars["top_offset"], scalars["bottom_offset"], top_count,
                           bottom_count, scalars["prior_weight"],
                           *(columns[name].ctypes.data for name in _COLUMN_ARGUMENTS))
    pair = _library.BandPair()
    check = _LIB.tarvbandscore_check_bands(rows, cols, ctypes.byref(bands), ctypes.byref(pair))
    if check == _library.BANDS_BEYOND_32_BITS:
        raise ValueError(f"{function}() arguments 'top_offset' and 'bottom_offset' "
                         f"({top_offset!r} and {bottom_offset!r}): every candidate row, and "
                         f"every span between them, must lie within the 32-bit integer range")
    if check == _library.BANDS_OUTSIDE_IMAGE:
        raise ValueError(f"{function}(): in column {pair.column} the admissible pair of top row "
                         f"{pair.top_row} and bottom row {pair.bottom_row} (0-based) reads "
                         f"outside the image's rows 0..{rows - 1}; adjust the offsets, counts "
                         f"or span limits")
    team = thread_count(function, threads)

    scores = np.empty((top_count, bottom_count, cols), dtype=np.float64, order="F")
    if scores.size == 0:
        return scores
    source = np.require(image, dtype=np.float64, requirements=["F", "A"])
    with CoreCall(function) as call:
        status = _LIB.tarvbandscore_band_score(source.ctypes.data, rows, cols,
                                               ctypes.byref(bands), scores.ctypes.data, team,
                                               call.callbacks)
    call.end(status)
    return scores
