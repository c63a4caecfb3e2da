"""Drives SETUP.EXE under Wine as a user does, for the end-to-end tests (Python standard
library only), on top of wineenv.py. Each helper is written here once.

  MANIFEST       the twenty rows: source name, destination name, whether it goes to DATA
  Session        one SETUP.EXE run in a Prefix: the welcome page, the destination page and
                 its folder chooser (by keys, clicks or the mouse), the copy run, and every
                 message box up to the end of the process, each kept with the screen
  RigCase        a TestCase with the module's shared prefix, reset for each case, and the
                 checks of what an installation leaves: the copied rows, the link, and the
                 one rule that nothing is written outside the destination and the link
  geometry       twips boxes to screen boxes, dark pixels, windows of a snapshot
  slow source    SETUP.EXE's reads of its payload slowed, so that its copy run lasts long
                 enough to be seen on any machine
  capture_wizard every window of one run with its snapshot and a painted screenshot

The folders beside the installer folder (SETUP_E2E_DISK) hold tools/ and
stkit-variants/; their paths are derived from it.
"""

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

import wineenv as we

PRODUCT = "Quorvant '99"
WELCOME = "Welcome"
DESTINATION = "Choose Destination Location"
CHOOSER = "Choose Directory"
COPYING = "Copying Files ..."
BACKDROP = "Setup Wizard"
FRAME = "Destination Directory"
DEFAULT_DEST = "C:\\Program Files\\Quorvant '99"
LINK_NAME = PRODUCT + ".lnk"
TEAL = (0, 128, 128)
DARK_RED = (128, 0, 0)

SUCCESS = ("Setup", "Quorvant '99 Installation Complete!", "exclamation")
FAILED = ("Setup", "Setup Failed Due To An Error!", "exclamation")
SHORTCUT_FAILED = [("Shortcut Error", "There was an error creating shortcuts.", "hand"),
                   ("Setup Error", "Quorvant '99 was unsuccessfully installed.", "hand")]
MESSAGE_TITLES = {"Setup", "Shortcut Error", "Setup Error"}
# How SETUP.EXE ends: installed (the completion message was shown), failed (any other final
# message), or left by the user before the copy run, with nothing written.
EXIT_INSTALLED, EXIT_FAILED, EXIT_CANCELLED = 0, 1, 2

# (source name in the installer folder, destination name, lands in DATA)
MANIFEST = [
    ("LICENSE.TX_", "LICENSE.TXT", True),
    ("README.TXT", "README.TXT", False),
    ("BLANKER.BM_", "BLANKER.BMP", True),
    ("APPLAUSE.WA_", "APPLAUSE.WAV", True),
    ("UHOH.WA_", "UHOH.WAV", True),
    ("MSVBVM50.DLL", "MSVBVM50.DLL", False),
    ("STDOLE2.TL_", "STDOLE2.TLB", False),
    ("QV99.EX_", "QV99.EXE", False),
    ("QV99.HL_", "QV99.HLP", True),
    ("CUSTOMER.XL_", "CUSTOMER.XLS", True),
    ("CUSTOMER.CS_", "CUSTOMER.CSV", True),
    ("INVENT.XL_", "INVENT.XLS", True),
    ("INVENT.CS_", "INVENT.CSV", True),
    ("SUPPLIER.XL_", "SUPPLIER.XLS", True),
    ("SUPPLIER.CS_", "SUPPLIER.CSV", True),
    ("COMDLG32.OC_", "COMDLG32.OCX", False),
    ("MCI32.OC_", "MCI32.OCX", False),
    ("THREED32.OC_", "THREED32.OCX", False),
    ("GRID32.OC_", "GRID32.OCX", False),
    ("TABCTL32.OC_", "TABCTL32.OCX", False),
]
ALL_ROWS = range(1, len(MANIFEST) + 1)

STEP_TIMEOUT = 30     # any one window to come or go
RUN_TIMEOUT = 90      # the copy run up to its first message box


# --------------------------------------------------------------------------- paths

def disk_dir():
    return we.env_path("SETUP_E2E_DISK")


def build_dir():
    return os.path.dirname(os.path.abspath(disk_dir()))


def tool(name):
    return os.path.join(build_dir(), "tools", name)


def stkit_variant(name):
    """STKIT432.DLL of a misbehaving test build: fail, nonzero, noentry or helper."""
    return os.path.join(build_dir(), "stkit-variants", name, "STKIT432.DLL")


def plant_dir():
    """The planted stand-in libraries and hold.exe, beside uia.exe."""
    return os.path.join(os.path.dirname(os.path.abspath(we.env_path("SETUP_E2E_UIA"))), "plant")


def row_path(dest_unix, row):
    """Where a manifest row's copy lands under a destination folder (Unix path)."""
    _, dest_name, in_data = row
    return os.path.join(dest_unix, "DATA", dest_name) if in_data else os.path.join(dest_unix, dest_name)


def unix_path(prefix, windows_path):
    """Unix path of a C: path inside the prefix."""
    if not windows_path[:3].upper() == "C:\\":
        raise we.E2EError("not a C: path: %r" % windows_path)
    return os.path.join(prefix.drive_c, *[p for p in windows_path[3:].split("\\") if p])


def c_relative(prefix, windows_path):
    """A C: path as drive_c-relative Unix path, as tree_diff names it."""
    return os.path.relpath(unix_path(prefix, windows_path), prefix.drive_c)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# --------------------------------------------------------------------------- the link

def programs_folders(prefix):
    """The Start menu Programs folders of the prefix, as Windows paths: every user's (where the
    link of an installation for all users belongs) and the current user's."""
    if "programs" not in prefix.cache:
        code, out = prefix.run(tool("lnkinfo.exe"), "--programs")
        lines = [l.strip() for l in out.strip().splitlines()[-2:]]
        if code != 0 or len(lines) != 2:
            raise we.E2EError("lnkinfo --programs failed (%d): %s" % (code, out))
        prefix.cache["programs"] = tuple(lines)
    return prefix.cache["programs"]


def programs_folder(prefix):
    """Every user's Start menu Programs folder, where the installation's link belongs."""
    return programs_folders(prefix)[0]


def link_path(prefix):
    """The Windows path where the installation's link belongs."""
    return programs_folder(prefix) + "\\" + LINK_NAME


def read_link(prefix, windows_path=None):
    """The link's target, arguments, workingDirectory, description, iconLocation."""
    windows_path = windows_path or link_path(prefix)
    code, out = prefix.run(tool("lnkinfo.exe"), windows_path)
    if code != 0:
        raise we.E2EError("lnkinfo %s failed (%d): %s" % (windows_path, code, out))
    return json.loads(out[out.index("{"):out.rindex("}") + 1])


# --------------------------------------------------------------------------- geometry and pixels

def rel_rect(rect, origin):
    """(left, top, width, height) of a screen rect relative to an origin."""
    return (rect[0] - origin[0], rect[1] - origin[1], rect[2] - rect[0], rect[3] - rect[1])


def near(got, want):
    """Two boxes (or points) alike to within a pixel in every number."""
    return all(abs(g - e) <= 1 for g, e in zip(got, want))


def window_in(snapshot, title):
    """The visible window with that title in a uia snapshot, or None."""
    for w in snapshot["windows"]:
        if w["visible"] and w["title"] == title:
            return w
    return None


def dark_pixels(shot, rect):
    l, t, r, b = rect
    return sum(1 for _, rgb in shot.pixels_in(l, t, r, b) if max(rgb) < 100)


def painted_shot(prefix, title, label, also=None, timeout=15):
    """A screenshot taken once the window `title` has drawn the caption of every button and
    label it has (and `also(shot)` holds, for other windows painted with it): a window
    paints a moment after it appears, and a label in a frame after the frame."""
    def texts():
        found = [c["rect"] for c in prefix.controls(title)
                 if c["visible"] and c["enabled"] and c["class"] in ("Button", "Static") and c["text"].strip()]
        return found or None
    rects = we.wait_for(texts, timeout, what="the buttons and labels of %r" % title)
    return prefix.screenshot_when(
        label, lambda s: all(dark_pixels(s, r) > 10 for r in rects) and (also is None or also(s)),
        timeout, what="%r painted" % title)


def backdrop_painted(prefix):
    """A test of a screenshot: the backdrop shows its teal and its white title."""
    b = prefix.window(BACKDROP)
    cl, ct, cr, cb = b["client"]

    def shows(shot):
        return (shot.pixel(cl + 10, cb - 10) == TEAL
                and sum(1 for _, rgb in shot.pixels_in(cl, ct, cl + 300, ct + 80) if min(rgb) >= 240) > 100)
    return shows


def centred(window, dpi, screen):
    """Where centring puts a window, Top then Left computed in twips: (left, top) in pixels."""
    to_tw = 1440.0 / dpi
    left, top, right, bottom = window["rect"]
    return (we.twips_to_px(screen[0] * to_tw / 2 - (right - left) * to_tw / 2, dpi),
            we.twips_to_px(screen[1] * to_tw / 2 - (bottom - top) * to_tw / 2, dpi))


# --------------------------------------------------------------------------- one run

class Message:
    """A message box as the user saw it, with the screen at that moment."""

    def __init__(self, facts, snapshot, shot):
        self.title = facts["window"]["title"]
        self.text = facts["text"]
        self.icon = facts["icon"]
        self.buttons = facts["buttons"]
        self.rect = facts["window"]["rect"]
        self.snapshot = snapshot
        self.shot = shot

    def key(self):
        return (self.title, self.text, self.icon)

    def window(self, title):
        return window_in(self.snapshot, title)

    def __repr__(self):
        return "Message%r" % (self.key(),)


class Session:
    """One SETUP.EXE run in `prefix`, started from the Unix folder `cwd` (default the
    prefix's C:\\windows, as from a shortcut elsewhere); `exe` is its Windows path."""

    def __init__(self, prefix, cwd=None, exe="D:\\SETUP.EXE", env=None):
        self.p = prefix
        self.drive_c_before = prefix.drive_c_tree()
        # The installer folder is whatever drive D: is now: a case may have mapped another.
        d = os.path.join(prefix.path, "dosdevices", "d:")
        self.disk = os.path.realpath(d) if os.path.lexists(d) else None
        self.disk_before = we.tree_of(self.disk) if self.disk else None
        self.proc = prefix.start(exe, cwd=cwd or os.path.join(prefix.drive_c, "windows"), env=env)
        self.messages = []
        self.exit_code = None

    # -- the wizard

    def wait_welcome(self):
        """Returns once the welcome page is up with the focus on Next >."""
        self.p.wait_window(WELCOME, timeout=40, proc=self.proc)
        self.p.wait_focus(WELCOME, "Button", "Next >")

    def to_destination(self, by_key=True):
        """Next > on the welcome page (Enter, or a click on it); returns once the destination
        page has the focus on its Next >."""
        self.wait_welcome()
        if by_key:
            self.p.key("Return")
        else:
            self.p.click(WELCOME, "Next >")
        self.p.wait_window(DESTINATION, timeout=STEP_TIMEOUT, proc=self.proc)
        self.p.wait_focus(DESTINATION, "Button", "Next >")

    def destination_label(self):
        """The destination page's folder: the one label in its frame."""
        controls = self.p.controls(DESTINATION)
        frames = [c["hwnd"] for c in controls if c["class"] == "RtFrame" and c["text"] == FRAME]
        labels = [c for c in controls if c["class"] == "Static" and c["parent"] in frames]
        if len(labels) != 1:
            raise we.E2EError("expected one label in the frame %r, found %r" % (FRAME, labels))
        return labels[0]["text"]

    def wait_label(self, text, timeout=10):
        return self._wait_text(self.destination_label, text, "the destination page's folder", timeout)

    def _wait_text(self, read, text, what, timeout):
        """Waits until read() gives `text`; the failure says what it gave instead."""
        try:
            return we.wait_for(lambda: read() == text, timeout, what="%s to read %r" % (what, text))
        except TimeoutError as e:
            raise TimeoutError("%s; it reads %r" % (e, read())) from None

    def chooser_control(self, cls):
        found = [c for c in self.p.controls(CHOOSER) if c["class"] == cls]
        if len(found) != 1:
            raise we.E2EError("expected one %s in the chooser, found %d" % (cls, len(found)))
        return found[0]

    def chooser_text(self):
        return self.chooser_control("Edit")["text"]

    def wait_chooser_text(self, text, timeout=10):
        return self._wait_text(self.chooser_text, text, "the chooser's text box", timeout)

    def open_chooser(self, how="mouse"):
        """Browse on the destination page: a real mouse click, the keyboard (Tab to it from
        Next >, then Space) or a click through uia; returns once the chooser is up with the
        focus in its text box."""
        if how == "keys":
            self.p.wait_focus(DESTINATION, "Button", "Next >")
            self.p.key("Tab", "Tab", "Tab")
            self.p.wait_focus(DESTINATION, "Button", "Browse")
            self.p.key("space")
        elif how == "mouse":
            self.p.wait_focus(DESTINATION)
            self.p.mouse_click(DESTINATION, "Browse")
        else:
            self.p.click(DESTINATION, "Browse")
        self.p.wait_window(CHOOSER, timeout=STEP_TIMEOUT, proc=self.proc)
        self.p.wait_focus(CHOOSER, "Edit")

    def enter_folder(self, folder, typed=True):
        """Puts `folder` into the chooser's text box, which has the focus with its whole text
        selected: typed with real keys, or set through the control where keys cannot make the
        text (an empty box, a control character, characters outside the keyboard layout)."""
        if typed:
            self.p.type_text(folder)
        else:
            self.p.set_text(CHOOSER, self.chooser_control("Edit")["id"], folder)
        self.wait_chooser_text(folder)

    def choose(self, folder, typed=True, how="mouse"):
        """Browse, the folder into the text box, Enter (the chooser's OK); returns once the
        destination page shows the folder, with the focus on its default button."""
        self.open_chooser(how)
        self.enter_folder(folder, typed)
        self.p.key("Return")
        self.p.wait_window_gone(CHOOSER, timeout=STEP_TIMEOUT)
        self.wait_label(folder)
        self.p.wait_focus(DESTINATION, "Button", "Next >")

    def start_copy(self, by_key=True):
        """Next > on the destination page: Enter while it has the focus, else a real click."""
        if by_key:
            self.p.wait_focus(DESTINATION, "Button", "Next >")
            self.p.key("Return")
        else:
            self.p.wait_focus(DESTINATION)
            self.p.mouse_click(DESTINATION, "Next >")

    def message(self, timeout=STEP_TIMEOUT):
        """The facts of the next message box (see Prefix.message_box); fails when SETUP.EXE
        ends without one."""
        box = self.next_message(timeout)
        if box == "ended":
            raise we.E2EError("SETUP.EXE ended (exit %s) without a message box; log:\n%s"
                              % (self.proc.returncode, self.proc.log()))
        return self.p.message_box(box["hwnd"])

    def answer(self, facts):
        """Enter on a message box once it has the focus; returns once it has gone."""
        hwnd = facts["window"]["hwnd"]
        self.p.wait_focus(hwnd)
        self.p.key("Return")
        self.p.wait_window_gone(hwnd, timeout=STEP_TIMEOUT)

    def refusal(self):
        """Next > on the destination page for a folder it refuses: returns the message box's
        facts and the titles on screen with it, then answers it and waits until the page is
        in front again."""
        self.p.click(DESTINATION, "Next >")
        facts = self.message()
        titles = self.p.titles()
        self.answer(facts)
        self.p.wait_focus(DESTINATION)
        return facts, titles

    # -- the end of the run

    def next_message(self, timeout, gone=()):
        """The next message box (its facts from the window list) or "ended"; uia does the
        looking, the program is checked between its waits."""
        deadline = we.deadline_after(timeout)
        while True:
            if not self.proc.running():
                return "ended"
            left = max(0.0, min(deadline - time.monotonic(), we.WAIT_SLICE))
            r = self.p.uia("waitdialog", str(int(left * 1000)), ",".join(gone) or "-",
                           *sorted(MESSAGE_TITLES), timeout=left + 30)
            if r["met"]:
                w = self.p.window(r["window"])
                if w:
                    return w
            if time.monotonic() >= deadline:
                break
        shot = self.p.screenshot("no-message")
        raise TimeoutError("timed out after %.1f s waiting for a message box or the end of SETUP.EXE;"
                           " visible windows: %r; screen: %s" % (timeout, self.p.titles(), shot.path))

    def finish(self, max_messages=4, drag_first=False, before_answer=None, screen=None):
        """Reads every message box until SETUP.EXE ends, answering each with Enter once it
        has the focus; returns the list of Messages. With drag_first, the first box is
        dragged down by its title bar before the screen is taken, so the copy window's
        gauge shows whole. before_answer(index, window) runs before each box is answered.
        With `screen` each Message keeps a screenshot: taken at once (True), or once
        screen(snapshot)(shot) holds, for what paints after the box (say a window the drag
        uncovered)."""
        seen = []
        timeout = RUN_TIMEOUT
        while True:
            w = self.next_message(timeout, gone=seen)
            if w == "ended":
                break
            if len(seen) >= max_messages:
                raise we.E2EError("more than %d message boxes: %r" % (max_messages, self.messages))
            hwnd = w["hwnd"]
            self.p.wait_focus(hwnd)
            if drag_first and not seen:
                self.drag_down(w)
            facts = self.p.message_box(hwnd)
            snapshot = self.p.uia("snapshot")
            shot = None
            if screen is True:
                shot = self.p.screenshot("message-%d" % (len(seen) + 1))
            elif screen:
                shot = self.p.screenshot_when("message-%d" % (len(seen) + 1), screen(snapshot))
            self.messages.append(Message(facts, snapshot, shot))
            if before_answer:
                before_answer(len(seen), w)
            self.p.key("Return")
            seen.append(hwnd)
            self.p.wait_window_gone(hwnd, timeout=STEP_TIMEOUT)
            timeout = STEP_TIMEOUT
        self.exit_code = self.proc.wait(STEP_TIMEOUT)
        # Whatever the case looks at, the exit code must say what the user was told.
        if not self.messages:
            raise AssertionError("SETUP.EXE ended (exit %s) without a message box" % self.exit_code)
        want = EXIT_INSTALLED if self.messages[-1].key() == SUCCESS else EXIT_FAILED
        if self.exit_code != want:
            raise AssertionError("SETUP.EXE ended with exit code %s after %r; expected %d"
                                 % (self.exit_code, self.message_keys(), want))
        return self.messages

    def drag_down(self, w, by=170):
        """Drags a window by its title bar, as a user moves a box out of the way; returns once
        it has moved, or once the window or the program has gone."""
        left, top, right, _ = w["rect"]
        self.p.drag((left + right) // 2, w["client"][1] - 8, 0, by)

        def moved_or_gone():
            now = self.p.window(w["hwnd"]) if self.proc.running() else None
            return now is None or now["rect"][1] > top + by // 2
        we.wait_for(moved_or_gone, 10, what="%r to move" % w["title"])

    def close_box(self, title):
        """The screen point of a visible window's close box, where no other window covers it."""
        w = self.p.window(title)
        r = self.p.uia("closebox", w["hwnd"]) if w else {"ok": False}
        if not r["ok"] or r["top"] != w["hwnd"]:
            raise we.E2EError("%r shows no uncovered close box: %r; windows: %r" % (
                title, r, [(v["hwnd"], v["title"], v["rect"]) for v in self.p.windows()]))
        return tuple(r["point"])

    def close_requests(self, front, others, requests):
        """Gives each window of `others` (titles) the close `requests`, in order: "click" a real
        click on its close box, "post" WM_CLOSE posted, "syscommand" SC_CLOSE posted; then
        moves the window `front` (a title or "#handle") by its title bar. A program handles
        posted messages before input, and input in order, so once the move is seen (or the
        program or `front` has gone) every request has been handled."""
        for title in others:
            for how in requests:
                if how == "click":
                    self.p.click_at(*self.close_box(title))
                elif how == "post":
                    self.p.post_close(title)
                else:
                    self.p.close_window(title)
        w = self.p.window(front)  # a uia call: the requests posted above are out
        if w is None:
            raise we.E2EError("no visible window %r" % front)
        self.drag_down(w, by=40)

    def stop(self):
        """Ends SETUP.EXE if it still runs (after a failed step of a test)."""
        self.proc.stop()

    # -- what it did

    def message_keys(self):
        return [m.key() for m in self.messages]

    def drive_c_changes(self):
        return we.tree_diff(self.drive_c_before, self.p.drive_c_tree())

    def disk_changes(self):
        return we.tree_diff(self.disk_before, we.tree_of(self.disk))

    def links_made(self):
        """drive_c-relative paths of the shell links added or rewritten by this run."""
        return [k.split(" ", 1)[1] for k in self.drive_c_changes()
                if k.lower().endswith(".lnk") and not k.startswith("removed ")]

    def changes_outside(self, dest=None):
        """Every change on drive C: but those an installation may make: files and folders
        added or rewritten in the destination `dest` (a C: path; None for one on another
        drive), and the link with the folders on the way to it. The one rule for "writes
        nothing else"."""
        link = c_relative(self.p, link_path(self.p))
        dest_rel = c_relative(self.p, dest) if dest else None
        stray = []
        for change in self.drive_c_changes():
            kind, path = change.split(" ", 1)
            allowed = kind != "removed" and (
                (dest_rel is not None and (path == dest_rel or path.startswith(dest_rel + os.sep)))
                or path == link or (kind == "added" and link.startswith(path + os.sep)))
            if not allowed:
                stray.append(change)
        return stray


def install(prefix, folder=None, typed=True, cwd=None):
    """One whole run, started from the Unix folder cwd: Enter on the welcome page, the
    destination kept or entered through Browse, Next >, every message box answered until
    SETUP.EXE ends. A run that fails a step does not linger."""
    run = Session(prefix, cwd=cwd)
    try:
        run.to_destination()
        if folder is not None:
            run.choose(folder, typed=typed)
        run.start_copy(by_key=folder is None)
        run.finish()
    finally:
        run.stop()
    return run


# --------------------------------------------------------------------------- test cases

class RigCase(unittest.TestCase):
    """A test case on the module's shared prefix (at `dpi`), reset before each case and kept
    as self.p; and the checks of what an installation leaves behind. A class whose cases all
    look at one run made in setUpClass sets reset_each to False."""

    dpi = None
    reset_each = True

    def setUp(self):
        if self.reset_each:
            self.p = self.prefix()

    def prefix(self):
        """The module's shared prefix, reset for this case; screenshots under the case's name."""
        return we.shared_prefix(self.dpi).reset(name=self.id().split(".", 1)[-1])

    def session(self, p=None, **kw):
        """A Session in the prefix that is stopped when the case ends."""
        run = Session(p or self.p, **kw)
        self.addCleanup(run.stop)
        return run

    def assert_rows(self, dest_unix, copied=ALL_ROWS, absent=(), source=None):
        """Rows `copied` (1-based) are byte-identical to their source files in the built
        installer folder (or the Unix folder `source`); rows `absent` are not there at all,
        not even part-written."""
        for k in copied:
            row = MANIFEST[k - 1]
            path = row_path(dest_unix, row)
            self.assertTrue(os.path.isfile(path), "row %d: %s is missing" % (k, path))
            self.assertEqual(read(path), read(os.path.join(source or disk_dir(), row[0])),
                             "row %d: %s differs from %s" % (k, row[1], row[0]))
        for k in absent:
            row = MANIFEST[k - 1]
            self.assertFalse(os.path.lexists(row_path(dest_unix, row)), "row %d: %s was written" % (k, row[1]))

    def assert_installed(self, run, folder, source=None):
        """The run ended with the completion message and exit code 0, all twenty rows are in
        `folder` (a C: path, or a Unix path for another drive) as in the installer folder (or
        `source`), and nothing was written on drive C: but the destination and the link (whose
        target assert_link checks), nor in the installer folder."""
        self.assertEqual(run.message_keys(), [SUCCESS])
        self.assertEqual([m.buttons for m in run.messages], [["OK"]])
        self.assertEqual(run.exit_code, EXIT_INSTALLED)
        self.assertEqual(run.disk_changes(), [], "files written to the installer folder")
        on_c = folder[1:3] == ":\\" and folder[0].upper() == "C"
        self.assert_rows(unix_path(run.p, folder) if on_c else folder, source=source)
        self.assertEqual(run.changes_outside(folder if on_c else None), [],
                         "changes outside the destination and the link")

    def assert_link(self, prefix, folder):
        """The link in the Programs folder starts QV99.EXE in `folder`."""
        link = link_path(prefix)
        self.assertTrue(os.path.isfile(unix_path(prefix, link)), "no link at %s" % link)
        info = read_link(prefix, link)
        self.assertEqual(info["target"].lower(), (folder.rstrip("\\") + "\\QV99.EXE").lower())
        folder = folder.rstrip("\\") + ("\\" if len(folder.rstrip("\\")) == 2 else "")  # a drive root keeps its backslash
        self.assertEqual(info["workingDirectory"].lower(), folder.lower())
        self.assertEqual(info["description"], PRODUCT)
        self.assertEqual(info["arguments"], "")
        return info

    def assert_nothing_written(self, run, *folders):
        """The run wrote nothing on drive C:, in the installer folder or in `folders`."""
        self.assertEqual(run.drive_c_changes(), [], "files written to drive C:")
        self.assertEqual(run.disk_changes(), [], "files written to the installer folder")
        for folder in folders:
            if os.path.isdir(folder):
                self.assertEqual(os.listdir(folder), [], "files written to " + folder)

    def assert_failed(self, run, messages=(FAILED,)):
        """The run ended in the failure message (or the given `messages`), with exit code 1,
        no link made and nothing written in the installer folder."""
        self.assertEqual(run.message_keys(), list(messages))
        self.assertEqual([m.buttons for m in run.messages], [["OK"]] * len(messages))
        self.assertEqual(run.exit_code, EXIT_FAILED)
        self.assertEqual(run.links_made(), [], "a shortcut was made")
        self.assertEqual(run.disk_changes(), [], "files written to the installer folder")

    def small_drive(self, letter, size):
        """A drive that holds `size` bytes, mapped as `letter`: a tmpfs of that size, whose
        writes fail with "disk full" once it is full. Mounting takes root; without root the
        case cannot run, and says so where it shows. Returns its folder."""
        if os.geteuid() != 0:
            sys.stderr.write("\n*** %s NOT RUN: mounting a small tmpfs needs root ***\n" % self.id())
            self.skipTest("not root: cannot mount the tmpfs that is the small drive")
        mount = tempfile.mkdtemp(prefix="setup-e2e-small-")
        self.addCleanup(os.rmdir, mount)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", mount], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        self.addCleanup(subprocess.run, ["umount", mount], timeout=30)
        return self.p.map_drive(letter, mount, copy=False)

    def assert_cancelled(self, run):
        """The program ends by itself with exit code 2, having written nothing."""
        self.assertEqual(run.proc.wait(STEP_TIMEOUT), EXIT_CANCELLED)
        self.assert_nothing_written(run)

    def assert_closes_refused(self, run, front, others, requests=("click",)):
        """The windows `others` (titles) do not take input while `front` (a title or
        "#handle") is up, and the close `requests` given to them (see
        Session.close_requests) change nothing: the program runs on with the same windows
        and the same focus."""
        before = self.p.titles()
        focus = self.p.uia("focus")
        for title in others:
            self.assertFalse(self.p.window(title)["enabled"], "%r takes input behind %r" % (title, front))
        run.close_requests(front, others, requests)
        self.assertTrue(run.proc.running(), "SETUP.EXE ended (exit %s) after %s to %r"
                        % (run.proc.returncode, requests, others))
        self.assertEqual(self.p.titles(), before, "windows after %s to %r" % (requests, others))
        self.p.wait_focus(front, focus["focus_class"], focus["focus_text"])


# --------------------------------------------------------------------------- slow disk and capture

# Bytes a second that a slowed payload is read at, as from a CD drive or a network share: the
# demo payload's copy run then lasts about 15 s (slower where everything is, by SLOW).
SLOW_RATE = 320000 / we.SLOW


def slow_source_env(prefix, rate=SLOW_RATE):
    """The environment for a SETUP.EXE whose reads of the twenty source files are slowed to
    `rate` bytes a second (slowread.so, built beside uia.exe, preloaded into its Wine process):
    a copy run that lasts, whatever the machine, without files larger than the payload's."""
    shim = os.path.join(os.path.dirname(os.path.abspath(we.env_path("SETUP_E2E_UIA"))), "slowread", "slowread.so")
    if not os.path.isfile(shim):
        raise we.E2EError("%s is missing (built with the end-to-end tests)" % shim)
    fd, flag = tempfile.mkstemp(prefix="slow-", dir=prefix.root)
    os.close(fd)
    return dict(prefix.env, LD_PRELOAD=shim, SETUP_SLOW_FILES="/".join(row[0] for row in MANIFEST),
                SETUP_SLOW_RATE=str(int(rate)), SETUP_SLOW_WHILE=flag)


def full_speed(env):
    """The rest of a slowed run at full speed: for a test that has seen what it waited for."""
    try:
        os.remove(env["SETUP_SLOW_WHILE"])
    except FileNotFoundError:
        pass


def gauge_percent_during(row):
    """The gauge's text while row `row` is being copied from the installer folder: the rows
    before it are done, as printed."""
    total = 0.0
    for done in range(1, row):
        size = os.path.getsize(os.path.join(disk_dir(), MANIFEST[done - 1][0]))
        total = min(100.0, total + size / 4800000.0 * 100)
    return "%d%%" % round(total)


def copying_row(snapshot):
    """The manifest row the copy window shows in `snapshot` (1-based), by its source label."""
    texts = [c["text"] for c in window_in(snapshot, COPYING)["controls"] if c["class"] == "Static"]
    rows = [n for n, (source, _, _) in enumerate(MANIFEST, 1)
            if any(t.upper().endswith("\\" + source) for t in texts)]
    return rows[0] if len(rows) == 1 else None


def copy_snapshot(run):
    """A snapshot while the copy window shows a row mid-run, or None before it does; fails
    when the run ends or its final message has come."""
    if not run.proc.running():
        raise we.E2EError("SETUP.EXE ended during the copy run")
    s = run.p.uia("snapshot")
    if any(x["visible"] and x["title"] in MESSAGE_TITLES for x in s["windows"]):
        raise we.E2EError("the copy run ended before it was seen")
    win = window_in(s, COPYING)
    if not win:
        return None
    return s if any(c["text"] for c in win["controls"] if c["class"] == "RtPicture") else None


def capture_wizard(prefix):
    """Walks one SETUP.EXE run, its payload read slowly (slow_source_env), through every window and keeps a snapshot
    (uia) and a screenshot of each as the user sees it: "welcome" (with the backdrop),
    "destination", "chooser", "copying" (mid-run) and "final" (the last message box).
    Returns ({name: snapshot}, {name: Screenshot}, the Session)."""
    snaps, shots = {}, {}
    # Read slowly, the copy run lasts long enough for the mid-run capture on any machine.
    slow = slow_source_env(prefix)
    w = Session(prefix, env=slow)
    try:
        w.wait_welcome()
        shots["welcome"] = painted_shot(prefix, WELCOME, "welcome", also=backdrop_painted(prefix))
        snaps["welcome"] = prefix.uia("snapshot")
        w.to_destination()
        shots["destination"] = painted_shot(prefix, DESTINATION, "destination")
        snaps["destination"] = prefix.uia("snapshot")
        w.open_chooser("keys")
        shots["chooser"] = painted_shot(prefix, CHOOSER, "chooser")
        snaps["chooser"] = prefix.uia("snapshot")
        prefix.click(CHOOSER, "Cancel")
        prefix.wait_titles([DESTINATION, WELCOME, BACKDROP])
        prefix.wait_focus(DESTINATION, "Button", "Next >")
        prefix.key("Return")

        def captions(s):
            # The file names and the gauge's text: the same in two snapshots, they are one row's.
            return [c["text"] for c in window_in(s, COPYING)["controls"] if c["class"] in ("Static", "RtPicture")]

        def consistent_shot():
            # A snapshot, a screenshot and a second snapshot with the same file names: the
            # screenshot shows one row, the one the snapshot describes.
            before = we.wait_for(lambda: copy_snapshot(w), RUN_TIMEOUT, what="the copy run")
            shot = prefix.screenshot("copying")
            after = copy_snapshot(w)
            return (before, shot) if after and captions(after) == captions(before) else None
        snaps["copying"], shots["copying"] = we.wait_for(consistent_shot, RUN_TIMEOUT,
                                                         what="a screenshot of one row of the copy run")
        full_speed(slow)
        w.finish(screen=True)
        snaps["final"] = w.messages[0].snapshot
        shots["final"] = w.messages[0].shot
    except BaseException:
        w.stop()
        raise
    return snaps, shots, w
