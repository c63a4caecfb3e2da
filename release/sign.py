"""Authenticode signing (SHA-256) with osslsigncode, configured from the environment. The key
is either in a PKCS#12 file:
  SETUP_SIGN_PKCS12          the certificate, its intermediates and the private key
  SETUP_SIGN_PASSWORD_FILE   a file holding its password
or in a hardware token, through osslsigncode's PKCS#11 engine:
  SETUP_SIGN_PKCS11_MODULE   the token's PKCS#11 library
  SETUP_SIGN_KEY             a pkcs11: URI naming the key
  SETUP_SIGN_CERTS           a PEM file: the signing certificate first, then its intermediates
  SETUP_SIGN_PIN_FILE        a file holding the token's PIN
and for both:
  SETUP_SIGN_TIMESTAMP_URL   RFC 3161 time-stamp servers, separated by spaces, tried in order
  SETUP_SIGN_CAFILE          optional: the root to verify the signatures and time stamps against
Password and PIN are handed over as their files' names only (osslsigncode -readpass): they
never reach a command line, the output or a file of ours. Without a time stamp (--no-timestamp)
the signing time is SOURCE_DATE_EPOCH, so such a release is reproducible (RSA PKCS#1 v1.5
signatures are)."""

import os
import re
import shutil
import subprocess

DESCRIPTION = "Quorvant '99 Setup"
PKCS12 = ("SETUP_SIGN_PKCS12", "SETUP_SIGN_PASSWORD_FILE")
PKCS11 = ("SETUP_SIGN_PKCS11_MODULE", "SETUP_SIGN_KEY", "SETUP_SIGN_CERTS", "SETUP_SIGN_PIN_FILE")
COMMON = ("SETUP_SIGN_TIMESTAMP_URL", "SETUP_SIGN_CAFILE")
FILES = ("SETUP_SIGN_PKCS12", "SETUP_SIGN_PASSWORD_FILE", "SETUP_SIGN_PKCS11_MODULE", "SETUP_SIGN_CERTS",
         "SETUP_SIGN_PIN_FILE", "SETUP_SIGN_CAFILE")


class SignError(Exception):
    pass


class Signing:
    """How to sign: `key_args` for osslsigncode, the time-stamp servers (none: unstamped)."""

    def __init__(self, env, way, urls):
        self.way, self.urls, self.env = way, urls, env
        self.cafile = env.get("SETUP_SIGN_CAFILE")
        if way == "PKCS#12":
            self.key_args = ["-pkcs12", env["SETUP_SIGN_PKCS12"], "-readpass", env["SETUP_SIGN_PASSWORD_FILE"]]
        else:
            self.key_args = ["-pkcs11module", env["SETUP_SIGN_PKCS11_MODULE"], "-certs", env["SETUP_SIGN_CERTS"],
                             "-key", env["SETUP_SIGN_KEY"], "-readpass", env["SETUP_SIGN_PIN_FILE"]]


def config(env, timestamp=True):
    """The signing settings, or None when no SETUP_SIGN_ variable is set; fails with one line on
    a variable it does not know (a misspelt one would otherwise mean an unsigned release), on
    half a setting, and on a signed release without a time-stamp server unless `timestamp` is
    False."""
    names = {k for k, v in env.items() if k.startswith("SETUP_SIGN_") and v}
    if not names:
        return None
    unknown = sorted(names - set(PKCS12 + PKCS11 + COMMON))
    if unknown:
        raise SignError("%s: not a signing variable (they are %s)" % (unknown[0], ", ".join(PKCS12 + PKCS11 + COMMON)))
    if names & set(PKCS12) and names & set(PKCS11):
        raise SignError("set the PKCS#12 variables or the PKCS#11 ones, not both")
    way, wanted = ("PKCS#12", PKCS12) if names & set(PKCS12) else ("PKCS#11", PKCS11)
    missing = [n for n in wanted if n not in names]
    if missing:
        raise SignError("signing needs %s too (%s is set)" % (" and ".join(missing), ", ".join(sorted(names))))
    for name in FILES:
        if name in names and not os.path.isfile(env[name]):
            raise SignError("%s: no such file: %s" % (name, env[name]))
    if way == "PKCS#11" and not env["SETUP_SIGN_KEY"].startswith("pkcs11:"):
        raise SignError("SETUP_SIGN_KEY must be a pkcs11: URI naming the key in the token")
    urls = env.get("SETUP_SIGN_TIMESTAMP_URL", "").split() if timestamp else []
    if timestamp and not urls:
        raise SignError("SETUP_SIGN_TIMESTAMP_URL is not set: a signed release needs a time-stamp server "
                        "(or --no-timestamp); nothing was written")
    if not shutil.which("osslsigncode"):
        raise SignError("osslsigncode is not installed (scripts/bootstrap.sh installs it)")
    return Signing(env, way, urls)


def run(cmd):
    return subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", timeout=300)


def sign(path, signing, epoch):
    """Signs the file in place, time-stamped by the first server that answers, or at `epoch`."""
    unsigned = path + ".unsigned"
    os.rename(path, unsigned)
    cmd = ["osslsigncode", "sign"] + signing.key_args + ["-h", "sha256", "-n", DESCRIPTION]
    for url in signing.urls:
        cmd += ["-ts", url]
    if not signing.urls:
        cmd += ["-time", str(epoch)]
    r = run(cmd + ["-in", unsigned, "-out", path])
    os.unlink(unsigned)
    name = os.path.basename(path)
    if r.returncode == 0:
        return
    if os.path.exists(path):
        os.unlink(path)
    if "key values mismatch" in r.stdout:
        raise SignError("the signing key does not match the signing certificate; nothing was written")
    if "HTTP failure" in r.stdout or "Timestamp" in r.stdout or "timestamp" in r.stdout:
        raise SignError("no time stamp for %s from %s; nothing was written" % (name, " ".join(signing.urls)))
    lines = [l for l in r.stdout.splitlines() if l.strip()]
    raise SignError("signing %s failed: %s" % (name, " / ".join(lines[-3:])))


def inspect(path, cafile=None):
    """What osslsigncode verify finds in a signed file: {"intact": the digest matches the
    file, "trusted": it verifies against `cafile` (time stamp included), "output": the text}."""
    cmd = ["osslsigncode", "verify", "-in", path]
    if cafile:
        cmd += ["-CAfile", cafile, "-TSA-CAfile", cafile]
    r = run(cmd)
    current = re.findall(r"^Current message digest\s*:\s*(\w+)", r.stdout, re.M)
    calculated = re.findall(r"^Calculated message digest\s*:\s*(\w+)", r.stdout, re.M)
    # osslsigncode verify succeeds when the time stamp fails but the certificate is valid now:
    # a time stamp has to say so itself.
    stamp_ok = "Timestamp time:" not in r.stdout or (
        "Timestamp Server Signature verification: ok" in r.stdout
        and "Timestamp Server Signature verification: failed" not in r.stdout)
    return {"intact": bool(current) and current == calculated,
            "trusted": bool(cafile) and r.returncode == 0 and stamp_ok, "output": r.stdout}


def check_signed(path, signing):
    """After signing, with SETUP_SIGN_CAFILE set: the signature and its time stamp verify
    against it (a time-stamp server of another authority shows here)."""
    if not signing.cafile:
        return
    found = inspect(path, signing.cafile)
    if not found["trusted"]:
        why = [l.strip() for l in found["output"].splitlines() if "error" in l.lower() or "failed" in l.lower()]
        raise SignError("%s: does not verify against SETUP_SIGN_CAFILE, time stamp included (%s); nothing was written"
                        % (os.path.basename(path), (why or ["osslsigncode verify failed"])[0]))


def remove_signature(path, out):
    """The file's bytes as they were before signing, written to `out`."""
    r = run(["osslsigncode", "remove-signature", "-in", path, "-out", out])
    if r.returncode != 0:
        raise SignError("%s: its signature cannot be removed: %s" % (os.path.basename(path), r.stdout.strip()))
