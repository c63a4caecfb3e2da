"""Checks a release against the source checked out (scripts/release.sh --verify):

  verify.py RELEASE      RELEASE: a release's folder (or the output folder holding it), zip or CD image

The checkout must be at BUILDINFO's commit. That commit is built once into build/verify/
(a copy made by `git archive`, so nothing of the working tree goes in; later runs reuse it);
the release's own signatures are removed (osslsigncode gives back the unsigned bytes exactly)
and every file is compared with the rebuild, or, for a vendor's payload, with the SHA-256 that
BUILDINFO records. BUILDINFO is read back and written again from what can be checked: the
commit, the build, the tools of this machine, the certificate in the signatures and every
file's hash. Given the output folder, its SHA256SUMS is checked too (the zip and the image).
One line per file, then the verdict; exit code 0 only when every file holds."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

import archive
import buildinfo
import certs
import pe
import sign
import sources

ROOT = sources.ROOT


def say(line):
    print("verify: " + line, flush=True)


def unpack(release, into):
    """The release's folder: RELEASE itself, the one release folder in it, or unpacked from
    its zip or CD image into `into`."""
    if not os.path.exists(release):
        raise OSError("%s: no such release" % release)
    if os.path.isdir(release):
        inner = [n for n in os.listdir(release) if n.startswith("Quorvant99-Setup-")
                 and os.path.isdir(os.path.join(release, n))]
        return os.path.join(release, inner[0]) if len(inner) == 1 else release
    if zipfile.is_zipfile(release):
        with zipfile.ZipFile(release) as z:
            z.extractall(into)
        (top,) = os.listdir(into)
        return os.path.join(into, top)
    r = subprocess.run(["xorriso", "-osirrox", "on", "-indev", release, "-extract", "/", into],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if r.returncode != 0:
        raise OSError("%s: neither a release folder, a zip nor a CD image" % release)
    return into


def rebuild(commit, build):
    """The installer folder built from `commit` alone, into build/verify/<commit>/."""
    work = os.path.join(ROOT, "build", "verify", commit)
    src = os.path.join(work, "src")
    if not os.path.isdir(src):
        # One commit's rebuild at a time: earlier ones are of no use to this checkout.
        shutil.rmtree(os.path.dirname(work), ignore_errors=True)
        os.makedirs(work, exist_ok=True)
        tmp = tempfile.mkdtemp(prefix="src-", dir=work)
        subprocess.run("git -C '%s' archive %s | tar -x -C '%s'" % (ROOT, commit, tmp), shell=True, check=True)
        os.rename(tmp, src)
    log = os.path.join(work, build + ".log")
    with open(log, "w") as f:
        for cmd in (["cmake", "--preset", build], ["cmake", "--build", "--preset", build, "--target", "setup",
                                                   "stkit432", "payload"]):
            if subprocess.run(cmd, cwd=src, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT).returncode:
                raise OSError("the rebuild of %s failed: see %s" % (commit[:12], log))
    return os.path.join(src, "build", build, "disk")


def signer(path):
    """The certificate that signed the file, described as the release command describes it."""
    with tempfile.TemporaryDirectory() as tmp:
        sig = os.path.join(tmp, "sig.pem")
        sign.run(["osslsigncode", "extract-signature", "-pem", "-in", path, "-out", sig])
        chain = subprocess.run(["openssl", "pkcs7", "-print_certs", "-in", sig], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True).stdout
    serial = re.search(r"Signer's certificate:.*?Serial\s*:\s*(\w+)", sign.inspect(path)["output"], re.S)
    for pem in certs.CERT_PEM.findall(chain):
        cert = certs.describe(pem)
        if serial and cert["serial"].upper() == serial.group(1).upper():
            return cert
    return None


def compare(folder, info, rebuilt, tmp):
    """(name, ok, line) for every file of the release but BUILDINFO."""
    results, recorded = [], {k[5:]: v.split(" ", 1) for k, v in info.items() if k.startswith("file ")}
    demo = info.get("payload", "").startswith("the demo payload")
    for name in sorted(set(os.listdir(folder)) - {"BUILDINFO"} | set(recorded)):
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            results.append((name, False, "missing from the release"))
            continue
        want = recorded.get(name, ["", ""])
        bare = path
        if want[1].endswith("signed by this release"):
            if not pe.is_signed(path) or not sign.inspect(path)["intact"]:
                results.append((name, False, "its signature is missing or does not match its contents"))
                continue
            bare = os.path.join(tmp, name)
            sign.remove_signature(path, bare)
        digest = archive.sha256(bare)
        source = os.path.join(rebuilt, name)
        if name not in recorded:
            results.append((name, False, "not in BUILDINFO: not made by the release command"))
        elif digest != want[0]:
            results.append((name, False, "differs from the SHA-256 that BUILDINFO records"))
        elif (demo or name in ("SETUP.EXE", "STKIT432.DLL")) and os.path.isfile(source):
            same = digest == archive.sha256(source)
            results.append((name, same, ("the same as the rebuild" if same else "DIFFERS from the rebuild")
                            + (" (signature removed)" if bare != path else "")))
        else:
            results.append((name, True, "as BUILDINFO records (the vendor's payload, not built from source)"))
    return results


def expected_buildinfo(info, folder, build, commit):
    """BUILDINFO as the release command would write it for what this run found; the values it
    cannot check (the tree's state, SOURCE_DATE_EPOCH, the time-stamp servers) are BUILDINFO's."""
    pairs = dict(info)
    pairs.update({"release": "Quorvant99-Setup-" + sources.version(), "commit": commit, "build": build})
    pairs.update({"tool " + k: v for k, v in buildinfo.tools(build)})
    signed = [n for n, v in info.items() if n.startswith("file ") and v.endswith("signed by this release")]
    cert = signer(os.path.join(folder, signed[0][5:])) if signed else None
    if cert:
        pairs.update(buildinfo.certificate_lines(cert))
    return buildinfo.text(list(pairs.items()))


def sums(out):
    """(name, ok, line) for the output folder's SHA256SUMS, which covers the zip and the image."""
    with open(os.path.join(out, "SHA256SUMS"), encoding="ascii", errors="replace") as f:
        listed = [line.rstrip("\n").split("  ", 1) for line in f if line.strip()]
    wrong = [n for d, n in listed
             if not os.path.isfile(os.path.join(out, n)) or archive.sha256(os.path.join(out, n)) != d]
    return ("SHA256SUMS", not wrong and bool(listed), "holds for the %d files it lists" % len(listed) if not wrong
            else "does not hold for " + ", ".join(wrong))


def main(release):
    with tempfile.TemporaryDirectory(prefix="verify-") as tmp:
        folder = unpack(os.path.abspath(release), os.path.join(tmp, "release"))
        with open(os.path.join(folder, "BUILDINFO"), "rb") as f:
            raw = f.read()
        info = dict(buildinfo.parse(raw))
        commit, build = buildinfo.source_state()[0], info.get("build")
        if info.get("commit") != commit:
            say("BUILDINFO: built from commit %s, but %s is checked out: check out that commit to verify it"
                % (info.get("commit"), commit))
            return 1
        if build not in buildinfo.TRIPLES:
            say("BUILDINFO: no build named")
            return 1
        rebuilt = rebuild(commit, build)
        unsigned_dir = os.path.join(tmp, "unsigned")
        os.mkdir(unsigned_dir)
        results = compare(folder, info, rebuilt, unsigned_dir)
        same = expected_buildinfo(info, folder, build, commit).encode("utf-8") == raw
        results.append(("BUILDINFO", same, "holds for this source, this machine's tools and the signatures"
                        if same else "DIFFERS from what this source, the signatures and this machine's tools give"))
        if os.path.isfile(os.path.join(release, "SHA256SUMS")):
            results.append(sums(release))
    for name, ok, line in results:
        say("%s %s: %s" % ("ok  " if ok else "FAIL", name, line))
    failed = [n for n, ok, _ in results if not ok]
    if failed:
        say("FAILED: %s do not match the source at %s" % (", ".join(failed), commit[:12]))
        return 1
    say("VERIFIED: every file of %s is commit %s built again%s" % (release, commit[:12], ", signatures removed"
                                                                  if info.get("signed", "").startswith("Auth") else ""))
    return 0


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    try:
        sys.exit(main(sys.argv[1]))
    except (OSError, ValueError, sign.SignError) as e:
        say(str(e))
        sys.exit(1)
