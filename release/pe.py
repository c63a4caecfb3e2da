"""What the release needs to know of a Windows program or library from its headers."""

import struct


def is_pe(path):
    """A Windows program or library: an MZ header pointing at a PE signature."""
    with open(path, "rb") as f:
        head = f.read(0x40)
        if len(head) < 0x40 or head[:2] != b"MZ":
            return False
        f.seek(struct.unpack_from("<I", head, 0x3C)[0])
        return f.read(4) == b"PE\0\0"


def is_signed(path):
    """A PE file with an Authenticode signature: its certificate table (data directory 4) is
    not empty."""
    with open(path, "rb") as f:
        head = f.read(0x40)
        if len(head) < 0x40 or head[:2] != b"MZ":
            return False
        offset = struct.unpack_from("<I", head, 0x3C)[0]
        f.seek(offset)
        pe = f.read(24 + 2)
        if len(pe) < 26 or pe[:4] != b"PE\0\0":
            return False
        directories = offset + 24 + {0x10B: 96, 0x20B: 112}.get(struct.unpack_from("<H", pe, 24)[0], 0)
        f.seek(directories + 4 * 8)
        entry = f.read(8)
        return len(entry) == 8 and struct.unpack("<II", entry)[1] != 0
