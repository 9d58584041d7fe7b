"""Both functions on a synthetic layered image, as the Octave demo
(octave/demo/tarv_demo.m) runs the plug-ins: a bright band of known
boundaries under multiplicative speckle is filtered with tarv_filter
(progress bar on), then band_score scores every pair of candidate boundary
rows per column and the best pair is taken in each column, on the noisy
and on the filtered image. Prints the timings and the mean error of the
boundaries found against the truth, and writes a picture (noisy, filtered,
boundaries found) to a PNG file.

    python3 -m tarvbandscore.demo [PNG] [--plain]

PNG defaults to tarv_demo.png in the temporary folder. The picture is drawn
with matplotlib where it is installed, else (or with --plain) as the three
panels without their titles by a PNG writer of the package's own. The
image comes from a fixed seed through the generator Octave's
rand("state", 2024) uses, and the picture and numbers are those of the
Octave demo."""
from __future__ import annotations

import argparse
import importlib.util
import math
import os
import random
import tempfile
import time
from typing import Any, Dict, Tuple

import numpy as np

from . import band_score, tarv_filter
from ._png import write_png

ROWS, COLS, THICKNESS = 256, 384, 40
ITERATIONS = 60
CANDIDATES = {"top_offset": 50, "top_count": 130, "bottom_offset": 80, "bottom_count": 150}


def octave_round(values: np.ndarray) -> np.ndarray:
    """Octave's round: halves away from zero (NumPy's go to even)."""
    return np.where(values >= 0, np.floor(values + 0.5), np.ceil(values - 0.5))


def layered_image() -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """The noisy float32 log image and the true upper and lower boundary
    (0-based rows) of its band in each column."""
    # The C library's sin and log, which Octave's are, element by element:
    # NumPy's own may differ in a last bit.
    top_true = octave_round(np.array([105 + 28 * math.sin(2 * math.pi * x / COLS)
                                      + 9 * math.sin(6 * math.pi * x / COLS + 1)
                                      for x in range(COLS)]))
    bottom_true = top_true + THICKNESS
    row = np.arange(ROWS)[:, None]
    reflectivity = np.ones((ROWS, COLS))
    reflectivity[row > bottom_true] = 1.7
    reflectivity[(row >= top_true) & (row <= bottom_true)] = 3

    # Fully developed multiplicative speckle: exponentially distributed
    # intensity of mean 1. Python's random.Random(2024) is the Mersenne
    # twister seeded as Octave's rand("state", 2024) seeds it, and random()
    # draws 53-bit numbers as Octave's rand does, filled column by column.
    generator = random.Random(2024)
    uniform = [generator.random() for _ in range(ROWS * COLS)]
    speckle = np.array([-math.log(u) for u in uniform]).reshape((ROWS, COLS), order="F")
    products = (reflectivity * speckle).ravel(order="F")
    noisy = np.array([math.log(p) for p in products]).reshape((ROWS, COLS), order="F")
    return noisy.astype(np.float32), top_true.astype(np.int64), bottom_true.astype(np.int64)


def best_bands(log_image: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """The best pair of boundary rows (0-based) in each column."""
    c = np.ones(log_image.shape[1])
    scores = band_score(CANDIDATES["top_offset"], CANDIDATES["bottom_offset"],
                        log_image.astype(np.float64), THICKNESS * c, 6 * c,
                        CANDIDATES["top_count"], CANDIDATES["bottom_count"], 0.5, 25 * c, 55 * c)
    # The first maximum of each column, as MATLAB's max finds it.
    best = scores.reshape(-1, scores.shape[2], order="F").argmax(axis=0)
    a, b = best % CANDIDATES["top_count"], best // CANDIDATES["top_count"]
    return CANDIDATES["top_offset"] + a, CANDIDATES["bottom_offset"] + b


def grey_limits(noisy: np.ndarray) -> Tuple[float, float]:
    """The same grey scale for all three panels: the 0.5 % and 99.5 %
    points of the noisy image (log speckle has a long tail of dark pixels)."""
    ordered = np.sort(noisy.astype(np.float64).ravel(order="F"))
    low, high = octave_round(np.array([0.005, 0.995]) * ordered.size).astype(np.int64) - 1
    return float(ordered[low]), float(ordered[high])


def draw_with_matplotlib(png: str, panels: Dict[str, Any]) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure = plt.figure(figsize=(15, 4.1), dpi=100, facecolor="w")
    try:
        low, high = panels["limits"]
        titles = ["noisy log image: a band under speckle",
                  f"filtered by tarv_filter, {ITERATIONS} iterations",
                  "boundaries found by band_score (red), true (green)"]
        images = [panels["noisy"], panels["filtered"], panels["filtered"]]
        x = np.arange(COLS)
        for k in range(3):
            axes = figure.add_axes((0.01 + 0.33 * k, 0.08, 0.31, 0.80))
            axes.imshow(images[k], cmap="gray", vmin=low, vmax=high, interpolation="nearest")
            axes.set_axis_off()
            axes.set_title(titles[k], fontsize=11)
            if k == 2:
                for boundary in panels["found"]:
                    axes.plot(x, boundary, "r-", linewidth=2.5)
                for boundary in panels["true"]:
                    axes.plot(x, boundary, "g-", linewidth=1)
                axes.text(COLS / 2, ROWS + 14,
                          f"mean error {panels['error_found']:.2f} rows "
                          f"({panels['error_noisy']:.2f} on the noisy image)",
                          horizontalalignment="center", fontsize=11)
        figure.savefig(png)
    finally:
        plt.close(figure)


def draw_plain(png: str, panels: Dict[str, Any]) -> None:
    """The three panels side by side on white, each pixel of the image one
    pixel of the picture; the boundaries found in red, the true ones in
    green over them."""
    low, high = panels["limits"]
    gutter = 16

    def grey(image: np.ndarray) -> np.ndarray:
        level = np.clip((image.astype(np.float64) - low) / (high - low), 0.0, 1.0)
        return np.repeat((level * 255 + 0.5).astype(np.uint8)[:, :, None], 3, axis=2)

    def trace(rgb: np.ndarray, rows: np.ndarray, colour: Tuple[int, int, int],
              width: int) -> None:
        # Each column from the previous column's row to its own, so that
        # the line stays joined where the boundary jumps.
        for x in range(rows.size):
            first, last = sorted((int(rows[max(x - 1, 0)]), int(rows[x])))
            for row in range(first, last + 1):
                rgb[max(row - width // 2, 0):min(row + (width + 1) // 2, ROWS), x] = colour

    marked = grey(panels["filtered"])
    for boundary in panels["found"]:
        trace(marked, boundary, (230, 0, 0), 3)
    for boundary in panels["true"]:
        trace(marked, boundary, (0, 200, 0), 1)
    picture = np.full((ROWS + 2 * gutter, 3 * COLS + 4 * gutter, 3), 255, np.uint8)
    for k, panel in enumerate((grey(panels["noisy"]), grey(panels["filtered"]), marked)):
        left = gutter + k * (COLS + gutter)
        picture[gutter:gutter + ROWS, left:left + COLS] = panel
    write_png(png, picture)


def main(argv: Any = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m tarvbandscore.demo",
                                     description=__doc__.split("\n\n")[0])
    parser.add_argument("png", nargs="?", default=os.path.join(tempfile.gettempdir(),
                                                               "tarv_demo.png"))
    parser.add_argument("--plain", action="store_true",
                        help="draw with the package's own PNG writer even where matplotlib is "
                             "installed")
    args = parser.parse_args(argv)

    noisy, top_true, bottom_true = layered_image()
    # The reference region: rows 0:50 lie above the band in every column.
    start = time.perf_counter()
    filtered = tarv_filter(noisy, ITERATIONS, 0.2, (0, 50, 0, COLS), progress=True)
    filter_seconds = time.perf_counter() - start

    top_noisy, bottom_noisy = best_bands(noisy)
    start = time.perf_counter()
    top_found, bottom_found = best_bands(filtered)
    score_seconds = time.perf_counter() - start

    def error(top: np.ndarray, bottom: np.ndarray) -> float:
        return float(np.mean(np.abs(np.concatenate([top - top_true, bottom - bottom_true]))))

    error_noisy, error_found = error(top_noisy, bottom_noisy), error(top_found, bottom_found)
    print(f"tarv_filter: {ROWS} x {COLS} image, {ITERATIONS} iterations, progress bar on: "
          f"{filter_seconds:.2f} s")
    print(f"band_score:  {CANDIDATES['top_count']} x {CANDIDATES['bottom_count']} candidate "
          f"pairs in each of {COLS} columns: {score_seconds:.2f} s")
    print(f"mean boundary error against the truth: {error_noisy:.2f} rows on the noisy image, "
          f"{error_found:.2f} rows filtered")

    panels = {"noisy": noisy, "filtered": filtered, "limits": grey_limits(noisy),
              "found": (top_found, bottom_found), "true": (top_true, bottom_true),
              "error_noisy": error_noisy, "error_found": error_found}
    if not args.plain and importlib.util.find_spec("matplotlib") is not None:
        draw_with_matplotlib(args.png, panels)
    else:
        draw_plain(args.png, panels)
    print(f"picture: {args.png}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
