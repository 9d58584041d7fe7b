"""The shared library beside this file and its C interface, declared for
ctypes as python/library/tarvbandscore.h declares it. ctypes releases the
GIL for every call into it."""
from __future__ import annotations

import ctypes
import os
import sys

API_VERSION = 1

COMPLETED, CANCELLED, INTERRUPTED, OUT_OF_MEMORY, INVALID = range(5)
BANDS_VALID, BANDS_BEYOND_32_BITS, BANDS_OUTSIDE_IMAGE = range(3)

(CAUSE_NONE, CAUSE_EXPONENTIAL_OVERFLOW, CAUSE_MINUS_INFINITY, CAUSE_NAN_OR_INFINITY,
 CAUSE_SQUARE_OVERFLOW, CAUSE_SQUARE_UNDERFLOW, CAUSE_NEIGHBOUR_SPREAD, CAUSE_REGION_EMPTY,
 CAUSE_REGION_SINGLE_PIXEL, CAUSE_REGION_FLAT, CAUSE_LAMBDA_NAN, CAUSE_LAMBDA_NEGATIVE,
 CAUSE_LAMBDA_ABOVE_ONE, CAUSE_WORKING_RANGE) = range(14)

InterruptPending = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p)
ProgressBegin = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p)
ProgressAdvance = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p, ctypes.c_int64,
                                   ctypes.c_int64)


class Callbacks(ctypes.Structure):
    _fields_ = [("interrupt_pending", InterruptPending), ("progress_begin", ProgressBegin),
                ("progress_advance", ProgressAdvance), ("context", ctypes.c_void_p)]


class Region(ctypes.Structure):
    _fields_ = [("first_row", ctypes.c_uint32), ("last_row", ctypes.c_uint32),
                ("first_col", ctypes.c_uint32), ("last_col", ctypes.c_uint32)]


class Findings(ctypes.Structure):
    _fields_ = [("infinite_working_value", ctypes.c_int32), ("nan_result", ctypes.c_int32)]


class Diagnosis(ctypes.Structure):
    _fields_ = [("cause", ctypes.c_int32), ("extreme", ctypes.c_float),
                ("pixels", ctypes.c_uint64), ("nan_results", ctypes.c_uint64),
                ("cause_pixels", ctypes.c_uint64)]


class Bands(ctypes.Structure):
    _fields_ = [("top_offset", ctypes.c_double), ("bottom_offset", ctypes.c_double),
                ("top_count", ctypes.c_int32), ("bottom_count", ctypes.c_int32),
                ("prior_weight", ctypes.c_double),
                ("span_mean", ctypes.c_void_p), ("span_sd", ctypes.c_void_p),
                ("span_min", ctypes.c_void_p), ("span_max", ctypes.c_void_p)]


class BandPair(ctypes.Structure):
    _fields_ = [("column", ctypes.c_int32), ("top_index", ctypes.c_int32),
                ("bottom_index", ctypes.c_int32), ("reserved", ctypes.c_int32),
                ("top_row", ctypes.c_int64), ("bottom_row", ctypes.c_int64)]


def _file_name() -> str:
    if sys.platform == "win32":
        return "tarvbandscore.dll"
    if sys.platform == "darwin":
        return "libtarvbandscore.dylib"
    return "libtarvbandscore.so"


def _load() -> ctypes.CDLL:
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), _file_name())
    if not os.path.exists(path):
        raise ImportError(f"tarvbandscore: {path} is missing: this installation is not for "
                          f"{sys.platform}; install the wheel made for this platform")
    library = ctypes.CDLL(path)
    u32, i32, f32 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_float
    pointer = ctypes.c_void_p
    declarations = {
        "tarvbandscore_filter": (i32, [pointer, pointer, u32, u32, u32, i32, f32,
                                       ctypes.POINTER(Region), i32, ctypes.POINTER(Callbacks),
                                       ctypes.POINTER(Findings)]),
        "tarvbandscore_diagnose_filter": (i32, [pointer, pointer, u32, u32, u32, i32, f32,
                                                ctypes.POINTER(Region),
                                                ctypes.POINTER(Diagnosis)]),
        "tarvbandscore_check_bands": (i32, [i32, i32, ctypes.POINTER(Bands),
                                            ctypes.POINTER(BandPair)]),
        "tarvbandscore_band_score": (i32, [pointer, i32, i32, ctypes.POINTER(Bands), pointer,
                                           i32, ctypes.POINTER(Callbacks)]),
        "tarvbandscore_threads_started": (ctypes.c_uint64, []),
        "tarvbandscore_processors_allowed": (i32, []),
        "tarvbandscore_api_version": (i32, []),
    }
    for name, (result, arguments) in declarations.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    version = library.tarvbandscore_api_version()
    if version != API_VERSION:
        raise ImportError(f"tarvbandscore: {path} has interface version {version}, this package "
                          f"needs {API_VERSION}: reinstall the package")
    return library


lib = _load()
