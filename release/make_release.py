"""Makes the release of the installer folder: see scripts/release.sh, which installs what is
missing first and calls this.

  make_release.py check PAYLOAD                 the payload check alone
  make_release.py preflight --out DIR --build B [--payload DIR] [OPTIONS]
  make_release.py make --out DIR --build B [--payload DIR] [--reuse RELEASE] [OPTIONS]
OPTIONS: --unsigned, --no-timestamp, --allow-dirty.

`preflight` checks what can be checked before the build: the tree, the signing settings and
certificate, the output folder and the payload. `make` takes the lock, checks them again,
builds the commit alone (release/source_build.py), takes SETUP.EXE and STKIT432.DLL from that
build and the twenty files from PAYLOAD (default: the demo payload beside them), and makes
OUT/<version>/ the release: the folder Quorvant99-Setup-<version>/ with BUILDINFO, its zip and
CD image, its SBOM and SHA256SUMS (signed with minisign when a key is set). It prints one line
per problem and writes nothing when anything is not right. SOURCE_DATE_EPOCH fixes every time."""

import argparse
import os
import shutil
import sys
import tempfile

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

PRODUCT = "Quorvant99-Setup"
PROGRAM_FILES = ("SETUP.EXE", "STKIT432.DLL")


class Refused(Exception):
    """Problems found before anything is written, one line each."""


def say(line):
    print("release: " + line, flush=True)


def checked(folder, ignore=()):
    """The payload's files by source name; refused with the problems when it has any."""
    files, problems = payload.check(folder, sources.manifest_rows(), ignore)
    if problems:
        raise Refused(problems + ["the payload in %s does not match the install manifest; nothing was written" % folder])
    return files


def preflight(args):
    """The refusals that need no build: (signing, certificate, commit, clean)."""
    commit, clean = buildinfo.source_state()
    if not args.allow_dirty and commit is None:
        raise Refused(["not a git checkout, so nothing could tell what this release is built from "
                       "(--allow-dirty releases it anyway); nothing was written"])
    if not args.allow_dirty and not clean:
        raise Refused(["the tree has uncommitted changes: commit them, or --allow-dirty (BUILDINFO records it); "
                       "nothing was written"])
    signing = sign.config(os.environ, timestamp=not args.no_timestamp)
    if signing and args.unsigned:
        raise Refused(["--unsigned, but SETUP_SIGN_ variables are set: one or the other; nothing was written"])
    if not signing and not args.unsigned:
        raise Refused(["no signing configured (SETUP_SIGN_PKCS12 and SETUP_SIGN_PASSWORD_FILE, or the "
                       "SETUP_SIGN_PKCS11_ ones): --unsigned to release without a signature; nothing was written"])
    if args.reuse and not signing:
        raise Refused(["--reuse takes signatures of an earlier release, so it needs signing configured; "
                       "nothing was written"])
    cert = certs.check(signing) if signing else None
    version = sources.version()
    strays = outdir.strays(args.out, PRODUCT + "-" + version, version)
    if strays:
        raise Refused(strays + ["the output folder holds files of others; nothing was written"])
    if args.payload:
        checked(args.payload)
    return signing, cert, commit, clean


def reusable(name, path, previous, cert, signing, tmp):
    """Whether the earlier release's `name` is this build's unsigned `path` with a signature of
    ours by the same signer pasted on: then it is shipped instead, and keeps its reputation."""
    old = os.path.join(previous, name)
    if not os.path.isfile(old) or not pe.is_signed(old):
        return False
    try:
        signature = authenticode.Signature(old)
    except authenticode.SignatureError:
        return False
    if signature.problems or signature.fingerprint != cert["fingerprint"]:
        return False
    pasted = os.path.join(tmp, name)
    if not sign.attach(signature.pkcs7, path, pasted) or archive.sha256(pasted) != archive.sha256(old):
        return False
    return sign.inspect(old, signing.cafile)["trusted"]


def sign_programs(folder, signing, cert, epoch, previous):
    """Signs SETUP.EXE, STKIT432.DLL and the manifest's program where they are unsigned (or
    takes their earlier signed files, --reuse), keeps signatures already there once they check
    out; returns {name: (sha256 before signing, what was done)} for every file of the folder,
    and the lines to report."""
    ours = set(PROGRAM_FILES) | {sources.program()}
    record, notes, to_sign = {}, [], []
    kept, others = [], []
    root = signing and ("SETUP_SIGN_PAYLOAD_CAFILE" if signing.env.get("SETUP_SIGN_PAYLOAD_CAFILE")
                        else "SETUP_SIGN_CAFILE")
    # Everything others made is read before the token is opened.
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        digest = archive.sha256(path)
        if not pe.is_pe(path):
            record[name] = (digest, buildinfo.DATA)
        elif pe.is_signed(path):
            found = sign.inspect(path, signing.payload_cafile if signing else None)
            if not found["intact"]:
                raise sign.SignError("%s: signed, but its signature does not match its contents; nothing was written"
                                     % name)
            if signing and not found["trusted"]:
                raise sign.SignError("%s: signed by %s, which does not verify against %s (%s); nothing was written"
                                     % (name, found["signer"], root, sign.why_untrusted(found)))
            record[name] = (digest, buildinfo.KEPT)
            kept.append("%s (%s)" % (name, found["signer"]))
        elif signing and name in ours:
            to_sign.append(name)
        elif signing:
            record[name] = (digest, buildinfo.NOT_OURS)
            others.append(name)
        else:
            record[name] = (digest, buildinfo.UNSIGNED)
    if kept:
        notes.append("signed already, their signatures checked%s and kept byte for byte: %s"
                     % (" against " + root if root else "", ", ".join(kept)))
    if others:
        notes.append("unsigned programs of the payload, shipped as they are (only SETUP.EXE, STKIT432.DLL and %s "
                     "are signed with the release's key): %s" % (sources.program(), " ".join(others)))
    reused = []
    if previous:
        with tempfile.TemporaryDirectory(prefix="release-reuse-") as tmp:
            for name in list(to_sign):
                path = os.path.join(folder, name)
                if reusable(name, path, previous, cert, signing, tmp):
                    record[name] = (archive.sha256(path), buildinfo.REUSED + os.path.basename(previous))
                    shutil.copyfile(os.path.join(previous, name), path)
                    to_sign.remove(name)
                    reused.append(name)
        notes.append("signed files reused from %s byte for byte (same bytes, same signer): %s"
                     % (previous, " ".join(reused) or "none"))
    for name in to_sign:
        path = os.path.join(folder, name)
        record[name] = (archive.sha256(path), buildinfo.SIGNED)
        sign.sign(path, signing, epoch)
        sign.check_signed(path, signing)
    return record, notes


def make(args):
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit() or int(epoch) < 315532800:
        raise ValueError("SOURCE_DATE_EPOCH must be a time in seconds from 1980 on (the zip's times), not %r" % epoch)
    epoch, version = int(epoch), sources.version()
    name = PRODUCT + "-" + version
    with lock.held(os.path.join(sources.ROOT, "build"), os.path.dirname(os.path.abspath(args.out))):
        signing, cert, commit, clean = preflight(args)
        previous = None
        if args.reuse:
            kind, previous, _ = outdir.locate(os.path.abspath(args.reuse), PRODUCT)
            if kind == "file":
                raise Refused(["--reuse %s: the earlier release's folder, not its zip or image; nothing was written"
                               % args.reuse])
        disk, build_dir = source_build.build(commit, args.build, overlay=not clean, leave_out=[args.out])
        files = checked(args.payload or disk, ignore=() if args.payload else PROGRAM_FILES)
        fresh = not os.path.exists(args.out)
        stage = outdir.staging(args.out, version)
        place = None
        try:
            folder = os.path.join(stage, name)
            os.mkdir(folder)
            for f in PROGRAM_FILES:
                shutil.copyfile(os.path.join(disk, f), os.path.join(folder, f))
            for source, path in files.items():
                shutil.copyfile(path, os.path.join(folder, source))
            record, notes = sign_programs(folder, signing, cert, epoch, previous)
            linked = sbom.linked_by_program(build_dir)
            environment, owners = packages.environment(buildinfo.TRIPLES[args.build],
                                                       [p for files in linked.values() for p in files])
            signed = buildinfo.signing_lines(signing and signing.way, signing and signing.urls, cert)
            info = buildinfo.fields(name, commit, clean, epoch, args.build, bool(args.payload), signed,
                                    environment, record)
            buildinfo.write(os.path.join(folder, "BUILDINFO"), info)
            archive.fix_times(folder, epoch)
            archive.write_zip(folder, os.path.join(stage, name + ".zip"), epoch)
            archive.write_iso(folder, os.path.join(stage, name + ".iso"), epoch)
            shipped = {p: archive.read(os.path.join(folder, p)) for p in sbom.PROGRAMS}
            with open(os.path.join(stage, name + ".spdx.json"), "w", encoding="utf-8", newline="\n") as f:
                f.write(sbom.document(name, version, commit or "none", epoch, shipped, linked, owners,
                                      packages.recorded_versions(info)))
            members = [name + "/" + f for f in sorted(os.listdir(folder))]
            archive.write_sums(stage, members + [name + ".zip", name + ".iso", name + ".spdx.json"],
                               os.path.join(stage, "SHA256SUMS"))
            if signing and signing.minisign_key:
                sign.minisign(os.path.join(stage, "SHA256SUMS"), signing,
                              "%s SHA256SUMS, commit %s" % (name, (commit or "none")[:12]))
            place = outdir.put_in_place(stage, args.out, version)
        finally:
            shutil.rmtree(stage, ignore_errors=True)
            if fresh and not place:
                shutil.rmtree(args.out, ignore_errors=True)  # it was made for this release alone
    return place, name, record, notes, signing, cert, info


def report(place, name, record, notes, signing, cert, info):
    size = sum(os.path.getsize(os.path.join(place, name, f)) for f in os.listdir(os.path.join(place, name)))
    say("%s/ %d files, %d bytes" % (os.path.join(place, name), len(record) + 1, size))
    for entry in (name + ".zip", name + ".iso", name + ".spdx.json"):
        say("%s %d bytes" % (os.path.join(place, entry), os.path.getsize(os.path.join(place, entry))))
    say(os.path.join(place, "SHA256SUMS") + (", signed: SHA256SUMS.minisig"
                                             if os.path.exists(os.path.join(place, "SHA256SUMS.minisig")) else ""))
    for line in notes:
        say(line)
    if not signing:
        say("UNSIGNED (--unsigned): Windows will name no publisher")
        return
    signed = [n for n, (_, w) in record.items() if w == buildinfo.SIGNED]
    say("signed with Authenticode (SHA-256): " + (" ".join(signed) or "none (every signature reused)"))
    values = dict(info)
    say("signing certificate %s, serial %s, expires %s" % (cert["subject"], cert["serial"], values["expires"]))
    say("signer's SHA-256 fingerprint (pin it: --verify RELEASE --signer FINGERPRINT): " + cert["fingerprint"])
    if cert["revocation"]:
        say("revocation not checked (the release command uses no network): the chain names " + " ".join(cert["revocation"]))
    if not signing.urls:
        say("NO TIME STAMP (--no-timestamp): the signatures stop verifying when the certificate expires on "
            + values["expires"])


def main(argv):
    parser = argparse.ArgumentParser(prog="make_release.py")
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("check").add_argument("payload")
    for command in ("preflight", "make"):
        m = sub.add_parser(command)
        m.add_argument("--out", required=True)
        m.add_argument("--build", required=True, choices=sorted(buildinfo.TRIPLES))
        m.add_argument("--payload")
        m.add_argument("--reuse")
        for flag in ("--unsigned", "--no-timestamp", "--allow-dirty"):
            m.add_argument(flag, action="store_true")
    args = parser.parse_args(argv)
    try:
        if args.command == "check":
            checked(args.payload)
        elif args.command == "preflight":
            preflight(args)
        else:
            made = make(args)
    except Refused as e:
        for line in e.args[0]:
            say(line)
        return 1
    except (sources.SourceError, sign.SignError, lock.Busy, OSError, ValueError) as e:
        # Whatever failed, the output folder is as it was: the staging folder went.
        line = str(e)
        say(line if line.endswith("nothing was written") else line + "; nothing was written")
        return 1
    if args.command == "make":
        report(*made)  # the release is in place: what goes wrong from here is no failure of it
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
