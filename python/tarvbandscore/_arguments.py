"""The checks both functions share: real scalars, threads=, and how a
passed value is named in a message."""
from __future__ import annotations

import ctypes
import math
import numbers
import operator
from typing import Any

import numpy as np


def real_number(function: str, name: str, value: Any) -> float:
    """A real scalar as a float: Python and NumPy ints and floats, and
    NumPy arrays of one dimensionless element; TypeError otherwise."""
    if isinstance(value, np.ndarray) and value.ndim == 0 and value.dtype.kind in "biuf":
        value = value[()]
    if not isinstance(value, numbers.Real):
        raise TypeError(f"{function}() argument '{name}' must be a real number, was "
                        f"{described(value)}")
    try:
        return float(value)
    except OverflowError:  # an int beyond the double range
        return math.inf if value > 0 else -math.inf


def described(value: Any) -> str:
    """A value's kind for messages: 'ndarray of float64, shape (3, 4)', 'str'."""
    if isinstance(value, np.ndarray):
        return f"ndarray of {value.dtype}, shape {value.shape}"
    return type(value).__name__


def thread_count(function: str, threads: Any) -> int:
    """threads= as the library's count: None and 0 for automatic."""
    if threads is None:
        return 0
    try:
        count = operator.index(threads)
    except TypeError:
        raise TypeError(f"{function}() argument 'threads' must be None or an integer, was "
                        f"{described(threads)}") from None
    if count < 0:
        raise ValueError(f"{function}() argument 'threads' must be None, 0 (as many as the "
                         f"process may use) or a count of threads, was {count}")
    return min(count, 2**31 - 1)


# Half-way between the largest float32 and 2^128: a double at or beyond it
# rounds to an infinite float32. Converted here, so that ctypes never
# converts a double outside the float range, which C leaves undefined.
_FLOAT32_OVERFLOW = 2.0**128 - 2.0**103


def float32_value(value: float) -> float:
    if math.isfinite(value) and abs(value) >= _FLOAT32_OVERFLOW:
        return math.copysign(math.inf, value)
    return ctypes.c_float(value).value
