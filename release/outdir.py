"""The output folder, which the release command owns: a release is made whole in a staging
folder beside it and put in its place with one rename (an exchange of the two folders when
there is an earlier release), so a failure at any point leaves the earlier release whole."""

import ctypes
import ctypes.util
import errno
import os
import re
import shutil
import tempfile

_RENAME_EXCHANGE = 2
_AT_FDCWD = -100


def _ours(name, product):
    """A name the release command makes in its output folder, of any version."""
    return name == "SHA256SUMS" or re.fullmatch(re.escape(product) + r"-[0-9.]+(\.zip|\.iso)?", name) is not None


def strays(out, product):
    """What is in the output folder that the command did not make, one line each."""
    if os.path.islink(out) or (os.path.exists(out) and not os.path.isdir(out)):
        return ["%s: not a folder of the release command's own" % out]
    if not os.path.isdir(out):
        return []
    return ["%s: not made by the release command; move it away (it would not be in the release)"
            % os.path.join(out, n) for n in sorted(os.listdir(out)) if not _ours(n, product)]


def staging(out):
    """A new, empty folder beside the output folder, on the same file system; staging folders
    that an interrupted run left are removed first."""
    parent, base = os.path.split(os.path.abspath(out))
    os.makedirs(parent, exist_ok=True)
    prefix = "." + base + ".staging-"
    for name in os.listdir(parent):
        if name.startswith(prefix):
            shutil.rmtree(os.path.join(parent, name), ignore_errors=True)
    folder = tempfile.mkdtemp(prefix=prefix, dir=parent)
    os.chmod(folder, 0o755)
    return folder


def _exchange(a, b):
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    if libc.renameat2(_AT_FDCWD, os.fsencode(a), _AT_FDCWD, os.fsencode(b), _RENAME_EXCHANGE) != 0:
        e = ctypes.get_errno()
        raise OSError(e, "cannot put the release in place of %s: %s" % (b, os.strerror(e)))


def put_in_place(folder, out):
    """Makes the staging folder the output folder in one step, then removes the earlier
    release, which the exchange left in the staging folder's place."""
    try:
        os.rename(folder, out)
        return
    except OSError as e:
        if e.errno not in (errno.ENOTEMPTY, errno.EEXIST):
            raise
    _exchange(folder, out)
    shutil.rmtree(folder, ignore_errors=True)  # else the next run removes it
