"""The checks of the signing certificate before anything is signed, with openssl: valid now,
made for code signing, and its chain whole up to SETUP_SIGN_CAFILE (its intermediates in the
signing settings: an offline machine cannot fetch them). That the key matches the certificate,
osslsigncode checks as it signs. Revocation is not checked (that needs the network): the
addresses the chain names for it are returned, for the release to say so."""

import base64
import calendar
import os
import re
import subprocess
import tempfile
import time

from authenticode import fingerprint
from sign import SignError

CERT_PEM = re.compile(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n?", re.S)


def _openssl(*args, stdin=None):
    r = subprocess.run(("openssl",) + args, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       text=True, errors="replace", timeout=60)
    return r.returncode, r.stdout


def certificates(signing):
    """The signing certificate and the others that go into the signature, as PEM texts."""
    if signing.way == "PKCS#12":
        env = signing.env
        args = ("pkcs12", "-in", env["SETUP_SIGN_PKCS12"], "-passin", "file:" + env["SETUP_SIGN_PASSWORD_FILE"], "-nokeys")
        code, leaf = _openssl(*args, "-clcerts")
        code2, others = _openssl(*args, "-cacerts")
        if code or code2:
            raise SignError("SETUP_SIGN_PKCS12: cannot be read with the password of SETUP_SIGN_PASSWORD_FILE")
        leaf, others = CERT_PEM.findall(leaf), CERT_PEM.findall(others)
    else:
        with open(signing.env["SETUP_SIGN_CERTS"], encoding="ascii", errors="replace") as f:
            found = CERT_PEM.findall(f.read())
        leaf, others = found[:1], found[1:]
    if not leaf:
        raise SignError("no signing certificate in the %s settings" % signing.way)
    return leaf[0], others


def _date(text):
    return calendar.timegm(time.strptime(text.replace("  ", " "), "%b %d %H:%M:%S %Y GMT"))


def describe(pem):
    """The certificate's subject, serial, validity (epoch seconds), extended key usages, SHA-256
    fingerprint and the addresses it names for revocation checks (CRL and OCSP)."""
    code, out = _openssl("x509", "-noout", "-subject", "-serial", "-startdate", "-enddate", "-ext",
                         "extendedKeyUsage,crlDistributionPoints,authorityInfoAccess", "-nameopt", "RFC2253", stdin=pem)
    if code:
        raise SignError("the signing certificate cannot be read: " + out.strip())
    field = dict(re.findall(r"^(subject|serial|notBefore|notAfter)=(.*)$", out, re.M))
    usage = re.search(r"X509v3 Extended Key Usage:.*\n\s*(.*)", out)
    body = "".join(pem.strip().splitlines()[1:-1])
    return {"subject": field["subject"].strip(), "serial": field["serial"].strip(),
            "not_before": _date(field["notBefore"]), "not_after": _date(field["notAfter"]),
            "usages": [u.strip() for u in usage.group(1).split(",")] if usage else [],
            "fingerprint": fingerprint(base64.b64decode(body)),
            "revocation": [u for l in out.splitlines() if "CA Issuers" not in l for u in re.findall(r"URI:(\S+)", l)]}


def check(signing, now=None):
    """Fails with one line unless the signing certificate is valid now, is for code signing and
    has its chain; returns its description, with "revocation" the addresses its whole chain names."""
    now = time.time() if now is None else now
    leaf, others = certificates(signing)
    cert = describe(leaf)
    stamp = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(cert["not_after"]))
    if now >= cert["not_after"]:
        raise SignError("the signing certificate %s expired on %s; nothing was written" % (cert["subject"], stamp))
    if now < cert["not_before"]:
        raise SignError("the signing certificate %s is not valid yet; nothing was written" % cert["subject"])
    if "Code Signing" not in cert["usages"]:
        raise SignError("the signing certificate %s is not for code signing (its usages: %s); nothing was written"
                        % (cert["subject"], ", ".join(cert["usages"]) or "none named"))
    with tempfile.TemporaryDirectory(prefix="release-certs-") as tmp:
        leaf_file, others_file = os.path.join(tmp, "leaf.pem"), os.path.join(tmp, "others.pem")
        with open(leaf_file, "w") as f:
            f.write(leaf)
        with open(others_file, "w") as f:
            f.write("".join(others))
        args = ["-CAfile", signing.cafile] + (["-untrusted", others_file] if others else [])
        code, out = _openssl("verify", *args, leaf_file)
    if code:
        reason = re.findall(r"error \d+ at \d+ depth lookup: (.*)", out)
        raise SignError("the signing certificate's chain up to SETUP_SIGN_CAFILE is not in the signing settings (%s): "
                        "without its intermediates Windows shows an unknown publisher; nothing was written"
                        % (reason[0] if reason else "no issuer certificate given"))
    for other in others:
        cert["revocation"] += [u for u in describe(other)["revocation"] if u not in cert["revocation"]]
    return cert
