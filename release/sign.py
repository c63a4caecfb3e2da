"""Authenticode signing (SHA-256) with osslsigncode, configured from the environment. The key
is either in a PKCS#12 file:
  SETUP_SIGN_PKCS12          the certificate, its intermediates and the private key
  SETUP_SIGN_PASSWORD_FILE   a file holding its password
or in a hardware token, through osslsigncode's PKCS#11 engine:
  SETUP_SIGN_PKCS11_MODULE   the token's PKCS#11 library
  SETUP_SIGN_KEY             a pkcs11: URI naming the key (never with pin-value= in it)
  SETUP_SIGN_CERTS           a PEM file: the signing certificate first, then its intermediates
  SETUP_SIGN_PIN_FILE        a file holding the token's PIN
and for both:
  SETUP_SIGN_CAFILE          the root the signatures and time stamps must verify against
  SETUP_SIGN_TIMESTAMP_URL   RFC 3161 time-stamp servers, separated by spaces, tried in order
  SETUP_SIGN_PAYLOAD_CAFILE  optional: the roots a payload program signed already must verify
                             against (default SETUP_SIGN_CAFILE)
  SETUP_SIGN_MINISIGN_KEY    optional: a minisign secret key that signs SHA256SUMS, with
  SETUP_SIGN_MINISIGN_PASSWORD_FILE  a file holding its password where it has one
Password and PIN are handed over as their files' names or on standard input only: they never
reach a command line, the output or a file of ours, and files that hold secrets must be the
user's own and closed to everyone else (as ssh asks of its keys). Without a time stamp
(--no-timestamp) the signing time is SOURCE_DATE_EPOCH, so such a release is reproducible
(RSA PKCS#1 v1.5 and Ed25519 signatures are). No network is used but the time-stamp servers':
revocation is not checked, and what was not checked is said."""

import base64
import functools
import os
import re
import shutil
import subprocess

DESCRIPTION = "Quorvant '99 Setup"
PKCS12 = ("SETUP_SIGN_PKCS12", "SETUP_SIGN_PASSWORD_FILE")
PKCS11 = ("SETUP_SIGN_PKCS11_MODULE", "SETUP_SIGN_KEY", "SETUP_SIGN_CERTS", "SETUP_SIGN_PIN_FILE")
COMMON = ("SETUP_SIGN_CAFILE", "SETUP_SIGN_TIMESTAMP_URL", "SETUP_SIGN_PAYLOAD_CAFILE", "SETUP_SIGN_MINISIGN_KEY",
          "SETUP_SIGN_MINISIGN_PASSWORD_FILE")
FILES = ("SETUP_SIGN_PKCS12", "SETUP_SIGN_PASSWORD_FILE", "SETUP_SIGN_PKCS11_MODULE", "SETUP_SIGN_CERTS",
         "SETUP_SIGN_PIN_FILE", "SETUP_SIGN_CAFILE", "SETUP_SIGN_PAYLOAD_CAFILE", "SETUP_SIGN_MINISIGN_KEY",
         "SETUP_SIGN_MINISIGN_PASSWORD_FILE")
SECRETS = ("SETUP_SIGN_PKCS12", "SETUP_SIGN_PASSWORD_FILE", "SETUP_SIGN_PIN_FILE", "SETUP_SIGN_MINISIGN_KEY",
           "SETUP_SIGN_MINISIGN_PASSWORD_FILE")
# How long a time-stamp server may take to answer before the next one is asked (seconds).
TIMESTAMP_TIMEOUT = "SETUP_TIMESTAMP_TIMEOUT"


class SignError(Exception):
    pass


class Signing:
    """How to sign: `key_args` for osslsigncode, the time-stamp servers (none: unstamped), the
    roots to check against and the minisign key."""

    def __init__(self, env, way, urls):
        self.way, self.urls, self.env = way, urls, env
        self.cafile = env["SETUP_SIGN_CAFILE"]
        self.payload_cafile = env.get("SETUP_SIGN_PAYLOAD_CAFILE") or self.cafile
        self.minisign_key = env.get("SETUP_SIGN_MINISIGN_KEY")
        self.minisign_password = env.get("SETUP_SIGN_MINISIGN_PASSWORD_FILE")
        self.timeout = int(env.get(TIMESTAMP_TIMEOUT) or 60)
        if way == "PKCS#12":
            self.key_args = ["-pkcs12", env["SETUP_SIGN_PKCS12"], "-readpass", env["SETUP_SIGN_PASSWORD_FILE"]]
        else:
            self.key_args = ["-pkcs11module", env["SETUP_SIGN_PKCS11_MODULE"], "-certs", env["SETUP_SIGN_CERTS"],
                             "-key", env["SETUP_SIGN_KEY"], "-readpass", env["SETUP_SIGN_PIN_FILE"]]


def _closed_to_others(name, path):
    st = os.stat(path)
    if st.st_uid not in (os.getuid(), 0):
        raise SignError("%s: %s belongs to another user: a file holding a secret must be your own" % (name, path))
    if st.st_mode & 0o077:
        raise SignError("%s: %s can be read or written by others (mode %04o): chmod 600 it, as ssh asks of its keys"
                        % (name, path, st.st_mode & 0o7777))


def _minisign_key_has_password(path):
    """Whether a minisign secret key file is encrypted with a password; SignError when it is no such file."""
    with open(path, "rb") as f:
        lines = f.read().splitlines()
    try:
        key = base64.b64decode(lines[1], validate=True) if len(lines) >= 2 else b""
    except ValueError:
        key = b""
    if len(key) < 158 or key[:2] != b"Ed":
        raise SignError("SETUP_SIGN_MINISIGN_KEY: %s is not a minisign secret key" % path)
    return key[2:4] == b"Sc"


def config(env, timestamp=True):
    """The signing settings, or None when no SETUP_SIGN_ variable is set; fails with one line on
    a variable it does not know (a misspelt one would otherwise mean an unsigned release), on
    half a setting, on a secret in a file others can read or in the key's URI, and on a signed
    release without a root to check it against or without a time-stamp server unless
    `timestamp` is False."""
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
    if "SETUP_SIGN_CAFILE" not in names:
        raise SignError("SETUP_SIGN_CAFILE is not set: a signed release needs the root certificate its signatures "
                        "and time stamps must verify against, or nothing checks them after signing")
    for name in FILES:
        if name in names and not os.path.isfile(env[name]):
            raise SignError("%s: no such file: %s" % (name, env[name]))
    for name in SECRETS:
        if name in names:
            _closed_to_others(name, env[name])
    if way == "PKCS#11" and not env["SETUP_SIGN_KEY"].startswith("pkcs11:"):
        raise SignError("SETUP_SIGN_KEY must be a pkcs11: URI naming the key in the token")
    if way == "PKCS#11" and re.search(r"[:;?&]pin-value=", env["SETUP_SIGN_KEY"], re.I):
        raise SignError("SETUP_SIGN_KEY holds the PIN (pin-value=): the PIN belongs in SETUP_SIGN_PIN_FILE only, "
                        "never in a variable that commands and logs show")
    if "SETUP_SIGN_MINISIGN_KEY" in names:
        if not shutil.which("minisign"):
            raise SignError("minisign is not installed (scripts/bootstrap.sh installs it)")
        locked = _minisign_key_has_password(env["SETUP_SIGN_MINISIGN_KEY"])
        if locked != ("SETUP_SIGN_MINISIGN_PASSWORD_FILE" in names):
            raise SignError("SETUP_SIGN_MINISIGN_KEY has %s password, so SETUP_SIGN_MINISIGN_PASSWORD_FILE must %sbe set"
                            % (("a", "") if locked else ("no", "not ")))
    elif "SETUP_SIGN_MINISIGN_PASSWORD_FILE" in names:
        raise SignError("signing SHA256SUMS needs SETUP_SIGN_MINISIGN_KEY too")
    urls = env.get("SETUP_SIGN_TIMESTAMP_URL", "").split() if timestamp else []
    if timestamp and not urls:
        raise SignError("SETUP_SIGN_TIMESTAMP_URL is not set: a signed release needs a time-stamp server "
                        "(or --no-timestamp); nothing was written")
    if not (env.get(TIMESTAMP_TIMEOUT) or "60").isdigit():
        raise SignError("%s must be a number of seconds" % TIMESTAMP_TIMEOUT)
    if not shutil.which("osslsigncode"):
        raise SignError("osslsigncode is not installed (scripts/bootstrap.sh installs it)")
    return Signing(env, way, urls)


def run(cmd, timeout=300, stdin=subprocess.DEVNULL):
    return subprocess.run(cmd, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", timeout=timeout)


@functools.lru_cache(maxsize=None)
def _offline():
    """osslsigncode verify's option that keeps it from fetching revocation lists (2.6 and later
    fetch those a certificate names, and fail without a network); older ones fetch nothing."""
    return ["-ignore-crl"] if "-ignore-crl" in run(["osslsigncode", "-h"]).stdout else []


def _key_failure(output, name, signing):
    if "PIN incorrect" in output or "CKR_PIN_INCORRECT" in output:
        return SignError("the token refused the PIN in %s: a token locks itself after a few wrong PINs, so check "
                         "that file before the next try; nothing was written" % signing.env["SETUP_SIGN_PIN_FILE"])
    if "PIN locked" in output or "CKR_PIN_LOCKED" in output:
        return SignError("the token's PIN is locked after too many wrong tries: unlock it with the token's own "
                         "tool; nothing was written")
    if "key values mismatch" in output:
        return SignError("the signing key does not match the signing certificate; nothing was written")
    lines = [l for l in output.splitlines() if l.strip()]
    return SignError("signing %s failed: %s" % (name, " / ".join(lines[-3:])))


def _stamp(signed, out, signing, name):
    """Adds an RFC 3161 time stamp from the first server that answers within the time allowed;
    a server that failed is asked last from then on."""
    failures = []
    for url in list(signing.urls):
        try:
            r = run(["osslsigncode", "add", "-ts", url, "-in", signed, "-out", out], timeout=signing.timeout)
            if r.returncode == 0:
                return
            why = next((l.strip() for l in r.stdout.splitlines() if "failure" in l.lower() or "error" in l.lower()),
                       "no time stamp in its answer")
        except subprocess.TimeoutExpired:
            why = "no answer within %d s" % signing.timeout
        failures.append("%s (%s)" % (url, why))
        signing.urls.remove(url)
        signing.urls.append(url)
        if os.path.exists(out):
            os.unlink(out)
    raise SignError("no time stamp for %s: %s; nothing was written" % (name, ", ".join(failures)))


def sign(path, signing, epoch):
    """Signs the file in place, time-stamped by the first server that answers, or at `epoch`."""
    name = os.path.basename(path)
    unsigned, unstamped = path + ".unsigned", path + ".unstamped"
    os.rename(path, unsigned)
    try:
        cmd = ["osslsigncode", "sign"] + signing.key_args + ["-h", "sha256", "-n", DESCRIPTION]
        if not signing.urls:
            cmd += ["-time", str(epoch)]
        r = run(cmd + ["-in", unsigned, "-out", unstamped if signing.urls else path])
        if r.returncode != 0:
            raise _key_failure(r.stdout, name, signing)
        if signing.urls:
            _stamp(unstamped, path, signing, name)
    finally:
        for leftover in (unsigned, unstamped):
            if os.path.exists(leftover):
                os.unlink(leftover)


def inspect(path, cafile=None):
    """What osslsigncode verify finds in a signed file: {"intact": the digest matches the
    file, "trusted": it verifies against `cafile` (time stamp included), "signer": the
    signer's subject, "output": the text}."""
    cmd = ["osslsigncode", "verify", "-in", path]
    if cafile:
        cmd += ["-CAfile", cafile, "-TSA-CAfile", cafile] + _offline()
    r = run(cmd)
    current = re.findall(r"^Current message digest\s*:\s*(\w+)", r.stdout, re.M)
    calculated = re.findall(r"^Calculated message digest\s*:\s*(\w+)", r.stdout, re.M)
    signer = re.search(r"Signer's certificate:\s*-*\s*Signer #0:\s*Subject:\s*(.*)", r.stdout)
    # osslsigncode verify succeeds when the time stamp fails but the certificate is valid now:
    # a time stamp has to say so itself (2.9 says "Timestamp time:", 2.5 "is timestamped").
    stamped = "Timestamp time:" in r.stdout or "The signature is timestamped" in r.stdout
    stamp_ok = "Timestamp Server Signature verification: failed" not in r.stdout and (
        not stamped or "Timestamp Server Signature verification: ok" in r.stdout)
    return {"intact": bool(current) and current == calculated,
            "trusted": bool(cafile) and r.returncode == 0 and stamp_ok,
            "signer": signer.group(1).strip() if signer else "an unnamed signer", "output": r.stdout}


def why_untrusted(found):
    """The first line of osslsigncode's output that says why a signature did not verify."""
    why = [l.strip() for l in found["output"].splitlines() if "error" in l.lower() or "failed" in l.lower()]
    return (why or ["osslsigncode verify failed"])[0]


def check_signed(path, signing):
    """After signing: the signature and its time stamp verify against SETUP_SIGN_CAFILE (a
    time-stamp server of another authority shows here)."""
    found = inspect(path, signing.cafile)
    if not found["trusted"]:
        raise SignError("%s: does not verify against SETUP_SIGN_CAFILE, time stamp included (%s); nothing was written"
                        % (os.path.basename(path), why_untrusted(found)))


def remove_signature(path, out):
    """The file's bytes as they were before signing, written to `out`."""
    r = run(["osslsigncode", "remove-signature", "-in", path, "-out", out])
    if r.returncode != 0:
        raise SignError("%s: its signature cannot be removed: %s" % (os.path.basename(path), r.stdout.strip()))


def attach(pkcs7, unsigned, out):
    """`unsigned` with the signature `pkcs7` (DER) pasted on as osslsigncode pastes it, written
    to `out`; False when it cannot be. (attach-signature's own check of the chain against the
    system's roots is no concern here: its status is not read, only what it wrote.)"""
    sig = out + ".p7"
    # PEM: osslsigncode 2.5 (Debian's own) reads a bare DER signature as no signature at all.
    text = base64.b64encode(pkcs7).decode()
    with open(sig, "w") as f:
        f.write("-----BEGIN PKCS7-----\n%s\n-----END PKCS7-----\n" % "\n".join(
            text[i:i + 64] for i in range(0, len(text), 64)))
    try:
        run(["osslsigncode", "attach-signature", "-sigin", sig, "-in", unsigned, "-out", out])
    finally:
        os.unlink(sig)
    return os.path.isfile(out)


def minisign(path, signing, comment):
    """Signs `path` with the minisign key into `path`.minisig, with `comment` as its trusted
    comment (no time in it, so the signature is the same bytes every time)."""
    password = open(signing.minisign_password, "rb") if signing.minisign_password else subprocess.DEVNULL
    try:
        r = run(["minisign", "-S", "-s", signing.minisign_key, "-m", path, "-x", path + ".minisig",
                 "-t", comment, "-c", "signature of " + comment], stdin=password, timeout=120)
    finally:
        if password is not subprocess.DEVNULL:
            password.close()
    if r.returncode != 0:
        if "Wrong password" in r.stdout:
            raise SignError("the password in SETUP_SIGN_MINISIGN_PASSWORD_FILE does not open SETUP_SIGN_MINISIGN_KEY; "
                            "nothing was written")
        lines = [l.strip() for l in r.stdout.splitlines() if l.strip() and not l.startswith("Password:")]
        raise SignError("minisign could not sign %s: %s; nothing was written"
                        % (os.path.basename(path), (lines or ["no reason given"])[-1]))
