"""Writes the Python package's wheel for one platform: the package's files,
the platform's shared library beside them, and a .dist-info folder
(METADATA, WHEEL, the licence, RECORD with each file's SHA-256), as the
binary distribution format lays out (PEP 427, tags of PEP 425 and PEP 600).

    python3 python/write_wheel.py --version 0.1.0 --date 2024-12-08 \\
        --tag manylinux_2_17_x86_64.manylinux2014_x86_64 \\
        --library build/python/libtarvbandscore.so --license COPYING \\
        --output-dir build/wheels python/tarvbandscore/*.py

The wheel depends on its inputs only: members in a fixed order, each dated
--date, with the permissions of its kind, compressed at a fixed level. Its
file name is printed. The library serves every CPython 3 (it is loaded with
ctypes), so the tag is py3-none-<platform>."""
from __future__ import annotations

import argparse
import base64
import hashlib
import os
import re
import sys
import zipfile
from typing import List, Tuple

NAME = "tarvbandscore"

SUMMARY = ("Edge-preserving anisotropic diffusion of log-intensity images and band "
           "scores per column, for OCT and ultrasound images")

DESCRIPTION = """\
tarv_filter filters a float32 log-intensity image (or a volume of pages)
with edge-preserving anisotropic diffusion: speckle is smoothed where the
image looks like a reference region you choose, edges are kept where it
does not. band_score scores, for every column of a float64 image, every
pair of candidate upper and lower boundary rows. Both are the numeric cores
of the MATLAB/GNU Octave plug-ins TARV_c and bandscore, with the same result
bits, called through ctypes with the GIL released.

    python3 -m tarvbandscore.demo
"""


def metadata(version: str) -> str:
    fields = [
        ("Metadata-Version", "2.1"),
        ("Name", NAME),
        ("Version", version),
        ("Summary", SUMMARY),
        ("License", "BSD-3-Clause"),
        ("Classifier", "License :: OSI Approved :: BSD License"),
        ("Classifier", "Programming Language :: Python :: 3"),
        ("Classifier", "Topic :: Scientific/Engineering :: Image Processing"),
        ("Requires-Python", ">=3.8"),
        ("Requires-Dist", "numpy"),
        ("Provides-Extra", "progress"),
        ("Requires-Dist", 'tqdm; extra == "progress"'),
        ("Provides-Extra", "cohorts"),
        ("Requires-Dist", 'dask[array]; extra == "cohorts"'),
        ("Requires-Dist", 'distributed; extra == "cohorts"'),
        ("Description-Content-Type", "text/plain"),
    ]
    return "".join(f"{key}: {value}\n" for key, value in fields) + "\n" + DESCRIPTION


def wheel_file(tags: List[str]) -> str:
    lines = ["Wheel-Version: 1.0", "Generator: tarvbandscore python/write_wheel.py",
             "Root-Is-Purelib: false"] + [f"Tag: {tag}" for tag in tags]
    return "\n".join(lines) + "\n"


def record_line(path: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def member(path: str, date: Tuple[int, ...], executable: bool) -> zipfile.ZipInfo:
    info = zipfile.ZipInfo(path, date_time=date)
    info.create_system = 3  # Unix, so that the permissions below count
    info.external_attr = (0o100755 if executable else 0o100644) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--date", required=True, help="YYYY-MM-DD, every member's date")
    parser.add_argument("--tag", required=True, help="the platform tag(s), joined by '.'")
    parser.add_argument("--library", required=True)
    parser.add_argument("--license", required=True)
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("sources", nargs="+", help="the package's Python files")
    args = parser.parse_args()

    date = tuple(int(part) for part in args.date.split("-")) + (0, 0, 0)
    files: List[Tuple[str, bytes, bool]] = []
    for source in sorted(args.sources, key=os.path.basename):
        with open(source, "rb") as stream:
            data = stream.read()
        if os.path.basename(source) == "__init__.py":
            found = re.search(rb'^__version__ = "([^"]*)"$', data, re.MULTILINE)
            if found is None or found.group(1).decode() != args.version:
                sys.exit(f"write_wheel: {source} must say __version__ = \"{args.version}\"")
        files.append((f"{NAME}/{os.path.basename(source)}", data, False))
    with open(args.library, "rb") as stream:
        files.append((f"{NAME}/{os.path.basename(args.library)}", stream.read(), True))

    tags = [f"py3-none-{platform}" for platform in args.tag.split(".")]
    info = f"{NAME}-{args.version}.dist-info"
    with open(args.license, "rb") as stream:
        files.append((f"{info}/COPYING", stream.read(), False))
    files.append((f"{info}/METADATA", metadata(args.version).encode(), False))
    files.append((f"{info}/WHEEL", wheel_file(tags).encode(), False))
    record = "".join(record_line(path, data) + "\n" for path, data, _ in files)
    record += f"{info}/RECORD,,\n"
    files.append((f"{info}/RECORD", record.encode(), False))

    os.makedirs(args.output_dir, exist_ok=True)
    wheel = os.path.join(args.output_dir, f"{NAME}-{args.version}-py3-none-{args.tag}.whl")
    partial = wheel + ".partial"
    with zipfile.ZipFile(partial, "w", compresslevel=9) as archive:
        for path, data, executable in files:
            archive.writestr(member(path, date, executable), data)
    os.replace(partial, wheel)
    print(wheel)
    return 0


if __name__ == "__main__":
    sys.exit(main())
