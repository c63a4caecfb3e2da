"""Checks of the signed release that signed_release.sh made in WORK (ctest release.outputs):
its signatures and time stamps, its three forms against one another, SHA256SUMS and its
minisign signature, the CD image's names and label, BUILDINFO and the SBOM against what dpkg
says, the version resources of the shipped SETUP.EXE and STKIT432.DLL, and where the token's
PIN went.

  test_outputs.py WORK WINDRES
"""

import hashlib
import json
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
VERSION = "1.00"
SIGNED = ("SETUP.EXE", "STKIT432.DLL", "QV99.EX_")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "release"))
import check_version  # noqa: E402


def release(*parts):
    return os.path.join(WORK, "signed", VERSION, *parts)


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
        # The signing certificate names revocation addresses that nothing answers at, which
        # osslsigncode 2.6 and later would fetch (2.5, Debian's own, has no such option).
        offline = ["-ignore-crl"] if "-ignore-crl" in run("osslsigncode", "-h").stdout else []
        return run("osslsigncode", "verify", "-CAfile", root, "-TSA-CAfile", root, *offline, "-in", path)

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
        self.assertEqual(sorted(os.listdir(release())), [NAME, NAME + ".iso", NAME + ".spdx.json", NAME + ".zip",
                                                         "SHA256SUMS", "SHA256SUMS.minisig"])
        self.assertEqual(os.listdir(os.path.dirname(release())), [VERSION])
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

    def test_sha256sums_holds_for_every_file_and_its_signature_for_it_alone(self):
        r = run("sha256sum", "--strict", "-c", "SHA256SUMS", cwd=release())
        self.assertEqual(r.returncode, 0, r.stdout)
        listed = sorted(line.split(": ")[0] for line in r.stdout.splitlines())
        self.assertEqual(listed, sorted([NAME + "/" + n for n in os.listdir(release(NAME))]
                                        + [NAME + ".iso", NAME + ".zip", NAME + ".spdx.json"]))
        public = os.path.join(WORK, "ca", "minisign.pub")
        r = run("minisign", "-Vm", "SHA256SUMS", "-p", public, cwd=release())
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertIn("Trusted comment: %s SHA256SUMS, commit " % NAME, r.stdout)
        changed = os.path.join(WORK, "SHA256SUMS")
        with open(changed, "wb") as f:
            f.write(read(release("SHA256SUMS")).replace(b"  ", b"  ./", 1))
        r = run("minisign", "-Vm", changed, "-x", release("SHA256SUMS.minisig"), "-p", public)
        self.assertNotEqual(r.returncode, 0, r.stdout)
        self.assertIn("Signature verification failed", r.stdout)


def dpkg_version(package):
    return run("dpkg-query", "-W", "-f", "${Version}", package).stdout


def arch():
    """The Debian packages' name for the architecture of this build."""
    build = re.search(r"^build: (\w+)$", read(release(NAME, "BUILDINFO")).decode(), re.M).group(1)
    return {"win32": "i686", "win64": "x86-64"}[build]


class BuildInfo(unittest.TestCase):
    def test_records_the_commit_the_signing_the_packages_and_every_file_before_signing(self):
        info = dict(l.split(": ", 1) for l in read(release(NAME, "BUILDINFO")).decode().splitlines())
        head = run("git", "-C", ROOT, "rev-parse", "HEAD").stdout.strip()
        self.assertEqual(info["commit"], head)
        self.assertEqual(info["signed"], "Authenticode, SHA-256, key in PKCS#11")
        self.assertEqual(info["certificate"], "CN=Quorvant Software test signer")
        self.assertRegex(info["time stamp"], r"^http://127\.0\.0\.1:\d+/$")
        # The fingerprint that --verify --signer takes: BUILDINFO's, the printed one and openssl's agree.
        openssl = run("openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
                      os.path.join(WORK, "ca", "signer.pem")).stdout.strip().split("=")[1]
        self.assertEqual(info["signer sha256"], openssl)
        self.assertIn("--signer FINGERPRINT): " + openssl, read(os.path.join(WORK, "signed.log")).decode())
        self.assertIn("revocation not checked (the release command uses no network): the chain names "
                      "http://crl.setup-test.invalid/intermediate.crl http://ocsp.setup-test.invalid/",
                      read(os.path.join(WORK, "signed.log")).decode())
        # The packages that made the bytes, by dpkg's own word, and the system.
        with open("/etc/os-release") as f:
            self.assertIn('PRETTY_NAME="%s"' % info["os"], f.read())
        for package in ("g++-mingw-w64-%s-win32" % arch(), "binutils-mingw-w64-" + arch(),
                        "mingw-w64-%s-dev" % arch(), "cmake", "ninja-build", "xorriso", "zlib1g"):
            self.assertEqual(info.get("package " + package), dpkg_version(package), package)
        files = {k[5:]: v.split() for k, v in info.items() if k.startswith("file ")}
        self.assertEqual(sorted(files), sorted(set(os.listdir(release(NAME))) - {"BUILDINFO"}))
        built = os.path.join(os.path.dirname(WORK), "disk", "SETUP.EXE")
        self.assertEqual(files["SETUP.EXE"][0], hashlib.sha256(read(built)).hexdigest())
        self.assertEqual(files["SETUP.EXE"][1:], ["program,", "signed", "by", "this", "release"])
        self.assertIn(" %s/BUILDINFO\n" % NAME, read(release("SHA256SUMS")).decode())


class Sbom(unittest.TestCase):
    def test_lists_both_programs_and_the_runtime_linked_into_them_with_debians_versions(self):
        doc = json.loads(read(release(NAME + ".spdx.json")))
        self.assertEqual((doc["spdxVersion"], doc["dataLicense"]), ("SPDX-2.3", "CC0-1.0"))
        files = {f["fileName"]: {c["algorithm"]: c["checksumValue"] for c in f["checksums"]} for f in doc["files"]}
        for name in ("SETUP.EXE", "STKIT432.DLL"):
            self.assertEqual(files["./" + name]["SHA256"], hashlib.sha256(read(release(NAME, name))).hexdigest())
        packages = {p["SPDXID"]: p for p in doc["packages"]}
        for part, package, licence in (
                ("libstdc++", "g++-mingw-w64-%s-win32" % arch(), "GPL-3.0-or-later WITH GCC-exception-3.1"),
                ("libgcc", "gcc-mingw-w64-%s-win32" % arch(), "GPL-3.0-or-later WITH GCC-exception-3.1"),
                ("mingw-w64 runtime", "mingw-w64-%s-dev" % arch(), "ZPL-2.1 AND LicenseRef-mingw-w64-public-domain")):
            found = [p for p in doc["packages"] if p["name"] == part]
            self.assertEqual(len(found), 1, part)
            self.assertEqual(found[0]["versionInfo"], dpkg_version(package), part)
            self.assertEqual(found[0]["licenseDeclared"], licence, part)
            self.assertIn("Debian package %s " % package, found[0]["sourceInfo"])
        links = {(r["spdxElementId"], packages[r["relatedSpdxElement"]]["name"])
                 for r in doc["relationships"] if r["relationshipType"] == "STATIC_LINK"}
        # STKIT432.DLL is built without the C++ library (stkit/CMakeLists.txt): the maps tell.
        self.assertEqual(links, {("SPDXRef-File-SETUP.EXE", "libstdc++"), ("SPDXRef-File-SETUP.EXE", "libgcc"),
                                 ("SPDXRef-File-SETUP.EXE", "mingw-w64 runtime"),
                                 ("SPDXRef-File-STKIT432.DLL", "libgcc"),
                                 ("SPDXRef-File-STKIT432.DLL", "mingw-w64 runtime")})


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
    WORK, WINDRES = os.path.abspath(sys.argv[1]), sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
