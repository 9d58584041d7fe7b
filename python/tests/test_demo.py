"""python3 -m tarvbandscore.demo as a user runs it: the numbers of the Octave
demo (octave/demo/tarv_demo.m), whose image, filter and scores it repeats
bit for bit, and a PNG picture of the three panels, drawn by the package's
own writer and, where matplotlib is installed, by matplotlib."""
from __future__ import annotations

import importlib.util
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import support  # the package as installed, or the test stops


def png_size(path):
    with open(path, "rb") as stream:
        head = stream.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is no PNG file")
    return struct.unpack(">II", head[16:24])


class Demo(unittest.TestCase):
    def run_demo(self, *options):
        with tempfile.TemporaryDirectory(dir=os.environ.get("TEST_SCRATCH_DIR")) as folder:
            png = os.path.join(folder, "tarv_demo.png")
            run = subprocess.run([sys.executable, "-m", "tarvbandscore.demo", png, *options],
                                 capture_output=True, text=True, check=True)
            return run.stdout, png_size(png)

    def test_prints_the_octave_demos_errors_and_draws_three_panels(self):
        # the drawer, its options, the picture's width and height (matplotlib
        # may round 4.1 inches at 100 dots an inch down)
        drawers = [("own writer", ["--plain"], [(3 * 384 + 4 * 16, 256 + 2 * 16)])]
        if importlib.util.find_spec("matplotlib") is not None:
            drawers.append(("matplotlib", [], [(1500, 410), (1500, 409)]))
        for what, options, sizes in drawers:
            with self.subTest(what):
                output, drawn = self.run_demo(*options)
                # The Octave demo prints the same errors.
                self.assertIn("mean boundary error against the truth: 5.91 rows on the noisy "
                              "image, 0.96 rows filtered", output)
                self.assertIn("picture: ", output)
                self.assertIn(drawn, sizes)


if __name__ == "__main__":
    unittest.main()
