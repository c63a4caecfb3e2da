"""Walks SETUP.EXE through a whole installation under Wine, for the installation and
shortcut tests (Python standard library only).

  MANIFEST       the twenty rows: source name, destination name, whether it goes to DATA
  InstallRun     one SETUP.EXE run in a Prefix: welcome page, destination page (kept,
                 typed through Browse, or set there), then every message box up to the
                 end of the process, each recorded with a snapshot of the screen
  lnk helpers    read a shell link through tools/lnkinfo.exe

The folders beside the installer folder (SETUP_E2E_DISK) hold tools/ and
stkit-variants/; their paths are derived from it.
"""

import json
import os
import shutil
import subprocess
import time

import wineenv as we

PRODUCT = "Quorvant '99"
WELCOME = "Welcome"
DESTINATION = "Choose Destination Location"
CHOOSER = "Choose Directory"
COPYING = "Copying Files ..."
BACKDROP = "Setup Wizard"
DEFAULT_DEST = "C:\\Program Files\\Quorvant '99"
LINK_NAME = PRODUCT + ".lnk"

SUCCESS = ("Setup", "Quorvant '99 Installation Complete!", "exclamation")
FAILED = ("Setup", "Setup Failed Due To An Error!", "exclamation")
SHORTCUT_FAILED = [("Shortcut Error", "There was an error creating shortcuts.", "hand"),
                   ("Setup Error", "Quorvant '99 was unsuccessfully installed.", "hand")]
MESSAGE_TITLES = {"Setup", "Shortcut Error", "Setup Error"}

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

STEP_TIMEOUT = 30     # any one window to come or go
RUN_TIMEOUT = 90      # the copy run up to its first message box


def disk_dir():
    return we.env_path("SETUP_E2E_DISK")


def build_dir():
    return os.path.dirname(os.path.abspath(disk_dir()))


def tool(name):
    return os.path.join(build_dir(), "tools", name)


def stkit_variant(name):
    """STKIT432.DLL of a misbehaving test build: fail, nonzero or noentry."""
    return os.path.join(build_dir(), "stkit-variants", name, "STKIT432.DLL")


def row_path(dest_unix, row):
    """Where a manifest row's copy lands under a destination folder (Unix path)."""
    _, dest_name, in_data = row
    return os.path.join(dest_unix, "DATA", dest_name) if in_data else os.path.join(dest_unix, dest_name)


def unix_path(prefix, windows_path):
    """Unix path of a C: path inside the prefix."""
    if not windows_path[:3].upper() == "C:\\":
        raise we.E2EError("not a C: path: %r" % windows_path)
    return os.path.join(prefix.drive_c, *[p for p in windows_path[3:].split("\\") if p])


def read(path):
    with open(path, "rb") as f:
        return f.read()


def type_text(prefix, text):
    """Types text into the focused window with real key events."""
    we._run(["xdotool", "type", "--delay", "15", text], prefix.env, 60)


def added_links(before, after):
    """Relative paths of the shell links added or changed between two trees."""
    return [k.split(" ", 1)[1] for k in we.tree_diff(before, after)
            if k.lower().endswith(".lnk") and not k.startswith("removed ")]


def programs_folder(prefix):
    """The Start menu Programs folder of the prefix's user, as a Windows path."""
    _, out = we._run(["wine", tool("lnkinfo.exe"), "--programs"], prefix.env, 60)
    return out.strip().splitlines()[-1].strip()


def read_link(prefix, windows_path):
    """The link's target, arguments, workingDirectory, description, iconLocation."""
    code, out = we._run(["wine", tool("lnkinfo.exe"), windows_path], prefix.env, 60, check=False)
    if code != 0:
        raise we.E2EError("lnkinfo %s failed (%d): %s" % (windows_path, code, out))
    start = out.index("{")
    return json.loads(out[start:out.rindex("}") + 1])


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
        for w in self.snapshot["windows"]:
            if w["visible"] and w["title"] == title:
                return w
        return None

    def __repr__(self):
        return "Message%r" % (self.key(),)


class InstallRun:
    """One SETUP.EXE run in `prefix`, started from the Unix folder `cwd`
    (default the prefix's C:\\windows, as from a shortcut elsewhere)."""

    def __init__(self, prefix, cwd=None):
        self.p = prefix
        self.drive_c_before = prefix.drive_c_tree()
        self.proc = prefix.start("D:\\SETUP.EXE", cwd=cwd or os.path.join(prefix.drive_c, "windows"))
        self.messages = []
        self.exit_code = None

    # -- the wizard

    def wait_focus(self, window, text, timeout=10):
        def focused():
            f = self.p.focus()
            return f if f.get("foreground_title") == window and f.get("focus_text") == text else None
        return we.wait_for(focused, timeout, what="focus on %r in %r" % (text, window))

    def to_destination(self):
        """Enter on the welcome page; waits until the destination page has the focus."""
        self.p.wait_window(WELCOME, timeout=40, proc=self.proc)
        self.wait_focus(WELCOME, "Next >")
        self.p.key("Return")
        self.p.wait_window(DESTINATION, timeout=STEP_TIMEOUT, proc=self.proc)
        self.wait_focus(DESTINATION, "Next >")

    def destination_label(self):
        frame = [c for c in self.p.controls(DESTINATION)
                 if c["class"] == "RtFrame" and c["text"] == "Destination Directory"]
        if not frame:
            raise we.E2EError("no frame 'Destination Directory' on the destination page")
        labels = [c for c in self.p.controls(DESTINATION)
                  if c["class"] == "Static" and c["parent"] == frame[0]["hwnd"]]
        return labels[0]["text"] if labels else None

    def mouse_click(self, window, button_text):
        """A real left click in the middle of a button of a window."""
        buttons = [c for c in self.p.controls(window)
                   if c["class"] == "Button" and c["text"].replace("&", "") == button_text and c["visible"]]
        if not buttons:
            raise we.E2EError("no button %r on %r" % (button_text, window))
        left, top, right, bottom = buttons[0]["rect"]
        we._run(["xdotool", "mousemove", str((left + right) // 2), str((top + bottom) // 2),
                 "click", "1"], self.p.env, 30)

    def browse(self, folder, typed=True):
        """Browse, the folder into the chooser's text box, Enter (its OK). Typed with real
        keys, or set through the control when the keyboard cannot type it."""
        self.mouse_click(DESTINATION, "Browse")
        self.p.wait_window(CHOOSER, timeout=STEP_TIMEOUT, proc=self.proc)
        edit = we.wait_for(lambda: next((c for c in self.p.controls(CHOOSER) if c["class"] == "Edit"), None),
                           10, what="the chooser's text box")

        def edit_focused():
            f = self.p.focus()
            return f.get("foreground_title") == CHOOSER and f.get("focus_class") == "Edit"
        we.wait_for(edit_focused, 10, what="focus in the chooser's text box")
        if typed:
            type_text(self.p, folder)  # the whole text is selected on focus, so it is replaced
        else:
            # The text reaches Wine through the command line: decoded as UTF-8 whatever the
            # caller's locale, and in this one call only.
            saved = self.p.env.get("LC_ALL")
            self.p.env["LC_ALL"] = "C.UTF-8"
            try:
                r = self.p.set_text(CHOOSER, edit["id"], folder)
            finally:
                if saved is None:
                    del self.p.env["LC_ALL"]
                else:
                    self.p.env["LC_ALL"] = saved
            if not r["ok"]:
                raise we.E2EError("settext: %s" % r.get("error"))
        def edit_reads():
            return next(c["text"] for c in self.p.controls(CHOOSER) if c["class"] == "Edit") == folder
        we.wait_for(edit_reads, 10, what="the chooser's text box to read %r" % folder)
        self.p.key("Return")
        self.p.wait_window_gone(CHOOSER, timeout=STEP_TIMEOUT)
        we.wait_for(lambda: self.destination_label() == folder, 10,
                    what="the destination page to show %r" % folder)

    def start_copy(self, by_key=True):
        """Next > on the destination page: Enter while it has the focus, else a click on it."""
        if by_key:
            self.wait_focus(DESTINATION, "Next >")
            self.p.key("Return")
        else:
            we.wait_for(lambda: self.p.focus().get("foreground_title") == DESTINATION, 10,
                        what="the destination page to be in front")
            self.mouse_click(DESTINATION, "Next >")

    # -- the end of the run

    def _next_message(self, timeout, gone=()):
        """The next message box (its facts from the window list) or "ended"; uia does the
        looking, the program is checked between its waits."""
        deadline = time.monotonic() + timeout
        while True:
            if not self.proc.running():
                return "ended"
            left = max(0.0, min(deadline - time.monotonic(), we.WAIT_SLICE))
            r = self.p.uia("waitdialog", str(int(left * 1000)), ",".join(gone) or "-",
                           *sorted(MESSAGE_TITLES), timeout=left + 30)
            if r["met"]:
                w = next((w for w in self.p.windows() if w["hwnd"] == r["window"]), None)
                if w:
                    return w
            if time.monotonic() >= deadline:
                break
        shot = self.p.screenshot("no-message")
        raise TimeoutError("timed out after %.1f s waiting for a message box or the end of SETUP.EXE;"
                           " visible windows: %r; screen: %s"
                           % (timeout, [w["title"] for w in self.p.windows()], shot.path))

    def finish(self, max_messages=4, drag_first=False, before_answer=None):
        """Reads every message box until SETUP.EXE ends, answering each with Enter once it
        has the focus; returns the list of Messages. With drag_first, the first box is
        dragged down by its title bar before the screen is taken, so the copy window's
        gauge shows whole. before_answer(index, window) runs before each box is answered."""
        seen = []
        timeout = RUN_TIMEOUT
        while True:
            w = self._next_message(timeout, gone=seen)
            if w == "ended":
                break
            if len(seen) >= max_messages:
                raise we.E2EError("more than %d message boxes: %r" % (max_messages, self.messages))
            hwnd = w["hwnd"]
            we.wait_for(lambda: self.p.focus().get("foreground") == hwnd, 10,
                        what="message box %r to have the focus" % w["title"])
            if drag_first and not seen:
                self.drag_down(w)
            facts = self.p.message_box(hwnd)
            snapshot = self.p.uia("snapshot")
            shot = self.p.screenshot("message-%d" % (len(seen) + 1))
            self.messages.append(Message(facts, snapshot, shot))
            if before_answer:
                before_answer(len(seen), w)
            self.p.key("Return")
            seen.append(hwnd)
            self.p.wait_window_gone(hwnd, timeout=STEP_TIMEOUT)
            timeout = STEP_TIMEOUT
        self.exit_code = self.proc.wait(STEP_TIMEOUT)
        return self.messages

    def drag_down(self, w, by=170):
        """Drags a window by its title bar, as a user moves a box out of the way."""
        left, top, right, _ = w["rect"]
        x, y = (left + right) // 2, w["client"][1] - 8
        we._run(["xdotool", "mousemove", str(x), str(y), "mousedown", "1",
                 "mousemove", str(x), str(y + by // 2), "mousemove", str(x), str(y + by),
                 "mouseup", "1"], self.p.env, 30)

        def moved():
            now = [v["rect"][1] for v in self.p.windows() if v["hwnd"] == w["hwnd"]]
            return now and now[0] > top + by // 2
        we.wait_for(moved, 10, what="the message box to move")

    def stop(self):
        """Ends SETUP.EXE if it still runs (after a failed step of a test)."""
        if self.proc.running():
            self.proc.popen.kill()
            self.proc.popen.wait(STEP_TIMEOUT)

    def message_keys(self):
        return [m.key() for m in self.messages]

    def drive_c_changes(self):
        return we.tree_diff(self.drive_c_before, self.p.drive_c_tree())

    def links_made(self):
        return added_links(self.drive_c_before, self.p.drive_c_tree())


def put_file(src, dst):
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    shutil.copyfile(src, dst)


def restore_disk(prefix):
    """Makes the prefix's installer folder (drive D:) an exact copy of the built one again."""
    shutil.rmtree(prefix.disk)
    shutil.copytree(disk_dir(), prefix.disk, symlinks=True)


def remove_tree(path):
    if os.path.lexists(path):
        shutil.rmtree(path)


def _batch(prefix, name, line):
    """A one-line batch file in the test's temp dir (outside drive C:), by its Windows path:
    cmd takes quoted paths from a file as they are, not through Wine's argument quoting."""
    path = os.path.join(prefix.root, name)
    with open(path, "w", encoding="ascii", newline="\r\n") as f:
        f.write("@" + line + "\n")
    return we.to_windows_path(path)


def holder_of(prefix, windows_file, seconds=150):
    """Starts a Wine process that holds `windows_file` open for reading and shares it
    only for reading, as a program that has a file open does; returns its Popen once
    writing the file fails with a sharing violation."""
    hold = _batch(prefix, "hold.bat", 'ping -n %d 127.0.0.1 >nul <"%s"' % (seconds, windows_file))
    # Appending nothing opens the file for writing and leaves its bytes alone.
    probe = _batch(prefix, "probe.bat", 'type nul >>"%s"' % windows_file)
    holder = subprocess.Popen(["wine", "cmd", "/c", hold], env=prefix.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)

    def locked():
        if holder.poll() is not None:
            raise we.E2EError("the file holder ended early (%s)" % holder.returncode)
        _, out = we._run(["wine", "cmd", "/c", probe], prefix.env, 30, check=False)
        return "sharing violation" in out.lower()
    we.wait_for(locked, 30, interval=0.3, what="%s to be held open" % windows_file)
    return holder
