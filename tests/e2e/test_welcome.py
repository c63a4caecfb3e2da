"""End-to-end tests of start-up, the backdrop and the welcome page of SETUP.EXE under Wine.

Each test starts the real SETUP.EXE from D:\\ (a copy of the installer folder) in a
fresh copy of the prefix template, from another working directory (C:\\windows),
and looks at it the way a user does: windows, controls, focus, pixels on screen.
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402

BACKDROP = "Setup Wizard"
WELCOME = "Welcome"
DESTINATION = "Choose Destination Location"
TEAL = (0, 128, 128)
PRODUCT = "Quorvant '99"

# Welcome's buttons: text -> (left, top, width, height) in twips from the client origin.
WELCOME_BUTTONS = {
    "< Back": (3360, 4275, 1215, 375),
    "Next >": (4680, 4275, 1215, 375),
    "Cancel": (6120, 4275, 1215, 375),
}
# Welcome's labels: (box in twips, caption or None where the wording is free).
WELCOME_LABELS = [
    ((2760, 225, 4575, 465), "Welcome to the Quorvant '99 setup program. Setup Wizard will "
                             "guide you through the installation process."),
    ((2760, 810, 4575, 510), "It is strongly recommended that you close all running Windows "
                             "programs before continuing with the installation."),
    ((2760, 1485, 4575, 510), "Click Cancel now to close any running Windows programs. "
                              "Otherwise, click Next to continue with the setup process."),
    ((2760, 2475, 4575, 465), None),  # first part of the legal warning
    ((2760, 3015, 4575, 870), None),  # second part of the legal warning
    ((240, 4200, 2535, 255), None),   # the maker's notice
]
WELCOME_CLIENT = (7695, 4845)
TITLE_BOX = (165, 150, 5130, 510)         # the white title label
SHADOW_BOX = (210, 180, 5205, 510)        # the dark copy underneath
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
              "oleaut32.dll", "advapi32.dll", "comdlg32.dll", "shlwapi.dll", "msvcrt.dll"}


def setup_exe():
    return os.path.join(we.env_path("SETUP_E2E_DISK"), "SETUP.EXE")


def build_contains(text):
    """True when SETUP.EXE holds the text (UTF-16 or ANSI): tells which pages are built."""
    with open(setup_exe(), "rb") as f:
        data = f.read()
    return text.encode("utf-16-le") in data or text.encode("latin-1") in data


def rel_rect(rect, origin):
    """(left, top, width, height) of a screen rect relative to a client origin."""
    return (rect[0] - origin[0], rect[1] - origin[1], rect[2] - rect[0], rect[3] - rect[1])


def px_rect(twips_rect, dpi):
    l, t, w, h = twips_rect
    return tuple(we.twips_to_px(v, dpi) for v in (l, t, w, h))


class Run:
    """SETUP.EXE running in its own prefix, up to the welcome page."""

    def __init__(self, name, dpi=None):
        self.prefix = we.Prefix(dpi=dpi, name=name)
        try:
            self.drive_c_before = self.prefix.drive_c_tree()
            self.disk_before = we.tree_of(self.prefix.disk)
            # Started from another folder than its own, as through a shortcut.
            self.proc = self.prefix.start("D:\\SETUP.EXE",
                                          cwd=os.path.join(self.prefix.drive_c, "windows"))
            self.prefix.wait_window(WELCOME, timeout=40, proc=self.proc)
            we.wait_for(lambda: self.welcome_buttons_present(), 10,
                        what="the welcome page's buttons")
        except BaseException:
            self.prefix.close()
            raise

    def welcome_buttons_present(self):
        texts = {c["text"] for c in self.prefix.controls(WELCOME) if c["class"] == "Button"}
        return set(WELCOME_BUTTONS) <= texts

    def wait_focus(self, text, timeout=10):
        return we.wait_for(lambda: self.prefix.focus().get("focus_text") == text, timeout,
                           what="keyboard focus on %r" % text)

    def wait_exit(self, timeout=30):
        return self.proc.wait(timeout)

    def assert_nothing_written(self, tc):
        tc.assertEqual(we.tree_diff(self.drive_c_before, self.prefix.drive_c_tree()), [],
                       "files written to drive C:")
        tc.assertEqual(we.tree_diff(self.disk_before, we.tree_of(self.prefix.disk)), [],
                       "files written to the installer folder")

    def close(self):
        self.prefix.close()


class WelcomeLayout:
    """Backdrop and welcome page as they first come up; one SETUP.EXE run per class.

    Mixed into a TestCase per screen resolution (dpi None = Wine's default 96)."""

    dpi = None

    @classmethod
    def setUpClass(cls):
        cls.app = Run(cls.__name__, dpi=cls.dpi)
        cls.addClassCleanup(cls.app.close)
        p = cls.app.prefix
        cls.snapshot = p.uia("snapshot")
        cls.screen_dpi = cls.snapshot["dpi_x"]
        cls.screen = cls.snapshot["screen"]
        visible = {w["title"]: w for w in cls.snapshot["windows"] if w["visible"]}
        cls.backdrop = visible.get(BACKDROP)
        cls.welcome = visible.get(WELCOME)
        cls.shot = p.screenshot("backdrop-and-welcome")

    def px(self, twips):
        return we.twips_to_px(twips, self.screen_dpi)

    def test_screen_resolution_is_the_prefix_setting(self):
        self.assertEqual(self.screen_dpi, self.dpi or 96)
        self.assertEqual(self.screen, [we.SCREEN_W, we.SCREEN_H])

    def test_backdrop_is_a_maximized_sizable_window_covering_the_screen(self):
        b = self.backdrop
        self.assertIsNotNone(b, "no visible %r window" % BACKDROP)
        self.assertTrue(b["maximized"])
        for flag in ("caption", "sysmenu", "thickframe", "minbox", "maxbox"):
            self.assertTrue(b[flag], flag)
        self.assertFalse(b["toolwindow"])
        self.assertIsNone(b["owner"], "an owned window is not shown in the taskbar")
        left, top, right, bottom = b["rect"]
        self.assertLessEqual(left, 0)
        self.assertLessEqual(top, 0)
        self.assertGreaterEqual(right, self.screen[0])
        self.assertGreaterEqual(bottom, self.screen[1])
        # Modal welcome page: the backdrop takes no input while it is open.
        self.assertFalse(b["enabled"])

    def test_backdrop_is_teal_with_a_shadowed_white_title_at_top_left(self):
        b, w = self.backdrop, self.welcome
        self.assertIsNotNone(b)
        cl, ct, cr, cb = b["client"]
        wl, wt, wr, wb = w["rect"]
        samples = [(cl + 10, cb - 10), (cr - 10, cb - 10), (cr - 10, ct + 10),
                   (cl + self.px(6000), ct + self.px(300)), (cl + 10, (ct + cb) // 2)]
        for x, y in samples:
            if wl <= x < wr and wt <= y < wb:
                continue
            self.assertEqual(self.shot.pixel(x, y), TEAL, "backdrop pixel at (%d, %d)" % (x, y))

        def box(tw):
            l, t, width, height = px_rect(tw, self.screen_dpi)
            return (cl + l, ct + t, cl + l + width, ct + t + height)

        white = [xy for xy, rgb in self.shot.pixels_in(*box(TITLE_BOX)) if min(rgb) >= 240]
        union = box((TITLE_BOX[0], TITLE_BOX[1], SHADOW_BOX[0] + SHADOW_BOX[2] - TITLE_BOX[0],
                     SHADOW_BOX[1] + SHADOW_BOX[3] - TITLE_BOX[1]))
        dark = [xy for xy, rgb in self.shot.pixels_in(*union) if max(rgb) <= 80]
        self.assertGreater(len(white), 100, "white title letters in %r" % (box(TITLE_BOX),))
        self.assertGreater(len(dark), 30, "dark shadow letters")
        # The title starts at the label's left edge, not further into the screen.
        self.assertLess(min(x for x, _ in white) - box(TITLE_BOX)[0], self.px(300))

        def centre(points):
            return (sum(x for x, _ in points) / len(points), sum(y for _, y in points) / len(points))
        (wx, wy), (dx, dy) = centre(white), centre(dark)
        # The shadow shows to the right of and below the white letters.
        self.assertGreater(dx, wx)
        self.assertGreater(dy, wy)

    def test_welcome_is_a_fixed_dialog_centred_on_the_screen(self):
        w = self.welcome
        self.assertIsNotNone(w, "no visible %r window" % WELCOME)
        self.assertEqual(w["class"], "#32770")
        self.assertTrue(w["caption"])
        for flag in ("thickframe", "minbox", "maxbox", "maximized", "appwindow"):
            self.assertFalse(w[flag], flag)
        self.assertTrue(w["owner"] or w["toolwindow"], "shown in the taskbar")
        cl, ct, cr, cb = w["client"]
        self.assertAlmostEqual(cr - cl, self.px(WELCOME_CLIENT[0]), delta=1)
        self.assertAlmostEqual(cb - ct, self.px(WELCOME_CLIENT[1]), delta=1)
        # Top = screen height / 2 - window height / 2, Left likewise, in twips.
        left, top, right, bottom = w["rect"]
        to_tw = 1440.0 / self.screen_dpi
        want_top = we.twips_to_px(self.screen[1] * to_tw / 2 - (bottom - top) * to_tw / 2,
                                  self.screen_dpi)
        want_left = we.twips_to_px(self.screen[0] * to_tw / 2 - (right - left) * to_tw / 2,
                                   self.screen_dpi)
        self.assertAlmostEqual(top, want_top, delta=2)
        self.assertAlmostEqual(left, want_left, delta=2)

    def welcome_controls(self):
        for w in self.snapshot["windows"]:
            if w["visible"] and w["title"] == WELCOME:
                return w["controls"]
        self.fail("no welcome page in the snapshot")

    def test_welcome_buttons(self):
        origin = self.welcome["client"][:2]
        buttons = {c["text"]: c for c in self.welcome_controls()
                   if c["class"] == "Button" and c["visible"]}
        self.assertEqual(set(buttons), set(WELCOME_BUTTONS))
        for text, twips in WELCOME_BUTTONS.items():
            with self.subTest(button=text):
                got = rel_rect(buttons[text]["rect"], origin)
                want = px_rect(twips, self.screen_dpi)
                for g, e, what in zip(got, want, ("left", "top", "width", "height")):
                    self.assertAlmostEqual(g, e, delta=1, msg="%s %s: %r vs %r" % (text, what, got, want))
        self.assertFalse(buttons["< Back"]["enabled"])
        self.assertTrue(buttons["Next >"]["enabled"])
        self.assertTrue(buttons["Cancel"]["enabled"])
        self.assertEqual([t for t, c in buttons.items() if c["defpushbutton"]], ["Next >"])
        self.assertTrue(buttons["Next >"]["tabstop"] and buttons["Cancel"]["tabstop"])

    def test_next_has_the_keyboard_focus_at_start(self):
        self.app.wait_focus("Next >")
        focus = self.app.prefix.focus()
        self.assertEqual(focus["foreground_title"], WELCOME)
        self.assertEqual(focus["focus_class"], "Button")

    def test_welcome_labels_show_their_captions_in_their_boxes(self):
        origin = self.welcome["client"][:2]
        statics = [c for c in self.welcome_controls() if c["class"] == "Static" and c["visible"]]
        texts = [c["text"] for c in statics]
        for box, caption in WELCOME_LABELS:
            want = px_rect(box, self.screen_dpi)
            with self.subTest(label=caption or box):
                at_box = [c for c in statics
                          if all(abs(g - e) <= 1 for g, e in zip(rel_rect(c["rect"], origin), want))]
                self.assertTrue(at_box, "no label at %r (px %r); labels: %r" % (box, want, texts))
                if caption is None:
                    self.assertTrue(at_box[0]["text"].strip(), "empty label at %r" % (box,))
                else:
                    self.assertEqual(at_box[0]["text"], caption)
        for c in statics:
            self.assertFalse(c["tabstop"], "label %r takes focus" % c["text"])


class WelcomeLayoutAt96Dpi(WelcomeLayout, unittest.TestCase):
    dpi = None


class WelcomeLayoutAt144Dpi(WelcomeLayout, unittest.TestCase):
    dpi = 144


class WelcomeBehaviour(unittest.TestCase):
    """What the user's keys and clicks do on the welcome page; a fresh run per test."""

    def setUp(self):
        self.app = Run(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.app.close)
        self.p = self.app.prefix

    def visible_titles(self):
        return sorted(w["title"] for w in self.p.windows())

    def test_escape_does_nothing(self):
        self.app.wait_focus("Next >")
        before = self.visible_titles()
        self.p.key("Escape", "Tab")
        # Tab after Escape: once focus has moved on, the Escape has been handled too.
        self.app.wait_focus("Cancel")
        self.assertEqual(self.visible_titles(), before)
        self.assertIsNotNone(self.p.window(WELCOME))
        self.assertTrue(self.app.proc.running())

    def test_enter_opens_the_destination_page(self):
        if not build_contains(DESTINATION):
            self.skipTest("this SETUP.EXE has no %r page yet" % DESTINATION)
        self.app.wait_focus("Next >")
        self.p.key("Return")
        self.p.wait_window(DESTINATION, timeout=15, proc=self.app.proc)
        self.p.screenshot("destination")
        self.assertIsNotNone(self.p.window(WELCOME), "the welcome page stays open behind")
        self.assertIsNotNone(self.p.window(BACKDROP))

    def test_cancel_ends_at_once_and_writes_nothing(self):
        self.p.click(WELCOME, "Cancel")
        self.assertEqual(self.app.wait_exit(30), 0)
        self.app.assert_nothing_written(self)

    def test_back_does_nothing_when_clicked(self):
        self.app.wait_focus("Next >")
        before = self.visible_titles()
        self.p.click(WELCOME, "< Back")  # a disabled button ignores the click
        self.p.key("Tab")
        self.app.wait_focus("Cancel")
        self.assertEqual(self.visible_titles(), before)

    def test_closing_welcome_leaves_the_backdrop_and_closing_that_ends(self):
        self.p.close_window(WELCOME)
        self.p.wait_window_gone(WELCOME, timeout=15)
        self.assertEqual(self.visible_titles(), [BACKDROP])
        self.assertTrue(self.app.proc.running())
        we.wait_for(lambda: self.p.window(BACKDROP)["enabled"], 10,
                    what="the backdrop to take input again")
        self.p.screenshot("backdrop-alone")
        self.p.close_window(BACKDROP)
        self.assertEqual(self.app.wait_exit(30), 0)
        self.app.assert_nothing_written(self)


class Imports(unittest.TestCase):
    def test_setup_exe_imports_only_known_dlls(self):
        out = subprocess.run([we.env_path("SETUP_E2E_OBJDUMP"), "-p", setup_exe()], check=True,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=60).stdout
        dlls = {line.split(b":", 1)[1].strip().decode().lower()
                for line in out.splitlines() if line.strip().startswith(b"DLL Name:")}
        self.assertTrue(dlls, "no import table found")
        self.assertEqual(dlls - KNOWN_DLLS, set())


if __name__ == "__main__":
    unittest.main(verbosity=2)
