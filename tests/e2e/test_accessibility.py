"""End-to-end tests of what a screen reader and a high-contrast user get from SETUP.EXE under
Wine: the accessible names and states of the pages' controls (uia accessible), the gauge's own
object, read during the copy run; the events of a whole installation as an out-of-context hook
installed before the program starts sees them (uia events): where the focus goes on each page,
the gauge's and the file labels' changes during the copy run, and the final message box; and a
run in a high-contrast scheme, turned on and off while it runs, as its screenshots show it.

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
# A high-contrast scheme whose colours each tell what painted a pixel: black faces, yellow window
# text, white button text, a green highlight with white text on it.
SCHEME = {"Window": (0, 0, 0), "WindowText": (255, 255, 0), "ButtonFace": (0, 0, 0), "ButtonText": (255, 255, 255),
          "Hilight": (0, 128, 0), "HilightText": (255, 255, 255)}
HC_ON, HC_OFF = "127", "126"  # high contrast on or off, with the flags that Windows keeps beside it


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


def contrast_reg(flags, scheme=None):
    """The user's high-contrast settings as Windows keeps them, and a colour scheme."""
    text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Accessibility\\HighContrast]\n\"Flags\"=\"%s\"\n" % flags
    if scheme:
        text += "\n[HKEY_CURRENT_USER\\Control Panel\\Colors]\n"
        text += "".join("\"%s\"=\"%d %d %d\"\n" % (name, *rgb) for name, rgb in scheme.items())
    return text


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


class HighContrastRun(rig.RigCase):
    """One installation with a high-contrast colour scheme in the user's settings, high contrast
    turned on at the welcome page, off during the copy run and on again at the final message,
    each time told to the windows as Windows tells them. Wine takes the scheme's colours from
    the settings but never reports high contrast to a program (SPI_GETHIGHCONTRAST answers off
    whatever the settings say, and it cannot be set): contrast.dll, loaded into SETUP.EXE, answers
    it from the settings, as Windows does."""

    def switch(self, flags):
        we.set_registry(self.p.env, contrast_reg(flags))
        self.p.uia("settingchange")

    def shot_when(self, label, *points):
        """A screenshot once each (x, y, colour) of `points` shows."""
        return self.p.screenshot_when(label, lambda s: all(s.pixel(x, y) == rgb for x, y, rgb in points))

    def gauge_rect(self):
        """The gauge's drawing area on the screen: inside its border."""
        boxes = [c for c in rig.window_in(self.p.uia("snapshot"), COPYING)["controls"] if c["class"] == "RtPicture"]
        l, t, r, b = max(boxes, key=lambda c: c["rect"][2] - c["rect"][0])["rect"]
        return l + 2, t + 2, r - 2, b - 2

    def test_fixed_colours_give_way_to_the_scheme_and_back(self):
        we.set_registry(self.p.env, contrast_reg(HC_ON, SCHEME))
        self.addCleanup(self.p.reset, registry=True)
        self.p.restart()  # the scheme as the user has it from the logon on
        run = self.session(env=rig.slow_source_env(self.p, rig.SLOW_RATE * 2))
        run.wait_welcome()
        shim = os.path.join(os.path.dirname(we.env_path("SETUP_E2E_UIA")), "contrast", "contrast.dll")
        self.assertTrue(self.p.uia("inject", BACKDROP, we.to_windows_path(shim))["ok"])
        self.p.uia("settingchange")
        cl, ct, cr, cb = self.p.window(BACKDROP)["client"]
        backdrop = (cl + 10, cb - 10)
        # The backdrop in the window colour; the title in the window text colour, without its
        # shadow (the button text colour).
        shot = self.shot_when("backdrop", (*backdrop, SCHEME["Window"]))
        title = [rgb for _, rgb in shot.pixels_in(cl, ct, cl + 300, ct + 80)]
        self.assertGreater(sum(1 for rgb in title if rgb[0] > 200 and rgb[1] > 200 and rgb[2] < 60), 100, "no yellow title")
        self.assertEqual([rgb for rgb in title if rgb[2] > 100], [], "the shadow or a white title is drawn")

        run.to_destination()
        run.start_copy()
        we.wait_for(lambda: rig.copy_snapshot(run), rig.RUN_TIMEOUT, what="the copy run")
        l, t, r, b = self.gauge_rect()
        # The bar in the highlight colour, the percentage readable over it and beside it.
        shot = self.shot_when("copying", (l + 2, t + 1, SCHEME["Hilight"]))
        readable = sum(1 for _, rgb in shot.pixels_in(l, t, r, b) if max(rgb) > 200)
        self.assertGreater(readable, 10, "no readable percentage")

        # Off while the copy run is busy: the fixed colours come back at once.
        self.switch(HC_OFF)
        self.shot_when("copying-off", (*backdrop, rig.TEAL), (l + 2, t + 1, rig.DARK_RED))

        def on_at_the_end(index, box):
            # On again once the gauge is drawn for the last time: what it keeps is drawn again,
            # the 100% in the highlight text colour over the whole bar.
            self.switch(HC_ON)
            shot = self.shot_when("final-on", (*backdrop, SCHEME["Window"]), (l + 2, t + 1, SCHEME["Hilight"]))
            self.assertGreater(sum(1 for _, rgb in shot.pixels_in(l, t, r, b) if min(rgb) > 200), 10, "no white 100%")
        run.finish(drag_first=True, before_answer=on_at_the_end)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])


if __name__ == "__main__":
    unittest.main(verbosity=2)
