"""Checks of the signed release that signed_release.sh made (ctest release.outputs):
signatures, the three forms of the disk against one another and SHA256SUMS, the CD image's
names and label, the version resource of the shipped SETUP.EXE, and where the password went.

  test_outputs.py WORK DISK WINDRES

WORK is the folder given to signed_release.sh, DISK the built installer folder it packed.
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

WORK = DISK = WINDRES = None
NAME = "Quorvant99-Setup-1.00"
SIGNED = ("SETUP.EXE", "STKIT432.DLL", "QV99.EX_")
SOURCES = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))


def release(*parts):
    return os.path.join(WORK, "signed", *parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(*cmd):
    return subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace", timeout=120)


def folder_files():
    folder = release(NAME)
    return {n: read(os.path.join(folder, n)) for n in os.listdir(folder)}


class Signatures(unittest.TestCase):
    def verify(self, path):
        return run("osslsigncode", "verify", "-CAfile", os.path.join(WORK, "ca", "ca.pem"), "-in", path)

    def test_every_signed_file_verifies_against_the_authority(self):
        for name in SIGNED:
            r = self.verify(release(NAME, name))
            self.assertEqual(r.returncode, 0, "%s: %s" % (name, r.stdout))
            self.assertIn("Signature verification: ok", r.stdout)
            self.assertIn("Message digest algorithm  : SHA256", r.stdout)

    def test_one_changed_byte_of_setup_exe_fails_verification(self):
        changed = tempfile.mktemp(suffix=".EXE", dir=WORK)
        self.addCleanup(lambda: os.path.exists(changed) and os.unlink(changed))
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
        self.assertEqual(argv.count(b" -readpass "), len(SIGNED), "osslsigncode was not called once per file")
        self.assertNotIn(password, argv)
        self.assertNotIn(password, read(os.path.join(WORK, "signed.log")))
        for folder, _, files in os.walk(release()):
            for name in files:
                self.assertNotIn(password, read(os.path.join(folder, name)), os.path.join(folder, name))
        self.assertEqual(sorted(os.listdir(release())), sorted([NAME, NAME + ".iso", NAME + ".zip", "SHA256SUMS"]))


class Forms(unittest.TestCase):
    """The folder, the zip and the CD image hold the same files; SHA256SUMS holds for all."""

    def test_the_folder_holds_the_installer_and_the_twenty_files(self):
        names = set(folder_files())
        self.assertEqual(len(names), 22)
        self.assertTrue({"SETUP.EXE", "STKIT432.DLL", "QV99.EX_", "README.TXT", "TABCTL32.OC_"} <= names)
        for name, data in folder_files().items():
            if name not in SIGNED:
                self.assertEqual(data, read(os.path.join(DISK, name)), name + " differs from the built file")

    def test_the_zip_holds_the_folder_with_fixed_times(self):
        with zipfile.ZipFile(release(NAME + ".zip")) as z:
            infos = z.infolist()
            self.assertEqual(infos[0].filename, NAME + "/")
            files = {i.filename[len(NAME) + 1:]: z.read(i) for i in infos[1:]}
        self.assertEqual([i.filename for i in infos[1:]], sorted(i.filename for i in infos[1:]))
        self.assertEqual(files, folder_files())
        stamp = os.stat(release(NAME, "SETUP.EXE")).st_mtime
        self.assertEqual({i.date_time for i in infos}, {time.gmtime(stamp)[:6]})

    def test_the_cd_image_holds_the_folder_at_its_root_under_joliet_names_and_its_label(self):
        out = tempfile.mkdtemp(dir=WORK)
        self.addCleanup(shutil.rmtree, out)
        r = run("xorriso", "-osirrox", "on", "-indev", release(NAME + ".iso"), "-extract", "/", out)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual({n: read(os.path.join(out, n)) for n in os.listdir(out)}, folder_files())
        info = run("xorriso", "-indev", release(NAME + ".iso"), "-pvd_info").stdout
        self.assertRegex(info, r"Volume Id\s*: QUORVANT99\n")
        # Joliet names, and no Rock Ridge, which would carry owners and permissions.
        self.assertRegex(run("xorriso", "-indev", release(NAME + ".iso"), "-toc").stdout, r"ISO offers\s*: Joliet\n")

    def test_sha256sums_names_every_file_with_its_hash(self):
        lines = read(release("SHA256SUMS")).decode("ascii").splitlines()
        listed = {}
        for line in lines:
            digest, name = line.split("  ", 1)
            listed[name] = digest
            self.assertEqual(digest, hashlib.sha256(read(release(name))).hexdigest(), name)
        self.assertEqual(set(listed), {NAME + "/" + n for n in folder_files()} | {NAME + ".zip", NAME + ".iso"})


class VersionResource(unittest.TestCase):
    """The version resource of the shipped SETUP.EXE, read back from the file, field by field
    against resources/setup.rc and the values the product's name and files fix."""

    FIXED = {"ProductName": "Setup", "FileVersion": "1.00", "ProductVersion": "1.00",
             "InternalName": "SETUP", "OriginalFilename": "SETUP.EXE"}

    @staticmethod
    def fields(rc_text):
        values = dict(re.findall(r'^\s*VALUE\s+"(\w+)",\s*"([^"]*)"', rc_text, re.M))
        for key in ("FILEVERSION", "PRODUCTVERSION"):
            m = re.search(r"^\s*%s\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\s*$" % key, rc_text, re.M)
            values[key] = m and tuple(int(n) for n in m.groups())
        return values

    def test_fields_of_the_built_file(self):
        r = run(WINDRES, "-J", "coff", "-O", "rc", "-i", release(NAME, "SETUP.EXE"))
        self.assertEqual(r.returncode, 0, r.stdout)
        built = self.fields(r.stdout)
        with open(os.path.join(SOURCES, "resources", "setup.rc"), encoding="utf-8") as f:
            source = self.fields(f.read())
        self.assertEqual(len(source), 10)
        for key, value in source.items():
            self.assertEqual(built.get(key), value, key)
        self.assertEqual(built, source)
        for key, value in self.FIXED.items():
            self.assertEqual(built[key], value, key)
        self.assertEqual(built["FILEVERSION"], (1, 0, 0, 0))
        self.assertEqual(built["PRODUCTVERSION"], (1, 0, 0, 0))
        self.assertEqual(NAME, "Quorvant99-Setup-" + built["ProductVersion"])


if __name__ == "__main__":
    WORK, DISK, WINDRES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
