"""BUILDINFO, the release's record of what it was built from: the commit and the state of the
tree, SOURCE_DATE_EPOCH, the build and the payload, the signing (certificate subject, serial,
expiry, SHA-256 fingerprint, time-stamp servers), the system and the Debian packages of the
tools (release/packages.py), and the SHA-256 of every file before signing with what was done
to its signature. One "key: value" per line, so that `--verify` can read it back and write it
again."""

import os
import subprocess
import time

from sources import ROOT

TRIPLES = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}
# What was done to a file's signature, as its BUILDINFO line says.
DATA = "data"
KEPT = "program, signed before: kept"
SIGNED = "program, signed by this release"
REUSED = "program, signature reused from "
UNSIGNED = "program, unsigned"
NOT_OURS = "program, unsigned: not this release's to sign"


def source_state():
    """(commit, clean): the commit checked out and whether the tree has no uncommitted change
    to a file git tracks (a file it does not track is not built: the build takes the commit's
    files); (None, False) outside a git checkout."""
    def git(*args):
        return subprocess.run(["git", "-C", ROOT] + list(args), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    head = git("rev-parse", "--verify", "HEAD")
    if head.returncode != 0:
        return None, False
    status = git("status", "--porcelain", "--untracked-files=no")
    return head.stdout.strip(), status.returncode == 0 and status.stdout == ""


def signing_lines(way, urls, cert):
    """The signing's lines: `way` "PKCS#11" or "PKCS#12" (None: unsigned), the time-stamp
    servers (none: unstamped) and the signing certificate's description."""
    if not way:
        return [("signed", "no (--unsigned): Windows names no publisher")]
    stamp = " ".join(urls) if urls else "none (--no-timestamp): the signatures stop verifying when the certificate expires"
    return [("signed", "Authenticode, SHA-256, key in " + way)] + certificate_lines(cert) + [("time stamp", stamp)]


def certificate_lines(cert):
    """The signing certificate's lines: subject, serial, expiry and fingerprint (--verify --signer)."""
    return [("certificate", cert["subject"]), ("serial", cert["serial"]),
            ("expires", time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(cert["not_after"]))),
            ("signer sha256", cert["fingerprint"])]


def text(fields):
    """BUILDINFO's text from its (key, value) pairs."""
    return "".join("%s: %s\n" % kv for kv in fields)


def fields(name, commit, clean, epoch, build, payload_given, sign_lines, environment, hashes):
    """BUILDINFO's (key, value) pairs. `environment`: release/packages.py's lines; `hashes`:
    {file name: (sha256 before signing, what happened to its signature)}."""
    out = [("release", name),
           ("commit", commit or "none: not a git checkout (--allow-dirty)"),
           ("tree", "clean" if clean else "uncommitted changes (--allow-dirty)"),
           ("SOURCE_DATE_EPOCH", str(epoch)), ("build", build),
           ("payload", "--payload, the vendor's files" if payload_given else "the demo payload of this source")]
    out += sign_lines
    out += environment
    out += [("file " + n, "%s %s" % hashes[n]) for n in sorted(hashes)]
    return out


def is_environment(key):
    return key == "os" or key.startswith(("package ", "tool "))


def parse(data):
    """BUILDINFO's (key, value) pairs back from its bytes; ValueError when it is not one."""
    pairs = []
    for line in data.decode("utf-8").splitlines():
        key, sep, value = line.partition(": ")
        if not sep:
            raise ValueError("BUILDINFO: a line that is not 'key: value': %r" % line)
        pairs.append((key, value))
    return pairs


def write(path, pairs):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text(pairs))
    return os.path.getsize(path)
