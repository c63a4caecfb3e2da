#!/usr/bin/env python3
"""Fails when compiled code does arithmetic in x87 registers.

    check_sse.py --objdump OBJDUMP OBJECT[;OBJECT...] ...

The gauge's rules round each step to single or double precision. x87 registers hold 80 bits
and the compiler does not round them on assignment, so in the 32-bit build a float computed
there reaches a double argument unrounded. Built for SSE, every step rounds as the rules say.
Moving values through x87 registers (loads and stores, as the 32-bit calling convention does
for returned floats) changes no value and is allowed; adding, subtracting, multiplying and
dividing there is not.
"""

import argparse
import re
import subprocess
import sys

X87_ARITHMETIC = re.compile(r"\s(f(?:i?(?:add|sub|subr|mul|div|divr))p?[slt]?)\s")


def x87_arithmetic(objdump, path):
    """(function, instruction) for every x87 arithmetic instruction in the object."""
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-C", path], check=True,
                         stdout=subprocess.PIPE, universal_newlines=True).stdout
    found, function = [], "?"
    for line in out.splitlines():
        m = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if m:
            function = m.group(1)
            continue
        m = X87_ARITHMETIC.search(line + " ")
        if m:
            found.append((function, line.strip()))
    return found


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--objdump", required=True)
    ap.add_argument("objects", nargs="+")
    args = ap.parse_args(argv)
    paths = [p for arg in args.objects for p in arg.split(";") if p]
    bad = [(path, f, insn) for path in paths for f, insn in x87_arithmetic(args.objdump, path)]
    for path, function, insn in bad:
        print("x87 arithmetic in %s, %s: %s" % (path, function, insn))
    if bad:
        return 1
    print("no x87 arithmetic in %d objects" % len(paths))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
