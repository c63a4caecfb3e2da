"""Checks a release against the source checked out (scripts/release.sh --verify):

  verify.py --verify RELEASE (--cafile ROOT.pem | --signer SHA256) [--payload DIR]

RELEASE: a release's folder, its version's folder in the output folder (or the output folder
holding one version), its zip or its CD image. The checkout must be at BUILDINFO's commit,
which is built again from the commit alone (release/source_build.py). Nothing the release
says about itself is taken as the reference: every file is compared with the rebuild (the
demo payload too) or with --payload DIR (a vendor's payload; without it those files are not
checked and the release is not called verified). A program the release signed must be the
rebuilt one with the release's signature pasted on, byte for byte, and that signature must be
one signature of ours (release/authenticode.py) by the signer pinned with --cafile (every
signature and time stamp verifies against that root) or --signer (the signing certificate's
SHA-256 fingerprint). BUILDINFO is written again from what was checked and compared; the
zip, the CD image and the SBOM are made again from the checked folder and compared byte for
byte, and SHA256SUMS must list exactly the release's files. Tool versions that differ from
BUILDINFO's are said (built with X, here Y) and fail nothing by themselves: only bytes do.
One line per file, then the verdict; exit code 0 only when every byte holds."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import archive
import authenticode
import buildinfo
import certs
import lock
import outdir
import packages
import payload
import pe
import sbom
import sign
import source_build
import sources

ROOT = sources.ROOT
PRODUCT = "Quorvant99-Setup"
PROGRAM_FILES = ("SETUP.EXE", "STKIT432.DLL")


def say(line):
    print("verify: " + line, flush=True)


def unpack(path, into):
    """The release's folder unpacked from its zip or CD image into `into`."""
    if zipfile.is_zipfile(path):
        with zipfile.ZipFile(path) as z:
            z.extractall(into)
        tops = os.listdir(into)
        if len(tops) != 1 or not os.path.isdir(os.path.join(into, tops[0])):
            raise OSError("%s: a zip that does not hold one release folder" % path)
        return os.path.join(into, tops[0])
    folder = os.path.join(into, "image")
    r = subprocess.run(["xorriso", "-osirrox", "on", "-indev", path, "-extract", "/", folder],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if r.returncode != 0:
        raise OSError("%s: neither a release folder, a zip nor a CD image" % path)
    for here, dirs, _ in os.walk(folder):
        for d in [here] + [os.path.join(here, d) for d in dirs]:
            os.chmod(d, 0o755)
    return folder


class Check:
    """The checks of one release's files against the references: `results` (name, ok, line),
    `unchecked` (names), `signers` {program: fingerprint} and the leaf certificate seen."""

    def __init__(self, folder, references, args, tmp):
        self.folder, self.references, self.args, self.tmp = folder, references, args, tmp
        self.results, self.unchecked, self.signers, self.leaf, self.what = [], [], {}, None, {}

    def add(self, name, ok, line):
        self.results.append((name, ok, line))

    def signature(self, name, path, reference):
        """A program the release signed: one signature of ours, by the pinned signer, on the rebuild."""
        try:
            found = authenticode.Signature(path)
        except authenticode.SignatureError as e:
            return self.add(name, False, str(e))
        self.signers[name] = found.fingerprint
        self.leaf = self.leaf or found.leaf_der
        if found.problems:
            return self.add(name, False, "its signature holds more than a signature of ours: " + found.problems[0])
        checked = sign.inspect(path, self.args.cafile)
        if not checked["intact"]:
            return self.add(name, False, "its signature does not match its contents")
        if self.args.cafile and not checked["trusted"]:
            return self.add(name, False, "its signature does not verify against %s, time stamp included (%s)"
                            % (self.args.cafile, sign.why_untrusted(checked)))
        if self.args.signer and found.fingerprint != self.args.signer:
            return self.add(name, False, "signed by another certificate (SHA-256 %s, %s), not the one given"
                            % (found.fingerprint, checked["signer"]))
        if self.args.signer and not found.signer_signed_it():
            return self.add(name, False, "its signature or time stamp was not made by the key of its certificate")
        pasted = os.path.join(self.tmp, name)
        if not sign.attach(found.pkcs7, reference, pasted) or archive.sha256(pasted) != archive.sha256(path):
            return self.add(name, False, "DIFFERS from the rebuild with the release's signature pasted on")
        self.add(name, True, "the rebuild with the release's signature pasted on, byte for byte (signed by %s)"
                 % checked["signer"])

    def files(self, signed_release, vendor):
        ours = set(PROGRAM_FILES) | {sources.program()}
        payload_names = {s for s, _ in sources.manifest_rows()}
        present = set(os.listdir(self.folder)) - {"BUILDINFO"}
        for name in sorted(present | set(self.references)):
            path, reference = os.path.join(self.folder, name), self.references.get(name)
            if reference is None:
                self.add(name, False, "not a file of the release this source makes")
            elif not os.path.isfile(path) or os.path.islink(path):
                self.add(name, False, "missing from the release")
            elif (name in payload_names and vendor and not self.args.payload
                  and archive.sha256(path) != archive.sha256(reference)):
                self.unchecked.append(name)
            else:
                self.file(name, path, reference, signed_release, name in ours,
                          "--payload's file" if name in payload_names and self.args.payload else "the rebuild")

    def file(self, name, path, reference, signed_release, ours, against):
        ours_signed = signed_release and ours and pe.is_pe(reference) and not pe.is_signed(reference)
        if not pe.is_pe(reference):
            self.what[name] = buildinfo.DATA
        elif pe.is_signed(reference):
            self.what[name] = buildinfo.KEPT
        elif ours_signed:
            self.what[name] = buildinfo.SIGNED
        else:
            self.what[name] = buildinfo.NOT_OURS if signed_release else buildinfo.UNSIGNED
        if ours_signed:
            if not pe.is_signed(path):
                return self.add(name, False, "not signed, though the release signs it")
            return self.signature(name, path, reference)
        same = archive.sha256(path) == archive.sha256(reference)
        self.add(name, same, ("the same as " if same else "DIFFERS from ") + against)


def references(disk, payload_dir):
    """{name: the file a release's file must equal, or be once unsigned}: SETUP.EXE and
    STKIT432.DLL of the rebuild, the payload from --payload or the rebuild's demo payload."""
    found = {n: os.path.join(disk, n) for n in PROGRAM_FILES}
    if payload_dir:
        files, problems = payload.check(payload_dir, sources.manifest_rows())
        if problems:
            raise OSError("--payload %s: %s" % (payload_dir, "; ".join(problems)))
    else:
        files = {s: os.path.join(disk, s) for s, _ in sources.manifest_rows()}
    found.update(files)
    return found


def expected_buildinfo(info, check, name, commit, signed_release, environment):
    """BUILDINFO as the release command writes it for what was checked; the values no check can
    tell (SOURCE_DATE_EPOCH, the payload's kind, the way the key was kept, the time-stamp servers,
    the environment, whether a signature was reused) are BUILDINFO's own."""
    if signed_release and check.leaf:
        cert = certs.describe(authenticode.pem(check.leaf))
        way = info.get("signed", "").rsplit(" ", 1)[-1]
        signed = buildinfo.signing_lines(way if way in ("PKCS#11", "PKCS#12") else "?", [], cert)[:-1]
        signed.append(("time stamp", info.get("time stamp", "")))
    else:
        signed = buildinfo.signing_lines(None, [], None)
    hashes = {}
    for n, what in check.what.items():
        written = info.get("file " + n, "").split(" ", 1)
        if what == buildinfo.SIGNED and len(written) == 2 and written[1].startswith(buildinfo.REUSED):
            what = written[1]
        hashes[n] = (archive.sha256(check.references[n]), what)
    for n in check.unchecked:
        hashes[n] = tuple(info.get("file " + n, "? ?").split(" ", 1))
    return buildinfo.text(buildinfo.fields(name, commit, True, info.get("SOURCE_DATE_EPOCH", ""), info.get("build"),
                                           info.get("payload", "").startswith("--payload"), signed, environment,
                                           hashes))


def first_difference(want, have):
    want, have = want.splitlines(), have.splitlines()
    for n in range(max(len(want), len(have))):
        a, b = want[n] if n < len(want) else "nothing", have[n] if n < len(have) else "nothing"
        if a != b:
            return "line %d is %r where this source gives %r" % (n + 1, b, a)
    return "its line ends differ"


def remade(folder, name, epoch, tmp):
    """The zip and the CD image made again from the checked folder: (zip path, image path)."""
    copy = os.path.join(tmp, "remade", name)
    shutil.copytree(folder, copy)
    archive.fix_times(copy, epoch)
    archive.write_zip(copy, copy + ".zip", epoch)
    archive.write_iso(copy, copy + ".iso", epoch)
    return copy + ".zip", copy + ".iso"


def place_checks(place, name, folder, sbom_text, made):
    """(name, ok, line) for the version's place: the zip, the image and the SBOM as made again,
    SHA256SUMS listing exactly the release's files, and nothing else there."""
    results = []
    for entry, want in ((name + ".zip", made[0]), (name + ".iso", made[1])):
        path = os.path.join(place, entry)
        same = os.path.isfile(path) and archive.sha256(path) == archive.sha256(want)
        results.append((entry, same, "the same as made again from the checked folder" if same
                        else "DIFFERS from the one made again from the checked folder"))
    path = os.path.join(place, name + ".spdx.json")
    same = os.path.isfile(path) and archive.read(path) == sbom_text.encode("utf-8")
    results.append((name + ".spdx.json", same, "the same as made again from the checked files and BUILDINFO"
                    if same else "DIFFERS from the SBOM made again from the checked files and BUILDINFO"))
    wanted = {name + "/" + f for f in os.listdir(folder)} | {name + ".zip", name + ".iso", name + ".spdx.json"}
    listed, wrong = set(), []
    with open(os.path.join(place, "SHA256SUMS"), encoding="ascii", errors="replace") as f:
        for line in f:
            digest, _, entry = line.rstrip("\n").partition("  ")
            listed.add(entry)
            if entry not in wanted or archive.sha256(os.path.join(place, entry)) != digest:
                wrong.append(entry)
    missing = sorted(wanted - listed)
    results.append(("SHA256SUMS", not wrong and not missing, "lists exactly the release's %d files, and holds"
                    % len(wanted) if not wrong and not missing else "; ".join(
                        (["does not hold for " + ", ".join(wrong)] if wrong else [])
                        + (["does not list " + ", ".join(missing)] if missing else []))))
    for entry in sorted(set(os.listdir(place)) - outdir.place_names(name)):
        results.append((entry, False, "not made by the release command"))
    return results


def run(args, tmp):
    name = PRODUCT + "-" + sources.version()
    kind, folder, place = outdir.locate(args.verify, PRODUCT)
    if kind == "file":
        folder = unpack(args.verify, os.path.join(tmp, "unpacked"))
    if os.path.islink(os.path.join(folder, "BUILDINFO")) or not os.path.isfile(os.path.join(folder, "BUILDINFO")):
        raise OSError("%s: no BUILDINFO file in it" % args.verify)
    raw = archive.read(os.path.join(folder, "BUILDINFO"))
    info = dict(buildinfo.parse(raw))
    commit, build = buildinfo.source_state()[0], info.get("build")
    if info.get("commit") != commit:
        say("BUILDINFO: built from commit %s, but %s is checked out: check out that commit to verify it"
            % (info.get("commit"), commit))
        return 1
    if info.get("tree") != "clean":
        say("BUILDINFO: built from a tree with uncommitted changes (--allow-dirty), which no commit gives again")
        return 1
    if build not in buildinfo.TRIPLES:
        say("BUILDINFO: no build named")
        return 1
    signed_release = info.get("signed", "").startswith("Authenticode") or any(
        pe.is_signed(os.path.join(folder, n)) for n in PROGRAM_FILES if os.path.isfile(os.path.join(folder, n)))
    if signed_release and not (args.cafile or args.signer):
        say("a signed release is verified against its signer: give --cafile ROOT.pem (the root its signatures "
            "must verify against) or --signer SHA256 (the fingerprint the release printed)")
        return 1
    disk, build_dir = source_build.build(commit, build)
    check = Check(folder, references(disk, args.payload), args, os.path.join(tmp, "pasted"))
    os.mkdir(check.tmp)
    vendor = info.get("payload", "").startswith("--payload")
    check.files(signed_release, vendor)
    if len(set(check.signers.values())) > 1:
        check.add("signatures", False, "by more than one certificate: " + ", ".join(
            "%s by %s" % kv for kv in sorted(check.signers.items())))
    linked = sbom.linked_by_program(build_dir)
    here, owners = packages.environment(buildinfo.TRIPLES[build], [p for f in linked.values() for p in f])
    written = [(k, v) for k, v in buildinfo.parse(raw) if buildinfo.is_environment(k)]
    want = expected_buildinfo(info, check, name, commit, signed_release, written)
    same = want.encode("utf-8") == raw
    check.add("BUILDINFO", same, "holds for this source, the signatures and the files checked" if same
              else "DIFFERS: " + first_difference(want, raw.decode("utf-8", "replace")))
    epoch = int(info["SOURCE_DATE_EPOCH"]) if info.get("SOURCE_DATE_EPOCH", "").isdigit() else 0
    made = remade(folder, name, epoch, tmp) if place or kind == "file" else None
    if place:
        shipped = {p: archive.read(os.path.join(folder, p)) for p in sbom.PROGRAMS
                   if os.path.isfile(os.path.join(folder, p))}
        try:
            text = sbom.document(name, sources.version(), commit, epoch, shipped, linked, owners,
                                 packages.recorded_versions(written))
        except ValueError as e:
            text = str(e)
        check.results += place_checks(place, name, folder, text, made)
    elif kind == "file":
        given = made[0] if zipfile.is_zipfile(args.verify) else made[1]
        same = archive.sha256(args.verify) == archive.sha256(given)
        check.add(os.path.basename(args.verify), same, "the same as made again from the checked folder" if same
                  else "DIFFERS from the one made again from the checked folder")
    for name_, ok, line in check.results:
        say("%s %s: %s" % ("ok  " if ok else "FAIL", name_, line))
    for name_ in check.unchecked:
        say("---- %s: not checked: not the demo payload, and no --payload DIR to check it against" % name_)
    was, now = dict(written), dict(here)
    for key in sorted(set(was) | set(now), key=lambda k: (k != "os", k)):
        if was.get(key) != now.get(key):
            say("note: built with %s: %s, here %s" % (key, was.get(key, "none"), now.get(key, "none")))
    failed = [n for n, ok, _ in check.results if not ok]
    if failed:
        say("FAILED: %s do not match the source at %s" % (", ".join(failed), commit[:12]))
        return 1
    if check.unchecked:
        say("NOT VERIFIED: %s not checked (the vendor's payload: give it with --payload DIR)"
            % ", ".join(check.unchecked))
        return 1
    pin = ("signed by the certificate %s" % args.signer if args.signer else
           "every signature verifying against %s" % args.cafile) if signed_release else "unsigned"
    say("VERIFIED: every byte of %s is commit %s built again, %s" % (args.verify, commit[:12], pin))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="verify.py")
    parser.add_argument("--verify", required=True)
    parser.add_argument("--payload")
    pins = parser.add_mutually_exclusive_group()
    pins.add_argument("--cafile")
    pins.add_argument("--signer")
    args = parser.parse_args(argv)
    if args.signer:
        given, args.signer = args.signer, authenticode.normal_fingerprint(args.signer)
        if not args.signer:
            say("--signer %s: not a SHA-256 fingerprint (64 hexadecimal digits, colons or not)" % given)
            return 2
    args.verify = os.path.abspath(args.verify)
    with lock.held(os.path.join(ROOT, "build")), tempfile.TemporaryDirectory(prefix="verify-") as tmp:
        return run(args, tmp)


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError, sign.SignError, sources.SourceError, lock.Busy) as e:
        say(str(e).removesuffix("; nothing was written"))
        sys.exit(1)
