"""Times the Python package's calls beside the plug-ins' (docs/performance.md):

1. tarv_filter on a B-scan of 496 x 1024, 20 iterations, against the
   library's C interface called alone through ctypes and TARV_c called in
   GNU Octave (the plug-in built for Octave), both on the same values,
   and, given --call-bench, against TARV_c through the stand-in host and
   the core alone (bench/call_bench.cpp's row of 20 iterations, on its own
   B-scan of that size): what the binding itself costs;
2. a cohort of volumes of 496 x 1024 x 16 (32 by default), read from and
   written to .npy files: filtered in this process one volume after
   another with threads=2, against the same on a dask LocalCluster of two
   single-thread worker processes (docs/cohorts.md's recipe).

Each single call is the fastest of several; each cohort run is timed once.
Run it with the Python the package is installed in, from the project's
root, after `make` (and `make bench` for --call-bench):

    build/python/venv/bin/python bench/python_calls.py \\
        --octave-plugins build/octave --call-bench build/bench/call_bench
"""
from __future__ import annotations

import argparse
import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from typing import Callable, List

import numpy as np

import tarvbandscore

ROWS, COLS, PAGES, ITERATIONS, LAM = 496, 1024, 16, 20, 0.2
REGION = (0, 40, 0, 60)  # TARV_c's rows 1..40, columns 1..60


def fastest(repeats: int, call: Callable[[], object]) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def log_speckle(shape, seed: int) -> np.ndarray:
    generator = np.random.default_rng(seed)
    ramp = np.linspace(0.0, 2.0, shape[0]).reshape((-1,) + (1,) * (len(shape) - 1))
    return (ramp + np.log(-np.log(generator.random(shape)))).astype(np.float32)


def c_interface_ms(image: np.ndarray, repeats: int) -> float:
    """The fastest call of the library's C interface on `image` (Fortran
    order), with no check, no callback and a result made once, in ms."""
    from tarvbandscore import _library

    source = np.asfortranarray(image)
    result = np.empty_like(source)
    region = _library.Region(REGION[0], REGION[1] - 1, REGION[2], REGION[3] - 1)
    return 1e3 * fastest(repeats, lambda: _library.lib.tarvbandscore_filter(
        source.ctypes.data, result.ctypes.data, ROWS, COLS, 1, ITERATIONS, LAM,
        ctypes.byref(region), 0, None, None))


def octave_call_ms(plugins: str, image: np.ndarray, repeats: int) -> float:
    """The fastest TARV_c call on `image` in GNU Octave, in ms."""
    with tempfile.TemporaryDirectory() as folder:
        raw = os.path.join(folder, "bscan.f32")
        image.ravel(order="F").tofile(raw)
        call = f"TARV_c(img, {ITERATIONS}, {LAM}, 1, 40, 1, 60, 0)"
        script = (f"fid = fopen('{raw}'); img = reshape(fread(fid, Inf, 'single=>single'), "
                  f"{ROWS}, {COLS}); fclose(fid); {call}; best = Inf; for k = 1:{repeats}, "
                  f"tic(); {call}; best = min(best, toc()); end; printf('%.6f\\n', best * 1e3);")
        run = subprocess.run(["octave-cli", "--norc", "--no-history", "--quiet", "--path", plugins,
                              "--eval", script], capture_output=True, text=True, check=True)
        return float(run.stdout.split()[-1])


def call_bench_row(program: str) -> List[float]:
    """call_bench's 20-iteration row of the B-scan table: whole call and
    core alone, in ms."""
    output = subprocess.run([program], capture_output=True, text=True, check=True).stdout
    found = re.search(r"^20\s+([0-9.]+)\s+([0-9.]+)\s*$", output, re.MULTILINE)
    if found is None:
        sys.exit(f"python_calls: no row of 20 iterations in the output of {program}")
    return [float(found.group(1)), float(found.group(2))]


def filter_stored_volume(source: str, target: str, threads) -> None:
    np.save(target, tarvbandscore.tarv_filter(np.load(source), ITERATIONS, LAM, REGION,
                                              threads=threads))


def cohort_seconds(folder: str, volumes: int) -> List[float]:
    """In this process with two threads, and on two single-thread dask
    workers: seconds for the whole cohort, from files to files."""
    import dask
    import dask.array as da
    from distributed import Client, LocalCluster

    paths = [os.path.join(folder, f"volume{v}.npy") for v in range(volumes)]
    for v, path in enumerate(paths):
        np.save(path, log_speckle((ROWS, COLS, PAGES), seed=v))
    here = os.path.join(folder, "filtered-here")
    os.makedirs(here, exist_ok=True)
    start = time.perf_counter()
    for v, path in enumerate(paths):
        filter_stored_volume(path, os.path.join(here, f"{v}.npy"), 2)
    in_process = time.perf_counter() - start

    def filter_block(block):
        return np.stack([tarvbandscore.tarv_filter(block[:, :, :, k], ITERATIONS, LAM, REGION)
                         for k in range(block.shape[3])], axis=3)

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        cohort = da.stack([da.from_delayed(dask.delayed(np.load)(path), (ROWS, COLS, PAGES),
                                           np.float32) for path in paths], axis=3)
        start = time.perf_counter()
        da.to_npy_stack(os.path.join(folder, "filtered-dask"),
                        cohort.map_blocks(filter_block, dtype=np.float32), axis=3)
        on_dask = time.perf_counter() - start
        started = set(client.run(tarvbandscore.threads_started).values())
    for v in (0, volumes - 1):
        # to_npy_stack keeps each block's axis of volumes.
        here_bits = np.load(os.path.join(here, f"{v}.npy")).view(np.uint32)
        dask_bits = np.load(os.path.join(folder, "filtered-dask", f"{v}.npy"))[..., 0]
        if not np.array_equal(here_bits, dask_bits.view(np.uint32)):
            sys.exit(f"python_calls: volume {v} differs between the two runs")
    print(f"threads started in the workers: {sorted(started)}")
    return [in_process, on_dask]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--octave-plugins", help="the folder of the plug-ins built for Octave")
    parser.add_argument("--call-bench", help="build/bench/call_bench, for the stand-in host's row")
    parser.add_argument("--volumes", type=int, default=32, help="volumes of the cohort")
    parser.add_argument("--folder", default=None, help="where the cohort's files go (removed "
                        "after; default: a temporary folder)")
    args = parser.parse_args()

    print(subprocess.run(["lscpu"], capture_output=True, text=True).stdout.split("\nFlags:")[0])
    # In Fortran order, as MATLAB holds it; a C-order array is copied first.
    bscan = np.asfortranarray(log_speckle((ROWS, COLS), seed=1))
    tarvbandscore.tarv_filter(bscan, ITERATIONS, LAM, REGION)
    print(f"\nthe filter on a {ROWS} x {COLS} B-scan, {ITERATIONS} iterations, fastest call (ms):")
    for what, image, threads in (("Fortran order", bscan, None), ("Fortran order", bscan, 1),
                                 ("C order", np.ascontiguousarray(bscan), None)):
        seconds = fastest(30, lambda: tarvbandscore.tarv_filter(image, ITERATIONS, LAM, REGION,
                                                                threads=threads))
        print(f"  tarv_filter, {what}, threads={threads}: {seconds * 1e3:8.3f}")
    print(f"  the C interface alone, through ctypes: {c_interface_ms(bscan, 30):8.3f}")
    if args.octave_plugins:
        milliseconds = octave_call_ms(args.octave_plugins, bscan, 30)
        print(f"  TARV_c in GNU Octave, same values: {milliseconds:8.3f}")
    if args.call_bench:
        whole, core = call_bench_row(args.call_bench)
        print(f"  TARV_c through the stand-in host: {whole:8.3f}; the core alone: {core:8.3f}")

    folder = args.folder or tempfile.mkdtemp(prefix="python_calls-")
    os.makedirs(folder, exist_ok=True)
    try:
        print(f"\na cohort of {args.volumes} volumes of {ROWS} x {COLS} x {PAGES}, {ITERATIONS} "
              f"iterations, from .npy files to .npy files (s):")
        in_process, on_dask = cohort_seconds(folder, args.volumes)
        print(f"  this process, threads=2:            {in_process:8.2f}")
        print(f"  dask, 2 single-thread processes:    {on_dask:8.2f}")
    finally:
        shutil.rmtree(folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
