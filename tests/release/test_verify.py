"""scripts/release.sh --verify against the signed release that signed_release.sh made in WORK
(ctest release.verify): it passes on the release as made, as a folder and as a zip, and fails
naming the one file after one byte of it is changed. The first run builds the commit again
(build/verify/, kept for later runs of the same commit).

  test_verify.py WORK
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

WORK = None
ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
NAME = "Quorvant99-Setup-1.00"


def verify(path):
    r = subprocess.run(["bash", os.path.join(ROOT, "scripts", "release.sh"), "--verify", path],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       timeout=280)
    return r.returncode, r.stdout, re.findall(r"^verify: FAIL (\S+):", r.stdout, re.M)


class Verify(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(WORK, "signed", NAME, "BUILDINFO")) as f:
            if "tree: clean\n" not in f.read():
                raise unittest.SkipTest("the release is of a tree with uncommitted changes, which no commit rebuilds")

    def test_the_release_as_made_verifies_as_a_folder_and_as_a_zip(self):
        for path in (os.path.join(WORK, "signed"), os.path.join(WORK, "signed", NAME + ".zip")):
            code, out, failed = verify(path)
            self.assertEqual((code, failed), (0, []), out)
            self.assertIn("verify: ok   SETUP.EXE: the same as the rebuild (signature removed)", out)
            sums = "verify: ok   SHA256SUMS: holds for the 25 files it lists"
            self.assertEqual(sums in out, os.path.isdir(path), out)
            self.assertRegex(out, r"verify: VERIFIED: every file of .* is commit \w+ built again, signatures removed")

    def test_one_changed_byte_fails_naming_the_file(self):
        for name, where in (("STKIT432.DLL", 0.3), ("README.TXT", 0.5), ("BUILDINFO", 0.1)):
            with self.subTest(name), tempfile.TemporaryDirectory(prefix="release-verify-") as tmp:
                folder = os.path.join(tmp, NAME)
                shutil.copytree(os.path.join(WORK, "signed", NAME), folder)
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    data = bytearray(f.read())
                i = int(len(data) * where)
                data[i] = data[i] + 1 if chr(data[i]).isalnum() and chr(data[i] + 1).isalnum() else data[i] ^ 1
                with open(path, "wb") as f:
                    f.write(data)
                code, out, failed = verify(folder)
                self.assertEqual((code, failed), (1, [name]), out)

    def test_a_changed_byte_of_the_zip_fails_the_output_folders_sha256sums(self):
        with tempfile.TemporaryDirectory(prefix="release-verify-") as tmp:
            out = os.path.join(tmp, "out")
            shutil.copytree(os.path.join(WORK, "signed"), out)
            with open(os.path.join(out, NAME + ".zip"), "r+b") as f:
                f.seek(100)
                byte = f.read(1)
                f.seek(100)
                f.write(bytes([byte[0] ^ 1]))
            code, out, failed = verify(out)
            self.assertEqual((code, failed), (1, ["SHA256SUMS"]), out)
            self.assertIn("does not hold for %s.zip" % NAME, out)

    def test_a_changed_file_with_its_hash_changed_in_buildinfo_too_fails_against_the_rebuild(self):
        with tempfile.TemporaryDirectory(prefix="release-verify-") as tmp:
            folder = os.path.join(tmp, NAME)
            shutil.copytree(os.path.join(WORK, "signed", NAME), folder)
            with open(os.path.join(folder, "README.TXT"), "ab") as f:
                f.write(b"\r\n")
            with open(os.path.join(folder, "README.TXT"), "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            with open(os.path.join(folder, "BUILDINFO")) as f:
                info = re.sub(r"^(file README\.TXT: )\w+", r"\g<1>" + digest, f.read(), flags=re.M)
            with open(os.path.join(folder, "BUILDINFO"), "w") as f:
                f.write(info)
            code, out, failed = verify(folder)
            self.assertEqual((code, failed), (1, ["README.TXT"]), out)
            self.assertIn("verify: FAIL README.TXT: DIFFERS from the rebuild", out)


if __name__ == "__main__":
    WORK = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
