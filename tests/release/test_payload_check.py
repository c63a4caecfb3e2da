"""The payload check of scripts/release.sh (ctest release.payload_check): a folder with a
missing, a misnamed, an empty or an extra file is refused with one line naming it, and
nothing is written; a good one is taken, matched to the manifest's names as Windows matches.

  test_payload_check.py BUILD DISK     BUILD win32 or win64, DISK its built installer folder
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = DISK = None
RELEASE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "release.sh")
NAME = "Quorvant99-Setup-1.00"


class PayloadCheck(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="release-payload-")
        self.addCleanup(shutil.rmtree, self.root)
        self.payload = os.path.join(self.root, "payload")
        os.mkdir(self.payload)
        for name in os.listdir(DISK):
            if name not in ("SETUP.EXE", "STKIT432.DLL"):
                shutil.copyfile(os.path.join(DISK, name), os.path.join(self.payload, name))
        self.out = os.path.join(self.root, "out")

    def release(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("SETUP_SIGN_")}
        # --allow-dirty: a tree under change is as good as any for the payload check.
        return subprocess.run(["bash", RELEASE, "--payload", self.payload, "--out", self.out, "--build", BUILD,
                               "--unsigned", "--allow-dirty"],
                               env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, timeout=300)

    def assert_refused(self, problem):
        r = self.release()
        self.assertEqual(r.returncode, 1, r.stdout)
        lines = r.stdout.splitlines()
        self.assertEqual(lines[:-1], ["release: " + problem], r.stdout)
        self.assertIn("nothing was written", lines[-1])
        self.assertFalse(os.path.exists(self.out), "the refused release wrote " + self.out)

    def test_missing_file(self):
        os.unlink(os.path.join(self.payload, "INVENT.XL_"))
        self.assert_refused("INVENT.XL_: missing")

    def test_misnamed_file(self):
        os.rename(os.path.join(self.payload, "QV99.EX_"), os.path.join(self.payload, "QV99.EXE"))
        self.assert_refused("QV99.EXE: misnamed, the disk must hold it as QV99.EX_")

    def test_empty_file(self):
        open(os.path.join(self.payload, "CUSTOMER.CS_"), "wb").close()
        self.assert_refused("CUSTOMER.CS_: empty")

    def test_extra_file(self):
        with open(os.path.join(self.payload, "NOTES.TXT"), "w") as f:
            f.write("left over\n")
        self.assert_refused("NOTES.TXT: not in the install manifest, so the installer would never copy it")

    def test_names_in_any_case_are_taken_under_the_manifest_names_unsigned(self):
        for name in ("README.TXT", "QV99.EX_", "Grid32.oc_"):
            os.rename(os.path.join(self.payload, name.upper()), os.path.join(self.payload, name.lower()))
        r = self.release()
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual([l for l in r.stdout.splitlines() if "UNSIGNED" in l],
                         ["release: UNSIGNED (--unsigned): Windows will name no publisher"])
        folder = os.path.join(self.out, "1.00", NAME)
        self.assertEqual(sorted(os.listdir(folder)), sorted(os.listdir(DISK) + ["BUILDINFO"]))
        with open(os.path.join(folder, "BUILDINFO")) as f:
            self.assertIn("signed: no (--unsigned)", f.read())
        for name in os.listdir(DISK):
            with open(os.path.join(folder, name), "rb") as a, open(os.path.join(DISK, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)


if __name__ == "__main__":
    BUILD, DISK = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
