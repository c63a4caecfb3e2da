"""The release command's rules (ctest release.rules), run against a copy of the signed release
that signed_release.sh made in WORK as the earlier release: each refusal prints its line,
writes nothing and leaves the earlier release whole; a payload program signed already comes
out byte for byte once its signature checks out; an earlier release's signed programs are
shipped again where their bytes are this build's; a release replaces its own version's files
and no other version's.

  test_rules.py BUILD WORK
"""

import fcntl
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = WORK = None
ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
NAME = "Quorvant99-Setup-1.00"
VERSION = "1.00"


def snapshot(folder):
    """Every file under the folder with its bytes, and the folders beside it."""
    files = {}
    for here, _, names in os.walk(folder):
        for n in names:
            with open(os.path.join(here, n), "rb") as f:
                files[os.path.relpath(os.path.join(here, n), folder)] = f.read()
    return files, sorted(os.listdir(os.path.dirname(folder)))


def signing_env(**changes):
    """The environment of the fixture's token signing, without a time-stamp server, changed."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("SETUP_SIGN_")}
    with open(os.path.join(WORK, "env")) as f:
        env.update(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    env.update(changes)
    return {k: v for k, v in env.items() if v is not None}


class Rules(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="release-rules-")
        self.addCleanup(shutil.rmtree, self.root)
        self.out = os.path.join(self.root, "out")
        shutil.copytree(os.path.join(WORK, "signed"), self.out)
        self.ca = os.path.join(WORK, "ca")

    def release(self, *args, env=None, root=ROOT):
        r = subprocess.run(["bash", os.path.join(root, "scripts", "release.sh"), "--build", BUILD, "--out", self.out]
                           + list(args), env=env or signing_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, timeout=240)
        return r.returncode, r.stdout

    def assert_refused(self, line, *args, env=None, root=ROOT):
        before = snapshot(self.out)
        code, self.output = self.release(*args, env=env, root=root)
        self.assertEqual(code, 1, self.output)
        self.assertIn("release: " + line, self.output)
        self.assertTrue(self.output.rstrip().endswith("nothing was written"), self.output)
        self.assertTrue(snapshot(self.out) == before, "the earlier release changed:\n" + self.output)

    def secret(self, name, text, mode=0o600):
        path = os.path.join(self.root, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, mode)
        return path

    def test_settings_that_put_a_secret_or_the_release_at_risk(self):
        pin = signing_env()["SETUP_SIGN_PIN_FILE"]
        with open(pin) as f:
            shown = self.secret("pin", f.read(), 0o644)
        key = signing_env()["SETUP_SIGN_KEY"]
        for env, line in (
                (signing_env(SETUP_SIGN_CAFILE=None), "SETUP_SIGN_CAFILE is not set: a signed release needs the root"),
                (signing_env(SETUP_SIGN_PIN_FILE=shown), "SETUP_SIGN_PIN_FILE: %s can be read or written by others "
                                                         "(mode 0644): chmod 600 it" % shown),
                (signing_env(SETUP_SIGN_KEY=key + ";pin-value=1234"), "SETUP_SIGN_KEY holds the PIN (pin-value=)")):
            with self.subTest(line):
                self.assert_refused(line, "--allow-dirty", "--no-timestamp", env=env)
                self.assertNotIn("1234", self.output)

    def with_signings_counted(self, env):
        """`env` with an osslsigncode first on PATH that notes each signing; the count, later."""
        os.makedirs(os.path.join(self.root, "bin"), exist_ok=True)
        log, tool = os.path.join(self.root, "bin", "signings"), os.path.join(self.root, "bin", "osslsigncode")
        with open(tool, "w") as f:
            f.write('#!/bin/sh\n[ "$1" = sign ] && echo >>"%s"\nexec "%s" "$@"\n' % (log, shutil.which("osslsigncode")))
        os.chmod(tool, 0o755)
        env["PATH"] = os.path.dirname(tool) + os.pathsep + env["PATH"]
        return lambda: os.path.getsize(log) if os.path.exists(log) else 0

    def test_a_wrong_pin_is_named_and_tried_once(self):
        shutil.rmtree(self.out)  # a first release: its output folder goes with it
        env = signing_env(SETUP_SIGN_PIN_FILE=self.secret("pin", "000000\n"))
        signings = self.with_signings_counted(env)
        self.assert_refused("the token refused the PIN in %s: a token locks itself after a few wrong PINs"
                            % env["SETUP_SIGN_PIN_FILE"], "--allow-dirty", "--no-timestamp", env=env)
        self.assertEqual(signings(), 1)

    def test_one_run_at_a_time(self):
        held = os.open(self.root, os.O_RDONLY | os.O_DIRECTORY)  # the folder that holds the output folder
        self.addCleanup(os.close, held)
        fcntl.flock(held, fcntl.LOCK_EX)
        self.assert_refused("another release or --verify is running (it holds %s): one at a time"
                            % os.path.realpath(self.root), "--allow-dirty", "--no-timestamp")

    def payload(self):
        folder = os.path.join(self.root, "payload")
        disk = os.path.join(WORK, "..", "disk")
        os.mkdir(folder)
        for n in os.listdir(disk):
            if n not in ("SETUP.EXE", "STKIT432.DLL"):
                shutil.copyfile(os.path.join(disk, n), os.path.join(folder, n))
        return folder

    def test_no_signing_without_unsigned(self):
        self.assert_refused("no signing configured", "--allow-dirty",
                            env={k: v for k, v in signing_env().items() if not k.startswith("SETUP_SIGN_")})

    def test_a_misspelt_signing_variable(self):
        env = signing_env(SETUP_SIGN_PKCS11_MODULE=None, SETUP_SIGN_PKCS11_MODUL=signing_env()["SETUP_SIGN_PKCS11_MODULE"])
        self.assert_refused("SETUP_SIGN_PKCS11_MODUL: not a signing variable", "--allow-dirty", "--no-timestamp", env=env)

    def test_a_signed_release_without_a_time_stamp_server(self):
        self.assert_refused("SETUP_SIGN_TIMESTAMP_URL is not set", "--allow-dirty")

    def silent_server(self):
        """A time-stamp server's address that takes the request and never answers."""
        server = socket.socket()
        self.addCleanup(server.close)
        server.bind(("127.0.0.1", 0))
        server.listen(8)
        return "http://127.0.0.1:%d/" % server.getsockname()[1]

    def test_the_time_stamp_servers_down_or_silent(self):
        with socket.socket() as s:  # a port that was free a moment ago, with nothing listening
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        silent = self.silent_server()
        env = signing_env(SETUP_SIGN_TIMESTAMP_URL="http://127.0.0.1:%d/ %s" % (port, silent),
                          SETUP_TIMESTAMP_TIMEOUT="2")
        self.assert_refused("no time stamp for QV99.EX_: http://127.0.0.1:%d/ (" % port, "--allow-dirty", env=env)
        self.assertIn(", %s (no answer within 2 s); nothing was written" % silent, self.output)

    def test_a_time_stamp_of_another_authority_after_a_silent_server(self):
        portfile = os.path.join(self.root, "port")
        server = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "tsa_server.py"),
                                   os.path.join(self.ca, "vendor"), portfile, "60"], stdin=subprocess.DEVNULL)
        self.addCleanup(server.wait, 10)
        self.addCleanup(server.kill)
        deadline = time.monotonic() + 20
        while not os.path.exists(portfile) and server.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        with open(portfile) as f:
            urls = "%s http://127.0.0.1:%d/" % (self.silent_server(), int(f.read()))
        env = signing_env(SETUP_SIGN_TIMESTAMP_URL=urls, SETUP_TIMESTAMP_TIMEOUT="2")
        self.assert_refused("QV99.EX_: does not verify against SETUP_SIGN_CAFILE, time stamp included",
                            "--allow-dirty", env=env)

    def test_certificates_that_must_not_sign(self):
        for certs, line in (("expired.pem", "the signing certificate CN=Quorvant Software test signer expired on "),
                            ("nocodesign.pem", "the signing certificate CN=Quorvant Software test signer is not for "
                                               "code signing"),
                            ("otherkey.pem", "the signing key does not match the signing certificate"),
                            ("nointermediate.pem", "the signing certificate's chain up to SETUP_SIGN_CAFILE is not in")):
            with self.subTest(certs):
                env = signing_env(SETUP_SIGN_CERTS=os.path.join(self.ca, certs))
                self.assert_refused(line, "--allow-dirty", "--no-timestamp", env=env)

    def test_a_symbolic_link_in_the_payload(self):
        payload = self.payload()
        os.unlink(os.path.join(payload, "README.TXT"))
        os.symlink(os.path.join(self.ca, "token", "pin"), os.path.join(payload, "README.TXT"))
        self.assert_refused("README.TXT: a symbolic link, which the release does not follow",
                            "--allow-dirty", "--no-timestamp", "--payload", payload)

    def test_a_file_of_others_in_the_output_folder(self):
        with open(os.path.join(self.out, "NOTES.TXT"), "w") as f:
            f.write("mine\n")
        self.assert_refused("%s: not made by the release command" % os.path.join(self.out, "NOTES.TXT"),
                            "--allow-dirty", "--no-timestamp")

    def test_a_tree_with_uncommitted_changes(self):
        clone = os.path.join(self.root, "clone")
        subprocess.run(["git", "clone", "-q", "--shared", "--no-checkout", ROOT, clone], check=True)
        head = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True).stdout.strip()
        subprocess.run(["git", "-C", clone, "checkout", "-q", "--detach", head], check=True)
        # The release command under test, committed in the clone, which is then clean.
        for folder in ("release", "scripts"):
            shutil.copytree(os.path.join(ROOT, folder), os.path.join(clone, folder), dirs_exist_ok=True,
                            ignore=shutil.ignore_patterns("__pycache__"))
        subprocess.run(["git", "-C", clone, "-c", "user.name=test", "-c", "user.email=test@localhost", "commit",
                        "-q", "--allow-empty", "-am", "the release command under test"], check=True)
        preflight = ["python3", "-B", os.path.join(clone, "release", "make_release.py"), "preflight", "--out",
                     self.out, "--build", BUILD, "--no-timestamp"]
        # An earlier release's output inside the checkout is not a change: git does not track it.
        os.makedirs(os.path.join(clone, "out", VERSION))
        with open(os.path.join(clone, "out", VERSION, "SHA256SUMS"), "w") as f:
            f.write("\n")
        clean = subprocess.run(preflight, env=signing_env(), capture_output=True, text=True)
        self.assertEqual(clean.returncode, 0, "the clean clone was refused: " + clean.stdout)
        with open(os.path.join(clone, "README.md"), "a") as f:
            f.write("changed\n")
        self.assert_refused("the tree has uncommitted changes", "--no-timestamp", root=clone)

    def vendor_signed_payload(self):
        """A payload whose QV99.EX_ the second authority signed."""
        payload = self.payload()
        program = os.path.join(payload, "QV99.EX_")
        vendor = os.path.join(self.ca, "vendor")
        os.unlink(program)
        subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(vendor, "signer.p12"), "-readpass",
                        os.path.join(vendor, "password"), "-h", "sha256", "-time", "1700000000",
                        "-in", os.path.join(WORK, "..", "disk", "QV99.EX_"), "-out", program],
                       check=True, stdout=subprocess.DEVNULL)
        return payload, program

    def test_a_payload_signature_of_an_authority_not_given_is_read_before_the_token_and_refused(self):
        payload, program = self.vendor_signed_payload()
        # A vendor's control, a program too, named after the files the release signs.
        os.replace(program, os.path.join(payload, "THREED32.OC_"))
        shutil.copyfile(os.path.join(WORK, "..", "disk", "QV99.EX_"), program)
        env = signing_env()
        signings = self.with_signings_counted(env)
        self.assert_refused("THREED32.OC_: signed by /CN=Vendor test signer, which does not verify against "
                            "SETUP_SIGN_CAFILE", "--allow-dirty", "--no-timestamp", "--payload", payload, env=env)
        self.assertEqual(signings(), 0)

    def test_a_payload_signature_kept_other_programs_unsigned_signatures_reused_and_other_versions_left(self):
        payload, program = self.vendor_signed_payload()
        other = os.path.join(payload, "MSVBVM50.DLL")  # a program of the vendor's, not the manifest's own
        shutil.copyfile(os.path.join(WORK, "..", "disk", "STKIT432.DLL"), other)
        earlier = os.path.join(self.out, "0.99")
        os.rename(os.path.join(self.out, VERSION), earlier)  # an earlier version's release
        before = snapshot(earlier)
        env = signing_env(SETUP_SIGN_PAYLOAD_CAFILE=os.path.join(self.ca, "vendor", "root.pem"))
        code, out = self.release("--allow-dirty", "--no-timestamp", "--payload", payload,
                                 "--reuse", os.path.join(earlier, NAME), env=env)
        self.assertEqual(code, 0, out)
        self.assertIn("release: signed already, their signatures checked against SETUP_SIGN_PAYLOAD_CAFILE and kept "
                      "byte for byte: QV99.EX_ (/CN=Vendor test signer)\n", out)
        self.assertIn("release: unsigned programs of the payload, shipped as they are (only SETUP.EXE, STKIT432.DLL "
                      "and QV99.EX_ are signed with the release's key): MSVBVM50.DLL\n", out)
        self.assertIn("byte for byte (same bytes, same signer): SETUP.EXE STKIT432.DLL\n", out)
        self.assertIn("release: signed with Authenticode (SHA-256): none (every signature reused)\n", out)
        folder = os.path.join(self.out, VERSION, NAME)
        for source, name in ((program, "QV99.EX_"), (other, "MSVBVM50.DLL"),
                             (os.path.join(earlier, NAME, "SETUP.EXE"), "SETUP.EXE"),
                             (os.path.join(earlier, NAME, "STKIT432.DLL"), "STKIT432.DLL")):
            with open(source, "rb") as a, open(os.path.join(folder, name), "rb") as b:
                self.assertTrue(a.read() == b.read(), name + " changed")
        with open(os.path.join(WORK, "..", "disk", "STKIT432.DLL"), "rb") as f:
            built = hashlib.sha256(f.read()).hexdigest()
        with open(os.path.join(folder, "BUILDINFO")) as f:
            self.assertIn("STKIT432.DLL: %s program, signature reused from %s\n" % (built, NAME), f.read())
        self.assertTrue(snapshot(earlier)[0] == before[0], "the earlier version's release changed")
        self.assertEqual(sorted(os.listdir(self.out)), ["0.99", VERSION])

    def test_a_payload_program_changed_after_it_was_signed(self):
        payload, program = self.vendor_signed_payload()
        with open(program, "r+b") as f:
            f.seek(os.path.getsize(program) // 4)  # in the code, far from the signature
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 1]))
        self.assert_refused("QV99.EX_: signed, but its signature does not match its contents",
                            "--allow-dirty", "--no-timestamp", "--payload", payload)


if __name__ == "__main__":
    BUILD, WORK = sys.argv[1], os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
