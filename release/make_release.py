"""Makes the release of an installer folder: see scripts/release.sh, which builds the folder
first and calls this.

  make_release.py check PAYLOAD                 the payload check alone
  make_release.py preflight --out DIR --build B [--payload DIR] [OPTIONS]
  make_release.py make --disk DIR --out DIR --build B [--payload DIR] [OPTIONS]
OPTIONS: --unsigned, --no-timestamp, --allow-dirty.

`preflight` checks what can be checked before the build: the tree, the signing settings and
certificate, the output folder and the payload. `make` checks them again, takes SETUP.EXE and
STKIT432.DLL from the built installer folder and the twenty files from PAYLOAD (default: the
demo payload beside them), and makes OUT the release: the folder Quorvant99-Setup-<version>/
with BUILDINFO, its zip and CD image and SHA256SUMS. It prints one line per problem and
writes nothing when anything is not right. SOURCE_DATE_EPOCH fixes every time."""

import argparse
import os
import shutil
import sys

import archive
import buildinfo
import certs
import outdir
import payload
import pe
import sign
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
    cert = certs.check(signing) if signing else None
    strays = outdir.strays(args.out, PRODUCT)
    if strays:
        raise Refused(strays + ["the output folder holds files of others; nothing was written"])
    if args.payload:
        checked(args.payload)
    return signing, cert, commit, clean


def sign_programs(folder, signing, epoch):
    """Signs the unsigned PE files and keeps the signed ones, after checking them; returns
    {name: (sha256 before signing, what was done)} for every file of the folder."""
    record = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        digest = archive.sha256(path)
        if not pe.is_pe(path):
            record[name] = (digest, "data")
        elif pe.is_signed(path):
            if not sign.inspect(path)["intact"]:
                raise sign.SignError("%s: signed, but its signature does not match its contents; nothing was written"
                                     % name)
            record[name] = (digest, "program, signed before: kept")
        elif signing:
            sign.sign(path, signing, epoch)
            sign.check_signed(path, signing)
            record[name] = (digest, "program, signed by this release")
        else:
            record[name] = (digest, "program, unsigned")
    return record


def make(args):
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit() or int(epoch) < 315532800:
        raise ValueError("SOURCE_DATE_EPOCH must be a time in seconds from 1980 on (the zip's times), not %r" % epoch)
    epoch = int(epoch)
    name = PRODUCT + "-" + sources.version()
    signing, cert, commit, clean = preflight(args)
    for f in PROGRAM_FILES:
        if not os.path.isfile(os.path.join(args.disk, f)):
            raise FileNotFoundError("%s is not built in %s" % (f, args.disk))
    files = checked(args.payload or args.disk, ignore=() if args.payload else PROGRAM_FILES)
    stage = outdir.staging(args.out)
    try:
        folder = os.path.join(stage, name)
        os.mkdir(folder)
        for f in PROGRAM_FILES:
            shutil.copyfile(os.path.join(args.disk, f), os.path.join(folder, f))
        for source, path in files.items():
            shutil.copyfile(path, os.path.join(folder, source))
        record = sign_programs(folder, signing, epoch)
        signed = buildinfo.signing_lines(signing and signing.way, signing and signing.urls, cert)
        info = buildinfo.fields(name, commit, clean, epoch, args.build, bool(args.payload), signed,
                                buildinfo.tools(args.build), record)
        buildinfo.write(os.path.join(folder, "BUILDINFO"), info)
        archive.fix_times(folder, epoch)
        archive.write_zip(folder, os.path.join(stage, name + ".zip"), epoch)
        archive.write_iso(folder, os.path.join(stage, name + ".iso"), epoch)
        members = [name + "/" + f for f in sorted(os.listdir(folder))]
        archive.write_sums(stage, members + [name + ".zip", name + ".iso"], os.path.join(stage, "SHA256SUMS"))
        outdir.put_in_place(stage, args.out)
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    return args.out, name, record, signing, cert, info


def report(out, name, record, signing, cert, info):
    size = sum(os.path.getsize(os.path.join(out, name, f)) for f in os.listdir(os.path.join(out, name)))
    say("%s/ %d files, %d bytes" % (os.path.join(out, name), len(record) + 1, size))
    for entry in (name + ".zip", name + ".iso"):
        say("%s %d bytes" % (os.path.join(out, entry), os.path.getsize(os.path.join(out, entry))))
    say(os.path.join(out, "SHA256SUMS"))
    kept = [n for n, (_, what) in record.items() if what.endswith("kept")]
    if kept:
        say("signed already, their signatures kept byte for byte: " + " ".join(kept))
    if not signing:
        say("UNSIGNED (--unsigned): Windows will name no publisher")
        return
    say("signed with Authenticode (SHA-256): " + " ".join(n for n, (_, w) in record.items() if w.endswith("release")))
    values = dict(info)
    say("signing certificate %s, serial %s, expires %s" % (cert["subject"], cert["serial"], values["expires"]))
    if not signing.urls:
        say("NO TIME STAMP (--no-timestamp): the signatures stop verifying when the certificate expires on "
            + values["expires"])


def main(argv):
    parser = argparse.ArgumentParser(prog="make_release.py")
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("check").add_argument("payload")
    for command in ("preflight", "make"):
        m = sub.add_parser(command)
        m.add_argument("--disk", required=command == "make")
        m.add_argument("--out", required=True)
        m.add_argument("--build", required=True, choices=sorted(buildinfo.TRIPLES))
        m.add_argument("--payload")
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
    except (sources.SourceError, sign.SignError, OSError, ValueError) as e:
        # Whatever failed, the output folder is as it was: the staging folder went.
        line = str(e)
        say(line if line.endswith("nothing was written") else line + "; nothing was written")
        return 1
    if args.command == "make":
        report(*made)  # the release is in place: what goes wrong from here is no failure of it
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
