"""The packed forms of the release folder: a zip, an ISO 9660 image with Joliet names (by
xorriso) and SHA256SUMS. Each is the same bytes from the same folder and SOURCE_DATE_EPOCH:
entries sorted, every time the epoch, no owner, permissions or host in them."""

import hashlib
import os
import subprocess
import time
import zipfile

VOLUME_LABEL = "QUORVANT99"


def fix_times(folder, epoch):
    """Every file 0644 with the epoch as its time, the folder too (its time last)."""
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        os.chmod(path, 0o644)
        os.utime(path, (epoch, epoch))
    os.chmod(folder, 0o755)
    os.utime(folder, (epoch, epoch))


def write_zip(folder, path, epoch):
    """The folder as one top-level folder of the zip."""
    stamp = time.gmtime(epoch)[:6]
    top = os.path.basename(folder) + "/"

    def entry(name, mode):
        info = zipfile.ZipInfo(name, stamp)
        info.create_system = 3  # Unix, so the permissions below are read as such
        info.external_attr = mode << 16
        return info
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(entry(top, 0o40755), b"")
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(entry(top + name, 0o100644), f.read(), zipfile.ZIP_DEFLATED, 9)


def write_iso(folder, path, epoch):
    """The folder's files at the root of a CD image, as a disk holds them."""
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch), TZ="UTC")
    r = subprocess.run(["xorriso", "-no_rc", "-outdev", path, "-volid", VOLUME_LABEL,
                        "-joliet", "on", "-rockridge", "off", "-map", folder, "/", "-commit"],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True, errors="replace")
    if r.returncode != 0:
        raise OSError("xorriso failed:\n" + r.stdout)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def write_sums(out, names, path):
    """SHA256SUMS for `sha256sum -c` in `out`: a line per file named, relative to out."""
    with open(path, "w", encoding="ascii", newline="\n") as f:
        for name in sorted(names):
            f.write("%s  %s\n" % (sha256(os.path.join(out, name)), name))
