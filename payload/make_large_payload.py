#!/usr/bin/env python3
"""Writes a large stand-in payload for copy benchmarks.

    make_large_payload.py OUTDIR [--mib N]

Creates the installer's twenty source files in OUTDIR, each exactly N MiB
(default 64). The content is deterministic filler: every file has its own
pseudo-random 1 MiB block (so the files differ and do not compress away),
stamped with the file name and the MiB number at the start of each MiB.
"""

import argparse
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_payload import MANIFEST  # noqa: E402

MIB = 1024 * 1024


def base_block(name):
    seed = hashlib.sha256(b"quorvant-large-payload:" + name.encode("ascii")).digest()
    chunks = []
    for i in range(MIB // 32):
        chunks.append(hashlib.sha256(seed + i.to_bytes(4, "little")).digest())
    return bytearray(b"".join(chunks))


def write_file(path, name, mib):
    block = base_block(name)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        for i in range(mib):
            stamp = ("LARGE PAYLOAD %-12s MiB %06d\r\n" % (name, i)).encode("ascii")
            block[:len(stamp)] = stamp
            f.write(block)
    os.replace(tmp, path)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--mib", type=int, default=64, help="size of each file in MiB (default 64)")
    args = ap.parse_args(argv)
    if args.mib < 1:
        ap.error("--mib must be at least 1")
    os.makedirs(args.outdir, exist_ok=True)
    for name in MANIFEST:
        write_file(os.path.join(args.outdir, name), name, args.mib)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
