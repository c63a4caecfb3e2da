"""The build environment as BUILDINFO records it: the system (/etc/os-release) and the Debian
package, with its exact version (dpkg-query), of every tool that shapes the release's bytes:
the compilers and what they link in, binutils, the mingw-w64 headers and runtime, cmake,
ninja, osslsigncode, xorriso, minisign, Python and zlib (the zip's compression). A tool is
found by the file that runs, so the package recorded is the one that made the bytes, not a
version string that two builds of one compiler share."""

import os
import re
import shutil
import subprocess
import sys
import zlib

# Libraries whose package the file that runs does not name (they are loaded by it).
LIBRARIES = ("zlib1g", "libssl3")


def _run(cmd):
    try:
        return subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, errors="replace", timeout=60).stdout
    except OSError:
        return ""


def os_release(path="/etc/os-release"):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            fields = dict(re.findall(r'^(\w+)="?([^"\n]*)"?$', f.read(), re.M))
    except OSError:
        return "unknown: no /etc/os-release"
    return fields.get("PRETTY_NAME") or fields.get("ID", "unknown")


def tool_files(triple):
    """{role: the file that runs} for the tools of a build for `triple`."""
    def which(name):
        found = shutil.which(name)
        return os.path.realpath(found) if found else None
    gcc = which(triple + "-gcc-win32")
    files = {"c compiler": gcc, "c++ compiler": which(triple + "-g++-win32"),
             "linker": which(triple + "-ld"), "assembler": which(triple + "-as"),
             "resource compiler": which(triple + "-windres"), "cmake": which("cmake"), "ninja": which("ninja"),
             "osslsigncode": which("osslsigncode"), "xorriso": which("xorriso"), "minisign": which("minisign"),
             "python": os.path.realpath(sys.executable)}
    if gcc:
        for role, prog in (("c compiler proper", "cc1"), ("c++ compiler proper", "cc1plus")):
            path = _run([gcc, "-print-prog-name=" + prog]).strip()
            files[role] = os.path.realpath(path) if os.path.isabs(path) else None
        headers = os.path.join(_run([gcc, "-print-sysroot"]).strip() or "/usr", triple, "include", "windows.h")
        files["windows headers"] = os.path.realpath(headers) if os.path.exists(headers) else None
    return files


def owners(paths):
    """{path: the Debian package that installed it} for the paths dpkg knows."""
    paths = sorted(set(p for p in paths if p))
    if not paths:
        return {}
    found = {}
    for line in _run(["dpkg-query", "-S"] + paths).splitlines():
        names, sep, path = line.partition(": ")
        if sep and path in paths:
            found[path] = names.split(",")[0].strip().split(":")[0]
    return found


def versions(names):
    """{package: its installed version} for the names given that are installed."""
    out = _run(["dpkg-query", "-W", "-f", "${Package} ${db:Status-Status} ${Version}\n"] + sorted(set(names)))
    return {p: v for p, status, v in (l.split(" ", 2) for l in out.splitlines() if l.count(" ") >= 2)
            if status == "installed"}


def environment(triple, linked=()):
    """BUILDINFO's lines of the environment: ("os", ...), ("package NAME", VERSION) for every
    package that holds a tool (and every file in `linked`, what the linker took in), sorted,
    and ("tool ROLE", why) for a tool no package holds; with {file: package} of those files."""
    files = tool_files(triple)
    owned = owners(list(files.values()) + list(linked))
    names = set(owned.values()) | set(LIBRARIES)
    installed = versions(names)
    lines = [("os", os_release())]
    lines += [("package " + n, installed.get(n, "not installed")) for n in sorted(names)]
    for role, path in sorted(files.items()):
        if not path:
            lines.append(("tool " + role, "not installed"))
        elif path not in owned:
            extra = " (Python %s, zlib %s)" % (sys.version.split()[0], zlib.ZLIB_RUNTIME_VERSION) if role == "python" else ""
            lines.append(("tool " + role, "%s%s, from no Debian package" % (path, extra)))
    return lines, owned


def recorded_versions(pairs):
    """{package: version} from BUILDINFO's (key, value) pairs."""
    return {k[len("package "):]: v for k, v in pairs if k.startswith("package ")}
