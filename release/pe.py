"""What the release needs to know of a Windows program or library from its headers."""

import struct


def _pe_offset(f):
    """The offset of the PE signature, or None when the file is not a PE file."""
    head = f.read(0x40)
    if len(head) < 0x40 or head[:2] != b"MZ":
        return None
    offset = struct.unpack_from("<I", head, 0x3C)[0]
    f.seek(offset)
    return offset if f.read(4) == b"PE\0\0" else None


def is_pe(path):
    """A Windows program or library: an MZ header pointing at a PE signature."""
    with open(path, "rb") as f:
        return _pe_offset(f) is not None


def certificate_table(path):
    """(file offset, size) of the certificate table (data directory 4), (0, 0) without one;
    None when the file is not a PE file."""
    with open(path, "rb") as f:
        offset = _pe_offset(f)
        if offset is None:
            return None
        f.seek(offset + 24)
        magic = f.read(2)
        if len(magic) < 2:
            return None
        directories = offset + 24 + {0x10B: 96, 0x20B: 112}.get(struct.unpack("<H", magic)[0], 0)
        f.seek(directories + 4 * 8)
        entry = f.read(8)
        return struct.unpack("<II", entry) if len(entry) == 8 else None


def is_signed(path):
    """A PE file with an Authenticode signature: its certificate table is not empty."""
    table = certificate_table(path)
    return table is not None and table[1] != 0
