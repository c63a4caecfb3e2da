#!/usr/bin/env python3
"""Fails when a program's link stops using our replacements of the C++ library's failure hooks.

    check_link.py --map MAP --hooks FILE_PATTERN [--forbid 'ARCHIVE(MEMBER)' ...]

SETUP.EXE and STKIT432.DLL define the hooks the C++ library calls on a failure (std::__throw_*,
and for SETUP.EXE the terminate handler) themselves. Which definition a static link uses depends
on which archive members the linker pulls in, so the saving (and, for SETUP.EXE, turning such a
failure into a run-time error) lasts only as long as the link picks ours. Reads the GNU linker's
map and fails when

  - a hook that is linked is defined by any input file other than FILE_PATTERN (for example the
    library's own functexcept.o), or no hook is linked from FILE_PATTERN at all;
  - an archive member matching a --forbid pattern (fnmatch, on "libname.a(member.o)") was
    included; the message says which file and symbol pulled it in.
"""

import argparse
import fnmatch
import os
import re
import sys

HOOK = re.compile(r"^(std::__throw_\w+|__gnu_cxx::__verbose_terminate_handler)\(")
MEMBER = re.compile(r"^(\S+\.a\([^)]*\))\s*(.*)$")
INPUT = re.compile(r"^\s*(?:\S+\s+)?0x[0-9a-fA-F]+\s+0x[0-9a-fA-F]+\s+(\S.*)$")
SYMBOL = re.compile(r"^\s+0x[0-9a-fA-F]+\s{2,}(\S.*)$")


def short(path):
    """"libstdc++.a(functexcept.o)" for any folder the archive is in; a plain file stays as is."""
    m = re.match(r"^(.*?)(\([^)]*\))$", path.strip())
    return os.path.basename(m.group(1)) + m.group(2) if m else path.strip()


def read_map(text):
    """(included, definers): the archive members with what pulled each in, and symbol -> input file."""
    included, definers = [], {}
    lines = text.splitlines()
    part, i = None, 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("Archive member included"):
            part = "members"
        elif line.startswith(("Discarded input sections", "Memory Configuration", "Allocating common")):
            part = None
        elif line.startswith("Linker script and memory map"):
            part, current = "memory", None
        elif part == "members":
            m = MEMBER.match(line)
            if m:
                reason = m.group(2) or (lines[i].strip() if i < len(lines) else "")
                who = re.match(r"^(\S+)\s+(\(.*\))$", reason)
                included.append((short(m.group(1)), short(who.group(1)) + " " + who.group(2) if who else reason))
        elif part == "memory":
            m = INPUT.match(line)
            if m:
                current = short(m.group(1))
                continue
            m = SYMBOL.match(line)
            if m and current:
                definers.setdefault(m.group(1).strip(), current)
    return included, definers


def problems(text, hooks, forbidden):
    included, definers = read_map(text)
    found = []
    ours = 0
    for symbol, where in sorted(definers.items()):
        if not HOOK.match(symbol):
            continue
        if fnmatch.fnmatch(where, hooks):
            ours += 1
        else:
            found.append("%s is linked from %s, not from %s" % (symbol, where, hooks))
    if ours == 0:
        found.append("no hook is linked from %s" % hooks)
    for member, reason in included:
        if any(fnmatch.fnmatch(member, pattern) for pattern in forbidden):
            found.append("%s is linked, pulled in by %s" % (member, reason))
    return found


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--map", required=True)
    ap.add_argument("--hooks", required=True, help="file name pattern of the object with our hooks")
    ap.add_argument("--forbid", nargs="*", default=[])
    args = ap.parse_args(argv)
    with open(args.map, errors="replace") as f:
        found = problems(f.read(), args.hooks, args.forbid)
    for p in found:
        print("%s: %s" % (args.map, p))
    if found:
        return 1
    print("%s: the hooks come from %s; no forbidden library member" % (args.map, args.hooks))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
