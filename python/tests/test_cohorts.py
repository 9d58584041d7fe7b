"""The cohort recipe of docs/cohorts.md (its first Python block, run as the
page says: saved as cohort.py and uploaded to the workers) on a small
cohort, on a cluster of two single-thread worker processes on the loopback
address: the same bits as the same calls in this process, and one thread
per call in each worker."""
from __future__ import annotations

import os
import re
import sys
import tempfile
import unittest
import warnings

import numpy as np

import support
import tarvbandscore

ROWS, COLS, PAGES, VOLUMES = 96, 160, 3, 3
ITERATIONS, LAM, REGION = 4, 0.2, (0, 20, 0, COLS)
C = np.ones(COLS)
CANDIDATES = dict(top_offset=10, bottom_offset=30.5, top_count=30, bottom_count=40,
                  span_mean=30 * C, span_sd=5 * C, prior_weight=0.7, span_min=8 * C,
                  span_max=np.r_[60 * C[:80], np.full(80, np.nan)])


def recipe_source() -> str:
    with open(os.environ["COHORTS_DOC"], encoding="utf-8") as stream:
        return re.search(r"```python\n(.*?)```", stream.read(), re.DOTALL).group(1)


class Cohort(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from distributed import Client, LocalCluster

        cls.folder = tempfile.TemporaryDirectory(dir=os.environ.get("TEST_SCRATCH_DIR"))
        recipe = os.path.join(cls.folder.name, "cohort.py")
        with open(recipe, "w", encoding="utf-8") as stream:
            stream.write(recipe_source())
        sys.path.insert(0, cls.folder.name)
        import cohort
        cls.cohort = cohort

        cls.volumes = [support.log_speckle((ROWS, COLS, PAGES), seed=v) for v in range(VOLUMES)]
        cls.paths = []
        for v, volume in enumerate(cls.volumes):
            cls.paths.append(os.path.join(cls.folder.name, f"volume{v}.npy"))
            np.save(cls.paths[-1], volume)
        # Debian's distributed on Debian's tornado: nothing for this test to mend.
        warnings.filterwarnings("ignore", "make_current is deprecated", DeprecationWarning)
        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                   host="127.0.0.1", dashboard_address=None)
        cls.client = Client(cls.cluster)
        cls.client.upload_file(recipe)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()
        cls.folder.cleanup()

    def filtered_here(self):
        return np.stack([tarvbandscore.tarv_filter(v, ITERATIONS, LAM, REGION)
                         for v in self.volumes], axis=3)

    def scores_here(self, images):
        return np.stack([np.stack([tarvbandscore.band_score(
            CANDIDATES["top_offset"], CANDIDATES["bottom_offset"],
            images[:, :, p, v].astype(np.float64), CANDIDATES["span_mean"],
            CANDIDATES["span_sd"], CANDIDATES["top_count"], CANDIDATES["bottom_count"],
            CANDIDATES["prior_weight"], CANDIDATES["span_min"], CANDIDATES["span_max"])
            for p in range(PAGES)], axis=3) for v in range(VOLUMES)], axis=4)

    def test_filter_by_volume_and_by_bscan(self):
        loaded = self.cohort.load_cohort(self.paths, (ROWS, COLS, PAGES))
        expected = self.filtered_here()
        for what, stack in (("by volume", loaded), ("by B-scan", loaded.rechunk((-1, -1, 1, 1)))):
            with self.subTest(what):
                result = self.cohort.filter_cohort(stack, ITERATIONS, LAM, REGION).compute()
                self.assertIsNone(support.bits_differ(expected, result))

    def test_scores_and_bands_per_bscan(self):
        import dask.array as da

        images = self.filtered_here()
        expected = self.scores_here(images)
        stack = da.from_array(images, chunks=(ROWS, COLS, PAGES, 1))
        scores = self.cohort.score_cohort(stack, CANDIDATES).compute()
        self.assertIsNone(support.bits_differ(expected, scores))
        # The first maximum over (a, b) of each column, as the demo takes it.
        bands = self.cohort.best_bands(stack, CANDIDATES).compute()
        best = expected.reshape((-1,) + expected.shape[2:], order="F").argmax(axis=0)
        top = np.trunc(best % CANDIDATES["top_count"] + CANDIDATES["top_offset"])
        bottom = np.trunc(best // CANDIDATES["top_count"] + CANDIDATES["bottom_offset"])
        np.testing.assert_array_equal(bands, np.stack([top, bottom]))

    def test_every_call_in_the_workers_ran_on_one_thread(self):
        # The calls are large enough that a team of this process would start
        # threads, where it may use two processors.
        if tarvbandscore._library.lib.tarvbandscore_processors_allowed() >= 2:
            before = tarvbandscore.threads_started()
            self.filtered_here()
            self.assertGreater(tarvbandscore.threads_started(), before)
        loaded = self.cohort.load_cohort(self.paths, (ROWS, COLS, PAGES))
        filtered = self.cohort.filter_cohort(loaded, ITERATIONS, LAM, REGION)
        self.cohort.best_bands(filtered, CANDIDATES).compute()
        self.assertEqual(set(self.client.run(os.getenv, "OMP_NUM_THREADS").values()), {"1"})
        self.assertEqual(set(self.client.run(tarvbandscore.threads_started).values()), {0})


if __name__ == "__main__":
    unittest.main()
