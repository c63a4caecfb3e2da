"""Authenticode signing (SHA-256) with osslsigncode, configured from the environment:
  SETUP_SIGN_PKCS12          the certificate and private key, a PKCS#12 file
  SETUP_SIGN_PASSWORD_FILE   a file holding its password, which osslsigncode reads itself
  SETUP_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamp server
The password is handed over as the file's name only: it never reaches a command line, the
output or a file of ours. Without a time stamp the signing time is SOURCE_DATE_EPOCH, so a
signed release is as reproducible as an unsigned one (RSA PKCS#1 v1.5 signatures are)."""

import os
import shutil
import struct
import subprocess

DESCRIPTION = "Quorvant '99 Setup"


class SignError(Exception):
    pass


def config(env):
    """The signing settings, or None for an unsigned release; fails on half a setting."""
    pkcs12, password = env.get("SETUP_SIGN_PKCS12"), env.get("SETUP_SIGN_PASSWORD_FILE")
    if not pkcs12 and not password:
        return None
    if not pkcs12 or not password:
        raise SignError("set both SETUP_SIGN_PKCS12 and SETUP_SIGN_PASSWORD_FILE, or neither")
    for name, path in (("SETUP_SIGN_PKCS12", pkcs12), ("SETUP_SIGN_PASSWORD_FILE", password)):
        if not os.path.isfile(path):
            raise SignError("%s: no such file: %s" % (name, path))
    if not shutil.which("osslsigncode"):
        raise SignError("osslsigncode is not installed (scripts/bootstrap.sh installs it)")
    return {"pkcs12": pkcs12, "password_file": password, "timestamp": env.get("SETUP_SIGN_TIMESTAMP_URL")}


def is_pe(path):
    """A Windows program or library: an MZ header pointing at a PE signature."""
    with open(path, "rb") as f:
        head = f.read(0x40)
        if len(head) < 0x40 or head[:2] != b"MZ":
            return False
        f.seek(struct.unpack_from("<I", head, 0x3C)[0])
        return f.read(4) == b"PE\0\0"


def sign(path, cfg, epoch):
    """Signs the file in place."""
    unsigned = path + ".unsigned"
    os.rename(path, unsigned)
    cmd = ["osslsigncode", "sign", "-pkcs12", cfg["pkcs12"], "-readpass", cfg["password_file"],
           "-h", "sha256", "-n", DESCRIPTION]
    cmd += ["-ts", cfg["timestamp"]] if cfg["timestamp"] else ["-time", str(epoch)]
    r = subprocess.run(cmd + ["-in", unsigned, "-out", path], stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    os.unlink(unsigned)
    if r.returncode != 0:
        raise SignError("signing %s failed: %s" % (os.path.basename(path), r.stdout.strip()))
