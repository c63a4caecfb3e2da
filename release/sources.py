"""What a release takes from the installer's sources: the source names of the install
manifest (install/Constants.h, the table the program is compiled from) and the version (the
project version in CMakeLists.txt, which the build writes into the version resources and the
manifest), so that neither is written down a second time."""

import os
import re

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
ROWS = 20

_ROW = re.compile(r'\{L"([^"]+)",\s*L"([^"]+)",\s*Folder::\w+\}')
_PROGRAM = re.compile(r'\bProgramFile\s*=\s*L"([^"]+)"')
_PROJECT = re.compile(r"^project\(Setup VERSION (\d+(?:\.\d+){0,3})\b", re.M)


class SourceError(Exception):
    pass


def _read(relative):
    with open(os.path.join(ROOT, relative), encoding="utf-8") as f:
        return f.read()


def manifest_rows():
    """The twenty rows as (source name, installed name), in the manifest's order."""
    rows = _ROW.findall(_read("install/Constants.h"))
    if len(rows) != ROWS:
        raise SourceError("install/Constants.h: %d manifest rows found, not %d" % (len(rows), ROWS))
    return rows


def program():
    """The source name of the manifest's own program, the one the shortcut starts (QV99.EX_)."""
    m = _PROGRAM.search(_read("install/Constants.h"))
    rows = [s for s, installed in manifest_rows() if m and installed.upper() == m.group(1).upper()]
    if len(rows) != 1:
        raise SourceError("install/Constants.h: no manifest row installs the ProgramFile")
    return rows[0]


def version():
    """The product version, "1.00": the project version, as the version resources' strings say it."""
    m = _PROJECT.search(_read("CMakeLists.txt"))
    if not m:
        raise SourceError("CMakeLists.txt: no project(Setup VERSION ...) line")
    return m.group(1)
