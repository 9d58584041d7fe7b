"""Wrong arguments raise TypeError or ValueError naming the argument, what
was expected and what was passed; the warnings have the MATLAB plug-in's
causes, counts and order (the plug-in called through mexrun on the same
values)."""
from __future__ import annotations

import re
import unittest
import warnings

import numpy as np

import support
import tarvbandscore
from tarvbandscore import LambdaWarning, NonFiniteWarning, band_score, tarv_filter

IMAGE = support.log_speckle((40, 30), seed=1)
BSCAN = IMAGE.astype(np.float64)
C = BSCAN.shape[1]


def score(threads=None, **changed):
    """band_score of BSCAN with some arguments changed."""
    arguments = dict(top_offset=2, bottom_offset=12, image=BSCAN, span_mean=np.full(C, 10.0),
                     span_sd=np.full(C, 3.0), top_count=8, bottom_count=9, prior_weight=1.0,
                     span_min=np.full(C, 4.0), span_max=np.full(C, 20.0))
    arguments.update(changed)
    return band_score(*arguments.values(), threads=threads)


def filtered(image=IMAGE, iterations=5, lam=0.2, region=(0, 10, 0, 30), **options):
    return tarv_filter(image, iterations, lam, region, **options)


# what, call, exception, the phrases its message holds: the argument, what was
# expected, what was passed
ERRORS = [
    ("image of float64", lambda: filtered(image=BSCAN), TypeError,
     ["'image'", "float32", "np.log1p(img.astype(np.float64)).astype(np.float32)", "float64"]),
    ("image a list", lambda: filtered(image=[[1.0]]), TypeError,
     ["'image'", "NumPy array of float32", "list"]),
    ("image of complex64", lambda: filtered(image=IMAGE.astype(np.complex64)), TypeError,
     ["'image'", "float32", "complex64"]),
    ("image of four dimensions", lambda: filtered(image=np.zeros((2, 2, 2, 2), np.float32)),
     ValueError, ["'image'", "matrix or a volume of pages", "(2, 2, 2, 2)"]),
    ("image a vector", lambda: filtered(image=np.zeros(5, np.float32)), ValueError,
     ["'image'", "matrix or a volume of pages", "(5,)"]),
    ("iterations NaN", lambda: filtered(iterations=float("nan")), ValueError,
     ["'iterations'", "finite number within the 32-bit integer range", "nan"]),
    ("iterations 2^31", lambda: filtered(iterations=2**31), ValueError,
     ["'iterations'", "32-bit integer range", "2147483648"]),
    ("iterations a string", lambda: filtered(iterations="5"), TypeError,
     ["'iterations'", "real number", "str"]),
    ("iterations an array", lambda: filtered(iterations=np.array([5, 6])), TypeError,
     ["'iterations'", "real number", "shape (2,)"]),
    ("lam complex", lambda: filtered(lam=0.2j), TypeError, ["'lam'", "real number", "complex"]),
    ("region past the last row", lambda: filtered(region=(0, 41, 0, 30)), ValueError,
     ["'region'", "rows 0:41", "rows 0:40"]),
    ("region before the first column", lambda: filtered(region=(0, 10, -1, 5)), ValueError,
     ["'region'", "columns -1:5", "columns 0:30"]),
    ("region of no rows", lambda: filtered(region=(5, 5, 0, 30)), ValueError,
     ["'region'", "rows 5:5", "empty"]),
    ("region of no columns", lambda: filtered(region=(0, 10, 9, 3)), ValueError,
     ["'region'", "columns 9:3", "empty"]),
    ("region of floats", lambda: filtered(region=(0, 10.0, 0, 5)), TypeError,
     ["'region'", "four integers", "(0, 10.0, 0, 5)"]),
    ("region of three bounds", lambda: filtered(region=(0, 10, 0)), TypeError,
     ["'region'", "four integers", "(0, 10, 0)"]),
    ("region a number", lambda: filtered(region=7), TypeError, ["'region'", "int"]),
    ("threads negative", lambda: filtered(threads=-1), ValueError, ["'threads'", "-1"]),
    ("threads a float", lambda: filtered(threads=1.5), TypeError,
     ["'threads'", "integer", "float"]),
    ("scorer image float32", lambda: score(image=IMAGE), TypeError,
     ["'image'", "float64", "float32", "out.astype(np.float64)"]),
    ("scorer image a volume", lambda: score(image=np.zeros((4, 5, 2))), ValueError,
     ["'image'", "matrix", "(4, 5, 2)", "page by page"]),
    ("scorer offset a string", lambda: score(top_offset="2"), TypeError,
     ["'top_offset'", "real number", "str"]),
    ("scorer count negative", lambda: score(top_count=-1), ValueError,
     ["'top_count'", "from 0 up to 2^31 - 1", "-1"]),
    ("scorer count NaN", lambda: score(bottom_count=float("nan")), ValueError,
     ["'bottom_count'", "from 0 up to 2^31 - 1", "nan"]),
    ("scorer result too large", lambda: score(top_count=2**16, bottom_count=2**16), ValueError,
     ["65536 x 65536 x 30", "fewer than 2^31 cells"]),
    ("scorer too few span means", lambda: score(span_mean=np.full(C - 1, 10.0)), ValueError,
     ["'span_mean'", "each of the image's 30 columns", "has 29"]),
    ("scorer span limits of strings", lambda: score(span_max=["20"] * C), TypeError,
     ["'span_max'", "real numbers", "list"]),
    ("scorer offsets beyond 32 bits", lambda: score(bottom_offset=3e9), ValueError,
     ["'top_offset'", "'bottom_offset'", "3000000000.0", "32-bit integer range"]),
    ("scorer rows outside the image", lambda: score(bottom_offset=35, span_max=np.full(C, 50.0)),
     ValueError, ["column 0", "reads outside the image's rows 0..39"]),
    ("scorer threads a string", lambda: score(threads="2"), TypeError, ["'threads'", "str"]),
]


class Errors(unittest.TestCase):
    def test_name_the_argument_what_was_expected_and_what_was_passed(self):
        for what, call, exception, phrases in ERRORS:
            with self.subTest(what):
                with self.assertRaises(exception) as raised:
                    call()
                for phrase in phrases:
                    self.assertIn(phrase, str(raised.exception))

    def test_a_pair_outside_the_image_is_the_one_matlab_names(self):
        # Bottoms 35..43 of a 40-row image: only columns 7 on admit the pairs
        # that read past its last row. MATLAB counts the column from 1, the
        # rows from 0.
        arguments = [2, 35, BSCAN, np.full(C, 10.0), np.full(C, 3.0), 8, 9, 1.0,
                     np.zeros(C), np.r_[np.full(7, 30.0), np.full(C - 7, 100.0)]]
        mex = support.mex_call("BANDSCORE_PLUGIN", *arguments)
        self.assertEqual(mex.error[0], "bandscore:rowRange")
        column, top, bottom = map(int, re.search(r"column (\d+) .* top row (\d+) and bottom row "
                                                 r"(\d+)", mex.error[1]).groups())
        with self.assertRaises(ValueError) as raised:
            band_score(*arguments)
        self.assertIn(f"column {column - 1} the admissible pair of top row {top} and bottom row "
                      f"{bottom} (0-based)", str(raised.exception))


def flat_patch(image, value):
    patched = image.copy()
    patched[:8, :8] = value
    return patched


def checkerboard(rows, cols, high):
    return (high * ((np.arange(rows)[:, None] + np.arange(cols)) % 2)).astype(np.float32)


def with_pixel(image, row, col, value):
    changed = image.copy()
    changed[row, col] = value
    return changed


# what, image, iterations, lam, region, and for each warning in order: the
# MATLAB identifier, the Python category, a phrase of the MATLAB message and
# one of the Python message
WARNINGS = [
    ("log intensities", IMAGE, 5, 0.2, (0, 10, 0, 30), []),
    ("intensities", np.exp(IMAGE + 4.5), 5, 0.2, (0, 10, 0, 30),
     [("TARV_c:nonFinite", NonFiniteWarning, "input pixels are above 88.72",
       "input pixels are above 88.72")]),
    ("log of a zero intensity", with_pixel(IMAGE, 20, 20, -np.inf), 5, 0.2, (0, 10, 0, 30),
     [("TARV_c:nonFinite", NonFiniteWarning, "input pixels are -Inf", "input pixels are -inf")]),
    ("NaN pixel", with_pixel(IMAGE, 3, 3, np.nan), 5, 0.2, (0, 10, 0, 30),
     [("TARV_c:nonFinite", NonFiniteWarning, "are NaN or Inf", "are NaN or inf")]),
    ("squares overflow", IMAGE + 46, 5, 0.2, (0, 10, 0, 30),
     [("TARV_c:nonFinite", NonFiniteWarning, "are 44.36 or above", "are 44.36 or above")]),
    ("squares underflow", IMAGE - 53, 5, 0.2, (0, 10, 0, 30),
     [("TARV_c:nonFinite", NonFiniteWarning, "are -51.99 or below", "are -51.99 or below")]),
    ("neighbours far apart", checkerboard(20, 20, 43), 5, 0.2, (0, 20, 0, 20),
     [("TARV_c:nonFinite", NonFiniteWarning, "neighbouring input pixels differ by up to 43",
       "neighbouring input pixels differ by up to 43")]),
    ("region of one pixel", flat_patch(IMAGE, 1.0), 5, 0.2, (20, 21, 20, 21),
     [("TARV_c:nonFinite", NonFiniteWarning, "is a single pixel", "is a single pixel")]),
    ("flat region", flat_patch(IMAGE, 0.0), 5, 0.2, (0, 8, 0, 8),
     [("TARV_c:nonFinite", NonFiniteWarning, "region is flat", "region is flat")]),
    ("lam NaN", IMAGE, 5, float("nan"), (0, 10, 0, 30),
     [("TARV_c:lambda", LambdaWarning, "is NaN: every result pixel", "is nan: every result pixel"),
      ("TARV_c:nonFinite", NonFiniteWarning, "lambda is NaN", "lam is NaN")]),
    ("lam 0", IMAGE, 5, 0.0, (0, 10, 0, 30),
     [("TARV_c:lambda", LambdaWarning, "a step of 0", "a step of 0")]),
    ("lam negative", IMAGE, 60, -1.0, (0, 10, 0, 30),
     [("TARV_c:lambda", LambdaWarning, "negative one sharpens", "negative one sharpens"),
      ("TARV_c:nonFinite", NonFiniteWarning, "a negative lambda sharpened",
       "a negative lam sharpened")]),
    ("lam above 1", IMAGE, 20, 5.0, (0, 10, 0, 30),
     [("TARV_c:lambda", LambdaWarning, "steps above 1", "steps above 1"),
      ("TARV_c:nonFinite", NonFiniteWarning, "lambda above 1 drove pixels below 0",
       "lam above 1 drove pixels below 0")]),
    ("lam NaN, no iteration", IMAGE, 0, float("nan"), (0, 10, 0, 30), []),
]


def counts(message):
    """The 'N of M' counts a warning gives."""
    return re.findall(r"(\d+) of (\d+)", message)


class Warnings(unittest.TestCase):
    def test_have_the_plugins_causes(self):
        for what, image, iterations, lam, region, expected in WARNINGS:
            with self.subTest(what):
                mex = support.mex_call("TARV_C_PLUGIN", image, iterations, lam, region[0] + 1,
                                       region[1], region[2] + 1, region[3], 0)
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    tarv_filter(image, iterations, lam, region)
                self.assertEqual([identifier for identifier, _ in mex.warnings],
                                 [identifier for identifier, *_ in expected])
                self.assertEqual([w.category for w in caught],
                                 [category for _, category, *_ in expected])
                for (_, matlab), python, (*_, matlab_phrase, python_phrase) in zip(
                        mex.warnings, caught, expected):
                    self.assertIn(matlab_phrase, matlab)
                    self.assertIn(python_phrase, str(python.message))
                    self.assertTrue(issubclass(python.category, RuntimeWarning))
                    self.assertEqual(counts(str(python.message)), counts(matlab))

    def test_point_at_the_callers_line_and_can_be_turned_off(self):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            tarv_filter(IMAGE + 46, 5, 0.2, (0, 10, 0, 30))
        self.assertEqual(caught[0].filename, __file__)
        self.assertIn("warnings.simplefilter('ignore', tarvbandscore.NonFiniteWarning)",
                      str(caught[0].message))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            warnings.simplefilter("ignore", tarvbandscore.NonFiniteWarning)
            tarv_filter(IMAGE + 46, 5, 0.2, (0, 10, 0, 30))
        self.assertEqual(caught, [])


if __name__ == "__main__":
    unittest.main()
