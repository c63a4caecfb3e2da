"""The output folder, which the release command owns. Each version's release has its own place
in it, <out>/<version>/: the release's folder, its zip and CD image, its SBOM, SHA256SUMS and
its signature. A release is made whole in a staging folder beside that place and put there with
one rename (an exchange of the two folders when the version was released before), so a failure
at any point leaves the output folder as it was, and a release never changes another version's."""

import ctypes
import ctypes.util
import errno
import os
import re
import shutil
import tempfile

_RENAME_EXCHANGE = 2
_AT_FDCWD = -100
VERSION = re.compile(r"[0-9]+(\.[0-9]+)*")


def place_names(name):
    """What the release command makes in a version's place, for the release named `name`."""
    return {name, name + ".zip", name + ".iso", name + ".spdx.json", "SHA256SUMS", "SHA256SUMS.minisig"}


def strays(out, name, version):
    """What is in the output folder that the command did not make, and what in this version's
    place it would remove, one line each."""
    if os.path.islink(out) or (os.path.exists(out) and not os.path.isdir(out)):
        return ["%s: not a folder of the release command's own" % out]
    if not os.path.isdir(out):
        return []
    lines = []
    for entry in sorted(os.listdir(out)):
        path = os.path.join(out, entry)
        if VERSION.fullmatch(entry) and os.path.isdir(path) and not os.path.islink(path):
            if entry == version:
                lines += ["%s: not made by the release command; move it away (the release of %s replaces this folder)"
                          % (os.path.join(path, n), version) for n in sorted(os.listdir(path))
                          if n not in place_names(name)]
        elif not (entry.startswith(".") and ".staging-" in entry):
            lines.append("%s: not made by the release command; move it away (it would not be in the release)" % path)
    return lines


def staging(out, version):
    """A new, empty folder in the output folder (so on its file system) for the release of
    `version`; staging folders that an interrupted run left are removed first (the lock keeps
    others' runs away)."""
    os.makedirs(out, exist_ok=True)
    prefix = "." + version + ".staging-"
    for entry in os.listdir(out):
        if entry.startswith(prefix):
            shutil.rmtree(os.path.join(out, entry), ignore_errors=True)
    folder = tempfile.mkdtemp(prefix=prefix, dir=out)
    os.chmod(folder, 0o755)
    return folder


def _exchange(a, b):
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    if libc.renameat2(_AT_FDCWD, os.fsencode(a), _AT_FDCWD, os.fsencode(b), _RENAME_EXCHANGE) != 0:
        e = ctypes.get_errno()
        raise OSError(e, "cannot put the release in place of %s: %s" % (b, os.strerror(e)))


def put_in_place(folder, out, version):
    """Makes the staging folder the version's place in one step, then removes the earlier
    release of that version, which the exchange left in the staging folder's place."""
    place = os.path.join(out, version)
    try:
        os.rename(folder, place)
        return place
    except OSError as e:
        if e.errno not in (errno.ENOTEMPTY, errno.EEXIST):
            raise
    _exchange(folder, place)
    shutil.rmtree(folder, ignore_errors=True)  # else the next run removes it
    return place


def locate(path, product):
    """What a path given to --verify or --reuse is: ("folder", the release's folder, None),
    ("place", its folder, the version's place), or ("file", None, None) for a zip or CD image;
    OSError when it is none of these."""
    if not os.path.exists(path):
        raise OSError("%s: no such release" % path)
    if not os.path.isdir(path):
        return "file", None, None
    entries = os.listdir(path)
    if "BUILDINFO" in entries:
        return "folder", path, None
    if "SHA256SUMS" not in entries:
        versions = [e for e in entries if VERSION.fullmatch(e) and os.path.isdir(os.path.join(path, e))]
        if len(versions) != 1:
            raise OSError("%s: an output folder holding %s: name the version's folder in it"
                          % (path, "versions " + ", ".join(sorted(versions)) if versions else "no release"))
        path = os.path.join(path, versions[0])
        entries = os.listdir(path)
    inner = [e for e in entries if e.startswith(product + "-") and os.path.isdir(os.path.join(path, e))]
    if len(inner) != 1:
        raise OSError("%s: not a release (no one %s-<version> folder in it)" % (path, product))
    return "place", os.path.join(path, inner[0]), path
