"""What a release takes from the installer's sources: the source names of the install
manifest (install/Constants.h, the table the program is compiled from) and the version (the
version resource, resources/setup.rc), so that neither is written down a second time."""

import os
import re

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
ROWS = 20

_ROW = re.compile(r'\{L"([^"]+)",\s*L"([^"]+)",\s*Folder::\w+\}')
_VALUE = re.compile(r'^\s*VALUE\s+"(\w+)",\s*"([^"]*)"', re.M)


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


def version_strings():
    """The string values of the version resource: {"ProductVersion": "1.00", ...}."""
    return dict(_VALUE.findall(_read("resources/setup.rc")))


def version():
    """The product version, which the file version must equal."""
    strings = version_strings()
    product, file_ = strings.get("ProductVersion"), strings.get("FileVersion")
    if not product or product != file_:
        raise SourceError("resources/setup.rc: ProductVersion %r and FileVersion %r must be set and equal"
                          % (product, file_))
    return product
