#!/usr/bin/env python3
"""Checks an installer folder's demo payload.

    check_payload.py DISKDIR --objdump OBJDUMP [--arch win32|win64]

Fails (exit 1, one line per problem) unless the twenty source files are all
there under their exact names and add up to exactly 4,800,000 bytes, the
sounds and the picture are well-formed, the sample tables agree between their
two forms, and QV99.EX_ is a Windows GUI program of the build's architecture that imports only
system DLLs.
"""

import argparse
import csv
import io
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_payload import MANIFEST, TOTAL_BYTES  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
               "oleaut32.dll", "advapi32.dll", "comdlg32.dll", "shlwapi.dll", "msvcrt.dll"}
MAX_SHARE = 0.25  # no single file may take more than this share of the gauge

problems = []


def fail(msg):
    problems.append(msg)


def check_names(disk):
    present = set(os.listdir(disk))
    for name in MANIFEST:
        if name not in present:
            near = [p for p in present if p.upper() == name]
            fail("%s is missing%s" % (name, " (found %s)" % near[0] if near else ""))
    for name in sorted(present):
        if name.endswith("_") and name not in MANIFEST:
            fail("%s is not one of the twenty payload files" % name)


def check_sizes(disk):
    total = 0
    for name in MANIFEST:
        path = os.path.join(disk, name)
        if not os.path.isfile(path):
            return
        size = os.path.getsize(path)
        if size == 0:
            fail("%s is empty" % name)
        if size > TOTAL_BYTES * MAX_SHARE:
            fail("%s is %d bytes, more than %d%% of the total" % (name, size, MAX_SHARE * 100))
        total += size
    if total != TOTAL_BYTES:
        fail("the twenty files add up to %d bytes, not %d" % (total, TOTAL_BYTES))


def read(disk, name):
    with open(os.path.join(disk, name), "rb") as f:
        return f.read()


def check_wav(disk, name):
    data = read(disk, name)
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return fail("%s is not a RIFF/WAVE file" % name)
    riff_size = struct.unpack_from("<I", data, 4)[0]
    if riff_size + 8 != len(data):
        fail("%s: RIFF size %d does not match the file (%d bytes)" % (name, riff_size, len(data)))
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        cid, clen = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + clen]
        if len(body) != clen:
            return fail("%s: chunk %r runs past the end of the file" % (name, cid))
        if cid == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif cid == b"data":
            samples = body
        pos += 8 + clen + (clen & 1)
    if fmt is None or samples is None:
        return fail("%s lacks a fmt or data chunk" % name)
    tag, channels, rate, byte_rate, align, bits = fmt
    if tag != 1 or channels not in (1, 2) or bits not in (8, 16) or rate not in (11025, 22050, 44100):
        return fail("%s: unexpected format %r" % (name, fmt))
    if align != channels * bits // 8 or byte_rate != rate * align:
        fail("%s: inconsistent block align or byte rate %r" % (name, fmt))
    seconds = len(samples) / byte_rate
    if not 0.2 <= seconds <= 5.0:
        fail("%s lasts %.2f s" % (name, seconds))
    if bits == 8:
        peak = max(abs(b - 128) for b in samples) / 128.0
    else:
        peak = max(abs(v) for v in struct.unpack("<%dh" % (len(samples) // 2), samples)) / 32768.0
    if peak < 0.2:
        fail("%s is nearly silent (peak %.2f)" % (name, peak))


def check_bmp(disk, name):
    data = read(disk, name)
    if len(data) < 54 or data[:2] != b"BM":
        return fail("%s is not a BMP file" % name)
    size, _, _, offset = struct.unpack_from("<IHHI", data, 2)
    hsize, w, h, planes, bpp = struct.unpack_from("<IiiHH", data, 14)
    if size != len(data):
        fail("%s: header size %d does not match the file (%d bytes)" % (name, size, len(data)))
    if hsize != 40 or planes != 1 or bpp not in (1, 4, 8, 24) or w <= 0 or h == 0:
        return fail("%s: unexpected bitmap header (%d, %dx%d, %d planes, %d bpp)" % (name, hsize, w, h, planes, bpp))
    stride = (w * bpp + 31) // 32 * 4
    if offset < 54 or offset + stride * abs(h) > len(data):
        fail("%s: pixel data at %d does not fit the file" % (name, offset))


def parse_sheet(text):
    lines = text.split("\r\n")
    if lines[0] != "QUORVANT WORKSHEET 1" or "END" not in lines:
        return None
    return [line.split("\t")[1:] for line in lines if line.startswith("ROW\t")]


def check_tables(disk):
    for table in ("CUSTOMER", "INVENT", "SUPPLIER"):
        cs, xl = table + ".CS_", table + ".XL_"
        try:
            rows = list(csv.reader(io.StringIO(read(disk, cs).decode("ascii"), newline="")))
            sheet = parse_sheet(read(disk, xl).decode("ascii"))
        except (OSError, UnicodeDecodeError, csv.Error) as e:
            fail("%s/%s cannot be read as text tables: %s" % (cs, xl, e))
            continue
        if len(rows) < 11 or len({len(r) for r in rows}) != 1:
            fail("%s: expected a header and at least ten rows of equal width" % cs)
        if sheet is None:
            fail("%s is not a worksheet" % xl)
        elif sheet != rows:
            fail("%s does not hold the same rows as %s" % (xl, cs))


# PE machine and optional-header magic of each build.
PE_KINDS = {"win32": (0x14C, 0x10B, "a 32-bit x86"), "win64": (0x8664, 0x20B, "a 64-bit x86-64")}


def check_program(disk, objdump, arch):
    name = "QV99.EX_"
    data = read(disk, name)
    if data[:2] != b"MZ" or len(data) < 0x40:
        return fail("%s is not an executable" % name)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return fail("%s has no PE header" % name)
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
    want_machine, want_magic, kind = PE_KINDS[arch]
    if machine != want_machine or magic != want_magic:
        fail("%s is not %s program (machine %#x, magic %#x)" % (name, kind, machine, magic))
    if subsystem != 2:
        fail("%s is not a Windows GUI program (subsystem %d)" % (name, subsystem))
    out = subprocess.run([objdump, "-p", os.path.join(disk, name)], check=True,
                         stdout=subprocess.PIPE, universal_newlines=True).stdout
    dlls = {m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", out)}
    if not dlls:
        fail("%s: objdump lists no imported DLLs" % name)
    for dll in sorted(dlls - SYSTEM_DLLS):
        fail("%s imports %s, which is not a system DLL" % (name, dll))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("disk")
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--arch", choices=sorted(PE_KINDS), default="win32",
                    help="the build the folder comes from")
    args = ap.parse_args(argv)
    check_names(args.disk)
    check_sizes(args.disk)
    if not problems:
        check_wav(args.disk, "APPLAUSE.WA_")
        check_wav(args.disk, "UHOH.WA_")
        check_bmp(args.disk, "BLANKER.BM_")
        check_tables(args.disk)
        check_program(args.disk, args.objdump, args.arch)
    for p in problems:
        print("payload: " + p)
    if not problems:
        print("payload: twenty files, %d bytes, all well-formed" % TOTAL_BYTES)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
