"""End-to-end tests of what a screen reader gets from SETUP.EXE under Wine: the accessible
names and states of the pages' controls (uia accessible), the gauge's own object, read during
the copy run; and the events of a whole installation as an out-of-context hook installed before
the program starts sees them (uia events): where the focus goes on each page, the gauge's and
the file labels' changes during the copy run, and the final message box.

Wine gives every system control the role "client" and no default-button state, so their roles
are not looked at; names, the focused, unavailable and invisible states, the events and the
role of the program's own object (the gauge's) are.
"""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
from install_rig import BACKDROP, CHOOSER, COPYING, DESTINATION, MANIFEST, PRODUCT, WELCOME  # noqa: E402

INPUT_CLASSES = ("Button", "Edit", "ListBox", "ComboBox")
GAUGE_TOTAL = 4800000
ROLE_SYSTEM_PROGRESSBAR = 48


def f32(x):
    """x rounded to single precision, as the gauge keeps its percentage."""
    return struct.unpack("f", struct.pack("f", x))[0]


def printed_percentages():
    """The gauge's texts after each file of the built installer folder, in order."""
    percent, texts = f32(0), []
    for source, _, _ in MANIFEST:
        size = os.path.getsize(os.path.join(rig.disk_dir(), source))
        percent = min(f32(percent + f32(size / GAUGE_TOTAL * 100)), 100.0)
        texts.append("%d%%" % round(percent))
    return texts


def changes(texts):
    """The texts that differ from the one before (the first differs from nothing)."""
    return [t for i, t in enumerate(texts) if i == 0 or t != texts[i - 1]]


def gauge_object(controls):
    """The gauge among a window's controls as uia accessible reads them: the picture box with a name."""
    return next((c for c in controls if c["class"] == "RtPicture" and c["name"]), None)


class PagesRead(rig.RigCase):
    """Names and states of every window's controls, read through the system's accessibility
    interfaces while the wizard is on screen."""

    def controls(self, title):
        r = self.p.uia("accessible", title)
        self.assertTrue(r["ok"], "%r: %s" % (title, r.get("error")))
        return r["controls"]

    def assert_inputs_named(self, title):
        for c in self.controls(title):
            if c["class"] in INPUT_CLASSES and not c["invisible"]:
                self.assertTrue(c["name"], "%s in %r has no name: %r" % (c["class"], title, c))

    def test_every_control_that_takes_input_is_named_and_the_title_is_read_once(self):
        run = self.session()
        run.wait_welcome()
        # The backdrop's product name is read once: its shadow is no object a reader shows.
        read = [c["name"] for c in self.controls(BACKDROP) if not c["invisible"]]
        self.assertEqual(read, [PRODUCT])
        welcome = {c["name"]: c for c in self.controls(WELCOME)}
        self.assertTrue(welcome["Next >"]["focused"])
        self.assertTrue(welcome["< Back"]["unavailable"], "the disabled < Back is not told as unavailable")
        self.assert_inputs_named(WELCOME)

        run.to_destination()
        self.assert_inputs_named(DESTINATION)
        run.open_chooser("keys")
        self.assert_inputs_named(CHOOSER)
        named = {c["class"]: c for c in self.controls(CHOOSER) if c["class"] in ("Edit", "ListBox", "ComboBox")}
        names = {"Edit": "Path", "ListBox": "Directory", "ComboBox": "Drive"}
        self.assertEqual({k: c["name"] for k, c in named.items()}, names)
        # A client that binds late (IDispatch) reads the same names.
        self.assertEqual({k: c["late_bound_name"] for k, c in named.items()}, names)
        # The text box's text is its value, and it has the focus.
        self.assertEqual(named["Edit"]["value"], rig.DEFAULT_DEST)
        self.assertTrue(named["Edit"]["focused"])


class InstallationHeard(rig.RigCase):
    """One installation walked with the keyboard, through the folder chooser and back, with the
    events recorded from before SETUP.EXE starts until it has ended, and the gauge read during
    the copy run, its payload read slowly enough for that."""

    reset_each = False

    @classmethod
    def setUpClass(cls):
        cls.p = we.shared_prefix(cls.dpi).reset(name="accessibility-events")
        recorder = cls.p.record_events()
        cls.final = {}
        run = rig.Session(cls.p, env=rig.slow_source_env(cls.p, rig.SLOW_RATE * 4))
        try:
            run.to_destination()
            run.open_chooser("keys")
            cls.p.click(CHOOSER, "Cancel")
            cls.p.wait_window_gone(CHOOSER, timeout=rig.STEP_TIMEOUT)
            run.start_copy()

            def mid_run():
                # A reader's calls reach the gauge's object while the copy run is busy.
                return rig.copy_snapshot(run) and gauge_object(cls.p.uia("accessible", COPYING)["controls"])
            cls.during = we.wait_for(mid_run, rig.RUN_TIMEOUT, what="the gauge read during the copy run")
            rig.copy_snapshot(run)  # fails once the run has ended: the read was not during it

            def read_copy_window(index, box):
                # While the final message is up, the copy window answers again.
                cls.final = {c["hwnd"]: c for c in cls.p.uia("accessible", COPYING)["controls"]}
            run.finish(before_answer=read_copy_window)
        finally:
            run.stop()
            cls.events = recorder.stop()

    def opened(self, title):
        """The index of the creation event of the top-level window `title`."""
        for i, e in enumerate(self.events):
            if e["event"] == "create" and e["class"] == "#32770" and e["text"] == title:
                return i
        self.fail("no window %r was created; events: %r" % (title, self.events[:50]))

    def first_focus_after(self, index):
        return next((e for e in self.events[index:] if e["event"] == "focus"), None)

    def test_each_page_opens_with_the_focus_on_its_first_control(self):
        # (The text box's name, "Path", is read in PagesRead: its window keeps no text.)
        for title, cls, text in ((WELCOME, "Button", "Next >"), (DESTINATION, "Button", "Next >"),
                                 (CHOOSER, "Edit", "")):
            with self.subTest(page=title):
                e = self.first_focus_after(self.opened(title))
                self.assertIsNotNone(e, "no focus event after %r opened" % title)
                self.assertEqual((e["root_title"], e["class"], e["text"]), (title, cls, text))
        # The copy window takes no input: the focus is on the window itself, read by its title.
        e = self.first_focus_after(self.opened(COPYING))
        self.assertEqual((e["class"], e["root_title"], e["hwnd"] == e["root"]), ("#32770", COPYING, True))

    def test_the_focus_is_never_on_a_label_a_frame_or_the_gauge(self):
        wrong = [e for e in self.events if e["event"] == "focus" and e["class"] in ("Static", "RtFrame", "RtPicture")
                 and e["root_title"] in (BACKDROP, WELCOME, DESTINATION, CHOOSER, COPYING)]
        self.assertEqual(wrong, [])

    def copy_window_changes(self, cls, event="namechange"):
        return [e for e in self.events if e["event"] == event and e["class"] == cls and e["root_title"] == COPYING]

    def test_the_gauge_tells_each_new_percentage_up_to_100(self):
        want = changes(printed_percentages())
        self.assertEqual(want[-1], "100%", "the payload does not fill the gauge")
        for event in ("namechange", "valuechange"):
            with self.subTest(event=event):
                seen = self.copy_window_changes("RtPicture", event)
                self.assertEqual(len(seen), len(want), "%s events of the gauge: %r, printed %r"
                                 % (event, [e["text"] for e in seen], want))
                # Each is read when the hook gets to it: never lower than the one before.
                numbers = [int(e["text"].rstrip("%")) for e in seen]
                self.assertEqual(numbers, sorted(numbers))
                self.assertTrue(set(e["text"] for e in seen) <= set(want), [e["text"] for e in seen])
                self.assertEqual(seen[-1]["text"], "100%")
        # What a reader reads there at the end: the last percentage printed.
        gauge = [c for c in self.final.values() if c["class"] == "RtPicture" and c["text"]]
        self.assertEqual([c["name"] for c in gauge], ["100%"])

    def test_the_gauge_is_a_progress_bar_whose_value_is_its_percentage(self):
        printed = set(printed_percentages())
        for when, gauge in (("during the copy run", self.during), ("at the end", gauge_object(self.final.values()))):
            with self.subTest(when=when):
                self.assertEqual(gauge["role"], ROLE_SYSTEM_PROGRESSBAR)
                for text in ("name", "value", "late_bound_name"):
                    self.assertIn(gauge[text], printed, text)
        self.assertEqual([gauge_object(self.final.values())[t] for t in ("name", "value", "late_bound_name")],
                         ["100%"] * 3)

    def test_the_file_labels_tell_each_new_file(self):
        by_label = {}
        for e in self.copy_window_changes("Static"):
            by_label.setdefault(e["hwnd"], []).append(e)
        self.assertEqual(len(by_label), 2, "labels that told a change: %r" % list(by_label))
        for hwnd, seen in by_label.items():
            with self.subTest(label=self.final[hwnd]["name"]):
                self.assertEqual(len(seen), len(MANIFEST))
        names = sorted(self.final[h]["name"] for h in by_label)
        source, dest, _ = MANIFEST[-1]
        self.assertEqual(names, sorted(["D:\\" + source, (rig.DEFAULT_DEST + "\\" + dest).upper()]))

    def test_the_final_message_takes_the_focus_from_the_copy_window(self):
        opened = self.opened(COPYING)
        copying = next(i for i, e in enumerate(self.events[opened:], opened) if e["event"] == "focus")
        e = self.first_focus_after(copying + 1)
        self.assertIsNotNone(e, "no focus event after the copy window's")
        self.assertEqual(e["root_title"], rig.SUCCESS[0])


if __name__ == "__main__":
    unittest.main(verbosity=2)
