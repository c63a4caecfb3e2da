#!/usr/bin/env python3
"""Reads the manifest out of a built program and checks what Windows will do with it.

    check_manifest.py --windres WINDRES --arch x86|amd64 PROGRAM

SETUP.EXE must ask for elevation once, before any window opens (requireAdministrator), must
not ask to drive other programs' windows (uiAccess false), must draw at the screen's real DPI
(dpiAware true), and must name the processor it is built for.
"""

import argparse
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


def manifest_of(windres, program):
    """The text of the program's RT_MANIFEST resource, from windres's resource script."""
    script = subprocess.run([windres, "-i", program, "-J", "coff", "-O", "rc"], check=True,
                            stdout=subprocess.PIPE, universal_newlines=True).stdout
    m = re.search(r"^\S+ 24 /\* RT_MANIFEST \*/\nBEGIN\n(.*?)\nEND", script, re.S | re.M)
    if not m:
        raise SystemExit("%s has no manifest resource" % program)
    text = ""
    for line in m.group(1).splitlines():
        line = line.strip().rstrip(",")
        if line.startswith('"') and line.endswith('"'):
            text += line[1:-1].replace('""', '"').replace("\\n", "\n").replace("\\t", "\t")
    return text


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--windres", required=True)
    ap.add_argument("--arch", required=True)
    ap.add_argument("program")
    args = ap.parse_args(argv)
    root = ET.fromstring(manifest_of(args.windres, args.program).encode("utf-8"))
    problems = []
    identity = root.find(ASM_V1 + "assemblyIdentity")
    if identity is None or identity.get("processorArchitecture") != args.arch:
        problems.append("assemblyIdentity does not name processor %s" % args.arch)
    level = root.find(".//%srequestedExecutionLevel" % ASM_V3)
    if level is None or level.get("level") != "requireAdministrator":
        problems.append("requestedExecutionLevel is not requireAdministrator")
    if level is None or level.get("uiAccess") != "false":
        problems.append("uiAccess is not false")
    dpi = root.find(".//%sdpiAware" % SETTINGS)
    if dpi is None or (dpi.text or "").strip().lower() != "true":
        problems.append("dpiAware is not true")
    for p in problems:
        print("manifest: " + p)
    if not problems:
        print("manifest: requireAdministrator, uiAccess false, DPI-aware, processor %s" % args.arch)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
