"""What the package's tests share: the package as installed (never the
sources), the MATLAB plug-ins called once through the stand-in host's
runner mexrun on array files (docs/array-files.md), and comparison bit for
bit. ctest gives the runner's and the plug-ins' paths in MEXRUN,
TARV_C_PLUGIN and BANDSCORE_PLUGIN, and a folder for files in
TEST_SCRATCH_DIR."""
from __future__ import annotations

import os
import struct
import subprocess
import sys
import tempfile
from typing import Any, List, NamedTuple, Optional, Tuple

import numpy as np

import tarvbandscore

# The tests exercise the wheel pip installed, in the environment they run in.
if not os.path.abspath(tarvbandscore.__file__).startswith(os.path.abspath(sys.prefix)):
    sys.exit(f"tarvbandscore was imported from {tarvbandscore.__file__}, not from the "
             f"environment {sys.prefix}")

_CLASS_CODES = {np.dtype(np.float64): 6, np.dtype(np.float32): 7}
_DTYPES = {code: dtype for dtype, code in _CLASS_CODES.items()}


def write_array(path: str, value: Any) -> None:
    """A float32 or float64 array, or a number (a 1 x 1 double), as an
    array file: column-major, little-endian, at least two dimensions."""
    array = np.asarray(value, dtype=np.float64 if np.ndim(value) == 0 else None)
    shape = array.shape if array.ndim >= 2 else (1,) * (2 - array.ndim) + array.shape
    with open(path, "wb") as stream:
        stream.write(b"MXA1" + struct.pack("<III", _CLASS_CODES[array.dtype], 0, len(shape)))
        stream.write(struct.pack(f"<{len(shape)}Q", *shape))
        stream.write(array.astype(array.dtype.newbyteorder("<")).tobytes(order="F"))


def read_array(path: str) -> np.ndarray:
    with open(path, "rb") as stream:
        data = stream.read()
    if data[:4] != b"MXA1":
        raise ValueError(f"{path} is no array file")
    code, complex_flag, count = struct.unpack_from("<III", data, 4)
    shape = struct.unpack_from(f"<{count}Q", data, 16)
    dtype = _DTYPES[code].newbyteorder("<")
    values = np.frombuffer(data, dtype=dtype, offset=16 + 8 * count, count=int(np.prod(shape)))
    return values.reshape(shape, order="F").astype(dtype.newbyteorder("="))


class MexCall(NamedTuple):
    result: Optional[np.ndarray]
    warnings: List[Tuple[str, str]]  # (identifier, message)
    error: Optional[Tuple[str, str]]


def mex_call(plugin: str, *inputs: Any) -> MexCall:
    """One call of the plug-in (TARV_C_PLUGIN or BANDSCORE_PLUGIN) on the
    inputs, as MATLAB would pass them: arrays and numbers."""
    with tempfile.TemporaryDirectory(dir=os.environ.get("TEST_SCRATCH_DIR")) as folder:
        paths = []
        for k, value in enumerate(inputs):
            paths.append(os.path.join(folder, f"input{k}.mxa"))
            write_array(paths[-1], value)
        output = os.path.join(folder, "output.mxa")
        run = subprocess.run([os.environ["MEXRUN"], "--quiet", os.environ[plugin], output] + paths,
                             capture_output=True, text=True)
        warnings, error = [], None
        for line in run.stderr.splitlines():
            for kind in ("warning ", "error "):
                if line.startswith(kind):
                    identifier, message = line[len(kind):].split(": ", 1)
                    if kind == "warning ":
                        warnings.append((identifier, message))
                    else:
                        error = (identifier, message)
        if run.returncode not in (0, 1) or (run.returncode == 1) != (error is not None):
            raise RuntimeError(f"mexrun failed ({run.returncode}): {run.stderr}")
        result = read_array(output) if run.returncode == 0 else None
        return MexCall(result, warnings, error)


def bits_differ(expected: np.ndarray, actual: np.ndarray) -> Optional[str]:
    """None where both hold the same values bit for bit (any NaN matches any
    NaN; +0 and -0 differ), else where they first differ."""
    if expected.shape != actual.shape or expected.dtype != actual.dtype:
        return (f"shape {actual.shape} and {actual.dtype}, expected {expected.shape} and "
                f"{expected.dtype}")
    unsigned = np.uint32 if expected.dtype == np.float32 else np.uint64
    same = (expected.view(unsigned) == actual.view(unsigned)) | (np.isnan(expected)
                                                                 & np.isnan(actual))
    if same.all():
        return None
    index = tuple(int(i) for i in np.argwhere(~same)[0])
    width = expected.dtype.itemsize * 2
    return (f"{int((~same).sum())} of {same.size} elements differ, the first at {index}: "
            f"{int(actual[index].view(unsigned)):0{width}x} ({actual[index]!r}), expected "
            f"{int(expected[index].view(unsigned)):0{width}x} ({expected[index]!r})")


def log_speckle(shape: Tuple[int, ...], seed: int) -> np.ndarray:
    """float32 log intensities of fully developed speckle over a ramp."""
    generator = np.random.default_rng(seed)
    ramp = np.linspace(0.0, 2.0, shape[0]).reshape((-1,) + (1,) * (len(shape) - 1))
    return (ramp + np.log(-np.log(generator.random(shape)))).astype(np.float32)
