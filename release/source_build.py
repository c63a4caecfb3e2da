"""The installer folder built from the commit alone, for the release and for --verify: the
commit's files (`git archive`), with --allow-dirty the working tree's changes laid on top (what
git lists: changed and new files, deleted ones removed, nothing it ignores and nothing of the
release's own output folder), in build/from-commit/src/, built there with the preset.

That one tree is reused by every later run, which is what keeps a second release or --verify
(or the release of the next commit) from building everything again. That is safe because
before every build the tree is made to hold exactly those files (a file whose bytes differ is
written again, so the build sees it newer; anything else is removed), the command alone
configures its build folder, and configures it afresh (no cached value kept) when a CMake file
changed or the cache is not the one it wrote; the build records no path of its own (see
CMakeLists.txt), so the tree's place is in no byte. The build tree of the checkout
(build/<preset>/), which anyone may configure by hand, is never used."""

import hashlib
import os
import subprocess
import tarfile

from sources import ROOT, SourceError

WORK = os.path.join(ROOT, "build", "from-commit")
TARGETS = ("setup", "stkit432", "payload")


def _git(*args):
    return subprocess.run(["git", "-C", ROOT] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=True).stdout


def wanted_files(commit, overlay=False, leave_out=()):
    """{path: (bytes, executable)}: the commit's files, with `overlay` the working tree's changes
    on them; paths under the folders in `leave_out` (absolute) are not taken from the tree."""
    files = {}
    archive = subprocess.Popen(["git", "-C", ROOT, "archive", "--format=tar", commit], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE)
    with tarfile.open(fileobj=archive.stdout, mode="r|") as tar:
        for member in tar:
            if member.issym() or member.islnk():
                raise SourceError("%s: a link in commit %s, which the release does not follow" % (member.name, commit))
            if member.isfile():
                files[member.name] = (tar.extractfile(member).read(), bool(member.mode & 0o111))
    if archive.wait() != 0:
        raise SourceError("git archive %s failed" % commit)
    if overlay:
        skip = [os.path.relpath(p, ROOT) + os.sep for p in leave_out
                if not os.path.relpath(p, ROOT).startswith("..")]
        for path in _git("ls-files", "-z", "--deleted").decode().split("\0"):
            files.pop(path, None)
        for path in _git("ls-files", "-z", "--cached", "--others", "--exclude-standard").decode().split("\0"):
            full = os.path.join(ROOT, path)
            if path and not any((path + os.sep).startswith(s) for s in skip) and os.path.isfile(full) \
                    and not os.path.islink(full):
                with open(full, "rb") as f:
                    files[path] = (f.read(), bool(os.stat(full).st_mode & 0o111))
    return files


def folder_files(leave_out=()):
    """{path: (bytes, executable)} of the source folder outside a git checkout: every file but
    those under build/ and the folders in `leave_out`."""
    files, skip = {}, {os.path.realpath(p) for p in leave_out} | {os.path.join(ROOT, "build")}
    for here, dirs, names in os.walk(ROOT):
        dirs[:] = [d for d in dirs if os.path.realpath(os.path.join(here, d)) not in skip
                   and not os.path.islink(os.path.join(here, d))]
        for name in names:
            full = os.path.join(here, name)
            if not os.path.islink(full):
                with open(full, "rb") as f:
                    files[os.path.relpath(full, ROOT)] = (f.read(), bool(os.stat(full).st_mode & 0o111))
    return files


def sync(files, src):
    """Makes `src` (its build/ aside) hold exactly `files`; returns the paths it changed."""
    changed = []
    for path, (data, executable) in sorted(files.items()):
        full = os.path.join(src, path)
        mode = 0o755 if executable else 0o644
        if os.path.isfile(full) and not os.path.islink(full) and os.stat(full).st_mode & 0o777 == mode:
            with open(full, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full + ".new", "wb") as f:
            f.write(data)
        os.chmod(full + ".new", mode)
        os.replace(full + ".new", full)
        changed.append(path)
    folders = []
    for here, dirs, names in os.walk(src):
        if here == src and "build" in dirs:
            dirs.remove("build")
        folders.append(here)
        for name in names + [d for d in dirs if os.path.islink(os.path.join(here, d))]:
            path = os.path.relpath(os.path.join(here, name), src)
            if path not in files:
                os.unlink(os.path.join(here, name))
                changed.append(path)
    for here in reversed(folders[1:]):
        if not os.listdir(here):
            os.rmdir(here)
    return changed


def _cache_stamp(build_dir):
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt"), "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def build(commit, preset, overlay=False, leave_out=()):
    """The built installer folder of `commit` (with the working tree's changes when `overlay`;
    None: the source folder outside a git checkout) and its build folder, as (disk, build
    dir); SourceError when the build fails."""
    work = WORK
    src = os.path.join(work, "src")
    os.makedirs(src, exist_ok=True)
    files = wanted_files(commit, overlay, leave_out) if commit else folder_files(leave_out)
    changed = sync(files, src)
    build_dir = os.path.join(src, "build", preset)
    stamp_file = os.path.join(work, preset + ".cache")
    stamp = open(stamp_file).read() if os.path.isfile(stamp_file) else None
    fresh = (not os.path.isfile(os.path.join(build_dir, "build.ninja")) or stamp != _cache_stamp(build_dir)
             or any(os.path.basename(p) in ("CMakeLists.txt", "CMakePresets.json") or p.endswith(".cmake")
                    for p in changed))
    log = os.path.join(work, preset + ".log")
    with open(log, "w") as f:
        steps = ([["cmake", "--preset", preset, "--fresh"]] if fresh else []) + [
            ["cmake", "--build", "--preset", preset, "--target"] + list(TARGETS)]
        for cmd in steps:
            if subprocess.run(cmd, cwd=src, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT).returncode:
                raise SourceError("the build of %s failed: see %s" % ((commit or "the source folder")[:12], log))
    with open(stamp_file, "w") as f:
        f.write(_cache_stamp(build_dir) or "")
    return os.path.join(build_dir, "disk"), build_dir
