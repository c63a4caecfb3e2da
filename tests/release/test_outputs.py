"""Checks of the signed release that signed_release.sh made in WORK (ctest release.outputs):
its signatures and time stamps, its three forms against one another and SHA256SUMS, the CD
image's names and label, BUILDINFO, the version resources of the shipped SETUP.EXE and
STKIT432.DLL, and where the token's PIN went.

  test_outputs.py WORK WINDRES
"""

import hashlib
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
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "release"))
import check_version  # noqa: E402


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
        root = os.path.join(WORK, "ca", "root.pem")
        return run("osslsigncode", "verify", "-CAfile", root, "-TSA-CAfile", root, "-in", path)

    def test_every_signed_file_verifies_against_the_authority_with_its_time_stamp(self):
        for name in SIGNED:
            r = self.verify(release(NAME, name))
            self.assertEqual(r.returncode, 0, "%s: %s" % (name, r.stdout))
            self.assertIn("Message digest algorithm  : SHA256", r.stdout)
            self.assertIn("Subject: /CN=Setup test time stamps", r.stdout)
            self.assertIn("Timestamp time:", r.stdout)
            # osslsigncode verify succeeds on a time stamp that fails: it has to say ok itself.
            self.assertIn("Timestamp Server Signature verification: ok", r.stdout)
            # The intermediate is in the signature: the chain is built from it and the root alone.
            self.assertIn("Subject: /CN=Setup test intermediate", r.stdout)

    def test_one_changed_byte_of_setup_exe_fails_verification(self):
        changed = os.path.join(WORK, "changed.EXE")
        data = bytearray(read(release(NAME, "SETUP.EXE")))
        data[len(data) // 3] ^= 0x01  # in the code, far from the signature
        with open(changed, "wb") as f:
            f.write(data)
        r = self.verify(changed)
        self.assertNotEqual(r.returncode, 0, r.stdout)
        self.assertIn("MISMATCH", r.stdout)

    def test_the_key_was_the_tokens_and_its_pin_is_on_no_command_line_in_no_output_and_in_no_file_left(self):
        pin = read(os.path.join(WORK, "ca", "token", "pin")).strip()
        argv = read(os.path.join(WORK, "argv.log")).decode()
        signs = [l for l in argv.splitlines() if l.startswith("sign ")]
        self.assertEqual(len(signs), len(SIGNED), "osslsigncode was not called once per file")
        for line in signs:
            self.assertIn("-pkcs11module ", line)
            self.assertIn("-key pkcs11:token=setup-test", line)
        self.assertNotIn(pin.decode(), argv)
        self.assertNotIn(pin, read(os.path.join(WORK, "signed.log")))
        self.assertEqual(sorted(os.listdir(release())), [NAME, NAME + ".iso", NAME + ".zip", "SHA256SUMS"])
        self.assertEqual([n for n in os.listdir(os.path.dirname(release())) if "staging" in n], [])
        for folder, _, names in os.walk(release()):
            for name in names:
                self.assertNotIn(pin, read(os.path.join(folder, name)), name)


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


class BuildInfo(unittest.TestCase):
    def test_records_the_commit_the_signing_the_tools_and_every_file_before_signing(self):
        info = dict(l.split(": ", 1) for l in read(release(NAME, "BUILDINFO")).decode().splitlines())
        head = run("git", "-C", ROOT, "rev-parse", "HEAD").stdout.strip()
        self.assertEqual(info["commit"], head)
        self.assertEqual(info["signed"], "Authenticode, SHA-256, key in PKCS#11")
        self.assertEqual(info["certificate"], "CN=Quorvant Software test signer")
        self.assertRegex(info["time stamp"], r"^http://127\.0\.0\.1:\d+/$")
        for tool in ("c++ compiler", "linker", "osslsigncode", "xorriso", "python"):
            self.assertNotIn(info["tool " + tool], ("", "not found"), tool)
        files = {k[5:]: v.split() for k, v in info.items() if k.startswith("file ")}
        self.assertEqual(sorted(files), sorted(set(os.listdir(release(NAME))) - {"BUILDINFO"}))
        built = os.path.join(os.path.dirname(WORK), "disk", "SETUP.EXE")
        self.assertEqual(files["SETUP.EXE"][0], hashlib.sha256(read(built)).hexdigest())
        self.assertEqual(files["SETUP.EXE"][1:], ["program,", "signed", "by", "this", "release"])
        self.assertIn(" %s/BUILDINFO\n" % NAME, read(release("SHA256SUMS")).decode())


class VersionResources(unittest.TestCase):
    """SETUP.EXE's and STKIT432.DLL's version resources read back from the shipped files and
    compared with the one version, the project's."""

    def fields(self, name):
        r = run(WINDRES, "-J", "coff", "-O", "rc", "-i", release(NAME, name))
        self.assertEqual(r.returncode, 0, r.stdout)
        return check_version.version_fields(r.stdout), r.stdout

    def test_both_files_carry_the_project_version_and_their_own_names(self):
        with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
            version = re.search(r"^project\(Setup VERSION ([\d.]+)", f.read(), re.M).group(1)
        self.assertEqual(NAME, "Quorvant99-Setup-" + version)
        numbers = check_version.numbers(version)
        for name, internal, product in (("SETUP.EXE", "SETUP", "Setup"), ("STKIT432.DLL", "STKIT432", "Setup")):
            fields, script = self.fields(name)
            expect = {"FILEVERSION": numbers, "PRODUCTVERSION": numbers, "FileVersion": version,
                      "ProductVersion": version, "OriginalFilename": name, "InternalName": internal,
                      "ProductName": product, "CompanyName": "Quorvant Software"}
            for key, value in expect.items():
                self.assertEqual(fields.get(key), value, "%s: %s" % (name, key))
            self.assertTrue(fields.get("FileDescription"), name)
            self.assertEqual(check_version.problems(script, version, name), [], name)
        self.assertEqual(check_version.manifest_version(self.fields("SETUP.EXE")[1]), "1.0.0.0")

    def test_the_check_fails_where_a_number_a_string_or_the_manifest_differs(self):
        _, script = self.fields("SETUP.EXE")
        for changed, field in ((script.replace("FILEVERSION 1, 0,", "FILEVERSION 1, 1,"), "FILEVERSION"),
                               (script.replace('"ProductVersion", "1.00"', '"ProductVersion", "1.01"'), "ProductVersion"),
                               (script.replace('"OriginalFilename", "SETUP.EXE"', '"OriginalFilename", "X.EXE"'),
                                "OriginalFilename"),
                               (script.replace('version=""1.0.0.0', 'version=""1.0.0.1'), "manifest")):
            self.assertNotEqual(changed, script, field)
            found = check_version.problems(changed, "1.00", "SETUP.EXE")
            self.assertEqual(len(found), 1, found)
            self.assertIn(field, found[0])


if __name__ == "__main__":
    WORK, WINDRES = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
