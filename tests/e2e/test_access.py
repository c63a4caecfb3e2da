"""Accessibility of SETUP.EXE under Wine: every text on screen can be read by an
automation client (our uia.exe), focus follows the tab order with real Tab
presses, Enter presses the default button and Escape does nothing.

One run walks the whole wizard with the keyboard only."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
import walk_rig as wr  # noqa: E402

WELCOME_TEXTS = [
    "Welcome to the Quorvant '99 setup program. Setup Wizard will guide you through the installation process.",
    "It is strongly recommended that you close all running Windows programs before continuing with the installation.",
    "Click Cancel now to close any running Windows programs. Otherwise, click Next to continue with the setup process.",
]
DESTINATION_TEXTS = [
    "Setup will install Quorvant '99 to this directory.",
    "To install into this directory click Next.",
    "To install into a different directory click Browse then choose another directory.",
    "Click Cancel now to exit the setup program.",
]
CHOOSER_TEXTS = ["Please choose a directory for the installation.", "Path", "Directory", "Drive"]
TYPED = "C:\\Keyboard Only"


class KeyboardAndReader(unittest.TestCase):
    def setUp(self):
        self.p = we.Prefix(name="keyboard")
        self.addCleanup(self.p.close)
        self.w = wr.Walk(self.p)
        self.addCleanup(self.w.stop)

    def statics(self, title):
        return [c["text"] for c in self.p.controls(title) if c["class"] == "Static"]

    def tab_cycle(self, window, stops):
        """Tab from the first stop through all of them and back round; then Shift+Tab back."""
        self.w.wait_focus_on(window, *stops[0])
        for stop in stops[1:] + stops[:1]:
            self.p.key("Tab")
            self.w.wait_focus_on(window, *stop)
        self.p.key("shift+Tab")
        self.w.wait_focus_on(window, *stops[-1])
        self.p.key("Tab")
        self.w.wait_focus_on(window, *stops[0])

    def escape_does_nothing(self, window, focus, next_focus):
        before = self.w.titles()
        self.p.key("Escape", "Tab")
        # Once the Tab after it has moved the focus on, the Escape has been handled too.
        self.w.wait_focus_on(window, *next_focus)
        self.p.key("shift+Tab")
        self.w.wait_focus_on(window, *focus)
        self.assertEqual(self.w.titles(), before, "Escape on %r" % window)
        self.assertTrue(self.w.proc.running())

    def test_whole_wizard_by_keyboard_with_every_text_readable(self):
        w, p = self.w, self.p
        w.wait_welcome()
        texts = self.statics(rig.WELCOME)
        for t in WELCOME_TEXTS:
            self.assertIn(t, texts)
        self.assertEqual(len([t for t in texts if t.strip()]), 6, texts)
        self.tab_cycle(rig.WELCOME, [("Button", "Next >"), ("Button", "Cancel")])
        self.escape_does_nothing(rig.WELCOME, ("Button", "Next >"), ("Button", "Cancel"))
        w.next_to_destination()  # Enter: the default button

        texts = self.statics(rig.DESTINATION)
        for t in DESTINATION_TEXTS + [rig.DEFAULT_DEST]:
            self.assertIn(t, texts)
        frames = [c["text"] for c in p.controls(rig.DESTINATION) if c["class"] == "RtFrame"]
        self.assertEqual(frames, ["Destination Directory"])
        self.tab_cycle(rig.DESTINATION, [("Button", "Next >"), ("Button", "Cancel"),
                                         ("Button", "< Back"), ("Button", "Browse")])
        self.escape_does_nothing(rig.DESTINATION, ("Button", "Next >"), ("Button", "Cancel"))

        w.open_chooser_by_keys()
        texts = self.statics(rig.CHOOSER)
        self.assertEqual(sorted(texts), sorted(CHOOSER_TEXTS))
        self.tab_cycle(rig.CHOOSER, [("Edit", None), ("ListBox", None), ("ComboBox", "d:"),
                                     ("Button", "OK"), ("Button", "Cancel")])
        self.escape_does_nothing(rig.CHOOSER, ("Edit", None), ("ListBox", None))
        # Enter in the text box is OK.
        rig.type_text(p, TYPED)
        w.wait_chooser_text(TYPED)
        p.key("Return")
        w.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        self.assertIn(TYPED, self.statics(rig.DESTINATION))
        w.wait_focus_on(rig.DESTINATION, "Button", "Browse")
        p.key("Tab")
        w.wait_focus_on(rig.DESTINATION, "Button", "Next >")
        p.key("Return")

        w.finish()
        self.assertEqual(w.message_keys(), [rig.SUCCESS])
        self.assertEqual(w.exit_code, 0)
        copying = w.messages[0].window(rig.COPYING)
        self.assertIsNotNone(copying, "no copy window at the final message")
        controls = copying["controls"]
        frames = [c["text"] for c in controls if c["class"] == "RtFrame"]
        self.assertEqual(frames, ["Setup is installing Quorvant '99 program files."])
        texts = [c["text"] for c in controls if c["class"] == "Static"]
        for t in ("Installing From:", "Installing To:", "D:\\TABCTL32.OC_",
                  TYPED.upper() + "\\TABCTL32.OCX"):
            self.assertIn(t, texts)
        gauges = [c["text"] for c in controls if c["class"] == "RtPicture" and c["text"]]
        self.assertEqual(gauges, ["100%"])
        self.assertTrue(os.path.isfile(os.path.join(self.p.drive_c, "Keyboard Only", "QV99.EXE")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
