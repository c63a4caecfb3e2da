"""scripts/release.sh --verify against the signed release that signed_release.sh made in WORK
(ctest release.verify): the release as made verifies pinned by the signer's fingerprint or by
the authority's root, and not unpinned; each way of slipping bytes past it fails naming the
file: a program signed again by a certificate that copies the signer's name, bytes hidden in a
signature (an unauthenticated attribute, padding inside the certificate table), a payload file
changed with its hash in BUILDINFO, a zip with a second SETUP.EXE, a CD image with another
volume descriptor and its checksum line gone. A vendor's payload is checked only against the
vendor's files. The release's commit is built again once (build/from-commit/, kept).

  test_verify.py WORK
"""

import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

WORK = None
ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "release"))
import authenticode  # noqa: E402  (where a signature's bytes are)
NAME = "Quorvant99-Setup-1.00"
VERSION = "1.00"


def run(*cmd):
    return subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          timeout=280)


def verify(path, *pin):
    r = run("bash", os.path.join(ROOT, "scripts", "release.sh"), "--verify", path, *pin)
    return r.returncode, r.stdout, sorted(re.findall(r"^verify: FAIL (\S+):", r.stdout, re.M))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def pe_checksum(data, at):
    """The PE header's checksum of `data`, its own four bytes at `at` counted as zeros."""
    size = len(data)
    data = data[:at] + b"\0\0\0\0" + data[at + 4:] + b"\0" * (size % 2)
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + size


def pad_certificate_table(path, extra):
    """Appends `extra` inside the certificate table, lengths and checksum made to fit, as the
    known trick does: Windows and osslsigncode verify still accept the file."""
    data = bytearray(read(path))
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    directory = pe + 24 + {0x10B: 96, 0x20B: 112}[struct.unpack_from("<H", data, pe + 24)[0]] + 4 * 8
    offset, size = struct.unpack_from("<II", data, directory)
    data += extra
    struct.pack_into("<I", data, directory + 4, size + len(extra))
    struct.pack_into("<I", data, offset, size + len(extra))
    struct.pack_into("<I", data, pe + 24 + 64, pe_checksum(bytes(data), pe + 24 + 64))
    write(path, data)


class Verify(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if "tree: clean\n" not in read(os.path.join(WORK, "signed", VERSION, NAME, "BUILDINFO")).decode():
            raise unittest.SkipTest("the release is of a tree with uncommitted changes, which no commit rebuilds")
        cls.ca = os.path.join(WORK, "ca")
        cls.signer = ["--signer", run("openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
                                      os.path.join(cls.ca, "signer.pem")).stdout.strip().split("=")[1]]
        cls.root = ["--cafile", os.path.join(cls.ca, "root.pem")]

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="release-verify-")
        self.addCleanup(shutil.rmtree, self.tmp)
        self.place = os.path.join(self.tmp, VERSION)
        shutil.copytree(os.path.join(WORK, "signed", VERSION), self.place)
        self.folder = os.path.join(self.place, NAME)

    def in_folder(self, name):
        return os.path.join(self.folder, name)

    def test_the_release_verifies_pinned_by_fingerprint_or_by_root_and_not_unpinned(self):
        code, out, failed = verify(os.path.join(WORK, "signed"), *self.signer)
        self.assertEqual((code, failed), (0, []), out)
        self.assertIn("verify: ok   SETUP.EXE: the rebuild with the release's signature pasted on, byte for byte", out)
        self.assertIn("verify: ok   README.TXT: the same as the rebuild", out)
        self.assertIn("verify: ok   SHA256SUMS: lists exactly the release's 26 files, and holds", out)
        self.assertIn("verify: ok   %s.spdx.json: the same as made again" % NAME, out)
        self.assertRegex(out, r"verify: VERIFIED: every byte of .* is commit \w+ built again, signed by the certificate")
        # The fixture's osslsigncode is a stand-in that logs its command lines: said, and no failure.
        self.assertIn("verify: note: built with tool osslsigncode: %s/bin/osslsigncode" % WORK, out)

        code, out, failed = verify(os.path.join(self.place, NAME + ".zip"), *self.root)
        self.assertEqual((code, failed), (0, []), out)
        self.assertIn("verify: ok   %s.zip: the same as made again from the checked folder" % NAME, out)

        code, out, failed = verify(self.place)
        self.assertEqual(code, 1, out)
        self.assertEqual(out.splitlines(), ["verify: a signed release is verified against its signer: give --cafile "
                                            "ROOT.pem (the root its signatures must verify against) or --signer "
                                            "SHA256 (the fingerprint the release printed)"])

    def test_a_signature_of_someone_else_or_with_bytes_hidden_in_it_fails_naming_the_file(self):
        # SETUP.EXE signed again with a certificate of its own that copies the signer's name.
        key, cert, bare = (os.path.join(self.tmp, n) for n in ("own.key", "own.pem", "bare.exe"))
        r = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "30",
                "-subj", "/CN=Quorvant Software test signer", "-addext", "extendedKeyUsage=codeSigning")
        self.assertEqual(r.returncode, 0, r.stdout)
        for cmd in (("remove-signature", "-in", self.in_folder("SETUP.EXE"), "-out", bare),
                    ("sign", "-certs", cert, "-key", key, "-h", "sha256", "-time", "1700000000", "-in", bare, "-out",
                     self.in_folder("SETUP.EXE") + ".new")):
            r = run("osslsigncode", *cmd)
            self.assertEqual(r.returncode, 0, r.stdout)
        os.replace(self.in_folder("SETUP.EXE") + ".new", self.in_folder("SETUP.EXE"))
        # Bytes that osslsigncode verify accepts: an unauthenticated blob, padding in the table.
        r = run("osslsigncode", "add", "-addUnauthenticatedBlob", "-in", self.in_folder("STKIT432.DLL"),
                "-out", os.path.join(self.tmp, "blob.dll"))
        self.assertEqual(r.returncode, 0, r.stdout)
        os.replace(os.path.join(self.tmp, "blob.dll"), self.in_folder("STKIT432.DLL"))
        pad_certificate_table(self.in_folder("QV99.EX_"), b"MZ hidden program".ljust(64, b"\0"))
        # A payload file changed with its hash in BUILDINFO; another with one byte changed.
        write(self.in_folder("README.TXT"), read(self.in_folder("README.TXT")) + b"\r\n")
        info = re.sub(r"^(file README\.TXT: )\w+", lambda m: m.group(1) + hashlib.sha256(
            read(self.in_folder("README.TXT"))).hexdigest(), read(self.in_folder("BUILDINFO")).decode(), flags=re.M)
        write(self.in_folder("BUILDINFO"), info.encode())
        data = bytearray(read(self.in_folder("CUSTOMER.CS_")))
        data[len(data) // 2] ^= 1
        write(self.in_folder("CUSTOMER.CS_"), data)

        code, out, failed = verify(self.folder, *self.signer)
        self.assertEqual((code, failed), (1, ["BUILDINFO", "CUSTOMER.CS_", "QV99.EX_", "README.TXT", "SETUP.EXE",
                                              "STKIT432.DLL", "signatures"]), out)
        for line in ("SETUP.EXE: signed by another certificate \(SHA-256 ",
                     "STKIT432.DLL: its signature holds more than a signature of ours: an unauthenticated attribute",
                     "QV99.EX_: its signature holds more than a signature of ours: \d+ bytes after the signature",
                     "README.TXT: DIFFERS from the rebuild", "CUSTOMER.CS_: DIFFERS from the rebuild"):
            self.assertRegex(out, "verify: FAIL " + line)
        code, out, failed = verify(self.folder, *self.root)
        self.assertIn("verify: FAIL SETUP.EXE: its signature does not verify against %s, time stamp included"
                      % self.root[1], out)
        # The signer's own certificate, but a signature its key did not make: one byte of it changed.
        shutil.copyfile(os.path.join(WORK, "signed", VERSION, NAME, "STKIT432.DLL"), self.in_folder("STKIT432.DLL"))
        data = bytearray(read(self.in_folder("STKIT432.DLL")))
        value = authenticode.Signature(self.in_folder("STKIT432.DLL")).signed.signature.body
        data[data.index(value) + len(value) // 2] ^= 1
        write(self.in_folder("STKIT432.DLL"), data)
        code, out, failed = verify(self.folder, *self.signer)
        self.assertIn("verify: FAIL STKIT432.DLL: its signature or time stamp was not made by the key of its "
                      "certificate", out)

    def test_a_vendor_payload_is_checked_against_the_vendors_files_only(self):
        vendor = os.path.join(self.tmp, "payload")
        disk = os.path.join(WORK, "..", "disk")
        os.mkdir(vendor)
        for n in os.listdir(disk):
            if n not in ("SETUP.EXE", "STKIT432.DLL"):
                shutil.copyfile(os.path.join(disk, n), os.path.join(vendor, n))
        write(os.path.join(vendor, "README.TXT"), b"The vendor's own words.\r\n")
        shutil.copyfile(os.path.join(vendor, "README.TXT"), self.in_folder("README.TXT"))
        info = read(self.in_folder("BUILDINFO")).decode().replace(
            "payload: the demo payload of this source", "payload: --payload, the vendor's files")
        info = re.sub(r"^(file README\.TXT: )\w+", lambda m: m.group(1) + hashlib.sha256(
            read(self.in_folder("README.TXT"))).hexdigest(), info, flags=re.M)
        write(self.in_folder("BUILDINFO"), info.encode())

        code, out, failed = verify(self.folder, *self.signer)
        self.assertEqual((code, failed), (1, []), out)
        # What is not the demo payload's is not checked: README.TXT, and QV99.EX_ as signed.
        self.assertIn("verify: ---- README.TXT: not checked", out)
        self.assertIn("verify: NOT VERIFIED: QV99.EX_, README.TXT not checked", out)
        code, out, failed = verify(self.folder, *self.signer, "--payload", vendor)
        self.assertEqual((code, failed), (0, []), out)
        self.assertIn("verify: ok   README.TXT: the same as --payload's file", out)

    def test_a_zip_or_image_that_is_not_the_checked_folder_packed_fails(self):
        # A zip whose first SETUP.EXE is a foreign one: unpacking keeps the last, the genuine one.
        zipped = os.path.join(self.place, NAME + ".zip")
        foreign = os.path.join(self.tmp, NAME + ".zip")
        with zipfile.ZipFile(zipped) as z, zipfile.ZipFile(foreign, "w") as out:
            out.writestr(NAME + "/SETUP.EXE", read(self.in_folder("STKIT432.DLL")))
            for info in z.infolist():
                out.writestr(info, z.read(info))
        code, out, failed = verify(foreign, *self.signer)
        self.assertEqual((code, failed), (1, [NAME + ".zip"]), out)
        self.assertIn("verify: ok   SETUP.EXE: the rebuild with the release's signature pasted on", out)

        # The image with another volume descriptor and its line gone from SHA256SUMS; a byte of the zip.
        image = os.path.join(self.place, NAME + ".iso")
        data = bytearray(read(image))
        self.assertEqual(data[16 * 2048 + 40:16 * 2048 + 50], b"QUORVANT99")
        data[16 * 2048 + 40:16 * 2048 + 50] = b"QUORVANT98"
        write(image, data)
        sums = os.path.join(self.place, "SHA256SUMS")
        write(sums, b"".join(l for l in read(sums).splitlines(True) if not l.rstrip().endswith(b".iso")))
        data = bytearray(read(zipped))
        data[100] ^= 1
        write(zipped, data)
        code, out, failed = verify(self.place, *self.signer)
        self.assertEqual((code, failed), (1, [NAME + ".iso", NAME + ".zip", "SHA256SUMS"]), out)
        self.assertIn("verify: FAIL SHA256SUMS: does not hold for %s.zip; does not list %s.iso" % (NAME, NAME), out)


if __name__ == "__main__":
    WORK = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
