"""Makes the release of an installer folder: see scripts/release.sh, which builds the folder
first and calls this.

  make_release.py check PAYLOAD           the payload check alone
  make_release.py make --disk DIR --out DIR [--payload DIR]

`make` takes SETUP.EXE and STKIT432.DLL from the built installer folder and the twenty files
from PAYLOAD (default: the demo payload beside them), and writes to OUT the folder
Quorvant99-Setup-<version>/, its zip and CD image and SHA256SUMS, replacing an earlier
release there. It prints one line per problem and writes nothing when the payload, the
sources or the signing settings are not right. SOURCE_DATE_EPOCH fixes every time."""

import argparse
import os
import shutil
import sys
import tempfile

import archive
import payload
import sign
import sources

PROGRAM_FILES = ("SETUP.EXE", "STKIT432.DLL")
PROGRAM_ROW = "QV99.EX_"  # the installed program, signed when it is a Windows program


def say(line):
    print("release: " + line, flush=True)


def checked(folder, ignore=()):
    """The payload's files by source name; exits with the problems when it has any."""
    files, problems = payload.check(folder, sources.manifest_rows(), ignore)
    if problems:
        for p in problems:
            say(p)
        say("the payload in %s does not match the install manifest; nothing was written" % folder)
        sys.exit(1)
    return files


def make(disk, payload_dir, out):
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit() or int(epoch) < 315532800:
        raise ValueError("SOURCE_DATE_EPOCH must be a time in seconds from 1980 on (the zip's times), not %r" % epoch)
    epoch = int(epoch)
    name = "Quorvant99-Setup-" + sources.version()
    for f in PROGRAM_FILES:
        if not os.path.isfile(os.path.join(disk, f)):
            raise FileNotFoundError("%s is not built in %s" % (f, disk))
    files = checked(payload_dir or disk, ignore=() if payload_dir else PROGRAM_FILES)
    signing = sign.config(os.environ)
    os.makedirs(out, exist_ok=True)
    staging = tempfile.mkdtemp(prefix=".staging-", dir=out)
    try:
        folder = os.path.join(staging, name)
        os.mkdir(folder)
        for f in PROGRAM_FILES:
            shutil.copyfile(os.path.join(disk, f), os.path.join(folder, f))
        for source, path in files.items():
            shutil.copyfile(path, os.path.join(folder, source))
        signed = [f for f in PROGRAM_FILES + (PROGRAM_ROW,) if signing and sign.is_pe(os.path.join(folder, f))]
        for f in signed:
            sign.sign(os.path.join(folder, f), signing, epoch)
        archive.fix_times(folder, epoch)
        archive.write_zip(folder, os.path.join(staging, name + ".zip"), epoch)
        archive.write_iso(folder, os.path.join(staging, name + ".iso"), epoch)
        members = [name + "/" + f for f in sorted(os.listdir(folder))]
        archive.write_sums(staging, members + [name + ".zip", name + ".iso"], os.path.join(staging, "SHA256SUMS"))
        for entry in (name, name + ".zip", name + ".iso", "SHA256SUMS"):
            old = os.path.join(out, entry)
            if os.path.isdir(old):
                shutil.rmtree(old)
            os.replace(os.path.join(staging, entry), old)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    size = sum(os.path.getsize(os.path.join(out, name, f)) for f in os.listdir(os.path.join(out, name)))
    say("%s/ %d files, %d bytes" % (os.path.join(out, name), len(members), size))
    for entry in (name + ".zip", name + ".iso"):
        say("%s %d bytes" % (os.path.join(out, entry), os.path.getsize(os.path.join(out, entry))))
    say(os.path.join(out, "SHA256SUMS"))
    if signing and PROGRAM_ROW not in signed:
        say("%s is not a Windows program, so it is not signed" % PROGRAM_ROW)
    if signing:
        say("signed with Authenticode (SHA-256): " + " ".join(signed))
    else:
        say("UNSIGNED: SETUP_SIGN_PKCS12 and SETUP_SIGN_PASSWORD_FILE are not set, so Windows will "
            "name no publisher")


def main(argv):
    parser = argparse.ArgumentParser(prog="make_release.py")
    sub = parser.add_subparsers(dest="command", required=True)
    sub.add_parser("check").add_argument("payload")
    m = sub.add_parser("make")
    m.add_argument("--disk", required=True)
    m.add_argument("--out", required=True)
    m.add_argument("--payload")
    args = parser.parse_args(argv)
    try:
        if args.command == "check":
            checked(args.payload)
        else:
            make(args.disk, args.payload, args.out)
    except (sources.SourceError, sign.SignError, OSError, ValueError) as e:
        say(str(e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
