"""Where SETUP.EXE's bytes go, from the linker's map file (build/<preset>/SETUP.map).

  python3 bench/mapsize.py build/win32

Adds up the size of every input section that lands in the file (code, data, read-only data,
unwind tables, imports, resources, relocations; not .bss) by where it comes from: each of our
libraries, libstdc++, libgcc (the exception unwinder and helpers), the mingw start-up code and C
runtime glue, the import tables, the resources. What the map does not place (the PE headers and
the padding of each section to the file alignment) is the rest of the stripped file.
"""

import os
import re
import sys

SECTION = re.compile(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)")           # an output section
INPUT = re.compile(r"^ (\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(.+)$")    # an input section
INPUT_NAME = re.compile(r"^ (\.\S+)\s*$")                                 # its long name alone
INPUT_REST = re.compile(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(.+)$")       # ...and the rest
NOT_IN_FILE = {".bss", ".stab", ".stabstr"}

OURS = {
    "rt_win32": "our Win32 backend, file services and library binding (platform/win32)",
    "rt_core": "our portable runtime (platform/rt)",
    "setup_forms": "our five windows (forms/)",
    "setup_install": "our module Constants and destination rules (install/)",
    "platform_text": "our upper-casing (platform/)",
    "platform_drives": "our drive listing (platform/)",
    "setup.dir": "our start-up and library hooks (main.cpp, library_errors.cpp)",
}


def origin(path):
    if path.endswith(".res"):
        return "resources (icon, welcome and drive pictures, version, manifest)"
    if path == "dll stuff":
        return "relocations"
    for key, label in OURS.items():
        if "lib%s.a(" % key in path or "/%s/" % key in path or path.startswith("CMakeFiles/" + key):
            return label
    name = os.path.basename(path)
    if name.startswith("libstdc++"):
        return "libstdc++ (exception support, std::map's tree, type information)"
    if name.startswith("libgcc"):
        return "libgcc (the exception unwinder and arithmetic helpers)"
    if re.match(r"lib(kernel32|user32|gdi32|shell32|ole32|advapi32)\.a", name):
        return "import tables and stubs"
    return "mingw start-up code and C runtime glue"


def breakdown(map_path):
    """({origin: bytes} of the input sections that land in the file, bytes of unwind tables)."""
    sizes, section, pending, unwind = {}, None, None, 0
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = SECTION.match(line)
            if m:
                section = m.group(1)
                continue
            if section is None or section in NOT_IN_FILE:
                continue
            m = INPUT.match(line)
            if m:
                size, path = int(m.group(2), 16), m.group(3).strip()
            elif INPUT_NAME.match(line):
                pending = True
                continue
            elif pending and INPUT_REST.match(line):
                m = INPUT_REST.match(line)
                size, path = int(m.group(1), 16), m.group(2).strip()
            else:
                pending = None
                continue
            pending = None
            if size:
                key = origin(path)
                sizes[key] = sizes.get(key, 0) + size
                if section in (".eh_frame", ".pdata", ".xdata"):
                    unwind += size
    return sizes, unwind


def report(build_dir):
    exe = os.path.join(build_dir, "disk", "SETUP.EXE")
    sizes, unwind = breakdown(os.path.join(build_dir, "SETUP.map"))
    total = os.path.getsize(exe)
    lines = ["%-80s %7d bytes" % (k, v) for k, v in sorted(sizes.items(), key=lambda kv: -kv[1])]
    lines.append("%-80s %7d bytes" % ("headers and padding to the file alignment", total - sum(sizes.values())))
    lines.append("%-80s %7d bytes" % ("SETUP.EXE (stripped)", total))
    lines.append("%-80s %7d bytes" % ("of which unwind tables for exceptions, in all of the above", unwind))
    return "\n".join(lines)


if __name__ == "__main__":
    print(report(sys.argv[1]))
