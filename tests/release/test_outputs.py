"""Checks of the signed release that signed_release.sh made in WORK (ctest release.outputs):
its signatures, its three forms against one another and SHA256SUMS, the CD image's names and
label, the version resource of the shipped SETUP.EXE, and where the password went.

  test_outputs.py WORK WINDRES
"""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import zipfile

WORK = WINDRES = None
NAME = "Quorvant99-Setup-1.00"
SIGNED = ("SETUP.EXE", "STKIT432.DLL", "QV99.EX_")
RC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "setup.rc")


def release(*parts):
    return os.path.join(WORK, "signed", *parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(*cmd, cwd=None):
    return subprocess.run(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace", timeout=120)


def files_in(folder):
    return {n: read(os.path.join(folder, n)) for n in os.listdir(folder)}


class Signatures(unittest.TestCase):
    def verify(self, path):
        return run("osslsigncode", "verify", "-CAfile", os.path.join(WORK, "ca", "ca.pem"), "-in", path)

    def test_every_signed_file_verifies_against_the_authority(self):
        for name in SIGNED:
            r = self.verify(release(NAME, name))
            self.assertEqual(r.returncode, 0, "%s: %s" % (name, r.stdout))
            self.assertIn("Message digest algorithm  : SHA256", r.stdout)

    def test_one_changed_byte_of_setup_exe_fails_verification(self):
        changed = os.path.join(WORK, "changed.EXE")
        data = bytearray(read(release(NAME, "SETUP.EXE")))
        data[len(data) // 3] ^= 0x01  # in the code, far from the signature
        with open(changed, "wb") as f:
            f.write(data)
        r = self.verify(changed)
        self.assertNotEqual(r.returncode, 0, r.stdout)
        self.assertIn("MISMATCH", r.stdout)

    def test_the_password_is_on_no_command_line_in_no_output_and_in_no_file_left(self):
        password = read(os.path.join(WORK, "ca", "password")).strip()
        argv = read(os.path.join(WORK, "argv.log"))
        self.assertEqual(argv.count(b"sign "), len(SIGNED), "osslsigncode was not called once per file")
        self.assertNotIn(password, argv)
        self.assertNotIn(password, read(os.path.join(WORK, "signed.log")))
        self.assertEqual(sorted(os.listdir(release())), [NAME, NAME + ".iso", NAME + ".zip", "SHA256SUMS"])
        for name in os.listdir(release(NAME)):
            self.assertNotIn(password, read(release(NAME, name)), name)


class Forms(unittest.TestCase):
    """The zip and the CD image hold the folder's files; SHA256SUMS holds for all."""

    def test_the_zip_holds_the_folder_sorted_with_one_time(self):
        with zipfile.ZipFile(release(NAME + ".zip")) as z:
            infos = z.infolist()
            self.assertEqual(files_in(release(NAME)), {i.filename[len(NAME) + 1:]: z.read(i) for i in infos[1:]})
        self.assertEqual([i.filename for i in infos], [NAME + "/"] + sorted(i.filename for i in infos[1:]))
        # The epoch that every file of the folder has, to the zip format's two seconds.
        stamp = time.gmtime(os.stat(release(NAME, "SETUP.EXE")).st_mtime)
        self.assertEqual({i.date_time for i in infos}, {stamp[:5] + (stamp[5] // 2 * 2,)})

    def test_the_cd_image_holds_the_folder_at_its_root_with_joliet_names_and_its_label(self):
        out = os.path.join(WORK, "unpacked")
        shutil.rmtree(out, ignore_errors=True)
        r = run("xorriso", "-osirrox", "on", "-indev", release(NAME + ".iso"), "-extract", "/", out)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(files_in(out), files_in(release(NAME)))
        toc = run("xorriso", "-indev", release(NAME + ".iso"), "-toc").stdout
        # Joliet names, and no Rock Ridge, which would carry owners and permissions.
        self.assertRegex(toc, r"ISO offers\s*: Joliet\n")
        self.assertRegex(toc, r"ISO session\s*:.*, QUORVANT99\n")

    def test_sha256sums_holds_for_every_file(self):
        r = run("sha256sum", "--strict", "-c", "SHA256SUMS", cwd=release())
        self.assertEqual(r.returncode, 0, r.stdout)
        listed = sorted(line.split(": ")[0] for line in r.stdout.splitlines())
        self.assertEqual(listed, sorted([NAME + "/" + n for n in os.listdir(release(NAME))] + [NAME + ".iso", NAME + ".zip"]))


class VersionResource(unittest.TestCase):
    """The version resource read back from the shipped SETUP.EXE, field by field against
    resources/setup.rc and the values the product's name and files fix."""

    @staticmethod
    def fields(rc_text):
        values = dict(re.findall(r'^\s*VALUE\s+"(\w+)",\s*"([^"]*)"', rc_text, re.M))
        for key in ("FILEVERSION", "PRODUCTVERSION"):
            values[key] = re.search(r"^\s*%s\s+(\d+), *(\d+), *(\d+), *(\d+)\s*$" % key, rc_text, re.M).groups()
        return values

    def test_fields_of_the_shipped_file(self):
        r = run(WINDRES, "-J", "coff", "-O", "rc", "-i", release(NAME, "SETUP.EXE"))
        self.assertEqual(r.returncode, 0, r.stdout)
        built = self.fields(r.stdout)
        with open(RC, encoding="utf-8") as f:
            source = self.fields(f.read())
        self.assertEqual(len(source), 10)
        for key in source:
            self.assertEqual(built.get(key), source[key], key)
        fixed = {"ProductName": "Setup", "FileVersion": "1.00", "ProductVersion": "1.00", "InternalName": "SETUP",
                 "OriginalFilename": "SETUP.EXE", "FILEVERSION": ("1", "0", "0", "0"), "PRODUCTVERSION": ("1", "0", "0", "0")}
        for key in fixed:
            self.assertEqual(built[key], fixed[key], key)


if __name__ == "__main__":
    WORK, WINDRES = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
