"""Layout of every window of SETUP.EXE at 96 and at 144 DPI, as drawn on screen.

One run per resolution walks the wizard on an installer folder with large files
(so the copy window can be seen mid-run) and keeps a snapshot and a screenshot
of each window, taken once the window has painted. Then: the backdrop (maximized,
teal, its white title with a shadow), the wizard pages as fixed dialogs centred on
the screen, their buttons, focus and captions; client sizes and every windowed
control's box against the window definitions (px = round(twips * dpi / 1440), 1 px
allowed); the drawn parts: the rule above the buttons, the welcome picture, label
text inside each label's box and none just outside it, the dark red gauge; and that
no label's text needs more height than its box in its font.
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
from install_rig import TEAL, DARK_RED, near, rel_rect as rel, window_in  # noqa: E402
DEFAULT_FONT = ("MS Shell Dlg", 8, False, False)
TNR_9 = ("Times New Roman", 9, False, False)
TNR_825 = ("Times New Roman", 8.25, False, False)
TITLE_FONT = ("Times New Roman", 21.75, True, False)

BUTTON_ROW = [("Button", "< Back", (3360, 4275, 1215, 375)),
              ("Button", "Next >", (4680, 4275, 1215, 375)),
              ("Button", "Cancel", (6120, 4275, 1215, 375))]

# Per window: client size, windowed controls (class, text or None, box), controls in a
# frame (frame text, class, text, box), labels (box, font, in-frame text or None).
WINDOWS = {
    "welcome": dict(
        title=rig.WELCOME, client=(7695, 4845), controls=BUTTON_ROW, in_frame=[],
        labels=[((2760, 225, 4575, 465), None), ((2760, 810, 4575, 510), None),
                ((2760, 1485, 4575, 510), None), ((2760, 2475, 4575, 465), None),
                ((2760, 3015, 4575, 870), None), ((240, 4200, 2535, 255), None)],
        image=(240, 180, 2310, 3720)),
    "destination": dict(
        title=rig.DESTINATION, client=(7710, 4845),
        controls=BUTTON_ROW + [("RtFrame", "Destination Directory", (2760, 3060, 4575, 735))],
        in_frame=[("Destination Directory", "Button", "Browse", (3360, 225, 1095, 375))],
        labels=[((2760, 225, 4575, 240), None), ((2760, 810, 4575, 240), None),
                ((2760, 1170, 4575, 465), None), ((2760, 2610, 4575, 285), None),
                ((240, 4200, 2535, 255), None),
                ((120, 315, 3255, 285), "Destination Directory")],
        image=(240, 180, 2310, 3720)),
    "chooser": dict(
        title=rig.CHOOSER, client=(4215, 4095),
        controls=[("Button", "Cancel", (2760, 1710, 1215, 375)), ("Button", "OK", (2760, 1260, 1215, 375)),
                  ("Edit", None, (240, 675, 3735, 285)), ("ListBox", None, (240, 1260, 2295, 2055)),
                  ("ComboBox", None, (240, 3600, 2295, 315))],
        in_frame=[],
        labels=[((240, 3375, 1815, 240), None), ((240, 1035, 1215, 240), None),
                ((240, 450, 1575, 240), None), ((240, 135, 3855, 285), None)]),
    "copying": dict(
        title=rig.COPYING, client=(6855, 1965),
        controls=[("RtFrame", "Setup is installing Quorvant '99 program files.", (120, 90, 6615, 1770))],
        # The drive picture's box is its 31 x 20 pixels at any resolution: the definition's
        # 465 x 300 twips only at 96 DPI.
        in_frame=[("Setup is installing Quorvant '99 program files.", "RtPicture", None, (840, 1185, 5595, 255)),
                  ("Setup is installing Quorvant '99 program files.", "RtPicture", None, (255, 1170, 465, 300),
                   (31, 20))],
        labels=[((1350, 315, 5295, 240), "Setup is installing Quorvant '99 program files.", TNR_825),
                ((1170, 675, 5415, 240), "Setup is installing Quorvant '99 program files.", TNR_825),
                ((120, 300, 1215, 240), "Setup is installing Quorvant '99 program files.", TNR_9),
                ((120, 660, 975, 240), "Setup is installing Quorvant '99 program files.", TNR_9)]),
}
BACKDROP_LABELS = [(165, 150, 5130, 510), (210, 180, 5205, 510)]
TITLE_BOX, SHADOW_BOX = BACKDROP_LABELS  # the white title and its dark copy underneath
WELCOME_CAPTIONS = [
    "Welcome to the Quorvant '99 setup program. Setup Wizard will guide you through the installation process.",
    "It is strongly recommended that you close all running Windows programs before continuing with the installation.",
    "Click Cancel now to close any running Windows programs. Otherwise, click Next to continue with the setup process.",
]
DESTINATION_CAPTIONS = [
    "Setup will install Quorvant '99 to this directory.",
    "To install into this directory click Next.",
    "To install into a different directory click Browse then choose another directory.",
    "Click Cancel now to exit the setup program.",
]


class Layout:
    dpi = 96

    @classmethod
    def setUpClass(cls):
        # The prefix's screen is at cls.dpi: the rig checks that when it makes the prefix.
        cls.p = we.shared_prefix(None if cls.dpi == 96 else cls.dpi).reset(name=cls.__name__)
        cls.snaps, cls.shots, cls.walk = rig.capture_wizard(cls.p)

    def px(self, twips):
        return we.twips_to_px(twips, self.dpi)

    def pxbox(self, box):
        return tuple(self.px(v) for v in box)

    def window(self, name):
        w = window_in(self.snaps[name], WINDOWS[name]["title"])
        self.assertIsNotNone(w, "no %r window" % WINDOWS[name]["title"])
        return w

    def assert_box(self, got, twips, what):
        want = self.pxbox(twips)
        self.assertTrue(near(got, want),
                        "%s at %r px, defined %r twips = %r px" % (what, got, twips, want))

    def frame_of(self, w, text):
        return next(c for c in w["controls"] if c["class"] == "RtFrame" and c["text"] == text)

    def label_boxes(self, name):
        """(screen rect, font, Static control) of each label of the window."""
        details = WINDOWS[name]
        w = self.window(name)
        statics = [c for c in w["controls"] if c["class"] == "Static"]
        out = []
        for entry in details["labels"]:
            box, frame = entry[0], entry[1]
            font = entry[2] if len(entry) > 2 else DEFAULT_FONT
            origin = self.frame_of(w, frame)["rect"][:2] if frame else w["client"][:2]
            want = self.pxbox(box)
            found = [c for c in statics if near(rel(c["rect"], origin), want)]
            self.assertTrue(found, "%s: no label at %r twips (%r px); labels at %r" % (
                name, box, want, [rel(c["rect"], origin) for c in statics]))
            out.append((found[0]["rect"], font, found[0]))
        return out

    # -- the backdrop and the pages as windows

    def test_backdrop_is_a_maximized_sizable_window_covering_the_screen(self):
        b = window_in(self.snaps["welcome"], rig.BACKDROP)
        self.assertIsNotNone(b, "no visible %r window" % rig.BACKDROP)
        self.assertTrue(b["maximized"])
        for flag in ("caption", "sysmenu", "thickframe", "minbox", "maxbox"):
            self.assertTrue(b[flag], flag)
        self.assertFalse(b["toolwindow"])
        self.assertIsNone(b["owner"], "an owned window is not shown in the taskbar")
        left, top, right, bottom = b["rect"]
        self.assertTrue(left <= 0 and top <= 0 and right >= we.SCREEN_W and bottom >= we.SCREEN_H, b["rect"])
        # Modal welcome page: the backdrop takes no input while it is open.
        self.assertFalse(b["enabled"])

    def test_backdrop_title_is_white_with_a_dark_shadow_at_top_left(self):
        shot = self.shots["welcome"]
        cl, ct = window_in(self.snaps["welcome"], rig.BACKDROP)["client"][:2]

        def box(tw):
            l, t, width, height = self.pxbox(tw)
            return (cl + l, ct + t, cl + l + width, ct + t + height)
        white = [xy for xy, rgb in shot.pixels_in(*box(TITLE_BOX)) if min(rgb) >= 240]
        union = box((TITLE_BOX[0], TITLE_BOX[1], SHADOW_BOX[0] + SHADOW_BOX[2] - TITLE_BOX[0],
                     SHADOW_BOX[1] + SHADOW_BOX[3] - TITLE_BOX[1]))
        dark = [xy for xy, rgb in shot.pixels_in(*union) if max(rgb) <= 80]
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

    def test_pages_are_fixed_dialogs_centred_on_the_screen(self):
        for name, under in (("welcome", rig.BACKDROP), ("destination", rig.WELCOME),
                            ("chooser", rig.DESTINATION)):
            with self.subTest(window=name):
                w, snap = self.window(name), self.snaps[name]
                self.assertEqual(w["class"], "#32770")
                self.assertTrue(w["caption"])
                for flag in ("thickframe", "minbox", "maxbox", "maximized", "appwindow"):
                    self.assertFalse(w[flag], flag)
                self.assertTrue(w["owner"] or w["toolwindow"], "shown in the taskbar")
                left, top = rig.centred(w, snap["dpi_x"], snap["screen"])
                self.assertAlmostEqual(w["rect"][0], left, delta=2, msg="left (centred)")
                self.assertAlmostEqual(w["rect"][1], top, delta=2, msg="top (centred)")
                # Modal: the window under it takes no input while it is open.
                self.assertFalse(window_in(snap, under)["enabled"], "%r takes input" % under)

    def test_buttons_focus_and_default(self):
        for name, focus, disabled in (("welcome", "Next >", {"< Back"}), ("destination", "Next >", set()),
                                      ("chooser", None, set())):
            with self.subTest(window=name):
                snap = self.snaps[name]
                buttons = {c["text"]: c for c in self.window(name)["controls"]
                           if c["class"] == "Button" and c["visible"]}
                self.assertEqual({t for t, b in buttons.items() if not b["enabled"]}, disabled)
                self.assertEqual([t for t, b in buttons.items() if b["defpushbutton"]],
                                 ["OK" if name == "chooser" else "Next >"])
                self.assertTrue(all(b["tabstop"] for b in buttons.values() if b["enabled"]))
                self.assertEqual(snap["foreground_title"], WINDOWS[name]["title"])
                if focus:
                    self.assertEqual((snap["focus_class"], snap["focus_text"]), ("Button", focus))
                else:
                    # The chooser opens with the destination page's folder in its focused text box,
                    # its drive list on the installer's drive.
                    self.assertEqual((snap["focus_class"], snap["focus_text"]), ("Edit", rig.DEFAULT_DEST))
                    drive = [c["text"] for c in self.window(name)["controls"] if c["class"] == "ComboBox"]
                    self.assertEqual(drive, ["d:"])
        # Next > and Cancel stand where the welcome page had them: the pages differ by 15 twips
        # in width and are both centred, so a button may stand one pixel to the side.
        old = {c["text"]: c["rect"] for c in self.window("welcome")["controls"] if c["class"] == "Button"}
        new = {c["text"]: c["rect"] for c in self.window("destination")["controls"] if c["class"] == "Button"}
        for text in ("< Back", "Next >", "Cancel"):
            self.assertTrue(near(new[text], old[text]) and new[text][1] == old[text][1],
                            "%s moved from %r to %r" % (text, old[text], new[text]))

    def test_captions_of_the_pages(self):
        for name, captions in (("welcome", WELCOME_CAPTIONS), ("destination", DESTINATION_CAPTIONS + [rig.DEFAULT_DEST]),
                               ("chooser", ["Please choose a directory for the installation.", "Path",
                                            "Directory", "Drive"])):
            with self.subTest(window=name):
                texts = [c["text"] for c in self.window(name)["controls"] if c["class"] == "Static"]
                for caption in captions:
                    self.assertIn(caption, texts)
                for c in self.window(name)["controls"]:
                    if c["class"] == "Static":
                        self.assertFalse(c["tabstop"], "label %r takes focus" % c["text"])

    # -- sizes and boxes

    def test_client_sizes_and_windowed_controls(self):
        for name, details in WINDOWS.items():
            w = self.window(name)
            cl, ct, cr, cb = w["client"]
            with self.subTest(window=name):
                self.assertAlmostEqual(cr - cl, self.px(details["client"][0]), delta=1, msg="client width")
                self.assertAlmostEqual(cb - ct, self.px(details["client"][1]), delta=1, msg="client height")
            for cls, text, box in details["controls"]:
                with self.subTest(window=name, control=text or cls):
                    found = [c for c in w["controls"] if c["class"] == cls and c["depth"] == 0
                             and (text is None or c["text"].replace("&", "") == text)]
                    self.assertEqual(len(found), 1, "%s %r" % (cls, text))
                    got = rel(found[0]["rect"], (cl, ct))
                    if cls == "ComboBox":  # the closed box's height is the combo box's own
                        self.assert_box(got[:3] + (self.px(box[3]),), box, cls)
                        self.assertLessEqual(abs(got[3] - self.px(box[3])), 3, "drive list height")
                    else:
                        self.assert_box(got, box, "%s %r" % (cls, text))
            for frame, cls, text, box, *pixels in details["in_frame"]:
                with self.subTest(window=name, control=text or "%s %r" % (cls, box)):
                    f = self.frame_of(w, frame)
                    kids = [rel(c["rect"], f["rect"][:2]) for c in w["controls"]
                            if c["parent"] == f["hwnd"] and c["class"] == cls
                            and (text is None or c["text"] == text)]
                    want = self.pxbox(box)
                    if pixels:
                        want = want[:2] + tuple(pixels[0])
                    self.assertTrue(any(near(k, want) for k in kids),
                                    "%s %r in the frame at %r px; defined %r px" % (cls, text, kids, want))

    def test_label_boxes_and_their_text_fits_in_its_font(self):
        for name in WINDOWS:
            for rect, (face, points, bold, italic), c in self.label_boxes(name):
                with self.subTest(window=name, label=c["text"]):
                    self.assertTrue(c["text"].strip(), "empty label")
                    r = self.p.uia("textheight", face, str(points), str(int(bold)), str(int(italic)),
                                   str(rect[2] - rect[0]), c["text"])
                    self.assertLessEqual(r["height"], rect[3] - rect[1],
                                         "%r needs %d px in %s %s pt, its box is %d px high"
                                         % (c["text"], r["height"], face, points, rect[3] - rect[1]))

    def test_backdrop_title_labels_fit(self):
        b = window_in(self.snaps["welcome"], rig.BACKDROP)
        statics = [c for c in b["controls"] if c["class"] == "Static"]
        for box in BACKDROP_LABELS:
            want = self.pxbox(box)
            found = [c for c in statics if near(rel(c["rect"], b["client"][:2]), want)]
            self.assertTrue(found, "no backdrop label at %r px" % (want,))
            face, points, bold, italic = TITLE_FONT
            r = self.p.uia("textheight", face, str(points), "1", "0", str(want[2]), found[0]["text"])
            self.assertLessEqual(r["height"], want[3], found[0]["text"])

    # -- what is drawn

    def face(self, shot, w):
        """The window's button-face colour: a pixel of its client area where nothing is."""
        cl, ct, cr, cb = w["client"]
        return shot.pixel(cr - 2, cb - 2)

    def test_backdrop_is_teal_around_the_wizard(self):
        shot = self.shots["welcome"]
        b = window_in(self.snaps["welcome"], rig.BACKDROP)
        wl, wt, wr_, wb = self.window("welcome")["rect"]
        cl, ct, cr, cb = b["client"]
        points = [(x, y) for x in range(cl + 5, cr - 5, 97) for y in range(ct + self.px(900), cb - 5, 89)
                  if not (wl - 2 <= x < wr_ + 2 and wt - 2 <= y < wb + 2)]
        wrong = [(xy, shot.pixel(*xy)) for xy in points if shot.pixel(*xy) != TEAL]
        self.assertEqual(wrong, [])

    def test_rule_above_the_buttons(self):
        for name in ("welcome", "destination"):
            with self.subTest(window=name):
                shot, w = self.shots[name], self.window(name)
                cl, ct = w["client"][:2]
                x0, x1 = cl + self.px(240), cl + self.px(7440)
                y = ct + self.px(4095)
                rows = {yy: sum(1 for x in range(x0, x1) if max(shot.pixel(x, yy)) < 100)
                        for yy in (y - 1, y, y + 1)}
                best = max(rows, key=rows.get)
                self.assertGreaterEqual(rows[best], 0.97 * (x1 - x0), "rule pixels by row: %r" % rows)
                face = self.face(shot, w)
                self.assertEqual(shot.pixel(x0 - 3, best), face, "the rule starts left of 240")
                self.assertEqual(shot.pixel(x1 + 3, best), face, "the rule runs on past 7440")
                for yy in (best - 3, best + 3):
                    self.assertLess(sum(1 for x in range(x0, x1) if max(shot.pixel(x, yy)) < 100), 5,
                                    "a second line at y %d" % yy)

    def test_welcome_picture_fills_its_box(self):
        for name in ("welcome", "destination"):
            with self.subTest(window=name):
                shot, w = self.shots[name], self.window(name)
                cl, ct = w["client"][:2]
                l, t, wd, ht = self.pxbox(WINDOWS[name]["image"])
                l, t = cl + l, ct + t
                face = self.face(shot, w)
                for qx in (0, 1):
                    for qy in (0, 1):
                        quad = (l + qx * wd // 2, t + qy * ht // 2, l + (qx + 1) * wd // 2, t + (qy + 1) * ht // 2)
                        px = [rgb for _, rgb in shot.pixels_in(*quad)]
                        self.assertGreater(sum(1 for c in px if c != face), 0.6 * len(px),
                                           "picture quarter %r is mostly empty" % (quad,))
                # Stretched to the box: the picture reaches its four edges and no further.
                for x, y in ((l + 1, t + ht // 2), (l + wd - 2, t + ht // 2), (l + wd // 2, t + 1),
                             (l + wd // 2, t + ht - 2)):
                    self.assertNotEqual(shot.pixel(x, y), face, "no picture at (%d, %d)" % (x, y))
                for x, y in ((l - 3, t + ht // 2), (l + wd + 2, t + ht // 2), (l + wd // 2, t + ht + 2)):
                    self.assertEqual(shot.pixel(x, y), face, "picture outside its box at (%d, %d)" % (x, y))

    def test_label_text_is_drawn_inside_its_box_and_not_around_it(self):
        for name in WINDOWS:
            shot, w = self.shots[name], self.window(name)
            boxes = self.label_boxes(name)
            others = [c["rect"] for c in w["controls"] if c["class"] != "Static" and c["class"] != "RtFrame"]
            others += [r for r, _, _ in boxes]
            for rect, _, c in boxes:
                with self.subTest(window=name, label=c["text"]):
                    self.assertGreater(rig.dark_pixels(shot, rect), 15, "no text drawn in the box")
                    l, t, r, b = rect
                    stray = []
                    for (x, y), rgb in shot.pixels_in(l - 3, t - 3, r + 3, b + 3):
                        if l <= x < r and t <= y < b:
                            continue
                        if any(o[0] <= x < o[2] and o[1] <= y < o[3] for o in others):
                            continue
                        if max(rgb) < 100:
                            stray.append((x, y))
                    self.assertEqual(stray, [], "dark pixels just outside %r" % (rect,))

    def test_label_text_on_screen_is_as_wide_as_its_caption(self):
        # What is drawn must be the label's current caption: in the copy window a label that
        # was not painted after its caption changed still shows the previous file's name, whose
        # text has another width.
        for name in ("copying",):
            shot = self.shots[name]
            for rect, (face, points, bold, italic), c in self.label_boxes(name):
                with self.subTest(window=name, label=c["text"]):
                    l, t, r, b = rect
                    xs = [x for (x, _), rgb in shot.pixels_in(l, t, r, b) if max(rgb) < 100]
                    self.assertTrue(xs, "no text drawn in the box")
                    want = self.p.uia("textheight", face, str(points), str(int(bold)), str(int(italic)),
                                      str(r - l), c["text"])["width"]
                    drawn = max(xs) - min(xs) + 1
                    self.assertLessEqual(abs(drawn - want), 2 + want // 50, "the text drawn is %d px wide; %r is %d px"
                                         % (drawn, c["text"], want))

    def test_copy_window_mid_run_gauge_is_dark_red(self):
        w = self.window("copying")
        pictures = sorted((c for c in w["controls"] if c["class"] == "RtPicture"),
                          key=lambda c: c["rect"][2] - c["rect"][0])
        gauge, drive = pictures[-1], pictures[0]
        row = rig.copying_row(self.snaps["copying"])
        self.assertIsNotNone(row, "the copy window names no row of the manifest")
        self.assertEqual(gauge["text"], rig.gauge_percent_during(row))
        shot = self.shots["copying"]
        l, t, r, b = gauge["rect"]
        self.assertEqual(shot.pixel(l + 4, (t + b) // 2), DARK_RED)
        self.assertEqual(shot.pixel(l + 4, t + 3), DARK_RED)
        # The drive picture is drawn in its box.
        face = self.face(shot, w)
        px = [rgb for _, rgb in shot.pixels_in(*drive["rect"])]
        self.assertGreater(sum(1 for c in px if c != face), 0.5 * len(px), "no drive picture")

    def test_the_run_completes(self):
        self.assertEqual(self.walk.message_keys(), [rig.SUCCESS])
        self.assertEqual(self.walk.exit_code, 0)


class LayoutAt96Dpi(Layout, unittest.TestCase):
    dpi = 96


class LayoutAt144Dpi(Layout, unittest.TestCase):
    dpi = 144


if __name__ == "__main__":
    unittest.main(verbosity=2)
