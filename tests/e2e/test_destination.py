"""End-to-end tests of the destination page and the folder chooser of SETUP.EXE under Wine.

Each run starts the real SETUP.EXE from D:\\ (a copy of the installer folder) in a copy
of the prefix template, from another working directory (C:\\windows), goes on from the
welcome page with "Next >", and drives the pages with key presses and button clicks as
a user does. What is checked is what the user sees and what lands on the disks.
"""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402

WELCOME = "Welcome"
DESTINATION = "Choose Destination Location"
CHOOSER = "Choose Directory"
COPYING = "Copying Files ..."
SETUP_BOX = "Setup"
COMPLETE = "Quorvant '99 Installation Complete!"
DEFAULT_FOLDER = "C:\\Program Files\\Quorvant '99"
FRAME = "Destination Directory"

# Client sizes and control boxes in twips: (left, top, width, height).
DESTINATION_CLIENT = (7710, 4845)
CHOOSER_CLIENT = (4215, 4095)
BUTTONS = {
    "< Back": (3360, 4275, 1215, 375),
    "Next >": (4680, 4275, 1215, 375),
    "Cancel": (6120, 4275, 1215, 375),
}
FRAME_BOX = (2760, 3060, 4575, 735)
BROWSE_IN_FRAME = (3360, 225, 1095, 375)
LABEL5_IN_FRAME = (120, 315, 3255, 285)
DESTINATION_LABELS = [
    ((2760, 225, 4575, 240), "Setup will install Quorvant '99 to this directory."),
    ((2760, 810, 4575, 240), "To install into this directory click Next."),
    ((2760, 1170, 4575, 465),
     "To install into a different directory click Browse then choose another directory."),
    ((2760, 2610, 4575, 285), "Click Cancel now to exit the setup program."),
    ((240, 4200, 2535, 255), None),  # the maker's notice: any one-line text
]
CHOOSER_CONTROLS = [
    ("Static", (240, 135, 3855, 285), "Please choose a directory for the installation."),
    ("Static", (240, 450, 1575, 240), "Path"),
    ("Edit", (240, 675, 3735, 285), None),
    ("Static", (240, 1035, 1215, 240), "Directory"),
    ("ListBox", (240, 1260, 2295, 2055), None),
    ("Static", (240, 3375, 1815, 240), "Drive"),
    ("Button", (2760, 1260, 1215, 375), "OK"),
    ("Button", (2760, 1710, 1215, 375), "Cancel"),
]
DRIVE_LIST_BOX = (240, 3600, 2295, 315)
# A folder that the installer folder holds besides its files, so that the directory
# list has something to open below its starting folder.
EXTRA_FOLDER = "SAMPLES"


def rel_rect(rect, origin):
    """(left, top, width, height) of a screen rect relative to an origin."""
    return (rect[0] - origin[0], rect[1] - origin[1], rect[2] - rect[0], rect[3] - rect[1])


def px_rect(twips_rect, dpi):
    return tuple(we.twips_to_px(v, dpi) for v in twips_rect)


def map_folder(prefix, letter, folder):
    """Makes `folder` drive `letter`: in Wine a dosdevices link is a drive at once."""
    dosdevices = os.path.join(prefix.path, "dosdevices")
    for name in (letter + ":", letter + "::"):
        link = os.path.join(dosdevices, name)
        if os.path.lexists(link):
            os.unlink(link)
    os.symlink(folder, os.path.join(dosdevices, letter + ":"))


class Run:
    """SETUP.EXE in a fresh prefix, up to the welcome page; drives the wizard from there."""

    def __init__(self, name, extra_drives=(), before_start=None):
        self.prefix = p = we.Prefix(name=name)
        try:
            self.drives = {}
            for letter in extra_drives:
                folder = os.path.join(p.root, "drive-" + letter)
                os.makedirs(folder)
                map_folder(p, letter, folder)
                self.drives[letter] = folder
            if before_start:
                before_start(self)
            self.drive_c_before = p.drive_c_tree()
            self.disk_before = we.tree_of(p.disk)
            self.proc = p.start("D:\\SETUP.EXE", cwd=os.path.join(p.drive_c, "windows"))
            p.wait_window(WELCOME, timeout=40, proc=self.proc)
            self.wait_button(WELCOME, "Next >")
        except BaseException:
            p.close()
            raise

    def close(self):
        self.prefix.close()

    # -- looking

    def buttons(self, title):
        return {c["text"]: c for c in self.prefix.controls(title)
                if c["class"] == "Button" and c["visible"]}

    def wait_button(self, title, text, timeout=15):
        return we.wait_for(lambda: self.buttons(title).get(text), timeout,
                           what="button %r on %r" % (text, title))

    def wait_focus(self, window, focus_class=None, focus_text=None, timeout=10):
        """Waits until `window` is in the foreground with the focus on the control named."""
        def ready():
            f = self.prefix.focus()
            return (f.get("foreground_title") == window
                    and (focus_class is None or f.get("focus_class") == focus_class)
                    and (focus_text is None or f.get("focus_text") == focus_text)) and f
        return we.wait_for(ready, timeout, what="focus on %s %s in %r"
                           % (focus_class or "", focus_text or "", window))

    def label5(self):
        """The destination label: the Static inside the frame "Destination Directory"."""
        controls = self.prefix.controls(DESTINATION)
        frames = [c["hwnd"] for c in controls if c["class"] == "RtFrame" and c["text"] == FRAME]
        labels = [c for c in controls if c["class"] == "Static" and c["parent"] in frames]
        if len(labels) != 1:
            raise we.E2EError("expected one label in the frame, found %r" % labels)
        return labels[0]["text"]

    def chooser_control(self, cls):
        found = [c for c in self.prefix.controls(CHOOSER) if c["class"] == cls]
        if len(found) != 1:
            raise we.E2EError("expected one %s in the chooser, found %d" % (cls, len(found)))
        return found[0]

    def text1(self):
        return self.chooser_control("Edit")["text"]

    def wait_text1(self, text, timeout=10):
        try:
            return we.wait_for(lambda: self.text1() == text, timeout, what="Text1 = %r" % text)
        except TimeoutError as e:
            raise TimeoutError("%s; it holds %r" % (e, self.text1())) from None

    def wait_label5(self, text, timeout=10):
        try:
            return we.wait_for(lambda: self.label5() == text, timeout, what="Label5 = %r" % text)
        except TimeoutError as e:
            raise TimeoutError("%s; it holds %r" % (e, self.label5())) from None

    def assert_nothing_written(self, tc):
        tc.assertEqual(we.tree_diff(self.drive_c_before, self.prefix.drive_c_tree()), [],
                       "files written to drive C:")
        tc.assertEqual(we.tree_diff(self.disk_before, we.tree_of(self.prefix.disk)), [],
                       "files written to the installer folder")
        for letter, folder in self.drives.items():
            if os.path.isdir(folder):
                tc.assertEqual(os.listdir(folder), [], "files written to drive %s:" % letter)

    # -- doing

    def to_destination(self):
        """"Next >" on the welcome page; returns when the destination page has the focus."""
        self.prefix.click(WELCOME, "Next >")
        self.prefix.wait_window(DESTINATION, timeout=15, proc=self.proc)
        self.wait_button(DESTINATION, "Browse")
        self.wait_focus(DESTINATION)

    def open_chooser(self):
        """"Browse"; returns when the chooser is up with the focus in its text box."""
        self.prefix.click(DESTINATION, "Browse")
        self.prefix.wait_window(CHOOSER, timeout=15, proc=self.proc)
        self.wait_focus(CHOOSER, "Edit")

    def type_into_text1(self, text):
        """Replaces the text box's text by typing, as a user does; the focus is in it."""
        self.prefix.key("End", "shift+Home", "BackSpace")
        self.wait_text1("")
        if text:
            we._run(["xdotool", "type", "--delay", "8", text], self.prefix.env, 60)
            self.wait_text1(text)

    def click_into_text1(self):
        """A left click in the middle of the text box; returns when it has the focus."""
        left, top, right, bottom = self.chooser_control("Edit")["rect"]
        we._run(["xdotool", "mousemove", str((left + right) // 2), str((top + bottom) // 2),
                 "click", "1"], self.prefix.env, 30)
        self.wait_focus(CHOOSER, "Edit")

    def choose(self, text):
        """Browse, type `text`, Enter (OK); returns when the label shows it."""
        self.open_chooser()
        self.type_into_text1(text)
        self.prefix.key("Return")
        self.prefix.wait_window_gone(CHOOSER, timeout=10)
        self.wait_label5(text)

    def wait_message_box(self, text=None, timeout=15):
        """Waits for the message box titled "Setup" and returns its facts."""
        self.prefix.wait_window(SETUP_BOX, timeout=timeout, proc=self.proc)
        box = we.wait_for(lambda: (lambda b: b if b["text"] else None)(
            self.prefix.message_box(SETUP_BOX)), 10, what="the message box's text")
        if text is not None and box["text"] != text:
            raise we.E2EError("message box says %r, expected %r" % (box["text"], text))
        return box

    def close_message_box(self):
        self.wait_focus(SETUP_BOX, "Button")
        self.prefix.key("Return")
        self.prefix.wait_window_gone(SETUP_BOX, timeout=10)

    def install_and_finish(self, tc, timeout=90):
        """Waits for the completion message, closes it, and checks the program ended well."""
        box = self.wait_message_box(timeout=timeout)
        tc.assertEqual(box["text"], COMPLETE)
        tc.assertEqual(box["buttons"], ["OK"])
        self.close_message_box()
        tc.assertEqual(self.proc.wait(30), 0)

    def centred(self, window):
        """Where the centring rule puts `window` (Top then Left, in twips): (left, top)."""
        dpi = self.prefix.dpi()
        to_tw = 1440.0 / dpi["dpi_x"]
        sw, sh = dpi["screen"]
        left, top, right, bottom = window["rect"]
        return (we.twips_to_px(sw * to_tw / 2 - (right - left) * to_tw / 2, dpi["dpi_x"]),
                we.twips_to_px(sh * to_tw / 2 - (bottom - top) * to_tw / 2, dpi["dpi_x"]))


def assert_installed_into(tc, folder):
    """The twenty files in `folder` and its DATA subfolder, as the install manifest puts them."""
    disk = we.env_path("SETUP_E2E_DISK")
    program = os.path.join(folder, "QV99.EXE")
    licence = os.path.join(folder, "DATA", "LICENSE.TXT")
    tc.assertTrue(os.path.isfile(program), "no QV99.EXE in %s: %r" % (folder, os.listdir(folder)))
    tc.assertTrue(os.path.isfile(licence), "no DATA\\LICENSE.TXT in %s" % folder)
    with open(os.path.join(disk, "QV99.EX_"), "rb") as src, open(program, "rb") as dst:
        tc.assertEqual(src.read() == dst.read(), True, "QV99.EXE differs from QV99.EX_")
    count = sum(len(files) for _, _, files in os.walk(folder))
    tc.assertEqual(count, 20, "files under %s" % folder)


# --------------------------------------------------------------------------- layout

class PagesAsTheyOpen(unittest.TestCase):
    """The destination page and the chooser as they first come up: one run for the class."""

    @classmethod
    def setUpClass(cls):
        cls.app = app = Run(cls.__name__)
        cls.addClassCleanup(app.close)
        p = app.prefix
        cls.welcome_buttons = app.buttons(WELCOME)
        app.to_destination()
        cls.dest_snapshot = p.uia("snapshot")
        cls.dpi = cls.dest_snapshot["dpi_x"]
        cls.dest_shot = cls.painted_screenshot(DESTINATION, "Next >", "destination-page")
        app.open_chooser()
        cls.chooser_snapshot = p.uia("snapshot")
        cls.chooser_shot = cls.painted_screenshot(CHOOSER, "OK", "folder-chooser")

    @classmethod
    def painted_screenshot(cls, title, button, label):
        """A screenshot taken once the window has painted: the button's caption is drawn."""
        rect = cls.app.buttons(title)[button]["rect"]

        def shot():
            s = cls.app.prefix.screenshot(label)
            return s if cls.dark_pixels(s, rect) > 10 else None
        return we.wait_for(shot, 15, interval=0.5, what="%r painted" % title)

    @staticmethod
    def window_in(snapshot, title):
        for w in snapshot["windows"]:
            if w["visible"] and w["title"] == title:
                return w
        raise AssertionError("no visible %r window in the snapshot" % title)

    def px(self, twips_rect):
        return px_rect(twips_rect, self.dpi)

    def assert_box(self, got, want_twips, what):
        want = self.px(want_twips)
        for g, e, edge in zip(got, want, ("left", "top", "width", "height")):
            self.assertAlmostEqual(g, e, delta=1, msg="%s %s: %r vs %r px" % (what, edge, got, want))

    def assert_fixed_dialog(self, w, client_twips):
        self.assertEqual(w["class"], "#32770")
        self.assertTrue(w["caption"])
        for flag in ("thickframe", "minbox", "maxbox", "maximized", "appwindow"):
            self.assertFalse(w[flag], flag)
        self.assertTrue(w["owner"] or w["toolwindow"], "shown in the taskbar")
        cl, ct, cr, cb = w["client"]
        self.assertAlmostEqual(cr - cl, we.twips_to_px(client_twips[0], self.dpi), delta=1)
        self.assertAlmostEqual(cb - ct, we.twips_to_px(client_twips[1], self.dpi), delta=1)
        want_left, want_top = self.app.centred(w)
        self.assertAlmostEqual(w["rect"][0], want_left, delta=2, msg="left (centred)")
        self.assertAlmostEqual(w["rect"][1], want_top, delta=2, msg="top (centred)")

    @staticmethod
    def dark_pixels(shot, rect):
        l, t, r, b = rect
        return sum(1 for _, rgb in shot.pixels_in(l, t, r, b) if max(rgb) < 100)

    # -- destination page

    def test_destination_is_a_fixed_dialog_of_its_size_centred(self):
        self.assert_fixed_dialog(self.window_in(self.dest_snapshot, DESTINATION), DESTINATION_CLIENT)
        # Modal over the welcome page, which stays open behind it.
        self.assertFalse(self.window_in(self.dest_snapshot, WELCOME)["enabled"])

    def test_buttons_stand_where_the_welcome_page_had_them(self):
        w = self.window_in(self.dest_snapshot, DESTINATION)
        buttons = {c["text"]: c for c in w["controls"] if c["class"] == "Button" and c["depth"] == 0}
        self.assertEqual(set(buttons), set(BUTTONS))
        for text, twips in BUTTONS.items():
            with self.subTest(button=text):
                b = buttons[text]
                self.assert_box(rel_rect(b["rect"], w["client"][:2]), twips, text)
                # The welcome page is 15 twips narrower and both pages are centred, so a
                # button may stand one pixel to the side; it must not move more than that.
                old = self.welcome_buttons[text]["rect"]
                for g, e, edge in zip(b["rect"], old, ("left", "top", "right", "bottom")):
                    self.assertAlmostEqual(g, e, delta=0 if edge in ("top", "bottom") else 1,
                                           msg="%s %s moved from the welcome page: %r vs %r"
                                           % (text, edge, b["rect"], old))
                self.assertTrue(b["enabled"] and b["visible"] and b["tabstop"])
        self.assertEqual([t for t, b in buttons.items() if b["defpushbutton"]], ["Next >"])
        focus = self.dest_snapshot
        self.assertEqual(focus["foreground_title"], DESTINATION)
        self.assertEqual((focus["focus_class"], focus["focus_text"]), ("Button", "Next >"))

    def test_frame_holds_browse_and_the_default_folder(self):
        w = self.window_in(self.dest_snapshot, DESTINATION)
        frames = [c for c in w["controls"] if c["class"] == "RtFrame"]
        self.assertEqual([f["text"] for f in frames], [FRAME])
        frame = frames[0]
        self.assert_box(rel_rect(frame["rect"], w["client"][:2]), FRAME_BOX, "frame")
        inside = [c for c in w["controls"] if c["parent"] == frame["hwnd"]]
        self.assertEqual(sorted((c["class"], c["text"]) for c in inside),
                         [("Button", "Browse"), ("Static", DEFAULT_FOLDER)])
        origin = frame["rect"][:2]
        for c in inside:
            box = BROWSE_IN_FRAME if c["class"] == "Button" else LABEL5_IN_FRAME
            self.assert_box(rel_rect(c["rect"], origin), box, c["text"])
        # The folder's letters are drawn in the label's box.
        label = [c for c in inside if c["class"] == "Static"][0]
        self.assertGreater(self.dark_pixels(self.dest_shot, label["rect"]), 50,
                           "no text drawn for the folder label")

    def test_page_labels_show_their_texts(self):
        w = self.window_in(self.dest_snapshot, DESTINATION)
        statics = [c for c in w["controls"] if c["class"] == "Static" and c["depth"] == 0]
        for box, caption in DESTINATION_LABELS:
            with self.subTest(label=caption or box):
                at_box = [c for c in statics if all(
                    abs(g - e) <= 1 for g, e in zip(rel_rect(c["rect"], w["client"][:2]), self.px(box)))]
                self.assertTrue(at_box, "no label at %r; labels: %r" % (box, [c["text"] for c in statics]))
                if caption is None:
                    self.assertTrue(at_box[0]["text"].strip())
                    self.assertNotIn("\n", at_box[0]["text"])
                else:
                    self.assertEqual(at_box[0]["text"], caption)
                self.assertGreater(self.dark_pixels(self.dest_shot, at_box[0]["rect"]), 30,
                                   "no text drawn")

    # -- folder chooser

    def test_chooser_is_a_fixed_dialog_of_its_size_centred(self):
        self.assert_fixed_dialog(self.window_in(self.chooser_snapshot, CHOOSER), CHOOSER_CLIENT)
        self.assertFalse(self.window_in(self.chooser_snapshot, DESTINATION)["enabled"],
                         "the destination page takes input while the chooser is open")

    def test_chooser_controls_and_their_places(self):
        w = self.window_in(self.chooser_snapshot, CHOOSER)
        controls = [c for c in w["controls"] if c["visible"]]
        origin = w["client"][:2]
        for cls, box, text in CHOOSER_CONTROLS:
            with self.subTest(control=text or cls):
                found = [c for c in controls if c["class"] == cls and all(
                    abs(g - e) <= 1 for g, e in zip(rel_rect(c["rect"], origin), self.px(box)))]
                self.assertEqual(len(found), 1, "%s at %r: %r" % (cls, box, [
                    (c["class"], c["text"], rel_rect(c["rect"], origin)) for c in controls]))
                if text is not None:
                    self.assertEqual(found[0]["text"], text)
        drive = [c for c in controls if c["class"] == "ComboBox"]
        self.assertEqual(len(drive), 1)
        got = rel_rect(drive[0]["rect"], origin)
        want = self.px(DRIVE_LIST_BOX)
        for g, e, edge in zip(got[:3], want[:3], ("left", "top", "width")):
            self.assertAlmostEqual(g, e, delta=1, msg="drive list %s: %r vs %r" % (edge, got, want))
        # The closed box: as high as defined, give or take the combo box's own borders.
        self.assertLessEqual(abs(got[3] - want[3]), 3, "drive list height: %r vs %r" % (got, want))
        buttons = [c for c in controls if c["class"] == "Button"]
        self.assertEqual([b["text"] for b in buttons if b["defpushbutton"]], ["OK"])

    def test_chooser_starts_with_the_label_text_in_the_focused_box_and_on_drive_d(self):
        s = self.chooser_snapshot
        self.assertEqual((s["foreground_title"], s["focus_class"]), (CHOOSER, "Edit"))
        self.assertEqual(s["focus_text"], DEFAULT_FOLDER)
        w = self.window_in(s, CHOOSER)
        drive = [c for c in w["controls"] if c["class"] == "ComboBox"][0]
        self.assertEqual(drive["text"], "d:")


# --------------------------------------------------------------------------- behaviour

class DestinationPage(unittest.TestCase):
    """Leaving the destination page by its buttons; a fresh run per test."""

    def setUp(self):
        self.app = Run(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.app.close)
        self.p = self.app.prefix
        self.app.to_destination()

    def test_back_returns_to_welcome_and_next_shows_the_initial_folder_again(self):
        self.app.choose("C:\\Somewhere Else")
        self.p.click(DESTINATION, "< Back")
        self.p.wait_window_gone(DESTINATION, timeout=10)
        self.app.wait_focus(WELCOME)
        self.assertTrue(self.p.window(WELCOME)["enabled"])
        self.app.to_destination()
        self.assertEqual(self.app.label5(), DEFAULT_FOLDER)
        self.assertTrue(self.app.proc.running())
        self.app.assert_nothing_written(self)

    def test_cancel_ends_the_program_and_writes_nothing(self):
        self.p.click(DESTINATION, "Cancel")
        self.assertEqual(self.app.proc.wait(30), 0)
        self.app.assert_nothing_written(self)

    def test_chooser_cancel_and_close_box_keep_the_label_and_ok_writes_it_back(self):
        app = self.app
        app.open_chooser()
        app.type_into_text1("C:\\Not Taken")
        self.p.click(CHOOSER, "Cancel")
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(app.label5(), DEFAULT_FOLDER)

        app.open_chooser()
        app.type_into_text1("C:\\Not Taken Either")
        self.p.close_window(CHOOSER)
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(app.label5(), DEFAULT_FOLDER)

        # OK without touching anything writes back exactly the label's text.
        app.open_chooser()
        self.assertEqual(app.text1(), DEFAULT_FOLDER)
        self.p.click(CHOOSER, "OK")
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(app.label5(), DEFAULT_FOLDER)
        self.assertIsNotNone(self.p.window(DESTINATION))
        app.assert_nothing_written(self)


class ChoosingAnotherDrive(unittest.TestCase):
    """Browse, the text box, the directory list, a typed folder on E:, and the installation."""

    def test_typed_folder_on_another_drive_is_installed_into(self):
        def add_folder(run):
            os.makedirs(os.path.join(run.prefix.disk, EXTRA_FOLDER))
        app = Run(self.id().rsplit(".", 1)[-1], extra_drives="e", before_start=add_folder)
        self.addCleanup(app.close)
        p = app.prefix
        app.to_destination()
        app.open_chooser()
        p.screenshot("chooser-open")
        self.assertEqual(app.text1(), DEFAULT_FOLDER)
        self.assertEqual(app.chooser_control("ComboBox")["text"], "d:")

        # The whole text is selected on opening: one typed letter replaces it.
        p.key("x")
        app.wait_text1("x")

        # The directory list starts at the installer's folder, D:\, with its sub-folder
        # below: opening that one puts its path into the text box.
        p.key("Tab")
        app.wait_focus(CHOOSER, "ListBox")
        p.key("Down", "Return")
        app.wait_text1("D:\\" + EXTRA_FOLDER)
        self.assertIsNotNone(p.window(CHOOSER), "Enter on another folder opens it, not OK")

        # Back into the text box with the mouse, then by keyboard: each time its whole
        # text is selected, and the typed letter replaces it.
        app.click_into_text1()
        p.key("y")
        app.wait_text1("y")
        p.key("Tab")
        app.wait_focus(CHOOSER, "ListBox")
        p.key("shift+Tab")
        app.wait_focus(CHOOSER, "Edit")
        p.key("w")
        app.wait_text1("w")

        target = "E:\\Quorvant Apps"
        app.type_into_text1(target)
        p.key("Return")
        p.wait_window_gone(CHOOSER, timeout=10)
        app.wait_label5(target)
        self.assertEqual(os.listdir(app.drives["e"]), [], "the chooser created something")

        p.click(DESTINATION, "Next >")
        app.install_and_finish(self)
        installed = os.path.join(app.drives["e"], "Quorvant Apps")
        assert_installed_into(self, installed)
        self.assertFalse(os.path.exists(os.path.join(p.drive_c, "Program Files", "Quorvant '99")),
                         "the default folder was made as well")


class RefusedDestinations(unittest.TestCase):
    """Typed destinations that are not full folder paths are refused on "Next >"."""

    REFUSED = [
        "",
        "Quorvant",
        "C:",
        "C:foo",
        "\\foo",
        "C:\\Quor<vant>",
        "C:\\Apps|99",
        "C:\\Apps\\CON",
        "C:\\lpt1.txt",
        "C:\\Quorvant.",
        "C:\\Quorvant ",
        "C:\\Apps\\..",
        "\\\\server",
        "C:\\" + "q" * 239,  # 242 characters
    ]

    def test_refused_then_an_existing_folder_is_accepted(self):
        def existing(run):
            os.makedirs(os.path.join(run.prefix.drive_c, "Existing Q99"))
        app = Run(self.id().rsplit(".", 1)[-1], before_start=existing)
        self.addCleanup(app.close)
        p = app.prefix
        app.to_destination()
        shown = False
        for path in self.REFUSED + ["C:\\Quorvant\t99"]:
            with self.subTest(path=path):
                if "\t" in path:
                    # A control character cannot be typed into the box; it is set directly.
                    app.open_chooser()
                    edit = app.chooser_control("Edit")
                    p.set_text(CHOOSER, edit["id"], path)
                    app.wait_text1(path)
                    p.click(CHOOSER, "OK")
                    p.wait_window_gone(CHOOSER, timeout=10)
                    app.wait_label5(path)
                else:
                    app.choose(path)
                p.click(DESTINATION, "Next >")
                box = app.wait_message_box()
                if not shown:
                    p.screenshot("refused-destination")
                    shown = True
                self.assertEqual(box["buttons"], ["OK"])
                self.assertEqual(box["icon"], "exclamation")
                self.assertNotEqual(box["text"], COMPLETE)
                self.assertTrue(box["text"].strip())
                app.close_message_box()
                self.assertIsNotNone(p.window(DESTINATION), "left the destination page")
                self.assertIsNone(p.window(COPYING))
                self.assertEqual(app.label5(), path)
                app.assert_nothing_written(self)
        self.assertTrue(app.proc.running())

        # A folder that is there already is fine: the installation runs into it.
        app.choose("C:\\Existing Q99")
        p.click(DESTINATION, "Next >")
        app.install_and_finish(self)
        assert_installed_into(self, os.path.join(p.drive_c, "Existing Q99"))


class DriveNotReady(unittest.TestCase):
    """A drive whose folder has gone, chosen in the drive list."""

    def test_drive_not_ready_is_reported_and_the_list_stays(self):
        app = Run(self.id().rsplit(".", 1)[-1], extra_drives="f")
        self.addCleanup(app.close)
        p = app.prefix
        app.to_destination()
        app.open_chooser()
        shutil.rmtree(app.drives["f"])
        p.key("Tab", "Tab")
        app.wait_focus(CHOOSER, "ComboBox")
        self.assertEqual(app.chooser_control("ComboBox")["text"], "d:")
        p.key("f")
        box = app.wait_message_box()
        p.screenshot("drive-not-ready")
        self.assertEqual(box["buttons"], ["OK"])
        self.assertTrue(box["text"].strip())
        app.close_message_box()
        self.assertTrue(app.proc.running())
        self.assertIsNotNone(p.window(CHOOSER))
        we.wait_for(lambda: app.chooser_control("ComboBox")["text"] == "d:", 10,
                    what="the drive list back on d:")
        self.assertEqual(app.text1(), DEFAULT_FOLDER, "the directory list moved")

        # The chooser still works: Cancel leaves the destination as it was.
        p.click(CHOOSER, "Cancel")
        p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(app.label5(), DEFAULT_FOLDER)


if __name__ == "__main__":
    unittest.main(verbosity=2)
