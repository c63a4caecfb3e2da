"""Wine environment for the end-to-end tests of SETUP.EXE (Python standard library only).

Pieces:
  Display      an Xvfb server on a free display number (one per test module)
  make_template(path, display)
               a Wine prefix of the build's architecture with fonts, font replacements and a 1024x768
               virtual desktop; built once per build tree and copied once per test module
  Prefix       a fresh copy of the template in a temp dir, with the installer
               folder mapped as drive D:, a persistent wineserver and one uia server, and
               helpers to start programs, call uia.exe, press keys and click, take
               screenshots, hold a file open, and compare the drive_c tree before and
               after; reset() puts it back as it was made, so that the cases of a test
               class or module share one prefix
  EventRecorder
               uia recording the accessibility events of the prefix's programs until stopped
  shared_prefix(dpi)
               the prefix that the tests of one module share, made on first use
  wait_for     polls a condition with a time bound (tests never sleep blindly)

Paths come from the environment that CMake sets for each ctest test:
  SETUP_E2E_DISK         the installer folder (SETUP.EXE and its files)
  SETUP_E2E_UIA          uia.exe
  SETUP_E2E_TEMPLATE     the prefix template folder (at 96 DPI; the one at 144 DPI is beside
                         it, with "-144dpi" after its name)
  SETUP_E2E_SCREENSHOTS  where screenshots go
  SETUP_E2E_OBJDUMP      the objdump of the build's toolchain
  SETUP_E2E_ARCH         win32 (the 32-bit build, the default) or win64 (the 64-bit build):
                         the prefix architecture and the Wine loader follow it

Run as a program:
  python3 wineenv.py template PATH   make the prefix templates PATH (96 DPI) and PATH-144dpi
                                     (idempotent)
"""

import atexit
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SCREEN_W, SCREEN_H = 1024, 768
WINE_QUIET = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
}
ARCHES = ("win32", "win64")
# Debian's wine command picks the 32-bit loader whenever wine32 is installed, and that loader
# cannot start on a host that runs 64-bit code only. For 64-bit prefixes this folder, first on
# PATH, holds a wine command that runs the 64-bit loader (the wineserver is 64-bit either way).
WINE64_BIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wine64-bin")
WINE64_LOADER = "/usr/lib/wine/wine64"
UIA_ATTEMPTS = 3  # runs of one uia call that leaves no result before the call fails
UIA_OWN_EXIT_CODES = (71, 72, 73, 74)  # uia's own: not found, usage, result not written, refused
SERVER_IDLE_SECONDS = 60  # a prefix's wineserver ends by itself after this long without clients
WAIT_SLICE = 2.0  # seconds that one wait inside uia may take before the rig looks again
TEMPLATE_STAMP = "setup-e2e-template.stamp"
# In the emulated guest that runs the 32-bit build where the host cannot, everything takes
# several times longer: there every time bound of the rig is multiplied by SETUP_E2E_SLOW.
SLOW = float(os.environ.get("SETUP_E2E_SLOW") or 1)
TEMPLATE_VERSION = "4"  # bump when the template's settings change
HIGH_DPI = 144  # the second template's screen resolution
REGISTRY_FILES = ("system.reg", "user.reg", "userdef.reg")  # where a stopped wineserver keeps the registry
SPARE_DRIVES = "ef"  # drive letters every prefix has, each an empty folder of its own until a test maps it

REG_SETTINGS = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS Sans Serif"="Liberation Sans"
"Arial"="Liberation Sans"
"Times New Roman"="Liberation Serif"
"Courier New"="Liberation Mono"

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="%dx%d"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
""" % (SCREEN_W, SCREEN_H)


class E2EError(Exception):
    pass


# Everything still open when the interpreter ends (a crash in the test runner, or
# SIGTERM from a test timeout) is closed here, so no Xvfb or wineserver outlives us.
_open = []


def _close_all():
    while _open:
        _open.pop().close()


def _on_sigterm(signum, frame):
    raise SystemExit(128 + signum)


atexit.register(_close_all)
if signal.getsignal(signal.SIGTERM) is signal.SIG_DFL:
    signal.signal(signal.SIGTERM, _on_sigterm)


def _start_watchdog():
    """ctest ends a module that runs past its time-out with SIGKILL, which no clean-up survives.
    With SETUP_E2E_BUDGET (seconds, a little under that time-out) set, the module closes its
    Wine processes, displays and folders itself when the budget is spent, and exits."""
    budget = os.environ.get("SETUP_E2E_BUDGET")
    if not budget:
        return

    def fire():
        sys.stderr.write("e2e watchdog: the module ran past its budget of %s s; closing its Wine "
                         "processes and folders\n" % budget)
        sys.stderr.flush()
        try:
            _close_all()
        finally:
            os._exit(124)
    timer = threading.Timer(float(budget), fire)
    timer.daemon = True
    timer.start()


_start_watchdog()


# --------------------------------------------------------------------------- helpers

def deadline_after(seconds):
    """The moment a wait of that many seconds (scaled by SLOW) ends, on the monotonic clock."""
    return time.monotonic() + seconds * SLOW


def wait_for(condition, timeout, interval=0.1, what="condition"):
    """Polls condition() until it returns a truthy value, which is returned.

    Raises TimeoutError naming `what` when the bound passes; exceptions from the
    condition propagate at once."""
    deadline = deadline_after(timeout)
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)  # the step between two looks of this bounded wait


def twips_to_px(twips, dpi):
    """Pixels for a length in twips at a screen resolution, rounded half up."""
    return int(twips * dpi / 1440.0 + 0.5)


def to_windows_path(unix_path):
    """The Windows path of a Unix path through Wine's Z: drive."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def env_path(name):
    value = os.environ.get(name)
    if not value:
        raise E2EError("environment variable %s is not set (run the tests through ctest)" % name)
    return value


def _run(cmd, env, timeout, check=True, cwd=None):
    """Runs a short command with no terminal; returns (exit code, output).

    Output goes through a temp file, never a pipe: a Wine command may start Wine's
    background services, which inherit its descriptors and outlive it, so a pipe
    would never reach end-of-file."""
    with tempfile.TemporaryFile() as out:
        try:
            code = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT, timeout=timeout * SLOW).returncode
        except subprocess.TimeoutExpired:
            raise E2EError("%s still running after %d s" % (" ".join(cmd), timeout * SLOW)) from None
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if check and code != 0:
        raise E2EError("%s failed (%d): %s" % (" ".join(cmd), code, text[-2000:]))
    return code, text


# --------------------------------------------------------------------------- X display

class Display:
    """An Xvfb server on a display number it picks itself (-displayfd)."""

    def __init__(self, width=SCREEN_W, height=SCREEN_H):
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % (width, height),
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        finally:
            os.close(write_fd)
        try:
            number = b""
            deadline = deadline_after(20)
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                    raise E2EError("Xvfb did not report its display number")
                chunk = os.read(read_fd, 64)
                if not chunk:
                    raise E2EError("Xvfb exited at start (code %s)" % self.proc.poll())
                number += chunk
        except BaseException:
            self.close()
            raise
        finally:
            os.close(read_fd)
        self.name = ":" + number.decode().strip()
        _open.append(self)

    def close(self):
        if self in _open:
            _open.remove(self)
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# --------------------------------------------------------------------------- Wine prefix

def build_arch():
    """The architecture of the build under test: SETUP_E2E_ARCH, win32 when unset."""
    arch = os.environ.get("SETUP_E2E_ARCH") or "win32"
    if arch not in ARCHES:
        raise E2EError("SETUP_E2E_ARCH must be win32 or win64, not %r" % arch)
    return arch


def wine_env(prefix, display, arch=None):
    """The environment of every Wine command for a prefix: its architecture, the loader
    that runs it, quiet logging and the display."""
    arch = arch or build_arch()
    env = dict(os.environ)
    env.update(WINE_QUIET)
    env["WINEARCH"] = arch
    env["WINEPREFIX"] = prefix
    env["DISPLAY"] = display
    if arch == "win64":
        env["WINELOADER"] = WINE64_LOADER
        env["PATH"] = WINE64_BIN + os.pathsep + env.get("PATH", os.defpath)
    else:
        env.pop("WINELOADER", None)
    return env


def start_wineserver(env):
    """Starts a wineserver that stays while the test is idle between Wine calls and ends by
    itself a minute after the last one (should the rig be killed before it can end it),
    detached from our descriptors: Wine's background services inherit whatever the server's
    starter holds open, and a held test-runner pipe would keep the runner waiting forever."""
    subprocess.run(["wineserver", "-p%d" % SERVER_IDLE_SECONDS], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   start_new_session=True, timeout=30 * SLOW, check=True)


def stop_wineserver(env, timeout=30):
    """Kills every process of the prefix and waits until its wineserver is gone (and has
    written the registry files)."""
    for args in (["wineserver", "-k"], ["wineserver", "-w"]):
        try:
            subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=timeout * SLOW)
        except subprocess.TimeoutExpired:
            if args[1] == "-w":
                raise E2EError("the wineserver of %s still runs after %d s"
                               % (env.get("WINEPREFIX"), timeout * SLOW)) from None


def set_registry(env, reg_text, timeout=60):
    """Imports REGEDIT4 text into the prefix."""
    fd, path = tempfile.mkstemp(suffix=".reg")
    try:
        with os.fdopen(fd, "w", encoding="ascii", newline="\r\n") as f:
            f.write(reg_text)
        _run(["wine", "reg", "import", to_windows_path(path)], env, timeout)
    finally:
        os.unlink(path)


def dpi_reg(dpi):
    return ("REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"
            "\"LogPixels\"=dword:%08x\n" % dpi)


def _stamp(arch):
    return "%s %s" % (TEMPLATE_VERSION, arch)


def template_is_ready(path, arch=None):
    try:
        with open(os.path.join(path, TEMPLATE_STAMP)) as f:
            return f.read().strip() == _stamp(arch or build_arch())
    except OSError:
        return False


def template_for(dpi=None):
    """The template folder for a screen resolution: SETUP_E2E_TEMPLATE at Wine's default 96 DPI,
    the one beside it at HIGH_DPI."""
    base = env_path("SETUP_E2E_TEMPLATE")
    if dpi in (None, 96):
        return base
    if dpi != HIGH_DPI:
        raise E2EError("there is no prefix template at %s DPI, only at 96 and %d" % (dpi, HIGH_DPI))
    return "%s-%ddpi" % (base, dpi)


def make_template(path, display, dpi=None, arch=None, base=None):
    """Makes a ready Wine prefix at `path` unless one with the current settings and
    architecture is there: from scratch, or as a copy of the ready template `base` with
    the screen resolution `dpi` set.

    Built in a sibling folder and renamed into place, so an interrupted run never
    leaves a half-made template behind."""
    arch = arch or build_arch()
    if template_is_ready(path, arch):
        return False
    partial = path + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    env = wine_env(partial, display, arch)
    try:
        if base:
            _run(["cp", "-a", base, partial], None, 300)
            os.unlink(os.path.join(partial, TEMPLATE_STAMP))
        else:
            _run(["wine", "wineboot", "-i"], env, 300)
            fonts = os.path.join(partial, "drive_c", "windows", "Fonts")
            os.makedirs(fonts, exist_ok=True)
            for name in sorted(os.listdir("/usr/share/wine/fonts")):
                if name.lower().endswith(".ttf"):
                    shutil.copy2(os.path.join("/usr/share/wine/fonts", name), fonts)
            # Without Wine's own fonts the title bars' buttons show letters instead of glyphs.
            if not os.path.exists(os.path.join(fonts, "marlett.ttf")):
                raise E2EError("Wine's own fonts are missing (/usr/share/wine/fonts/marlett.ttf:"
                               " Debian's fonts-wine)")
            set_registry(env, REG_SETTINGS)
        if dpi:
            set_registry(env, dpi_reg(dpi))
        # Let the server end by itself so that it writes the registry files.
        subprocess.run(["wineserver", "-w"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120 * SLOW)
    finally:
        stop_wineserver(env)
    with open(os.path.join(partial, TEMPLATE_STAMP), "w") as f:
        f.write(_stamp(arch) + "\n")
    shutil.rmtree(path, ignore_errors=True)
    os.rename(partial, path)
    return True


def make_templates(path, display):
    """The two templates the tests use: `path` at 96 DPI and, copied from it, the one at
    HIGH_DPI. Returns the paths that were made."""
    made = []
    if make_template(path, display):
        made.append(path)
    high = "%s-%ddpi" % (path, HIGH_DPI)
    if make_template(high, display, dpi=HIGH_DPI, base=path):
        made.append(high)
    return made


def map_drive(prefix_path, letter, folder):
    """Makes `folder` drive `letter` of the prefix at `prefix_path` (a dosdevices link, which
    Wine follows at once; its "::" twin, the raw device, is removed). Returns the folder."""
    dosdevices = os.path.join(prefix_path, "dosdevices")
    for link in (letter + ":", letter + "::"):
        p = os.path.join(dosdevices, link)
        if os.path.lexists(p):
            os.unlink(p)
    os.symlink(os.path.abspath(folder), os.path.join(dosdevices, letter + ":"))
    return folder


def tree_of(root):
    """{relative path: (kind, size, mtime_ns)} for everything under root (links not followed)."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            st = os.lstat(full)
            kind = "dir" if os.path.isdir(full) and not os.path.islink(full) else "file"
            rel = os.path.relpath(full, root)
            tree[rel] = (kind, 0 if kind == "dir" else st.st_size,
                         0 if kind == "dir" else st.st_mtime_ns)
    return tree


# Keys that Wine rewrites by itself whenever a prefix's programs start: its display driver
# records the graphics adapter under the display class.
WINE_OWN_KEYS = ("[System\\\\CurrentControlSet\\\\Control\\\\Class\\\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\\\",)


def registry_diff(before, after):
    """The keys added, removed or changed between two Prefix.registry() readings, but for
    WINE_OWN_KEYS."""
    changes = []
    for k in sorted(set(before) | set(after)):
        if k[1].startswith(WINE_OWN_KEYS):
            continue
        if before.get(k) != after.get(k):
            kind = "added" if k not in before else "removed" if k not in after else "changed"
            changes.append("%s %s %s" % (kind, k[0], k[1]))
    return changes


def tree_diff(before, after):
    """Human-readable list of what was added, removed or changed between two trees."""
    changes = []
    for k in sorted(set(before) | set(after)):
        if k not in before:
            changes.append("added " + k)
        elif k not in after:
            changes.append("removed " + k)
        elif before[k] != after[k]:
            changes.append("changed " + k)
    return changes


class Screenshot:
    """A screenshot as RGB pixels (read through ImageMagick as binary PPM)."""

    def __init__(self, png_path):
        self.path = png_path
        data = subprocess.run(["convert", png_path, "-depth", "8", "ppm:-"], check=True,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=60 * SLOW).stdout
        self.width, self.height, self.pixels = self._parse_ppm(data)

    @staticmethod
    def _parse_ppm(data):
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        pos += 1  # the single whitespace after maxval
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise E2EError("unexpected image format %r" % fields[:4])
        w, h = int(fields[1]), int(fields[2])
        return w, h, data[pos:pos + w * h * 3]

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise IndexError("pixel (%d, %d) outside %dx%d" % (x, y, self.width, self.height))
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def pixels_in(self, left, top, right, bottom):
        """All pixels of the box [left, right) x [top, bottom), clipped to the image."""
        for y in range(max(0, top), min(self.height, bottom)):
            for x in range(max(0, left), min(self.width, right)):
                yield (x, y), self.pixel(x, y)


class Process:
    """A Wine program started in the background."""

    def __init__(self, popen, log_path):
        self.popen = popen
        self.log_path = log_path

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """Waits with a bound for the program to end and returns its exit code."""
        try:
            return self.popen.wait(timeout=timeout * SLOW)
        except subprocess.TimeoutExpired:
            raise TimeoutError("process still running after %.1f s" % timeout) from None

    @property
    def returncode(self):
        return self.popen.poll()

    def stop(self):
        """Ends the program if it still runs."""
        _end(self.popen)

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""


def _end(popen):
    """Kills a process we started if it still runs, and waits a bounded time for it."""
    if popen.poll() is None:
        popen.kill()
    try:
        popen.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


class UiaServer:
    """One uia process per prefix that answers calls over a pipe ("uia serve"), so that a call
    costs a line written and a line read instead of a Wine process started (0.15-0.3 s)."""

    def __init__(self, command, env, cwd):
        """command: the server's command line, ["wine", <uia.exe>, "serve"]."""
        self.log_path = os.path.join(cwd, "uia-serve.log")
        with open(self.log_path, "ab") as log:
            self.popen = subprocess.Popen(command, env=env, cwd=cwd,
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log,
                                          start_new_session=True)
        self.buffer = b""

    def running(self):
        return self.popen.poll() is None

    def call(self, args, timeout):
        """The call's JSON object, or None when the server is gone or gives no answer in time."""
        words = [a.encode("utf-8").hex() or "-" for a in args]
        try:
            self.popen.stdin.write((" ".join(words) + "\n").encode("ascii"))
            self.popen.stdin.flush()
        except OSError:
            return None
        deadline = deadline_after(timeout)
        fd = self.popen.stdout.fileno()
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return None
            chunk = os.read(fd, 65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        try:
            return json.loads(line.decode("ascii"))
        except ValueError:
            return None

    def close(self):
        for stream in (self.popen.stdin, self.popen.stdout):
            try:
                stream.close()
            except OSError:
                pass
        _end(self.popen)


class Holder:
    """hold.exe keeping a file of the prefix open, shared with nobody (or with everybody), until
    release()."""

    def __init__(self, prefix, windows_file, shared=False, timeout=30):
        self.file = windows_file
        work = tempfile.mkdtemp(prefix="hold-", dir=prefix.root)
        ready = os.path.join(work, "ready")
        hold = os.path.join(os.path.dirname(os.path.abspath(env_path("SETUP_E2E_UIA"))), "plant", "hold.exe")
        log_path = os.path.join(work, "hold.log")
        with open(log_path, "wb") as log:
            popen = subprocess.Popen(["wine", hold, windows_file, to_windows_path(ready)] + (["shared"] if shared else []),
                                     env=prefix.env,
                                     cwd=prefix.root, stdin=subprocess.PIPE, stdout=log,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.proc = Process(popen, log_path)
        prefix.processes.append(self.proc)
        wait_for(lambda: os.path.exists(ready) or not self.proc.running(), timeout,
                 what="%s to be held open" % windows_file)
        if not self.proc.running():
            raise E2EError("hold.exe could not hold %s open (exit %s)" % (windows_file, self.proc.returncode))

    def holding(self):
        return self.proc.running()

    def release(self, timeout=30):
        """Lets go of the file and waits for hold.exe to end; returns its exit code (0)."""
        try:
            self.proc.popen.stdin.close()
        except OSError:
            pass
        return self.proc.wait(timeout)


class EventRecorder:
    """uia recording the accessibility events of the prefix's programs, as a screen reader's
    out-of-context hook sees them, from the moment it returns until stop() (at most `bound`
    seconds): each event with the text the system keeps for its window when uia took it, which
    may be a little later than the program raised it."""

    def __init__(self, prefix, bound=180):
        work = tempfile.mkdtemp(prefix="events-", dir=prefix.root)
        self.ready, self.stop_file, self.out = (os.path.join(work, n) for n in ("ready", "stop", "events.json"))
        self.proc = prefix.start(prefix.uia_exe, args=[
            "--out", to_windows_path(self.out), "events", str(int(bound * 1000 * SLOW)),
            to_windows_path(self.ready), to_windows_path(self.stop_file)])
        wait_for(lambda: os.path.exists(self.ready) or not self.proc.running(), 30,
                 what="uia's event hook to be installed")
        if not os.path.exists(self.ready):
            raise E2EError("uia events did not start (exit %s): %s" % (self.proc.returncode, self.proc.log()))

    def stop(self, timeout=30):
        """Ends the recording; returns the events in the order they came."""
        with open(self.stop_file, "wb"):
            pass
        code = self.proc.wait(timeout)
        try:
            with open(self.out, "rb") as f:
                result = json.loads(f.read().decode("ascii"))
        except (OSError, ValueError) as e:
            raise E2EError("uia events left no result (exit %s): %s; %s" % (code, e, self.proc.log())) from None
        if not result.get("stopped"):
            raise E2EError("uia events ran out of time before it was stopped")
        return result["events"]


_shared_display = None


def shared_display():
    """The Xvfb that all tests of one module share (ctest runs each module as its own
    process); made on first use and closed when the interpreter ends."""
    global _shared_display
    if _shared_display is None or _shared_display.proc.poll() is not None:
        _shared_display = Display()
    return _shared_display


_shared_prefixes = {}


def shared_prefix(dpi=None):
    """The prefix that the tests of one module share at a screen resolution, made on first use
    and closed when the interpreter ends. Tests call reset() on it before they use it."""
    p = _shared_prefixes.get(dpi)
    if p is None or p.closed:
        p = _shared_prefixes[dpi] = Prefix(dpi=dpi, name="shared" if dpi is None else "shared-%ddpi" % dpi)
    return p


class Prefix:
    """A throwaway copy of the template prefix with its own wineserver and uia server.

    Always close() it (or use it as a context manager): that kills every Wine
    process of the prefix and removes the copy, also after a failure. reset() brings it back
    to the state it was made in, for the next case."""

    def __init__(self, display=None, template=None, disk=None, dpi=None, screenshots=None, name="test"):
        display = display or shared_display()
        self.display = display
        self.name = name
        self.closed = False
        self.root = tempfile.mkdtemp(prefix="setup-e2e-")
        self.path = os.path.join(self.root, "prefix")
        self.env = wine_env(self.path, display.name)
        self.processes = []
        self._uia_server = None
        self.uia_exe = os.environ.get("SETUP_E2E_UIA")
        self.screenshots = screenshots or env_path("SETUP_E2E_SCREENSHOTS")
        self._shots = 0
        self.set_screenshot_dir(name)
        self.disk_source = None
        self.cache = {}  # facts about the prefix that do not change, for the rig's helpers
        _open.append(self)
        try:
            template = template or template_for(dpi)
            if not template_is_ready(template):
                raise E2EError("prefix template %s is missing (the ctest fixture makes it)" % template)
            _run(["cp", "-a", template, self.path], None, 120)
            self._registry_made = {}
            for name in REGISTRY_FILES:
                with open(os.path.join(self.path, name), "rb") as f:
                    self._registry_made[name] = f.read()
            self.drive_c = os.path.join(self.path, "drive_c")
            self.disk = None
            if disk is not False:
                disk = disk or env_path("SETUP_E2E_DISK")
                if not os.path.isfile(os.path.join(disk, "SETUP.EXE")):
                    raise E2EError("no SETUP.EXE in %s (build the win32 or win64 preset first)" % disk)
                self.disk_source = disk
                self.disk = self.map_drive("d", disk)
            # Wine lists the drives it finds when its first program starts: a drive mapped
            # later can be used by its path but is missing from the drive list. The spare
            # letters are mapped now, to empty folders, for the tests to point elsewhere.
            for letter in SPARE_DRIVES:
                self.new_drive(letter)
            start_wineserver(self.env)
            if self.uia_exe:
                # The uia server is the prefix's first program: Wine's own start-up is over before
                # the state that reset() returns to is taken.
                got = self.dpi()["dpi_x"]
                if got != (dpi or 96):
                    raise E2EError("the prefix from %s has a screen at %s DPI, not %s"
                                   % (template, got, dpi or 96))
            self._drives = sorted(os.listdir(os.path.join(self.path, "dosdevices")))
            self._drive_c_made = self.drive_c_tree()
            self._disk_made = tree_of(self.disk) if self.disk else None
        except BaseException:
            self.close()
            raise

    def set_screenshot_dir(self, name):
        """Screenshots from now on go to <screenshots>/<name>/ (emptied of an earlier run's)."""
        self.screenshot_dir = os.path.join(self.screenshots, name)
        shutil.rmtree(self.screenshot_dir, ignore_errors=True)

    # -- set-up

    def map_drive(self, letter, source_dir, copy=True):
        """Maps a folder as a drive letter: a copy of it in the test's temp dir, or with
        copy=False the folder itself (for example a size-limited tmpfs). In Wine a
        dosdevices link is a drive at once. Returns the folder that is the drive."""
        target = source_dir
        if copy:
            target = os.path.join(self.root, "drive-" + letter)
            shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(source_dir, target, symlinks=True)
        return map_drive(self.path, letter, target)

    def new_drive(self, letter):
        """An empty folder of the test's own, mapped as drive `letter` (one of SPARE_DRIVES for
        a drive that shows in the drive list); returns the folder."""
        folder = os.path.join(self.root, "drive-" + letter)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return self.map_drive(letter, folder, copy=False)

    def reset(self, name=None, registry=False):
        """Puts the prefix back as it was made, for the next case: ends the programs started in
        it, removes whatever was added on drive C:, makes the installer folder a copy of the
        built one again and removes the drives mapped since. Files that Wine itself changes
        on drive C: are left alone. With `registry`, the registry is made the template's
        again too, which restarts the wineserver (about a second): for the cases that read
        the registry, so that no other case's writes are taken for the state before. With
        `name`, screenshots go to a folder of that name."""
        for proc in self.processes:
            proc.stop()
        self.processes = []
        if registry:
            self._stop_server()
            for reg_name, data in self._registry_made.items():
                with open(os.path.join(self.path, reg_name), "wb") as f:
                    f.write(data)
            start_wineserver(self.env)
            self.dpi()
        for rel in sorted(set(self.drive_c_tree()) - set(self._drive_c_made), reverse=True):
            path = os.path.join(self.drive_c, rel)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            elif os.path.lexists(path):
                os.unlink(path)
        dosdevices = os.path.join(self.path, "dosdevices")
        for link in sorted(set(os.listdir(dosdevices)) - set(self._drives)):
            os.unlink(os.path.join(dosdevices, link))
        for letter in SPARE_DRIVES:
            self.new_drive(letter)
        if self.disk:
            if not os.path.isdir(self.disk) or tree_of(self.disk) != self._disk_made:
                self.disk = self.map_drive("d", self.disk_source)
                self._disk_made = tree_of(self.disk)
            elif os.path.realpath(os.path.join(dosdevices, "d:")) != os.path.realpath(self.disk):
                self.disk = self.map_drive("d", self.disk, copy=False)
        if name:
            self.set_screenshot_dir(name)
        return self

    # -- programs

    def start(self, windows_exe, cwd=None, args=(), env=None):
        """Starts `wine windows_exe` in the background from the Unix folder cwd, with the
        prefix's environment or `env`."""
        fd, log_path = tempfile.mkstemp(prefix="wine-", suffix=".log", dir=self.root)
        log = os.fdopen(fd, "wb")
        try:
            popen = subprocess.Popen(["wine", windows_exe] + list(args), env=env or self.env,
                                     cwd=cwd or self.root, stdin=subprocess.DEVNULL,
                                     stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        finally:
            log.close()
        proc = Process(popen, log_path)
        self.processes.append(proc)
        return proc

    def run(self, windows_exe, *args, timeout=60, env=None):
        """Runs a Wine program to its end; returns (exit code, output)."""
        return _run(["wine", windows_exe] + list(args), env or self.env, timeout, check=False,
                    cwd=self.root)

    def record_events(self):
        """An EventRecorder on this prefix, recording until it is stopped."""
        return EventRecorder(self)

    def hold_open(self, windows_file, shared=False):
        """A Holder: hold.exe with the file open and shared with nobody (or, `shared`, with
        everybody, as a scanner or an indexer has it), until released (reset() ends it at the
        latest)."""
        return Holder(self, windows_file, shared)

    def uia(self, *args, timeout=30):
        """Runs a uia call with the arguments and returns its JSON object: through the prefix's
        uia server, or, where that cannot answer, through a uia process of its own."""
        if not self.uia_exe:
            raise E2EError("SETUP_E2E_UIA is not set")
        if self._uia_server is None or not self._uia_server.running():
            self._uia_server = UiaServer(["wine", self.uia_exe, "serve"],
                                         dict(self.env, WINEDEBUG="err+all"), self.root)
        r = self._uia_server.call(args, timeout)
        if r is not None:
            return r
        # The server ended or did not answer, and so did nothing: a process of its own runs the call.
        self._uia_server.close()
        self._uia_server = None
        return self._uia_once(args, timeout)

    def _uia_once(self, args, timeout):
        out = os.path.join(self.root, "uia-out.json")
        # Wine's own errors go into the output, which a failure shows.
        env = dict(self.env, WINEDEBUG="err+all")
        # uia writes its result before it posts a click or a close, so a call that left no
        # result and did not end with one of uia's own codes was not run by Wine at all (it
        # happens now and then) and did nothing: it is made again.
        for attempt in range(UIA_ATTEMPTS):
            if os.path.exists(out):
                os.unlink(out)
            code, text = _run(["wine", self.uia_exe, "--out", to_windows_path(out)] + list(args),
                              env, timeout, check=False, cwd=self.root)
            try:
                with open(out, "rb") as f:
                    return json.loads(f.read().decode("ascii"))
            except (OSError, ValueError) as e:
                failure = "uia %s gave no result (exit %d, attempt %d of %d): %s; output: %s" % (
                    " ".join(args), code, attempt + 1, UIA_ATTEMPTS, e, text[-2000:])
                if code in UIA_OWN_EXIT_CODES:
                    break
        raise E2EError(failure)

    def _uia_ok(self, *args):
        r = self.uia(*args)
        if not r["ok"]:
            raise E2EError("uia %s: %s" % (" ".join(repr(a) for a in args), r.get("error")))
        return r

    def windows(self):
        ws = self.uia("windows")["windows"]
        return [w for w in ws if w["visible"]]

    def titles(self):
        return sorted(w["title"] for w in self.windows())

    def window(self, title):
        """The visible top-level window with that title (or "#handle"), or None."""
        for w in self.windows():
            if w["title"] == title or w["hwnd"] == title:
                return w
        return None

    def _sliced_wait(self, args, deadline):
        """One bounded wait inside uia, at most WAIT_SLICE long; its result."""
        left = max(0.0, min(deadline - time.monotonic(), WAIT_SLICE))
        return self.uia(*args, str(int(left * 1000)), timeout=left + 30)

    def wait_window(self, title, timeout=30, proc=None):
        """Waits for a visible window with that title and returns its facts; fails early if
        proc ends first. uia does the looking; the program is checked between its waits."""
        deadline = deadline_after(timeout)
        while True:
            if proc is not None and not proc.running():
                raise E2EError("program ended (exit %s) before window %r appeared; log:\n%s"
                               % (proc.returncode, title, proc.log()))
            if self._sliced_wait(("waitwindow", title), deadline)["met"]:
                window = self.window(title)
                if window:
                    return window
            if time.monotonic() >= deadline:
                break
        shot = self.screenshot("timeout")
        raise TimeoutError("timed out after %.1f s waiting for window %r; visible windows: %r; screen: %s"
                           % (timeout, title, self.titles(), shot.path))

    def wait_window_gone(self, title, timeout=30):
        deadline = deadline_after(timeout)
        while not self._sliced_wait(("waitgone", title), deadline)["met"]:
            if time.monotonic() >= deadline:
                raise TimeoutError("timed out after %.1f s waiting for window %r to close; visible: %r"
                                   % (timeout, title, self.titles()))
        return True

    def wait_titles(self, titles, timeout=15):
        """Waits until the visible windows have exactly these titles."""
        want = sorted(titles)
        try:
            return wait_for(lambda: self.titles() == want, timeout, what="windows %r" % want)
        except TimeoutError as e:
            raise TimeoutError("%s; visible: %r" % (e, self.titles())) from None

    def wait_focus(self, window, cls=None, text=None, timeout=10):
        """Waits until `window` (a title or "#handle") is in front with the focus on a control
        of that class and text (None: any); returns the focus facts."""
        deadline = deadline_after(timeout)
        while True:
            r = self._sliced_wait(("waitfocus", window, cls or "", "" if text is None else text), deadline)
            if r["met"]:
                return r
            if time.monotonic() >= deadline:
                raise TimeoutError("timed out after %.1f s waiting for the focus on %s %r in %r; focus: %s %r in %r"
                                   % (timeout, cls or "", text, window, r.get("focus_class"),
                                      r.get("focus_text"), r.get("foreground_title")))

    def controls(self, title):
        return self._uia_ok("controls", title)["controls"]

    def buttons(self, title):
        """The visible buttons of a window by their text (without "&" marks)."""
        return {c["text"].replace("&", ""): c for c in self.controls(title)
                if c["class"] == "Button" and c["visible"]}

    def click(self, window_title, button_text):
        """Presses a button as a click on it would: refused, and so a failure, when the button
        is disabled or hidden."""
        return self._uia_ok("click", window_title, button_text)

    def close_window(self, title):
        """The window's close box (its system menu's Close)."""
        return self._uia_ok("close", title)

    def post_close(self, title):
        """WM_CLOSE posted to the window, as a task manager or another program closes it; a
        disabled window gets it too."""
        return self._uia_ok("postclose", title)

    def set_text(self, window_title, control_id, text):
        """Sets an edit control's text directly, for text that keys cannot type. The text reaches
        Wine through a pipe as UTF-8, whatever the locale."""
        return self._uia_ok("settext", window_title, str(control_id), text)

    def dpi(self):
        return self.uia("dpi")

    def message_box(self, title, timeout=10):
        """Title, text, buttons and icon ("hand", "exclamation", "asterisk", "question",
        "none") of the message box with that title or handle, once its icon is on the screen."""
        def painted():
            r = self._uia_ok("msgbox", title)
            return r if not r["has_icon"] or r["icon"] != "unknown" else None
        return wait_for(painted, timeout, what="the icon of message box %r on the screen" % title)

    # -- the user's keyboard and mouse

    def xdotool(self, *args):
        """One xdotool command on the prefix's display: its steps (key, type, mousemove,
        click, ...) follow one another at once."""
        _run(["xdotool"] + [str(a) for a in args], self.env, 60)

    def key(self, *keys):
        """Presses keys (xdotool names: Return, Escape, Tab) into the focused window."""
        self.xdotool("key", *keys)

    def type_text(self, text):
        """Types text into the focused window with real key events."""
        self.xdotool("type", "--delay", "10", text)

    def click_at(self, x, y):
        """A real left click at a screen point."""
        self.xdotool("mousemove", x, y, "click", "1")

    def mouse_click(self, window, button_text):
        """A real left click in the middle of a visible button of a window."""
        b = self.buttons(window).get(button_text)
        if not b:
            raise E2EError("no button %r on %r" % (button_text, window))
        left, top, right, bottom = b["rect"]
        self.click_at((left + right) // 2, (top + bottom) // 2)
        return b

    def drag(self, x, y, dx, dy):
        """Presses the left button at (x, y), moves by (dx, dy) in two steps and lets go."""
        self.xdotool("mousemove", x, y, "mousedown", "1", "mousemove", x + dx // 2, y + dy // 2,
                     "mousemove", x + dx, y + dy, "mouseup", "1")

    # -- the screen

    def screenshot(self, label):
        """Saves the whole screen as <screenshots>/<test>/<n>-<label>.png and returns it."""
        os.makedirs(self.screenshot_dir, exist_ok=True)
        self._shots += 1
        path = os.path.join(self.screenshot_dir, "%02d-%s.png" % (self._shots, label))
        _run(["import", "-window", "root", path], self.env, 60)
        return Screenshot(path)

    def screenshot_when(self, label, shows, timeout=15, what=None):
        """A screenshot taken once the screen shows what `shows(shot)` looks for: a window
        paints a moment after it appears, so a picture taken at once may not show it yet."""
        return wait_for(lambda: (lambda s: s if shows(s) else None)(self.screenshot(label)), timeout,
                        interval=0.2, what=what or "the screen for %r" % label)

    def drive_c_tree(self):
        return tree_of(self.drive_c)

    def registry(self):
        """The prefix's whole registry as Wine keeps it on disk: {(file, key): value lines},
        without the times Wine stamps on keys. The wineserver writes its files when it ends,
        so every program of the prefix is ended first, and the server started again after."""
        self._stop_server()
        keys = {}
        for name in REGISTRY_FILES:
            key = None
            with open(os.path.join(self.path, name), encoding="utf-8", errors="replace") as f:
                for line in f:
                    line = line.rstrip("\n")
                    if line.startswith("["):
                        key = (name, line[:line.rindex("]") + 1])
                        keys[key] = []
                    elif key and line and not line.startswith("#time="):
                        keys[key].append(line)
        start_wineserver(self.env)
        self.dpi()
        return {k: tuple(v) for k, v in keys.items()}

    def restart(self):
        """Ends every program of the prefix and its wineserver and starts them again, as a new
        logon does: what Wine takes from the settings once a session (the colour scheme) is
        read afresh."""
        self._stop_server()
        start_wineserver(self.env)
        self.dpi()

    def _stop_server(self):
        """Ends every program of the prefix and its wineserver, which writes the registry files."""
        for proc in self.processes:
            proc.stop()
        if self._uia_server is not None:
            self._uia_server.close()
            self._uia_server = None
        stop_wineserver(self.env)

    # -- tear-down

    def close(self):
        self.closed = True
        if self in _open:
            _open.remove(self)
        if self._uia_server is not None:
            self._uia_server.close()
        try:
            stop_wineserver(self.env)
        except E2EError as e:  # the rest is cleaned up all the same
            sys.stderr.write("e2e: %s\n" % e)
        for proc in self.processes:
            _end(proc.popen)
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main(argv):
    if len(argv) == 2 and argv[0] == "template":
        path = os.path.abspath(argv[1])
        t0 = time.monotonic()
        with Display() as display:
            made = make_templates(path, display.name)
        for p in made:
            print("prefix template made: %s" % p)
        print("prefix templates ready in %.1f s: %s and its %d-DPI twin" % (time.monotonic() - t0, path, HIGH_DPI))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
