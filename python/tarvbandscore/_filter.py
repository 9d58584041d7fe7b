"""tarv_filter: the checks, the call and the warnings."""
from __future__ import annotations

import ctypes
import operator
import warnings
from typing import Any, Optional, Sequence, Tuple

import numpy as np

from . import _library
from ._arguments import described, float32_value, real_number, thread_count
from ._calls import CoreCall

_LIB = _library.lib


class LambdaWarning(RuntimeWarning):
    """lam is NaN, not positive or above 1: a result a user rarely wants."""


class NonFiniteWarning(RuntimeWarning):
    """The filter's result holds NaN, or its input holds values the filter
    cannot exponentiate to a finite number; the message says how many
    pixels, the first cause that applies and the fix."""


def _region_bounds(function: str, region: Any) -> Tuple[int, int, int, int]:
    """(row_start, row_stop, col_start, col_stop) as four ints."""
    expected = ("must be (row_start, row_stop, col_start, col_stop), four integers that "
                "select image[row_start:row_stop, col_start:col_stop]")
    try:
        bounds = tuple(region)
    except TypeError:
        raise TypeError(f"{function}() argument 'region' {expected}, was "
                        f"{described(region)}") from None
    if len(bounds) != 4:
        raise TypeError(f"{function}() argument 'region' {expected}, was {region!r}")
    try:
        row_start, row_stop, col_start, col_stop = (operator.index(b) for b in bounds)
    except TypeError:
        raise TypeError(f"{function}() argument 'region' {expected}, was {region!r}") from None
    return row_start, row_stop, col_start, col_stop


def _library_region(function: str, bounds: Tuple[int, int, int, int], rows: int,
                    cols: int) -> _library.Region:
    """The 0-based, half-open bounds as the library's inclusive ones, where
    they select at least one row and column of a rows x cols page."""
    row_start, row_stop, col_start, col_stop = bounds
    for what, start, stop, extent in (("rows", row_start, row_stop, rows),
                                      ("columns", col_start, col_stop, cols)):
        if not (0 <= start and stop <= extent):
            raise ValueError(f"{function}() argument 'region': its {what} {start}:{stop} must "
                             f"lie within the image's {what} 0:{extent}")
        if start >= stop:
            raise ValueError(f"{function}() argument 'region': its {what} {start}:{stop} are "
                             f"empty; the reference region needs at least one row and column")
    return _library.Region(row_start, row_stop - 1, col_start, col_stop - 1)


def tarv_filter(image: np.ndarray, iterations: float, lam: float,
                region: Sequence[int], *, progress: bool = False,
                threads: Optional[int] = None) -> np.ndarray:
    """Edge-preserving anisotropic diffusion of a log-intensity image.

    Speckle is smoothed where the image looks like the reference region
    image[row_start:row_stop, col_start:col_stop], a patch of pure speckle
    that you choose, and edges are kept where it does not.

    Example:
        rng = np.random.default_rng(1)
        img = np.log1p(100 * rng.random((200, 300))).astype(np.float32)
        out = tarv_filter(img, 20, 0.2, (0, 40, 0, 60))  # rows 0:40, columns 0:60

    Arguments:
        image       float32 array of log intensities, rows x columns, or a
                    volume rows x columns x pages whose pages image[:, :, p]
                    are each filtered as an image of their own; any memory
                    layout (anything but a Fortran-order array of native
                    byte order is copied to one first: the bits are the same
                    either way). For an image img of intensities:
                    np.log1p(img.astype(np.float64)).astype(np.float32)
        iterations  number of diffusion steps: more smooth more; tens to a
                    few hundred are typical. A real number, truncated toward
                    zero; 0 or less returns the exp/log round trip of image
        lam         time step, used in single precision: 0 < lam <= 1, 0.1
                    to 0.25 typical
        region      (row_start, row_stop, col_start, col_stop): 0-based and
                    half-open, as NumPy slices; MATLAB's rows r1..r2 are
                    (r1 - 1, r2). Choose a homogeneous area of speckle, with
                    no edges or structure in it, of at least one row and
                    column inside the image
        progress    show a progress bar (tqdm where installed, else a line
                    on standard error)
        threads     the threads to share the work, the calling thread
                    included: None or 0 for as many as the process may use,
                    n for n at most. A call never takes more than the
                    processors of the process's affinity mask and CPU quota,
                    nor more than OMP_NUM_THREADS where that is set to a
                    positive integer (dask's worker processes set it to 1).
                    Every count gives the same bits.

    Returns a new float32 array of image's shape, in Fortran order: bit for
    bit what the MATLAB call TARV_c(image, iterations, lam, row_start + 1,
    row_stop, col_start + 1, col_stop, 0) returns for the same values.

    Raises TypeError or ValueError for a wrong argument (its message names
    it, says what was expected and what was passed), MemoryError where no
    memory is left for the scratch planes, and KeyboardInterrupt on Ctrl-C
    during the call (on the main thread, with Python's own SIGINT handler),
    which stops it within a fraction of a second and leaves no thread
    behind; elsewhere the call runs to its end. The GIL is released while
    the filter runs.

    Warns (RuntimeWarning subclasses):
        LambdaWarning     lam NaN, not positive or above 1
        NonFiniteWarning  the result holds NaN, or image values above 88.72;
                          the message says how many pixels, why and the fix
    """
    function = "tarv_filter"
    if not isinstance(image, np.ndarray):
        raise TypeError(f"{function}() argument 'image' must be a NumPy array of float32 log "
                        f"intensities (for an intensity image img: "
                        f"np.log1p(img.astype(np.float64)).astype(np.float32)), was "
                        f"{described(image)}")
    if image.dtype.kind != "f" or image.dtype.itemsize != 4:
        raise TypeError(f"{function}() argument 'image' must be a float32 array of log "
                        f"intensities (for an intensity image img: "
                        f"np.log1p(img.astype(np.float64)).astype(np.float32)), was an array "
                        f"of {image.dtype}")
    if image.ndim not in (2, 3):
        raise ValueError(f"{function}() argument 'image' must be a matrix or a volume of pages "
                         f"(rows x columns x pages), was an array of shape {image.shape}")
    rows, cols = image.shape[0], image.shape[1]
    pages = image.shape[2] if image.ndim == 3 else 1
    if max(rows, cols, pages) >= 2**31 or image.size >= 2**31:
        raise ValueError(f"{function}() argument 'image' must have fewer than 2^31 elements, was "
                         f"of shape {image.shape}")
    iteration_number = real_number(function, "iterations", iterations)
    if not -2147483649.0 < iteration_number < 2147483648.0:
        raise ValueError(f"{function}() argument 'iterations' must be a finite number within the "
                         f"32-bit integer range, was {iterations!r}")
    steps = int(iteration_number)
    lam_number = real_number(function, "lam", lam)
    lam_single = float32_value(lam_number)
    bounds = _region_bounds(function, region)
    # An empty image has no rows or columns for the region to name: its
    # bounds are not checked, as the MATLAB call does not check them.
    empty = image.size == 0
    library_region = _library_region(function, bounds, rows, cols) if not empty else None
    show_progress = bool(progress)
    team = thread_count(function, threads)

    result = np.empty(image.shape, dtype=np.float32, order="F")
    if empty:
        return result
    if steps > 0:
        _warn_of_lambda(lam_number, lam_single)
    source = np.require(image, dtype=np.float32, requirements=["F", "A"])
    findings = _library.Findings()
    with CoreCall(function, show_progress) as call:
        status = _LIB.tarvbandscore_filter(source.ctypes.data, result.ctypes.data, rows, cols,
                                           pages, steps, lam_single,
                                           ctypes.byref(library_region), team, call.callbacks,
                                           ctypes.byref(findings))
    call.end(status)
    if findings.infinite_working_value or findings.nan_result:
        diagnosis = _library.Diagnosis()
        _LIB.tarvbandscore_diagnose_filter(source.ctypes.data, result.ctypes.data, rows, cols,
                                           pages, steps, lam_single,
                                           ctypes.byref(library_region), ctypes.byref(diagnosis))
        message = _non_finite_message(diagnosis)
        if message is not None:
            warnings.warn(message, NonFiniteWarning, stacklevel=2)
    return result


_USEFUL_LAMBDA = "0 < lam <= 1 is the useful range, 0.1 to 0.25 typical"


def _warn_of_lambda(passed: float, single: float) -> None:
    if single != single:
        text = f"is nan: every result pixel will be NaN; {_USEFUL_LAMBDA}"
    elif single <= 0.0:
        text = (f"is {passed!r}: a step of 0 leaves the image as it is and a negative one "
                f"sharpens it without bound; {_USEFUL_LAMBDA}")
    elif single > 1.0:
        text = (f"is {passed!r}: steps above 1 can drive pixels below 0, which come out NaN; "
                f"{_USEFUL_LAMBDA}")
    else:
        return
    warnings.warn(f"tarv_filter() argument 'lam' {text}", LambdaWarning, stacklevel=3)


_TURN_OFF = ("(warnings.simplefilter('ignore', tarvbandscore.NonFiniteWarning) turns this "
             "warning off.)")
_LOG_INTENSITIES = "np.log1p(img.astype(np.float64)).astype(np.float32)"


def _non_finite_message(d: _library.Diagnosis) -> Optional[str]:
    """The warning for a diagnosis, worded as the MATLAB plug-in words it,
    with Python's ways to the fix."""
    pixels, nan_results, cause_pixels = d.pixels, d.nan_results, d.cause_pixels
    extreme = str(np.float32(d.extreme))
    spreads = ("(NaN spreads from such a pixel with every iteration, and one in the reference "
               "region makes every pixel NaN)")
    cause = d.cause
    if cause == _library.CAUSE_NONE:
        return None
    if cause == _library.CAUSE_EXPONENTIAL_OVERFLOW:
        text = (f"{cause_pixels} of {pixels} input pixels are above 88.72, where the exponential "
                f"the filter takes overflows single precision, and {nan_results} result pixels "
                f"are NaN: the image looks like intensities rather than log intensities. Pass "
                f"{_LOG_INTENSITIES} instead.")
    elif cause == _library.CAUSE_MINUS_INFINITY:
        text = (f"{cause_pixels} of {pixels} input pixels are -inf, the logarithm of a zero "
                f"intensity, and {nan_results} result pixels are NaN {spreads}. Take the "
                f"logarithm of 1 + the intensities: {_LOG_INTENSITIES}.")
    elif cause == _library.CAUSE_NAN_OR_INFINITY:
        text = (f"{cause_pixels} of {pixels} input pixels are NaN or inf, and {nan_results} "
                f"result pixels are NaN {spreads}. Replace them before filtering.")
    elif cause == _library.CAUSE_SQUARE_OVERFLOW:
        text = (f"{cause_pixels} of {pixels} input pixels are 44.36 or above (the largest is "
                f"{extreme}), and {nan_results} result pixels are NaN: the filter squares the "
                f"exponential of each pixel, which overflows single precision from exp(44.36) "
                f"= 2^64 on. The image looks like intensities rather than natural-log "
                f"intensities: pass {_LOG_INTENSITIES} instead (for decibels D: "
                f"(D * np.log(10) / 10).astype(np.float32)).")
    elif cause == _library.CAUSE_SQUARE_UNDERFLOW:
        text = (f"{cause_pixels} of {pixels} input pixels are -51.99 or below (the smallest is "
                f"{extreme}), and {nan_results} result pixels are NaN: the filter squares the "
                f"exponential of each pixel, which is 0 in single precision from exp(-51.99) "
                f"= 2^-75 down. Shift the log image by a constant c, which only scales the "
                f"intensities: tarv_filter(img + c, ...) - c, with img + c above -51.99.")
    elif cause == _library.CAUSE_NEIGHBOUR_SPREAD:
        text = (f"{nan_results} of {pixels} result pixels are NaN: neighbouring input pixels "
                f"differ by up to {extreme}, and from 42.98 on (a ratio of intensities of 2^62) "
                f"the squares the filter takes of their ratios overflow single precision. "
                f"Natural-log intensities of a real image rarely span so much (np.log1p of a "
                f"16-bit image spans 0 to 11.1): check the image, or clip outliers.")
    elif cause in (_library.CAUSE_REGION_EMPTY, _library.CAUSE_REGION_SINGLE_PIXEL,
                   _library.CAUSE_REGION_FLAT):
        why = {
            _library.CAUSE_REGION_EMPTY: "the reference region is empty",
            _library.CAUSE_REGION_SINGLE_PIXEL:
                "the reference region is a single pixel, whose variance is 0",
            _library.CAUSE_REGION_FLAT:
                "the reference region is flat (every pixel the same), so its variance is 0",
        }[cause]
        text = (f"{nan_results} of {pixels} result pixels are NaN, though every input pixel is "
                f"a finite log intensity: {why}. Choose the rows and columns of a homogeneous "
                f"speckle area.")
    elif cause in (_library.CAUSE_LAMBDA_NAN, _library.CAUSE_LAMBDA_NEGATIVE,
                   _library.CAUSE_LAMBDA_ABOVE_ONE):
        why = {
            _library.CAUSE_LAMBDA_NAN: "lam is NaN",
            _library.CAUSE_LAMBDA_NEGATIVE:
                "a negative lam sharpened the image without bound until its values overflowed",
            _library.CAUSE_LAMBDA_ABOVE_ONE: "a lam above 1 drove pixels below 0",
        }[cause]
        text = (f"{nan_results} of {pixels} result pixels are NaN, though every input pixel is "
                f"a finite log intensity: {why}. Choose 0 < lam <= 1.")
    else:
        text = (f"{nan_results} of {pixels} result pixels are NaN, though every input pixel is "
                f"a finite log intensity within -51.99 .. 44.36, neighbours differ by less than "
                f"42.98, the reference region varies and 0 <= lam <= 1: a working value left "
                f"the range of single precision during the iterations. Fewer iterations or a "
                f"smaller lam may avoid it.")
    return f"{text} {_TURN_OFF}"
