"""Every wheel the build wrote, read as pip reads it: its name's tags are
its WHEEL file's, its RECORD lists every member with the member's SHA-256
and size, it holds the package's files and the library its build made for
its platform (WHEEL_LIBRARIES: "tag=path" pairs, ';'-separated), and
nothing else."""
from __future__ import annotations

import base64
import hashlib
import os
import unittest
import zipfile

import tarvbandscore

NAME, VERSION = "tarvbandscore", tarvbandscore.__version__
INFO = f"{NAME}-{VERSION}.dist-info"
PACKAGE_FILES = ["__init__.py", "_arguments.py", "_calls.py", "_filter.py", "_library.py",
                 "_png.py", "_scorer.py", "demo.py"]


def libraries():
    pairs = (entry.split("=", 1) for entry in os.environ["WHEEL_LIBRARIES"].split(";"))
    return {tag: path for tag, path in pairs}


def sha256(data: bytes) -> str:
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


class Wheels(unittest.TestCase):
    def test_hold_the_package_and_their_platforms_library(self):
        installed = os.path.dirname(tarvbandscore.__file__)
        for tag, library in libraries().items():
            with self.subTest(tag):
                wheel = os.path.join(os.environ["WHEEL_DIR"],
                                     f"{NAME}-{VERSION}-py3-none-{tag}.whl")
                with zipfile.ZipFile(wheel) as archive:
                    members = {info.filename: archive.read(info) for info in archive.infolist()}
                library_member = f"{NAME}/{os.path.basename(library)}"
                self.assertEqual(sorted(members), sorted(
                    [f"{NAME}/{name}" for name in PACKAGE_FILES] + [library_member]
                    + [f"{INFO}/{name}" for name in ("COPYING", "METADATA", "WHEEL", "RECORD")]))
                with open(library, "rb") as stream:
                    self.assertEqual(members[library_member], stream.read())
                # The same Python files in every wheel, the ones installed here.
                for name in PACKAGE_FILES:
                    with open(os.path.join(installed, name), "rb") as stream:
                        self.assertEqual(members[f"{NAME}/{name}"], stream.read(), name)

                wheel_tags = [line[len("Tag: "):] for line in
                              members[f"{INFO}/WHEEL"].decode().splitlines()
                              if line.startswith("Tag: ")]
                self.assertEqual(wheel_tags,
                                 [f"py3-none-{platform}" for platform in tag.split(".")])
                self.assertIn("Root-Is-Purelib: false", members[f"{INFO}/WHEEL"].decode())
                self.assertIn(f"Version: {VERSION}", members[f"{INFO}/METADATA"].decode())
                record = members[f"{INFO}/RECORD"].decode().splitlines()
                self.assertEqual(record[-1], f"{INFO}/RECORD,,")
                listed = {}
                for line in record[:-1]:
                    path, digest, size = line.split(",")
                    listed[path] = (digest, int(size))
                self.assertEqual(listed, {path: (sha256(data), len(data))
                                          for path, data in members.items()
                                          if path != f"{INFO}/RECORD"})


if __name__ == "__main__":
    unittest.main()
