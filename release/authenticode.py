"""An Authenticode signature read from a signed program's certificate table, and what it
may hold. Windows and `osslsigncode verify` accept signatures with more in them than a
signature needs (an unauthenticated attribute, a nested second signature, bytes after the
signature inside the table), and removing the signature throws all of that away, so a
comparison of unsigned bytes never sees it. A signature of ours holds one signer and, as its
only unauthenticated attribute, one RFC 3161 time stamp; its certificates are its signer's
chain; nothing follows it but the zeros that align the table to 8 bytes."""

import hashlib
import os
import struct
import subprocess
import tempfile

import der
import pe

SIGNED_DATA = "1.2.840.113549.1.7.2"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
RFC3161_STAMP = "1.3.6.1.4.1.311.3.3.1"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
DIGESTS = {"2.16.840.1.101.3.4.2.1": "sha256", "2.16.840.1.101.3.4.2.2": "sha384",
           "2.16.840.1.101.3.4.2.3": "sha512", "1.3.14.3.2.26": "sha1"}
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002


class SignatureError(ValueError):
    """A signature that cannot be read as one at all."""


def fingerprint(cert_der):
    """A certificate's SHA-256 fingerprint as openssl prints it: AB:CD:..."""
    digest = hashlib.sha256(cert_der).hexdigest().upper()
    return ":".join(digest[i:i + 2] for i in range(0, len(digest), 2))


def normal_fingerprint(text):
    """A fingerprint as given on a command line (any case, colons or not), as fingerprint() writes it."""
    digits = text.replace(":", "").strip().upper()
    if len(digits) != 64 or any(c not in "0123456789ABCDEF" for c in digits):
        return None
    return ":".join(digits[i:i + 2] for i in range(0, 64, 2))


def pem(cert_der):
    import base64
    text = base64.b64encode(cert_der).decode()
    return "-----BEGIN CERTIFICATE-----\n%s\n-----END CERTIFICATE-----\n" % "\n".join(
        text[i:i + 64] for i in range(0, len(text), 64))


class _Cert:
    def __init__(self, value):
        tbs = value.children()[0].children()
        if tbs and tbs[0].tag == 0xA0:  # the optional version
            tbs = tbs[1:]
        self.raw, self.serial, self.issuer, self.subject, self.spki = value.raw, tbs[0].raw, tbs[2].raw, tbs[4].raw, tbs[5].raw


class _SignedData:
    """One PKCS#7 SignedData (a signature or a time-stamp token) and what is wrong with it."""

    def __init__(self, content_info, what):
        self.problems = []
        parts = content_info.children()
        if content_info.tag != 0x30 or len(parts) != 2 or der.oid(parts[0]) != SIGNED_DATA or parts[1].tag != 0xA0:
            raise SignatureError("%s: not a PKCS#7 SignedData" % what)
        body = der.parse_exact(parts[1].body).children()
        self.content = body[2]
        certs = [der.Value(c.tag, c.raw, c.body) for b in body[3:-1] if b.tag == 0xA0 for c in b.children()]
        if any(b.tag == 0xA1 for b in body[3:-1]):
            self.problems.append("%s carries revocation lists, which a signature of ours never does" % what)
        signers = body[-1].children()
        if body[-1].tag != 0x31 or len(signers) != 1:
            raise SignatureError("%s: %d signers, not one" % (what, len(signers)))
        fields = signers[0].children()
        sid, self.digest_oid = fields[1].children(), der.oid(fields[2].children()[0])
        self.signed_attrs = next((f for f in fields if f.tag == 0xA0), None)
        self.signature = next(f for f in fields if f.tag == 0x04)
        self.unsigned_attrs = [(der.oid(a.children()[0]), a.children()[1].children())
                               for f in fields if f.tag == 0xA1 for a in f.children()]
        self.certs = [_Cert(c) for c in certs]
        if len(sid) != 2:
            raise SignatureError("%s: its signer is not named by issuer and serial number" % what)
        self.leaf = next((c for c in self.certs if c.issuer == sid[0].raw and c.serial == sid[1].raw), None)
        if self.leaf is None:
            raise SignatureError("%s: its signer's certificate is not in it" % what)
        chain, cert = [], self.leaf
        while cert is not None and cert not in chain:
            chain.append(cert)
            cert = next((c for c in self.certs if c.subject == cert.issuer and c not in chain), None)
        strays = len(self.certs) - len(chain)
        if strays:
            self.problems.append("%s carries %d certificate%s outside its signer's chain"
                                 % (what, strays, "" if strays == 1 else "s"))

    def attribute(self, wanted):
        for a in self.signed_attrs.children() if self.signed_attrs else []:
            if der.oid(a.children()[0]) == wanted:
                return a.children()[1].children()[0]
        return None

    def signature_holds(self, content):
        """The signer's key signed the signed attributes, and they hold the digest of `content`."""
        algorithm = DIGESTS.get(self.digest_oid)
        digest = self.attribute(MESSAGE_DIGEST)
        if not algorithm or digest is None or digest.body != hashlib.new(algorithm, content).digest():
            return False
        with tempfile.TemporaryDirectory(prefix="release-sig-") as tmp:
            files = {}
            for name, data in (("key.der", self.leaf.spki), ("sig", self.signature.body),
                               ("signed", b"\x31" + self.signed_attrs.raw[1:])):
                files[name] = os.path.join(tmp, name)
                with open(files[name], "wb") as f:
                    f.write(data)
            r = subprocess.run(["openssl", "dgst", "-" + algorithm, "-keyform", "DER", "-verify", files["key.der"],
                                "-signature", files["sig"], files["signed"]], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        return r.returncode == 0


class Signature:
    """The signature of a signed program: `problems` (one line each, empty for a signature of
    ours), the signer's certificate (`leaf_der`, `fingerprint`), the time stamp's if any, and
    `pkcs7`, the signature's bytes as attach-signature takes them."""

    def __init__(self, path):
        table = pe.certificate_table(path)
        if not table or not table[1]:
            raise SignatureError("not signed")
        offset, size = table
        with open(path, "rb") as f:
            f.seek(offset)
            data = f.read(size)
        if len(data) != size or size < 8:
            raise SignatureError("its certificate table runs past the end of the file")
        self.problems = []
        length, revision, kind = struct.unpack_from("<IHH", data)
        if length != size or revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
            self.problems.append("its certificate table is not one PKCS#7 signature filling the table")
        try:
            signature, end = der.parse_one(data, 8)
        except der.DerError as e:
            raise SignatureError("its signature is not DER: %s" % e)
        padding = data[end:length]
        if len(padding) >= 8 or padding.strip(b"\0") or length % 8:
            self.problems.append("%d bytes after the signature inside the certificate table" % (size - end))
        self.pkcs7 = signature.raw
        try:
            self.signed = _SignedData(signature, "its signature")
            self.problems += self.signed.problems
            self.stamp = None
            for attr_oid, values in self.signed.unsigned_attrs:
                if attr_oid == NESTED_SIGNATURE:
                    self.problems.append("a second signature nested in its signature")
                elif attr_oid != RFC3161_STAMP or len(values) != 1 or self.stamp:
                    self.problems.append("an unauthenticated attribute (%s) besides one RFC 3161 time stamp" % attr_oid)
                else:
                    self.stamp = _SignedData(values[0], "its time stamp")
                    self.problems += self.stamp.problems
                    if self.stamp.unsigned_attrs:
                        self.problems.append("an unauthenticated attribute in its time stamp")
        except (der.DerError, IndexError) as e:
            raise SignatureError("its signature is not a PKCS#7 SignedData (%s)" % e)
        self.leaf_der = self.signed.leaf.raw
        self.fingerprint = fingerprint(self.leaf_der)

    def signer_signed_it(self):
        """The signer's key made the signature over its signed attributes and content (the
        program's digest, which osslsigncode compares with the file), and the time stamp's
        authority made the time stamp over that signature: the cryptography alone, no chain."""
        content = self.signed.content.children()
        if der.oid(content[0]) != SPC_INDIRECT_DATA:
            return False
        # Authenticode digests the content's value without its tag and length.
        if not self.signed.signature_holds(der.parse_exact(content[1].body).body):
            return False
        if self.stamp is None:
            return True
        token = self.stamp.content.children()
        if der.oid(token[0]) != TST_INFO:
            return False
        info = der.parse_exact(der.parse_exact(token[1].body).body)
        imprint = info.children()[2].children()
        algorithm = DIGESTS.get(der.oid(imprint[0].children()[0]))
        return (algorithm is not None and imprint[1].body == hashlib.new(algorithm, self.signed.signature.body).digest()
                and self.stamp.signature_holds(info.raw))
