"""progress=True: a tqdm bar where tqdm can be imported, else a line on
standard error; the bits of a call without it; and a display that fails
stops the call and its exception comes out of it."""
from __future__ import annotations

import io
import subprocess
import sys
import unittest

import numpy as np

import support
from tarvbandscore import tarv_filter

# Runs in a process of its own, with tqdm unimportable where asked.
SCRIPT = """
import sys
if sys.argv[1] == "without tqdm":
    sys.modules["tqdm"] = None
import numpy as np
from tarvbandscore import tarv_filter
image = np.zeros((30, 20), np.float32)
image[::2] = 1
tarv_filter(image, 20, 0.2, (0, 30, 0, 20), progress=True)
"""


class FailingStream(io.StringIO):
    def write(self, text):
        raise OSError("standard error is closed")


class Progress(unittest.TestCase):
    def test_shows_a_bar_or_a_line(self):
        # how, what standard error ends with
        cases = [("with tqdm", "tarv_filter: 100%|"),
                 ("without tqdm", "tarv_filter: 100 % (20 of 20 steps")]
        for how, shown in cases:
            with self.subTest(how):
                run = subprocess.run([sys.executable, "-c", SCRIPT, how], capture_output=True,
                                     text=True, check=True)
                self.assertIn(shown, run.stderr.splitlines()[-1])

    def test_gives_the_same_bits(self):
        volume = support.log_speckle((50, 60, 6), seed=1)
        for image in (volume[:, :, 0], volume):
            with self.subTest(shape=image.shape):
                quiet = tarv_filter(image, 7, 0.2, (0, 10, 0, 60))
                shown = tarv_filter(image, 7, 0.2, (0, 10, 0, 60), progress=True)
                self.assertIsNone(support.bits_differ(quiet, shown))

    def test_a_failing_display_stops_the_call_with_its_exception(self):
        stderr, tqdm = sys.stderr, sys.modules.get("tqdm")
        sys.modules["tqdm"] = None  # the line, which writes to sys.stderr
        sys.stderr = FailingStream()
        try:
            with self.assertRaisesRegex(OSError, "standard error is closed"):
                tarv_filter(support.log_speckle((40, 40), seed=2), 10**6, 0.2, (0, 10, 0, 40),
                            progress=True)
        finally:
            sys.stderr = stderr
            if tqdm is None:
                del sys.modules["tqdm"]
            else:
                sys.modules["tqdm"] = tqdm


if __name__ == "__main__":
    unittest.main()
