"""threads= and OMP_NUM_THREADS: the threads a call starts, counted by the
library (threads_started), and the same bits whatever the count."""
from __future__ import annotations

import os
import unittest
from contextlib import contextmanager

import numpy as np

import support
import tarvbandscore
from tarvbandscore import _library, band_score, tarv_filter

BSCAN = support.log_speckle((496, 1024), seed=1)
VOLUME = support.log_speckle((60, 70, 8), seed=2)
SCORED = BSCAN[:, :300].astype(np.float64)


def filter_bscan(threads):
    return tarv_filter(BSCAN, 3, 0.2, (0, 40, 0, 1024), threads=threads)


def filter_volume(threads):
    return tarv_filter(VOLUME, 4, 0.2, (0, 10, 0, 70), threads=threads)


def score(threads):
    c = np.ones(SCORED.shape[1])
    return band_score(100, 150, SCORED, 80 * c, 20 * c, 100, 100, 1.0, 10 * c, 150 * c,
                      threads=threads)


CALLS = [("filter", filter_bscan), ("filter of a volume", filter_volume), ("scorer", score)]


@contextmanager
def omp_num_threads(value):
    """OMP_NUM_THREADS set to `value` (None: unset) while the block runs."""
    before = os.environ.get("OMP_NUM_THREADS")
    if value is None:
        os.environ.pop("OMP_NUM_THREADS", None)
    else:
        os.environ["OMP_NUM_THREADS"] = value
    try:
        yield
    finally:
        if before is None:
            os.environ.pop("OMP_NUM_THREADS", None)
        else:
            os.environ["OMP_NUM_THREADS"] = before


def started_by(call, threads):
    before = tarvbandscore.threads_started()
    call(threads)
    return tarvbandscore.threads_started() - before


class Threads(unittest.TestCase):
    def test_give_the_same_bits_whatever_their_count(self):
        for what, call in CALLS:
            with self.subTest(what):
                one = call(1)
                for threads in (None, 0, 2, 3, 64):
                    self.assertIsNone(support.bits_differ(one, call(threads)),
                                      f"threads={threads}")

    def test_omp_num_threads_caps_the_processors_a_call_may_use(self):
        with omp_num_threads(None):
            system = _library.lib.tarvbandscore_processors_allowed()
        # OMP_NUM_THREADS, the processors allowed
        cases = [("1", 1), ("2,1", min(2, system)), (" 3 ", min(3, system)), ("0", system),
                 ("four", system), ("", system)]
        for value, allowed in cases:
            with self.subTest(OMP_NUM_THREADS=value), omp_num_threads(value):
                self.assertEqual(_library.lib.tarvbandscore_processors_allowed(), allowed)

    def test_one_thread_starts_none(self):
        # OMP_NUM_THREADS, threads=
        cases = [(None, 1), ("1", None), ("1", 0), ("1", 4)]
        for what, call in CALLS:
            for omp, threads in cases:
                with self.subTest(what, OMP_NUM_THREADS=omp, threads=threads), \
                        omp_num_threads(omp):
                    self.assertEqual(started_by(call, threads), 0)

    def test_two_threads_start_one_beside_the_caller(self):
        with omp_num_threads(None):
            if _library.lib.tarvbandscore_processors_allowed() < 2:
                self.skipTest("this process may use one processor only")
            for what, call in CALLS:
                with self.subTest(what):
                    self.assertEqual(started_by(call, 2), 1)


if __name__ == "__main__":
    unittest.main()
