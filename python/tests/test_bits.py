"""Both functions give the MATLAB plug-ins' bits on the same values, in
every memory layout NumPy hands them: the plug-ins called through mexrun
are the reference."""
from __future__ import annotations

import unittest

import numpy as np

import support
import tarvbandscore


def matlab_region(region):
    """(row_start, row_stop, col_start, col_stop) as TARV_c's 1-based,
    inclusive bounds."""
    return region[0] + 1, region[1], region[2] + 1, region[3]


# name, image, iterations, lam, region
_VOLUME = support.log_speckle((40, 37, 5), seed=3)
_WIDE = support.log_speckle((300, 130), seed=5)
_SPECIAL = support.log_speckle((30, 20), seed=6)
_SPECIAL[3, 4], _SPECIAL[10, 11], _SPECIAL[20, 2], _SPECIAL[25, 15] = np.nan, -np.inf, 50, -0.0
FILTER_CASES = [
    ("matrix, Fortran order", np.asfortranarray(support.log_speckle((67, 53), seed=1)), 7, 0.2,
     (3, 20, 5, 30)),
    ("matrix, C order", np.ascontiguousarray(support.log_speckle((67, 53), seed=1)), 7, 0.2,
     (3, 20, 5, 30)),
    ("a strided view", support.log_speckle((90, 160), seed=2)[::2, 1::3], 5, 0.15,
     (0, 45, 0, 53)),
    ("big-endian", support.log_speckle((21, 34), seed=4).astype(">f4"), 9, 0.25,
     (0, 21, 10, 11)),
    ("one row", support.log_speckle((1, 50), seed=7), 12, 0.2, (0, 1, 0, 10)),
    ("one column", support.log_speckle((50, 1), seed=8), 12, 0.2, (5, 25, 0, 1)),
    ("volume, Fortran order", np.asfortranarray(_VOLUME), 6, 0.2, (0, 10, 0, 37)),
    ("volume, C order", np.ascontiguousarray(_VOLUME), 6, 0.2, (0, 10, 0, 37)),
    ("large enough for a team", _WIDE, 4, 0.2, (0, 40, 0, 130)),
    ("NaN, -inf, overflow and -0", _SPECIAL, 3, 0.2, (0, 10, 0, 20)),
    ("no iteration", support.log_speckle((13, 9), seed=9), 0, 0.2, (0, 13, 0, 9)),
    ("lam above 1", support.log_speckle((25, 25), seed=10), 10, 1.7, (0, 25, 0, 25)),
    ("fractional iterations", support.log_speckle((25, 25), seed=11), 6.9, 0.2,
     (0, 25, 0, 25)),
]


class FilterBits(unittest.TestCase):
    def test_the_plugins_bits(self):
        for name, image, iterations, lam, region in FILTER_CASES:
            with self.subTest(name):
                mex = support.mex_call("TARV_C_PLUGIN", np.asarray(image, dtype=np.float32),
                                       iterations, lam, *matlab_region(region), 0)
                self.assertIsNone(mex.error)
                with np.testing.suppress_warnings() as quiet:
                    quiet.filter(RuntimeWarning)
                    result = tarvbandscore.tarv_filter(image, iterations, lam, region)
                self.assertIsNone(support.bits_differ(mex.result, result))
                self.assertTrue(result.flags.f_contiguous)

    def test_the_input_is_left_as_it_was(self):
        image = np.ascontiguousarray(support.log_speckle((40, 30), seed=12))
        before = image.copy()
        tarvbandscore.tarv_filter(image, 5, 0.2, (0, 10, 0, 30))
        self.assertIsNone(support.bits_differ(before, image))

    def test_an_empty_image_gives_an_empty_result(self):
        for shape in ((0, 5), (4, 0), (3, 4, 0)):
            with self.subTest(shape=shape):
                result = tarvbandscore.tarv_filter(np.zeros(shape, np.float32), 5, 0.2,
                                                   (0, 1, 0, 1))
                self.assertEqual((result.shape, result.dtype), (shape, np.float32))


def per_column(values, cols):
    return np.resize(np.asarray(values, dtype=np.float64), cols)


# name, top_offset, bottom_offset, image, span_mean, span_sd, A, B, prior_weight,
# span_min, span_max
_BSCAN = support.log_speckle((60, 40), seed=20).astype(np.float64)
_WIDE_BSCAN = support.log_speckle((200, 300), seed=21).astype(np.float64)
SCORE_CASES = [
    ("Fortran order", 5, 20, np.asfortranarray(_BSCAN), per_column([12, 14, 16], 40),
     per_column([3, 4], 40), 15, 20, 0.8, per_column([2, 5], 40), per_column([30, 35], 40)),
    ("C order", 5, 20, np.ascontiguousarray(_BSCAN), per_column([12, 14, 16], 40),
     per_column([3, 4], 40), 15, 20, 0.8, per_column([2, 5], 40), per_column([30, 35], 40)),
    ("fractional offsets and counts, NaN limits", 5.5, 19.75, _BSCAN, per_column(15, 40),
     per_column(5, 40), 12.9, 18.2, 1.5, per_column([np.nan, 3], 40),
     per_column([40, np.nan], 40)),
    ("more values than columns, as a 2-D array", 0, 10, _BSCAN,
     np.full((1, 45), 20.0), np.full(41, 6.0), 30, 30, 0.5, np.zeros(40), np.full(40, 1e9)),
    ("large enough for a team", 30, 60, _WIDE_BSCAN, per_column(60, 300), per_column(9, 300),
     80, 90, 0.7, per_column(10, 300), per_column(140, 300)),
    ("no admissible pair", 0, 0, _BSCAN, per_column(5, 40), per_column(1, 40), 5, 5, 1.0,
     per_column(100, 40), per_column(200, 40)),
]


class ScoreBits(unittest.TestCase):
    def test_the_plugins_bits(self):
        for name, *arguments in SCORE_CASES:
            with self.subTest(name):
                matlab_arguments = [np.asarray(a, dtype=np.float64) if isinstance(a, np.ndarray)
                                    else a for a in arguments]
                mex = support.mex_call("BANDSCORE_PLUGIN", *matlab_arguments)
                self.assertIsNone(mex.error)
                result = tarvbandscore.band_score(*arguments)
                self.assertIsNone(support.bits_differ(mex.result, result))

    def test_lists_and_integers_are_per_column_values(self):
        cols = _BSCAN.shape[1]
        arrays = tarvbandscore.band_score(2, 12, _BSCAN, per_column(10, cols),
                                          per_column(3, cols), 8, 9, 1.0, per_column(4, cols),
                                          per_column(20, cols))
        lists = tarvbandscore.band_score(2, 12, _BSCAN, [10] * cols, [3.0] * cols, 8, 9, 1,
                                         np.full(cols, 4, np.int16),
                                         np.full(cols, 20, np.float32))
        self.assertIsNone(support.bits_differ(arrays, lists))


if __name__ == "__main__":
    unittest.main()
