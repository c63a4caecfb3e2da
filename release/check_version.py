#!/usr/bin/env python3
"""Checks the version a built program or library carries against the project version:

    check_version.py --windres WINDRES --version 1.00 --file-name SETUP.EXE FILE

The version resource's numbers (FILEVERSION, PRODUCTVERSION), its strings (FileVersion,
ProductVersion, OriginalFilename) and, where the file has one, the manifest's assembly version
must all say the same version. Prints one line per difference and exits 1; the build runs it
after each link, so a file that disagrees with itself is never left as built."""

import argparse
import re
import subprocess
import sys


def resource_script(windres, path):
    """The file's resources as windres writes them back out as a resource script."""
    r = subprocess.run([windres, "-i", path, "-J", "coff", "-O", "rc"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
    if r.returncode != 0:
        raise SystemExit("%s: windres cannot read its resources: %s" % (path, r.stdout.strip()))
    return r.stdout


def version_fields(script):
    """The version resource's fields: the strings by name, the numbers as 4-tuples of ints."""
    fields = dict(re.findall(r'^\s*VALUE\s+"(\w+)",\s*"([^"]*)"', script, re.M))
    for key in ("FILEVERSION", "PRODUCTVERSION"):
        m = re.search(r"^\s*%s\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\s*$" % key, script, re.M)
        if m:
            fields[key] = tuple(int(n) for n in m.groups())
    return fields


def manifest_version(script):
    """The assembly version of the RT_MANIFEST resource, or None without one."""
    m = re.search(r"^\S+ 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)\nEND", script, re.S | re.M)
    if not m:
        return None
    text = "".join(line.strip().rstrip(",")[1:-1].replace('""', '"')
                   for line in m.group(1).splitlines() if line.strip().startswith('"'))
    identity = re.search(r"<assemblyIdentity\b[^>]*\bversion=\\?\"([^\"\\]*)", text)
    return identity.group(1) if identity else ""


def numbers(version):
    """"1.00" as (1, 0, 0, 0)."""
    parts = [int(p) for p in version.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))


def problems(script, version, file_name):
    fields, want = version_fields(script), numbers(version)
    found = []
    for key in ("FILEVERSION", "PRODUCTVERSION"):
        if fields.get(key) != want:
            found.append("%s is %s, not %s" % (key, fields.get(key), ",".join(map(str, want))))
    for key, value in (("FileVersion", version), ("ProductVersion", version), ("OriginalFilename", file_name)):
        if fields.get(key) != value:
            found.append("%s is %r, not %r" % (key, fields.get(key), value))
    manifest = manifest_version(script)
    if manifest is not None and manifest != ".".join(map(str, want)):
        found.append("the manifest's assembly version is %r, not %s" % (manifest, ".".join(map(str, want))))
    return found


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--windres", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--file-name", required=True)
    ap.add_argument("file")
    args = ap.parse_args(argv)
    found = problems(resource_script(args.windres, args.file), args.version, args.file_name)
    for p in found:
        print("%s: %s" % (args.file, p), file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
