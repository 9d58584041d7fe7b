"""A PNG writer for 8-bit RGB pictures, for the demo where matplotlib is
not installed: one IDAT chunk of unfiltered rows, compressed with zlib."""
from __future__ import annotations

import struct
import zlib

import numpy as np


def _chunk(kind: bytes, data: bytes) -> bytes:
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png(path: str, rgb: np.ndarray) -> None:
    """Writes `rgb`, an array of uint8 of shape (height, width, 3), to `path`."""
    height, width, channels = rgb.shape
    if channels != 3 or rgb.dtype != np.uint8:
        raise ValueError("write_png takes a uint8 array of shape (height, width, 3)")
    # Every row starts with its filter type, 0: none.
    rows = np.concatenate([np.zeros((height, 1), np.uint8), rgb.reshape(height, width * 3)],
                          axis=1)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(path, "wb") as stream:
        stream.write(b"\x89PNG\r\n\x1a\n")
        stream.write(_chunk(b"IHDR", header))
        stream.write(_chunk(b"IDAT", zlib.compress(rows.tobytes(), 9)))
        stream.write(_chunk(b"IEND", b""))
