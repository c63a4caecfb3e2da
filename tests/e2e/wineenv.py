"""Wine environment for the end-to-end tests of SETUP.EXE (Python standard library only).

Pieces:
  Display      an Xvfb server on a free display number (one per test module)
  make_template(path, display)
               a Wine prefix of the build's architecture with fonts, font replacements and a 1024x768
               virtual desktop; built once per build tree and copied for each test
  Prefix       a fresh copy of the template in a temp dir, with the installer
               folder mapped as drive D:, a persistent wineserver, and helpers to
               start programs, call uia.exe, press keys, take screenshots and
               compare the drive_c tree before and after
  wait_for     polls a condition with a time bound (tests never sleep blindly)

Paths come from the environment that CMake sets for each ctest test:
  SETUP_E2E_DISK         the installer folder (SETUP.EXE and its files)
  SETUP_E2E_UIA          uia.exe
  SETUP_E2E_TEMPLATE     the prefix template folder
  SETUP_E2E_SCREENSHOTS  where screenshots go
  SETUP_E2E_OBJDUMP      the objdump of the build's toolchain
  SETUP_E2E_ARCH         win32 (the 32-bit build, the default) or win64 (the 64-bit build):
                         the prefix architecture and the Wine loader follow it

Run as a program:
  python3 wineenv.py template [--dpi N] PATH   make the prefix template (idempotent)
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
UIA_OWN_EXIT_CODES = (71, 72, 73)  # uia's own failures: not found, usage, result not written
SERVER_IDLE_SECONDS = 60  # a prefix's wineserver ends by itself after this long without clients
WAIT_SLICE = 2.0  # seconds that one wait inside uia may take before the rig looks again
TEMPLATE_STAMP = "setup-e2e-template.stamp"
TEMPLATE_VERSION = "3"  # bump when the template's settings change

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

def wait_for(condition, timeout, interval=0.1, what="condition"):
    """Polls condition() until it returns a truthy value, which is returned.

    Raises TimeoutError naming `what` when the bound passes; exceptions from the
    condition propagate at once."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TimeoutError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


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
                                  stderr=subprocess.STDOUT, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            raise E2EError("%s still running after %d s" % (" ".join(cmd), timeout)) from None
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
            deadline = time.monotonic() + 20
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
                   start_new_session=True, timeout=30, check=True)


def stop_wineserver(env, timeout=30):
    """Kills every process of the prefix and waits until its wineserver is gone."""
    for args in (["wineserver", "-k"], ["wineserver", "-w"]):
        try:
            subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            pass


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


def make_template(path, display, dpi=None, arch=None):
    """Makes a ready Wine prefix at `path` unless one with the current settings and
    architecture is there.

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
        _run(["wine", "wineboot", "-i"], env, 300)
        fonts = os.path.join(partial, "drive_c", "windows", "Fonts")
        os.makedirs(fonts, exist_ok=True)
        for name in sorted(os.listdir("/usr/share/wine/fonts")):
            if name.lower().endswith(".ttf"):
                shutil.copy2(os.path.join("/usr/share/wine/fonts", name), fonts)
        set_registry(env, REG_SETTINGS)
        if dpi:
            set_registry(env, dpi_reg(dpi))
        # Let the server end by itself so that it writes the registry files.
        subprocess.run(["wineserver", "-w"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    finally:
        stop_wineserver(env)
    with open(os.path.join(partial, TEMPLATE_STAMP), "w") as f:
        f.write(_stamp(arch) + "\n")
    shutil.rmtree(path, ignore_errors=True)
    os.rename(partial, path)
    return True


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
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=60).stdout
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


def icon_kind(shot, rect):
    """Tells the standard message-box icon in a screen box by its dominant colour."""
    red = yellow = blue = 0
    for _, (r, g, b) in shot.pixels_in(*rect):
        if r > 160 and g < 90 and b < 90:
            red += 1
        elif r > 180 and g >= 90 and b < 110:  # orange to yellow triangle
            yellow += 1
        elif b > 150 and r < 120:
            blue += 1
    counts = {"hand": red, "exclamation": yellow, "asterisk": blue}
    best = max(counts, key=counts.get)
    return best if counts[best] >= 20 else "unknown"


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
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError("process still running after %.1f s" % timeout) from None

    @property
    def returncode(self):
        return self.popen.poll()

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
        deadline = time.monotonic() + timeout
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


_shared_display = None


def shared_display():
    """The Xvfb that all tests of one module share (ctest runs each module as its own
    process); made on first use and closed when the interpreter ends."""
    global _shared_display
    if _shared_display is None or _shared_display.proc.poll() is not None:
        _shared_display = Display()
    return _shared_display


class Prefix:
    """A throwaway copy of the template prefix for one test, with its own wineserver.

    Always close() it (or use it as a context manager): that kills every Wine
    process of the prefix and removes the copy, also after a failure."""

    def __init__(self, display=None, template=None, disk=None, dpi=None, screenshots=None, name="test"):
        display = display or shared_display()
        self.display = display
        self.name = name
        self.root = tempfile.mkdtemp(prefix="setup-e2e-")
        self.path = os.path.join(self.root, "prefix")
        self.env = wine_env(self.path, display.name)
        self.processes = []
        self._uia_server = None
        self.uia_exe = os.environ.get("SETUP_E2E_UIA")
        self.screenshot_dir = os.path.join(screenshots or env_path("SETUP_E2E_SCREENSHOTS"), name)
        self._shots = 0
        shutil.rmtree(self.screenshot_dir, ignore_errors=True)  # no pictures from an earlier run
        _open.append(self)
        try:
            template = template or env_path("SETUP_E2E_TEMPLATE")
            if not template_is_ready(template):
                raise E2EError("prefix template %s is missing (the ctest fixture makes it)" % template)
            _run(["cp", "-a", template, self.path], None, 120)
            self.drive_c = os.path.join(self.path, "drive_c")
            self.disk = None
            if disk is not False:
                disk = disk or env_path("SETUP_E2E_DISK")
                if not os.path.isfile(os.path.join(disk, "SETUP.EXE")):
                    raise E2EError("no SETUP.EXE in %s (build the win32 or win64 preset first)" % disk)
                self.disk = self.map_drive("d", disk)
            start_wineserver(self.env)
            if dpi:
                set_registry(self.env, dpi_reg(dpi))
        except BaseException:
            self.close()
            raise

    # -- set-up

    def map_drive(self, letter, source_dir, copy=True):
        """Maps a folder as a drive letter: a copy of it in the test's temp dir, or with
        copy=False the folder itself (for example a size-limited tmpfs)."""
        target = source_dir
        if copy:
            target = os.path.join(self.root, "drive-" + letter)
            shutil.copytree(source_dir, target, symlinks=True)
        dosdevices = os.path.join(self.path, "dosdevices")
        for link in (letter + ":", letter + "::"):
            p = os.path.join(dosdevices, link)
            if os.path.lexists(p):
                os.unlink(p)
        os.symlink(os.path.abspath(target), os.path.join(dosdevices, letter + ":"))
        return target

    # -- programs

    def start(self, windows_exe, cwd=None, args=()):
        """Starts `wine windows_exe` in the background from the Unix folder cwd."""
        log_path = os.path.join(self.root, "wine-%d.log" % len(self.processes))
        log = open(log_path, "wb")
        try:
            popen = subprocess.Popen(["wine", windows_exe] + list(args), env=self.env,
                                     cwd=cwd or self.root, stdin=subprocess.DEVNULL,
                                     stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        finally:
            log.close()
        proc = Process(popen, log_path)
        self.processes.append(proc)
        return proc

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

    def windows(self, visible_only=True):
        ws = self.uia("windows")["windows"]
        return [w for w in ws if w["visible"] or not visible_only]

    def window(self, title):
        """The visible top-level window with that title, or None."""
        for w in self.windows():
            if w["title"] == title:
                return w
        return None

    def _uia_wait(self, command, title, deadline):
        """One bounded wait inside uia, at most WAIT_SLICE long; True when it was met."""
        left = max(0.0, min(deadline - time.monotonic(), WAIT_SLICE))
        return self.uia(command, title, str(int(left * 1000)), timeout=left + 30)["met"]

    def wait_window(self, title, timeout=30, proc=None):
        """Waits for a visible window with that title and returns its facts; fails early if
        proc ends first. uia does the looking; the program is checked between its waits."""
        deadline = time.monotonic() + timeout
        while True:
            if proc is not None and not proc.running():
                raise E2EError("program ended (exit %s) before window %r appeared; log:\n%s"
                               % (proc.returncode, title, proc.log()))
            if self._uia_wait("waitwindow", title, deadline):
                window = self.window(title)
                if window:
                    return window
            if time.monotonic() >= deadline:
                break
        titles = [w["title"] for w in self.windows()]
        shot = self.screenshot("timeout")
        raise TimeoutError("timed out after %.1f s waiting for window %r; visible windows: %r; screen: %s"
                           % (timeout, title, titles, shot.path))

    def wait_window_gone(self, title, timeout=30):
        deadline = time.monotonic() + timeout
        while not self._uia_wait("waitgone", title, deadline):
            if time.monotonic() >= deadline:
                raise TimeoutError("timed out after %.1f s waiting for window %r to close" % (timeout, title))
        return True

    def controls(self, title):
        r = self.uia("controls", title)
        if not r["ok"]:
            raise E2EError("uia controls %r: %s" % (title, r.get("error")))
        return r["controls"]

    def focus(self):
        return self.uia("focus")

    def click(self, window_title, button_text):
        r = self.uia("click", window_title, button_text)
        if not r["ok"]:
            raise E2EError("uia click %r %r: %s" % (window_title, button_text, r.get("error")))
        return r

    def close_window(self, title):
        r = self.uia("close", title)
        if not r["ok"]:
            raise E2EError("uia close %r: %s" % (title, r.get("error")))
        return r

    def set_text(self, window_title, control_id, text):
        return self.uia("settext", window_title, str(control_id), text)

    def dpi(self):
        return self.uia("dpi")

    def message_box(self, title):
        """Title, text, buttons and icon ("hand", "exclamation", "asterisk", "question",
        "none") of the message box with that title. When the icon handle does not
        tell, the icon is told by its colours on screen: a red disc, a yellow
        triangle, or a blue/white bubble."""
        r = self.uia("msgbox", title)
        if not r["ok"]:
            raise E2EError("uia msgbox %r: %s" % (title, r.get("error")))
        if r["has_icon"] and r["icon"] == "other":
            shot = self.screenshot("msgbox")
            r["icon"] = icon_kind(shot, r["icon_rect"])
        return r

    def key(self, *keys):
        """Presses keys (xdotool names: Return, Escape, Tab) into the focused window."""
        _run(["xdotool", "key"] + list(keys), self.env, 30)

    def screenshot(self, label):
        """Saves the whole screen as <screenshots>/<test>/<n>-<label>.png and returns it."""
        os.makedirs(self.screenshot_dir, exist_ok=True)
        self._shots += 1
        path = os.path.join(self.screenshot_dir, "%02d-%s.png" % (self._shots, label))
        _run(["import", "-window", "root", path], self.env, 60)
        return Screenshot(path)

    def drive_c_tree(self):
        return tree_of(self.drive_c)

    # -- tear-down

    def close(self):
        if self in _open:
            _open.remove(self)
        if self._uia_server is not None:
            self._uia_server.close()
        stop_wineserver(self.env)
        for proc in self.processes:
            _end(proc.popen)
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main(argv):
    if len(argv) >= 2 and argv[0] == "template":
        dpi = None
        rest = argv[1:]
        if rest[0] == "--dpi":
            dpi, rest = int(rest[1]), rest[2:]
        path = os.path.abspath(rest[0])
        t0 = time.monotonic()
        if template_is_ready(path):
            print("prefix template ready: %s" % path)
            return 0
        with Display() as display:
            make_template(path, display.name, dpi=dpi)
        print("prefix template made in %.1f s: %s" % (time.monotonic() - t0, path))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
