#!/usr/bin/env python3
"""Tests of the payload generators.

    test_payload_tools.py PROGRAM

PROGRAM is the built QV99.EX_. Checks that the demo payload is reproducible
and always totals exactly 4,800,000 bytes whatever the program's size, that an
oversized program is refused, and that the benchmark payload has the twenty
names at the requested size with deterministic, distinct content.
"""

import filecmp
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from gen_payload import MANIFEST, TOTAL_BYTES  # noqa: E402

failures = []


def expect(cond, msg):
    if not cond:
        failures.append(msg)


def run(script, *args):
    return subprocess.run([sys.executable, os.path.join(HERE, script)] + list(args),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)


def sizes(folder):
    return {n: os.path.getsize(os.path.join(folder, n)) for n in MANIFEST}


def same_files(a, b, names):
    _, mismatch, errors = filecmp.cmpfiles(a, b, names, shallow=False)
    return mismatch + errors


def test_demo_payload(program, tmp):
    a, b, c = (os.path.join(tmp, d) for d in ("a", "b", "c"))
    for d in (a, b):
        r = run("gen_payload.py", d, "--exe", program)
        expect(r.returncode == 0, "gen_payload failed: " + r.stdout)
    if failures:
        return
    expect(sum(sizes(a).values()) == TOTAL_BYTES, "demo payload does not total %d bytes" % TOTAL_BYTES)
    diff = same_files(a, b, MANIFEST)
    expect(not diff, "two runs differ in " + ", ".join(diff))

    # A program of another size: only the padded placeholder changes.
    fake = os.path.join(tmp, "fake.exe")
    with open(fake, "wb") as f:
        f.write(b"MZ" + b"\0" * (os.path.getsize(program) - 2 + 12345))
    r = run("gen_payload.py", c, "--exe", fake)
    expect(r.returncode == 0, "gen_payload failed for a larger program: " + r.stdout)
    if r.returncode == 0:
        sc = sizes(c)
        expect(sum(sc.values()) == TOTAL_BYTES, "payload with a larger program does not total %d" % TOTAL_BYTES)
        expect(sc["MSVBVM50.DLL"] == sizes(a)["MSVBVM50.DLL"] - 12345,
               "the padding did not absorb the program's growth")
        others = [n for n in MANIFEST if n not in ("MSVBVM50.DLL", "QV99.EX_")]
        diff = same_files(a, c, others)
        expect(not diff, "files other than the padding changed: " + ", ".join(diff))

    # A program that leaves no room for the padding is refused.
    with open(fake, "wb") as f:
        f.write(b"MZ" + b"\0" * (TOTAL_BYTES - 100000))
    r = run("gen_payload.py", os.path.join(tmp, "d"), "--exe", fake)
    expect(r.returncode != 0, "gen_payload accepted a program too large for the total")


def test_large_payload(tmp):
    a, b = os.path.join(tmp, "la"), os.path.join(tmp, "lb")
    for d in (a, b):
        r = run("make_large_payload.py", d, "--mib", "1")
        expect(r.returncode == 0, "make_large_payload failed: " + r.stdout)
    if failures:
        return
    expect(sorted(os.listdir(a)) == sorted(MANIFEST), "large payload has other names: %s" % sorted(os.listdir(a)))
    expect(all(s == 1024 * 1024 for s in sizes(a).values()), "large payload files are not 1 MiB each")
    diff = same_files(a, b, MANIFEST)
    expect(not diff, "two large payload runs differ in " + ", ".join(diff))
    first = open(os.path.join(a, MANIFEST[0]), "rb").read()
    second = open(os.path.join(a, MANIFEST[1]), "rb").read()
    expect(first != second, "large payload files have identical content")
    r = run("make_large_payload.py", os.path.join(tmp, "lc"), "--mib", "0")
    expect(r.returncode != 0, "make_large_payload accepted --mib 0")


def main(argv):
    if len(argv) != 1:
        print("usage: test_payload_tools.py PROGRAM")
        return 2
    with tempfile.TemporaryDirectory() as tmp:
        test_demo_payload(argv[0], tmp)
        test_large_payload(tmp)
    for f in failures:
        print("FAIL: " + f)
    print("%s" % ("payload tools: ok" if not failures else "payload tools: %d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
