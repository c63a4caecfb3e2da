"""Helpers for the journey, layout, accessibility and screenshot scripts (Python
standard library only), on top of wineenv.py and install_rig.py.

  Walk            install_rig.InstallRun plus focus, key and chooser helpers
  make_slow_disk  an installer folder whose copy run lasts long enough to be seen
  painted_shot    a screenshot taken once a window has drawn a button's caption
"""

import os
import shutil
import subprocess
import sys

import wineenv as we
import install_rig as rig

HERE = os.path.dirname(os.path.abspath(__file__))
PAYLOAD_TOOLS = os.path.join(HERE, "..", "..", "payload")
MIB = 1024 * 1024
# Rows whose source files are made large: the gauge stands at 44% while row 3 is
# copied and at 100% while row 4 is, each for about a second or more.
SLOW_ROWS = (3, 4)
SLOW_SIZE = 1536 * MIB


def make_slow_disk(folder):
    """An installer folder with the twenty source files written by make_large_payload.py
    (1 MiB each) and SETUP.EXE and STKIT432.DLL beside them; rows SLOW_ROWS are then
    extended to SLOW_SIZE with a sparse tail, so that they take no disk space here but
    a copy of each takes a while. Returns the folder."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run([sys.executable, os.path.join(PAYLOAD_TOOLS, "make_large_payload.py"), folder,
                    "--mib", "1"], check=True, stdin=subprocess.DEVNULL, timeout=120)
    for name in ("SETUP.EXE", "STKIT432.DLL"):
        shutil.copy2(os.path.join(rig.disk_dir(), name), folder)
    for row in SLOW_ROWS:
        os.truncate(os.path.join(folder, rig.MANIFEST[row - 1][0]), SLOW_SIZE)
    return folder


def gauge_percent_after(rows):
    """The gauge's text after `rows` rows of the slow disk (1 MiB rows), as printed."""
    total = 0.0
    for _ in range(rows):
        total = min(100.0, total + MIB / 4800000.0 * 100)
    return "%d%%" % round(total)


def dark_pixels(shot, rect, limit=100):
    l, t, r, b = rect
    return sum(1 for _, rgb in shot.pixels_in(l, t, r, b) if max(rgb) < limit)


def painted_shot(prefix, title, button, label, timeout=15):
    """A screenshot taken once `title` has drawn the caption of its button `button`."""
    def buttons():
        return [c for c in prefix.controls(title) if c["class"] == "Button"
                and c["text"].replace("&", "") == button and c["visible"]]
    rect = we.wait_for(buttons, timeout, what="button %r on %r" % (button, title))[0]["rect"]

    def shot():
        s = prefix.screenshot(label)
        return s if dark_pixels(s, rect) > 10 else None
    return we.wait_for(shot, timeout, interval=0.3, what="%r painted" % title)


def window_in(snapshot, title):
    for w in snapshot["windows"]:
        if w["visible"] and w["title"] == title:
            return w
    return None


class Walk(rig.InstallRun):
    """One SETUP.EXE run driven by keys, with bounded waits for each step's outcome."""

    def focus_is(self, window, cls=None, text=None):
        f = self.p.focus()
        return (f.get("foreground_title") == window
                and (cls is None or f.get("focus_class") == cls)
                and (text is None or f.get("focus_text") == text))

    def wait_focus_on(self, window, cls=None, text=None, timeout=10):
        try:
            return we.wait_for(lambda: self.focus_is(window, cls, text), timeout,
                               what="focus on %s %r in %r" % (cls or "", text, window))
        except TimeoutError as e:
            raise TimeoutError("%s; focus is %r" % (e, self.p.focus())) from None

    def titles(self):
        return sorted(w["title"] for w in self.p.windows())

    def wait_titles(self, titles, timeout=15):
        want = sorted(titles)
        try:
            return we.wait_for(lambda: self.titles() == want, timeout, interval=0.2,
                               what="windows %r" % want)
        except TimeoutError as e:
            raise TimeoutError("%s; visible: %r" % (e, self.titles())) from None

    def wait_welcome(self):
        self.p.wait_window(rig.WELCOME, timeout=40, proc=self.proc)
        self.wait_focus_on(rig.WELCOME, "Button", "Next >")

    def next_to_destination(self):
        """Enter on the welcome page (Next > has the focus there)."""
        self.wait_focus_on(rig.WELCOME, "Button", "Next >")
        self.p.key("Return")
        self.p.wait_window(rig.DESTINATION, timeout=rig.STEP_TIMEOUT, proc=self.proc)
        self.wait_focus_on(rig.DESTINATION, "Button", "Next >")

    def chooser_text(self):
        return next(c["text"] for c in self.p.controls(rig.CHOOSER) if c["class"] == "Edit")

    def wait_chooser_text(self, text, timeout=10):
        try:
            return we.wait_for(lambda: self.chooser_text() == text, timeout, what="Text1 = %r" % text)
        except TimeoutError as e:
            raise TimeoutError("%s; it holds %r" % (e, self.chooser_text())) from None

    def open_chooser_by_keys(self):
        """Tab to Browse (Next >, Cancel, < Back, Browse) and Space, as a keyboard user does."""
        self.wait_focus_on(rig.DESTINATION, "Button", "Next >")
        self.p.key("Tab", "Tab", "Tab")
        self.wait_focus_on(rig.DESTINATION, "Button", "Browse")
        self.p.key("space")
        self.p.wait_window(rig.CHOOSER, timeout=rig.STEP_TIMEOUT, proc=self.proc)
        self.wait_focus_on(rig.CHOOSER, "Edit")


MESSAGE_TITLES = rig.MESSAGE_TITLES


def capture_wizard(prefix):
    """Walks one SETUP.EXE run on a slow disk through every window and keeps a snapshot
    (uia) and a screenshot of each as the user sees it: "welcome" (with the backdrop),
    "destination", "chooser", "copying" (mid-run) and "final" (the last message box).
    Returns ({name: snapshot}, {name: Screenshot}, the Walk)."""
    snaps, shots = {}, {}
    w = Walk(prefix)
    try:
        w.wait_welcome()
        shots["welcome"] = painted_shot(prefix, rig.WELCOME, "Next >", "welcome")
        snaps["welcome"] = prefix.uia("snapshot")
        w.next_to_destination()
        shots["destination"] = painted_shot(prefix, rig.DESTINATION, "Next >", "destination")
        snaps["destination"] = prefix.uia("snapshot")
        w.open_chooser_by_keys()
        shots["chooser"] = painted_shot(prefix, rig.CHOOSER, "OK", "chooser")
        snaps["chooser"] = prefix.uia("snapshot")
        prefix.click(rig.CHOOSER, "Cancel")
        w.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        w.wait_focus_on(rig.DESTINATION, "Button", "Browse")
        prefix.key("Tab")
        w.wait_focus_on(rig.DESTINATION, "Button", "Next >")
        prefix.key("Return")

        def mid_run():
            if not w.proc.running():
                raise we.E2EError("SETUP.EXE ended during the copy run")
            s = prefix.uia("snapshot")
            if any(x["visible"] and x["title"] in MESSAGE_TITLES for x in s["windows"]):
                raise we.E2EError("the copy run ended before it was seen")
            win = window_in(s, rig.COPYING)
            if not win:
                return None
            texts = [c["text"] for c in win["controls"] if c["class"] == "RtPicture"]
            return s if any(texts) else None
        def captions(s):
            return [c["text"] for c in window_in(s, rig.COPYING)["controls"] if c["class"] == "Static"]

        def consistent_shot():
            # A snapshot, a screenshot and a second snapshot with the same file names: the
            # screenshot shows one row, the one the snapshot describes.
            before = we.wait_for(mid_run, rig.RUN_TIMEOUT, interval=0.1, what="the copy run")
            shot = prefix.screenshot("copying")
            after = mid_run()
            if after is None or captions(after) != captions(before):
                return None
            return before, shot
        snaps["copying"], shots["copying"] = we.wait_for(consistent_shot, rig.RUN_TIMEOUT, interval=0.1,
                                                         what="a screenshot of one row of the copy run")
        if any(x["title"] in MESSAGE_TITLES for x in prefix.windows()):
            raise we.E2EError("the copy run ended while its screenshot was taken")
        w.finish()
        snaps["final"] = w.messages[0].snapshot
        shots["final"] = w.messages[0].shot
    except BaseException:
        w.stop()
        raise
    return snaps, shots, w
