"""BUILDINFO, the release's record of what it was built from: the commit and the state of the
tree, SOURCE_DATE_EPOCH, the build and the payload, the signing (certificate subject, serial,
expiry, time-stamp servers), the versions of the tools, and the SHA-256 of every file before
signing. One "key: value" per line, so that `--verify` can read it back and write it again."""

import os
import subprocess
import sys
import time

from sources import ROOT

TRIPLES = {"win32": "i686-w64-mingw32", "win64": "x86_64-w64-mingw32"}


def _first_line(cmd):
    try:
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, errors="replace", timeout=60)
    except OSError:
        return "not found"
    return (r.stdout.strip().splitlines() or ["no version"])[0].strip().removesuffix(", using:")


def tools(build):
    """The versions of the tools a release of `build` is made with, one line each."""
    triple = TRIPLES[build]
    return [("c compiler", _first_line([triple + "-gcc-win32", "--version"])),
            ("c++ compiler", _first_line([triple + "-g++-win32", "--version"])),
            ("linker", _first_line([triple + "-ld", "--version"])),
            ("resource compiler", _first_line([triple + "-windres", "--version"])),
            ("osslsigncode", _first_line(["osslsigncode", "--version"])),
            ("xorriso", _first_line(["xorriso", "-version"])),
            ("python", "Python " + sys.version.split()[0])]


def source_state():
    """(commit, clean): the commit checked out and whether the tree has no uncommitted change
    (untracked files count: the build might take them); (None, False) outside a git checkout."""
    def git(*args):
        return subprocess.run(["git", "-C", ROOT] + list(args), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    head = git("rev-parse", "--verify", "HEAD")
    if head.returncode != 0:
        return None, False
    status = git("status", "--porcelain", "--untracked-files=normal")
    return head.stdout.strip(), status.returncode == 0 and status.stdout == ""


def signing_lines(way, urls, cert):
    """The signing's lines: `way` "PKCS#11" or "PKCS#12" (None: unsigned), the time-stamp
    servers (none: unstamped) and the signing certificate's description."""
    if not way:
        return [("signed", "no (--unsigned): Windows names no publisher")]
    stamp = " ".join(urls) if urls else "none (--no-timestamp): the signatures stop verifying when the certificate expires"
    return [("signed", "Authenticode, SHA-256, key in " + way)] + certificate_lines(cert) + [("time stamp", stamp)]


def certificate_lines(cert):
    """The signing certificate's lines: subject, serial and expiry."""
    return [("certificate", cert["subject"]), ("serial", cert["serial"]),
            ("expires", time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(cert["not_after"])))]


def text(fields):
    """BUILDINFO's text from its (key, value) pairs."""
    return "".join("%s: %s\n" % kv for kv in fields)


def fields(name, commit, clean, epoch, build, payload_given, sign_lines, tool_lines, hashes):
    """BUILDINFO's (key, value) pairs. `hashes`: {file name: (sha256 before signing, what
    happened to its signature)}."""
    out = [("release", name),
           ("commit", commit or "none: not a git checkout (--allow-dirty)"),
           ("tree", "clean" if clean else "uncommitted changes (--allow-dirty)"),
           ("SOURCE_DATE_EPOCH", str(epoch)), ("build", build),
           ("payload", "--payload, the vendor's files" if payload_given else "the demo payload of this source")]
    out += sign_lines
    out += [("tool " + k, v) for k, v in tool_lines]
    out += [("file " + n, "%s %s" % hashes[n]) for n in sorted(hashes)]
    return out


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
