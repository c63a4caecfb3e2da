#!/usr/bin/env python3
"""Writes the demo payload of the installer folder.

    gen_payload.py OUTDIR [--exe QV99.EX_]

The installer copies twenty files; QV99.EX_ is the program built by this
project (default: OUTDIR/QV99.EX_, which must already exist). This script
writes the other nineteen beside it and sizes the runtime placeholder
MSVBVM50.DLL so that the twenty files add up to exactly TOTAL_BYTES, the
amount the installer's progress gauge counts as 100 percent. The output
depends only on this script and the size of QV99.EX_.
"""

import argparse
import math
import os
import struct
import sys

TOTAL_BYTES = 4800000

# The twenty source names, in the order the installer copies them.
MANIFEST = [
    "LICENSE.TX_", "README.TXT", "BLANKER.BM_", "APPLAUSE.WA_", "UHOH.WA_",
    "MSVBVM50.DLL", "STDOLE2.TL_", "QV99.EX_", "QV99.HL_",
    "CUSTOMER.XL_", "CUSTOMER.CS_", "INVENT.XL_", "INVENT.CS_",
    "SUPPLIER.XL_", "SUPPLIER.CS_",
    "COMDLG32.OC_", "MCI32.OC_", "THREED32.OC_", "GRID32.OC_", "TABCTL32.OC_",
]

PROGRAM = "QV99.EX_"
PADDED = "MSVBVM50.DLL"  # takes whatever is left of TOTAL_BYTES
MIN_PADDED = 64 * 1024

# Fixed sizes of the other placeholder files: a few hundred KB each, so that
# every file moves the gauge visibly and none dominates.
PLACEHOLDER_SIZES = {
    "STDOLE2.TL_": 420000,
    "COMDLG32.OC_": 610000,
    "MCI32.OC_": 560000,
    "THREED32.OC_": 690000,
    "GRID32.OC_": 720000,
    "TABCTL32.OC_": 750000,
}

PLACEHOLDER_ROLES = {
    "MSVBVM50.DLL": "runtime library",
    "STDOLE2.TL_": "type library",
    "COMDLG32.OC_": "common dialog control",
    "MCI32.OC_": "multimedia control",
    "THREED32.OC_": "three-dimensional controls",
    "GRID32.OC_": "grid control",
    "TABCTL32.OC_": "tab control",
}


class Lcg:
    """A small deterministic random number generator (32-bit LCG)."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state

    def uniform(self):
        return (self.next() >> 8) / float(1 << 24)

    def choice(self, seq):
        return seq[(self.next() >> 8) % len(seq)]

    def randint(self, lo, hi):
        return lo + (self.next() >> 8) % (hi - lo + 1)


def crlf(text):
    return text.strip("\n").replace("\n", "\r\n").encode("ascii") + b"\r\n"


# ---------------------------------------------------------------------------
# Text files
# ---------------------------------------------------------------------------

LICENSE = """
QUORVANT '99 SOFTWARE LICENCE AGREEMENT

Please read this agreement carefully before using Quorvant '99. By installing
or using the software you agree to be bound by these terms.

1. GRANT OF LICENCE. Quorvant Software grants you the right to install and
   use one copy of Quorvant '99 on a single computer. You may make one copy
   of the software for backup purposes only.

2. COPYRIGHT. The software, its documentation and its sample data are owned
   by Quorvant Software and are protected by copyright law. You may not
   copy the software except as allowed in section 1.

3. RESTRICTIONS. You may not rent, lease or lend the software. You may not
   reverse engineer, decompile or disassemble the software, except where
   the law expressly allows it.

4. TRANSFER. You may transfer the software and this licence to another
   party once, provided you keep no copies and the other party accepts
   these terms.

5. SAMPLE DATA. The customer, inventory and supplier files installed in the
   DATA folder are fictitious. Any resemblance to real businesses or people
   is coincidental.

6. LIMITED WARRANTY. Quorvant Software warrants that the disks on which the
   software is supplied are free from defects in materials and workmanship
   for ninety (90) days from the date of purchase. Your sole remedy is the
   replacement of a defective disk.

7. NO OTHER WARRANTIES. Except for the limited warranty above, the software
   is provided "as is", without warranty of any kind, express or implied,
   including fitness for a particular purpose.

8. LIMITATION OF LIABILITY. In no event shall Quorvant Software be liable
   for any damages, including lost profits, lost data or other incidental
   or consequential damages, arising out of the use of or inability to use
   the software, even if advised of the possibility of such damages.

9. TERMINATION. This licence ends automatically if you fail to comply with
   its terms. On termination you must destroy all copies of the software.

Copyright (C) 1999 Quorvant Software. All rights reserved.
"""

README = """
Quorvant '99 - Read Me
======================

Thank you for choosing Quorvant '99, the small-business organiser for
customers, inventory and suppliers.

Contents of this folder
-----------------------
  QV99.EXE        the Quorvant '99 program
  README.TXT      this file
  MSVBVM50.DLL    runtime library used by the program
  STDOLE2.TLB     type library used by the program
  *.OCX           controls used by the program's windows
  DATA\\           sample data, sounds, pictures, the licence and the help file

Starting the program
--------------------
Use the "Quorvant '99" shortcut that Setup created, or run QV99.EXE from this
folder. The main window lists the files in the DATA folder with their sizes.
Select a .CSV file to see its rows.

Sample data
-----------
The DATA folder holds three sample tables, each in two forms:
  CUSTOMER.CSV / CUSTOMER.XLS   customer list
  INVENT.CSV   / INVENT.XLS     stock on hand
  SUPPLIER.CSV / SUPPLIER.XLS   suppliers and their terms
The .CSV files are comma-separated text; the .XLS files hold the same rows as
tab-separated worksheets. All names in the samples are fictitious.

Removing Quorvant '99
---------------------
Delete this folder and the "Quorvant '99" shortcut. Setup writes no other
files and no settings.

Support
-------
See QV99.HLP in the DATA folder for help on every window of the program.
"""

HELP = r"""{\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Arial;}}
{\f0\fs28\b Quorvant '99 Help\b0\par}
\fs20\par
{\b Contents}\par
1. The main window\par
2. Viewing sample data\par
3. Sounds and pictures\par
4. Keyboard\par
\par
{\b 1. The main window}\par
The main window lists every file of the DATA folder beside the program, with
its size in bytes. The list is read once when the program starts.\par
\par
{\b 2. Viewing sample data}\par
Select a file whose name ends in .CSV. Its rows appear on the right, one row
per line, with the fields in columns. The first row names the fields. Files of
other kinds are listed but not shown.\par
\par
{\b 3. Sounds and pictures}\par
APPLAUSE.WAV and UHOH.WAV are the sounds the program plays when a task
succeeds or fails. BLANKER.BMP is the picture of the screen blanker.\par
\par
{\b 4. Keyboard}\par
Tab moves between the lists. The arrow keys move the selection. Alt+F4 closes
the program.\par
}
"""


# ---------------------------------------------------------------------------
# Sample tables
# ---------------------------------------------------------------------------

FIRST = ["Anna", "Boris", "Clara", "Dmitri", "Elena", "Felix", "Greta", "Hugo", "Ines",
         "Jonas", "Karin", "Lukas", "Marta", "Niels", "Olga", "Pavel", "Rosa", "Stefan",
         "Tilde", "Viktor"]
LAST = ["Abernathy", "Brennholt", "Castellan", "Dunmore", "Ellery", "Farrowby", "Galloway",
        "Hartwell", "Ivanov", "Jessop", "Kettering", "Lindqvist", "Marchetti", "Northam",
        "Okonkwo", "Pemberton", "Quillan", "Rasmussen", "Sorensen", "Thackeray"]
WORD_A = ["Amber", "Birch", "Cobalt", "Driftwood", "Ember", "Fernhill", "Granite", "Harbor",
          "Ironbark", "Juniper", "Kestrel", "Lantern", "Meadow", "Nettle", "Orchard",
          "Pinecrest", "Quarry", "Riverside", "Saltmarsh", "Thistle"]
WORD_B = ["Bakery", "Crafts", "Garden Centre", "Hardware", "Joinery", "Outfitters",
          "Print Shop", "Stationers", "Textiles", "Tool Hire", "Bookbinders", "Ironmongers"]
WORD_S = ["Wholesale", "Supply", "Trading", "Distribution", "Mills", "Works", "Imports"]
CITIES = ["Ashford", "Bramley", "Carrow", "Dunholm", "Eastwick", "Fairleigh", "Glenmore",
          "Holloway", "Kingsbridge", "Larkhill", "Millbrook", "Northgate", "Oakridge",
          "Pennington", "Redhaven", "Stonebury", "Thornfield", "Westmere"]
TERMS = ["Net 30", "Net 60", "Net 15", "Cash on delivery", "2% 10 Net 30"]
ITEMS = ["Paper, A4, ream", "Envelopes, C5, box of 500", "Ballpoint pens, blue, box of 50",
         "Stapler, heavy duty", "Staples, 26/6, box of 5000", "Ring binder, 2 ring",
         "Lever arch file", "Desk lamp", "Filing cabinet, 4 drawer", "Office chair",
         "Printer ribbon", "Floppy disks, box of 10", "Mouse mat", "Calculator, desktop",
         "Label roll, 89x36", "Packing tape, brown", "Cardboard box, medium",
         "Bubble wrap, 10 m", "Hammer, claw", "Screwdriver set", "Wood glue, 500 ml",
         "Sandpaper, assorted", "Paint brush, 50 mm", "Extension lead, 4 way",
         "Light bulbs, 60 W, pack of 4", "Safety gloves", "Tape measure, 5 m",
         "Padlock, brass", "Cable ties, pack of 100", "Whiteboard markers"]


def phone(rng):
    return "(0%d) %03d %04d" % (rng.randint(11, 99), rng.randint(200, 999), rng.randint(0, 9999))


def make_tables():
    rng = Lcg(1999)
    suppliers = [["SupplierID", "Name", "Contact", "City", "Phone", "Terms"]]
    used = set()
    while len(suppliers) < 26:
        name = "%s %s" % (rng.choice(WORD_A), rng.choice(WORD_S))
        if name in used:
            continue
        used.add(name)
        suppliers.append(["S%03d" % len(suppliers), name,
                          "%s %s" % (rng.choice(FIRST), rng.choice(LAST)),
                          rng.choice(CITIES), phone(rng), rng.choice(TERMS)])

    customers = [["CustomerID", "Company", "Contact", "City", "Phone", "Balance"]]
    used = set()
    while len(customers) < 61:
        name = "%s %s" % (rng.choice(WORD_A), rng.choice(WORD_B))
        if name in used:
            continue
        used.add(name)
        balance = rng.randint(0, 950000) / 100.0
        customers.append(["C%04d" % (1000 + len(customers)), name,
                          "%s %s" % (rng.choice(FIRST), rng.choice(LAST)),
                          rng.choice(CITIES), phone(rng), "%.2f" % balance])

    inventory = [["SKU", "Description", "OnHand", "ReorderLevel", "UnitPrice", "SupplierID"]]
    for i, item in enumerate(ITEMS):
        price = rng.randint(45, 24900) / 100.0
        inventory.append(["QV-%04d" % (100 + i * 7), item, str(rng.randint(0, 480)),
                          str(rng.randint(5, 60)), "%.2f" % price,
                          suppliers[1 + rng.randint(0, len(suppliers) - 2)][0]])
    return {"CUSTOMER": customers, "INVENT": inventory, "SUPPLIER": suppliers}


def csv_bytes(rows):
    def field(v):
        if any(c in v for c in ',"'):
            return '"' + v.replace('"', '""') + '"'
        return v
    return b"".join((",".join(field(v) for v in row) + "\r\n").encode("ascii") for row in rows)


def sheet_bytes(name, rows):
    """The worksheet form of a table: a title line, then tab-separated rows."""
    lines = ["QUORVANT WORKSHEET 1", "SHEET\t" + name,
             "SIZE\t%d\t%d" % (len(rows), len(rows[0]))]
    lines += ["ROW\t" + "\t".join(row) for row in rows]
    lines.append("END")
    return "".join(line + "\r\n" for line in lines).encode("ascii")


# ---------------------------------------------------------------------------
# Sounds and picture
# ---------------------------------------------------------------------------

RATE = 22050


def wav_bytes(samples):
    """Mono 8-bit PCM; samples are floats in -1..1."""
    data = bytes(max(0, min(255, int(round(128 + 127 * s)))) for s in samples)
    if len(data) % 2:
        data += b"\x80"
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def applause():
    """Many short hand claps: decaying noise bursts at random moments."""
    rng = Lcg(42)
    n = int(RATE * 1.8)
    out = [0.0] * n
    for _ in range(260):
        start = rng.randint(0, n - 1)
        # Claps thin out towards the end.
        if rng.uniform() < start / n * 0.7:
            continue
        amp = 0.25 + 0.35 * rng.uniform()
        length = rng.randint(300, 900)
        lp = 0.0
        for i in range(length):
            j = start + i
            if j >= n:
                break
            noise = rng.uniform() * 2.0 - 1.0
            lp += 0.55 * (noise - lp)  # soften the hiss a little
            out[j] += amp * lp * math.exp(-i / (length / 5.0))
    fade = int(RATE * 0.3)
    for i in range(fade):
        out[n - 1 - i] *= i / fade
    peak = max(abs(s) for s in out) or 1.0
    return [s / peak * 0.9 for s in out]


def uhoh():
    """Two voiced tones, the second lower and falling: "uh-oh"."""
    out = []

    def tone(f0, f1, seconds):
        n = int(RATE * seconds)
        phase = 0.0
        for i in range(n):
            t = i / n
            f = f0 + (f1 - f0) * t
            phase += 2 * math.pi * f / RATE
            env = min(1.0, i / (RATE * 0.02)) * (1.0 - t) ** 0.6
            # A few harmonics give the tone a voice-like timbre.
            s = math.sin(phase) + 0.5 * math.sin(2 * phase) + 0.25 * math.sin(3 * phase)
            out.append(0.55 * env * s)

    tone(420.0, 400.0, 0.20)
    out.extend([0.0] * int(RATE * 0.06))
    tone(330.0, 250.0, 0.38)
    out.extend([0.0] * int(RATE * 0.05))
    return out


def blanker_bmp():
    """A 64x48 star field in 24 bits per pixel, for the screen blanker."""
    w, h = 64, 48
    rng = Lcg(7)
    px = [[(0, 0, 24 + y // 4) for _ in range(w)] for y in range(h)]
    for _ in range(90):
        x, y = rng.randint(0, w - 1), rng.randint(0, h - 1)
        v = rng.randint(110, 255)
        px[y][x] = (v, v, min(255, v + 30))
    for x, y in ((20, 12), (45, 30)):
        for dx, dy in ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1)):
            px[y + dy][x + dx] = (255, 255, 255)
    stride = (w * 3 + 3) // 4 * 4
    bits = b"".join(b"".join(struct.pack("<BBB", b, g, r) for r, g, b in row) + b"\0" * (stride - w * 3)
                    for row in reversed(px))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    return struct.pack("<2sIHHI", b"BM", 54 + len(bits), 0, 0, 54) + info + bits


# ---------------------------------------------------------------------------
# Placeholders
# ---------------------------------------------------------------------------

def placeholder(name, size):
    """Clearly marked stand-in content of exactly `size` bytes."""
    head = (
        "QUORVANT '99 DEMO PLACEHOLDER\r\n"
        "File: %s (%s)\r\n"
        "This is not a program file. It is filler data of a fixed size that the\r\n"
        "demo installer copies to exercise its file copy and progress display.\r\n"
        "Size: %d bytes\r\n\r\n" % (name, PLACEHOLDER_ROLES[name], size)
    ).encode("ascii")
    parts = [head]
    length = len(head)
    block = 0
    while length < size:
        line = ("PLACEHOLDER %-12s block %07d .............................................\r\n"
                % (name, block)).encode("ascii")
        parts.append(line)
        length += len(line)
        block += 1
    return b"".join(parts)[:size]


def build(exe_size):
    files = {
        "LICENSE.TX_": crlf(LICENSE),
        "README.TXT": crlf(README),
        "BLANKER.BM_": blanker_bmp(),
        "APPLAUSE.WA_": wav_bytes(applause()),
        "UHOH.WA_": wav_bytes(uhoh()),
        "QV99.HL_": crlf(HELP),
    }
    for table, rows in make_tables().items():
        files[table + ".CS_"] = csv_bytes(rows)
        files[table + ".XL_"] = sheet_bytes(table, rows)
    for name, size in PLACEHOLDER_SIZES.items():
        files[name] = placeholder(name, size)
    used = exe_size + sum(len(v) for v in files.values())
    rest = TOTAL_BYTES - used
    if rest < MIN_PADDED:
        raise SystemExit("gen_payload: %s is %d bytes; only %d bytes are left for %s (need at least %d)"
                         % (PROGRAM, exe_size, rest, PADDED, MIN_PADDED))
    files[PADDED] = placeholder(PADDED, rest)
    assert sorted(list(files) + [PROGRAM]) == sorted(MANIFEST)
    return files


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--exe", help="the built program, copied into OUTDIR (default: OUTDIR/QV99.EX_)")
    args = ap.parse_args(argv)
    exe = args.exe or os.path.join(args.outdir, PROGRAM)
    files = build(os.path.getsize(exe))
    os.makedirs(args.outdir, exist_ok=True)
    target = os.path.join(args.outdir, PROGRAM)
    if not os.path.exists(target) or not os.path.samefile(exe, target):
        with open(exe, "rb") as f:
            files[PROGRAM] = f.read()
    for name in MANIFEST:
        if name not in files:
            continue
        path = os.path.join(args.outdir, name)
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(files[name])
        os.replace(tmp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
