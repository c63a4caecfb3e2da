"""The payload check: a folder must hold the install manifest's source names, matched as
Windows matches names (case-insensitively), each a non-empty file, and nothing else, so that
a disk made from it cannot fail at one of its rows in the field. Symbolic links are refused, not
followed: one could put a file from anywhere on the disk under a payload name."""

import os
import stat


def check(folder, rows, ignore=()):
    """The folder's file for each source name of `rows` ((source, installed name) pairs), and
    the problems found, one line each; names in `ignore` are passed over."""
    wanted = {source.upper() for source, _ in rows}
    ignored = {n.upper() for n in ignore}
    found, problems, extras = {}, [], []
    try:
        entries = sorted(os.listdir(folder))
    except OSError as e:
        return {}, ["%s: cannot be read (%s)" % (folder, e.strerror)]
    for entry in entries:
        key, path = entry.upper(), os.path.join(folder, entry)
        if key in ignored:
            continue
        if key not in wanted:
            extras.append(entry)
            continue
        if key in found:
            problems.append("%s: the same name to Windows as %s" % (entry, os.path.basename(found[key])))
        elif os.path.islink(path):
            problems.append("%s: a symbolic link, which the release does not follow" % entry)
        elif not stat.S_ISREG(os.lstat(path).st_mode):
            problems.append("%s: not a regular file" % entry)
        elif os.path.getsize(path) == 0:
            problems.append("%s: empty" % entry)
        found.setdefault(key, path)
    missing = [(s, d) for s, d in rows if s.upper() not in found]
    for entry in extras:
        # A file under the name it is installed as (QV99.EXE for QV99.EX_) is misnamed.
        row = next((r for r in missing if r[1].upper() == entry.upper() != r[0].upper()), None)
        if row:
            problems.append("%s: misnamed, the disk must hold it as %s" % (entry, row[0]))
            missing.remove(row)
        else:
            problems.append("%s: not in the install manifest, so the installer would never copy it" % entry)
    problems += ["%s: missing" % source for source, _ in missing]
    return {s: found.get(s.upper()) for s, _ in rows}, problems
