"""End-to-end tests of the installation run of SETUP.EXE under Wine: what lands on the
disk and what does not (files, registry, installer folder), the copy window, the final
message, and how a run that cannot copy a file ends.

Each run starts the real SETUP.EXE from D:\\ (a copy of the installer folder) in the
module's prefix (reset between tests) and walks it as a user does: Enter on the welcome
page, Enter on the destination page or a folder typed through Browse, Enter on every
message box until the process ends.
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
from install_rig import DARK_RED  # noqa: E402

COPY_CLIENT = (6855, 1965)


def gauge(window):
    """The copy window's gauge: the wider of its two picture boxes."""
    pictures = [c for c in window["controls"] if c["class"] == "RtPicture"]
    return max(pictures, key=lambda c: c["rect"][2] - c["rect"][0])


def gauge_painted(snapshot):
    """A test of a screenshot: the gauge, uncovered by the drag, shows its bar at both ends."""
    left, top, right, bottom = gauge(rig.window_in(snapshot, rig.COPYING))["rect"]
    mid = (top + bottom) // 2
    return lambda shot: shot.pixel(left + 4, mid) == DARK_RED and shot.pixel(right - 5, mid) == DARK_RED


def files_on(folder):
    """{path relative to folder: bytes} of every file under a folder."""
    return {os.path.relpath(os.path.join(d, n), folder): rig.read(os.path.join(d, n))
            for d, _, names in os.walk(folder) for n in names}


class DefaultInstallation(rig.RigCase):
    """Enter, Enter: the default destination. One run, looked at from several sides; the
    registry, made the template's first, is read before and after it."""

    reset_each = False

    @classmethod
    def setUpClass(cls):
        cls.p = p = we.shared_prefix().reset(name=cls.__name__, registry=True)
        cls.registry_before = p.registry()
        cls.run_ = rig.Session(p)
        try:
            cls.run_.to_destination()
            cls.run_.start_copy()
            cls.run_.finish(drag_first=True, screen=gauge_painted)
        finally:
            cls.run_.stop()
        cls.registry_after = p.registry()
        cls.dest = rig.unix_path(p, rig.DEFAULT_DEST)

    def test_the_twenty_files_land_byte_identical_under_their_names_and_nothing_else(self):
        self.assert_installed(self.run_, rig.DEFAULT_DEST)
        self.assert_link(self.p, rig.DEFAULT_DEST)
        data = sorted(r[1] for r in rig.MANIFEST if r[2])
        top = sorted([r[1] for r in rig.MANIFEST if not r[2]] + ["DATA"])
        self.assertEqual(sorted(os.listdir(os.path.join(self.dest, "DATA"))), data)
        self.assertEqual(sorted(os.listdir(self.dest)), top)
        self.assertEqual(len(self.run_.links_made()), 1)

    def test_registry_is_unchanged(self):
        self.assertEqual(we.registry_diff(self.registry_before, self.registry_after), [])

    def test_the_registry_check_sees_a_write(self):
        # The check above means something only if a write shows in it: here a program in the
        # prefix writes what an installer might, its keys under HKLM and HKCU.
        for hive in ("HKLM", "HKCU"):
            code, out = self.p.run("reg", "add", hive + "\\Software\\" + rig.PRODUCT, "/v", "Installed", "/d", "1", "/f")
            self.assertEqual(code, 0, out)
        self.assertEqual(we.registry_diff(self.registry_after, self.p.registry()),
                         ["added system.reg [Software\\\\Quorvant '99]", "added user.reg [Software\\\\Quorvant '99]"])

    def copy_window(self):
        w = self.run_.messages[0].window(rig.COPYING)
        self.assertIsNotNone(w, "no %r window at the final message" % rig.COPYING)
        return w

    def test_copy_window_is_centred_with_its_client_size(self):
        snap = self.run_.messages[0].snapshot
        dpi, (sw, sh) = snap["dpi_x"], snap["screen"]
        w = self.copy_window()
        self.assertEqual(w["class"], "#32770")
        cl, ct, cr, cb = w["client"]
        self.assertAlmostEqual(cr - cl, we.twips_to_px(COPY_CLIENT[0], dpi), delta=1)
        self.assertAlmostEqual(cb - ct, we.twips_to_px(COPY_CLIENT[1], dpi), delta=1)
        left, top, right, bottom = w["rect"]
        self.assertAlmostEqual(top, (sh - (bottom - top)) / 2.0, delta=2)
        self.assertAlmostEqual(left, (sw - (right - left)) / 2.0, delta=2)

    def test_copy_window_shows_the_last_row(self):
        texts = [c["text"] for c in self.copy_window()["controls"] if c["class"] == "Static"]
        self.assertIn("D:\\TABCTL32.OC_", texts)
        self.assertIn("C:\\PROGRAM FILES\\QUORVANT '99\\TABCTL32.OCX", texts)

    def test_gauge_is_full_dark_red_and_reads_100_percent(self):
        msg = self.run_.messages[0]
        shot = msg.shot
        g = gauge(self.copy_window())
        self.assertEqual(g["text"], "100%")
        left, top, right, bottom = g["rect"]
        ml, mt, mr, mb = msg.rect
        self.assertTrue(mt >= bottom or mb <= top or ml >= right or mr <= left,
                        "the message box %r still covers the gauge %r" % (msg.rect, g["rect"]))
        mid = (top + bottom) // 2
        # Inside the border, near both ends and across the middle row.
        for x in list(range(left + 3, left + 12)) + list(range(right - 12, right - 3)):
            for y in (top + 3, mid, bottom - 4):
                self.assertEqual(shot.pixel(x, y), DARK_RED, "gauge pixel (%d, %d)" % (x, y))
        row = [shot.pixel(x, mid) for x in range(left + 3, right - 3)]
        red = sum(1 for px in row if px == DARK_RED)
        self.assertGreater(red, 0.8 * len(row), "the bar does not span the gauge")
        # The percentage is printed centred over the bar in black.
        black = [x for (x, _), px in shot.pixels_in(left + 3, top + 3, right - 3, bottom - 3)
                 if max(px) < 40]
        self.assertTrue(black, "no text on the gauge")
        centre = (min(black) + max(black)) / 2.0
        self.assertAlmostEqual(centre, (left + right) / 2.0, delta=4)


class InputDuringTheCopy(rig.RigCase):
    """Keys and clicks while the copy window is up, as an impatient user gives them, neither
    end the run nor answer the final message in the user's place."""

    def test_keys_and_clicks_during_the_copy_do_not_dismiss_the_final_message(self):
        slow = rig.slow_source_env(self.p)
        run = self.session(env=slow)
        run.to_destination()
        run.start_copy()
        # Clicks on the close boxes of the copy window and of the backdrop, found while nothing
        # else covers them.
        self.p.wait_window(rig.COPYING, timeout=rig.RUN_TIMEOUT, proc=run.proc)
        copy_box, backdrop_box = run.close_box(rig.COPYING), run.close_box(rig.BACKDROP)
        we.wait_for(lambda: rig.copy_snapshot(run), rig.RUN_TIMEOUT, what="the copy run")
        # One xdotool command gives all of it in a few milliseconds, while a row is copied.
        self.p.xdotool("key", "Return", "space", "Escape", "Return",
                       "mousemove", *copy_box, "click", "1",
                       "mousemove", *backdrop_box, "click", "1",
                       "key", "Return", "alt+F4", "Return")
        self.assertIsNotNone(rig.copy_snapshot(run), "the copy run was over before the input was given")
        rig.full_speed(slow)
        run.finish()
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assertEqual(run.exit_code, rig.EXIT_INSTALLED)
        # The closes clicked did nothing: both windows are there at the final message.
        shown = sorted(w["title"] for w in run.messages[0].snapshot["windows"] if w["visible"])
        self.assertEqual(shown, sorted([rig.BACKDROP, rig.COPYING, rig.SUCCESS[0]]))
        # The click on the backdrop did not bury the copy window: the box's window is in front
        # of the backdrop, its full gauge in view (windows are listed topmost first).
        order = [w["title"] for w in run.messages[0].snapshot["windows"] if w["visible"]]
        self.assertLess(order.index(rig.COPYING), order.index(rig.BACKDROP), order)
        self.assert_rows(rig.unix_path(self.p, rig.DEFAULT_DEST))


class HeldFiles(rig.RigCase):
    """A reinstallation while other programs look at installed files, as a virus scanner or the
    search indexer does: open with full sharing, for the whole run."""

    def test_reinstallation_replaces_files_held_open_with_full_sharing(self):
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        self.assert_installed(rig.install(self.p), rig.DEFAULT_DEST)
        started = time.monotonic()
        self.assert_installed(rig.install(self.p), rig.DEFAULT_DEST)
        plain = time.monotonic() - started
        # A newer README.TXT and CUSTOMER.XLS on the disk, the installed ones held open.
        held = [(2, rig.DEFAULT_DEST + "\\README.TXT"), (10, rig.DEFAULT_DEST + "\\DATA\\CUSTOMER.XLS")]
        for k, _ in held:
            with open(os.path.join(self.p.disk, rig.MANIFEST[k - 1][0]), "ab") as f:
                f.write(b"version 2")
        holders = [self.p.hold_open(path, shared=True) for _, path in held]
        started = time.monotonic()
        run = rig.install(self.p)
        with_holders = time.monotonic() - started
        sys.stderr.write("\nreinstallation (the whole run, wizard included): %.1f s, with two files held open %.1f s\n"
                         % (plain, with_holders))
        self.assertTrue(all(h.holding() for h in holders), "a file was not held open for the whole run")
        self.assertEqual([h.release() for h in holders], [0, 0])
        self.assert_installed(run, rig.DEFAULT_DEST, source=self.p.disk)
        leftovers = [n for _, _, names in os.walk(dest) for n in names if n.startswith("~QV")]
        self.assertEqual(leftovers, [], "temporary files left once the holders let go")


class UnwritableDestination(rig.RigCase):
    """Destinations where a copy cannot be made end in the failure message, never success."""

    def test_file_held_open_by_another_program_stops_the_run_at_its_row(self):
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        program = rig.row_path(dest, rig.MANIFEST[7])  # QV99.EXE, row 8
        os.makedirs(os.path.join(dest, "DATA"))
        with open(program, "wb") as f:
            f.write(b"the program that is running")
        holder = self.p.hold_open(rig.DEFAULT_DEST + "\\QV99.EXE")
        run = rig.install(self.p)
        self.assertTrue(holder.holding(), "the file was not held open for the whole run")
        self.assertEqual(holder.release(), 0)
        self.assert_failed(run)
        self.assert_rows(dest, range(1, 8), absent=range(9, 21))
        self.assertEqual(rig.read(program), b"the program that is running")

    def test_folder_whose_parent_does_not_exist(self):
        run = self.session()
        run.to_destination()
        run.choose("C:\\No\\Such\\Dir")
        run.start_copy()
        # The failure message is modal to the whole program, as every message box is.
        run.finish(before_answer=lambda i, box: self.assert_closes_refused(
            run, box["hwnd"], [rig.COPYING, rig.BACKDROP], ("click", "post")))
        self.assert_failed(run)
        self.assertEqual(run.drive_c_changes(), [])

    def test_full_disk_keeps_the_rows_that_fit_and_no_partial_file(self):
        mount = self.small_drive("e", 1024 * 1024)
        run = rig.install(self.p, "E:\\Q99")
        self.assert_failed(run)
        dest = os.path.join(mount, "Q99")
        # Rows 1-6 (about 745 KB) fit into 1 MB; row 7 (420 KB) does not.
        self.assert_rows(dest, range(1, 7), absent=range(7, 21))
        self.assertEqual(sorted(os.listdir(dest)), ["DATA", "MSVBVM50.DLL", "README.TXT"])

    def test_failed_overwrite_keeps_every_installed_file_as_it_was(self):
        # The drive holds one installation and, beside it, a second copy of any installed file
        # but the largest. The second installation comes from a disk with a newer, larger
        # largest file, too large for the room left even once the old copy is gone: the copy
        # cannot be made, and the previous installation must be left as it was.
        page = 4096
        pages = lambda n: -(-n // page)  # noqa: E731
        sizes = [os.path.getsize(os.path.join(rig.disk_dir(), r[0])) for r in rig.MANIFEST]
        big = sizes.index(max(sizes))  # row 20 of the demo payload; row 8 where QV99.EX_ is larger
        room = pages(sorted(sizes)[-2]) + 2
        drive = self.small_drive("e", (sum(pages(n) for n in sizes) + room) * page)
        first = rig.install(self.p, "E:\\Q99")
        self.assert_installed(first, os.path.join(drive, "Q99"))
        free = os.statvfs(drive)
        self.assertEqual(free.f_bavail * free.f_frsize, room * page, "the room left beside the installation")

        newer = os.path.join(self.p.disk, rig.MANIFEST[big][0])
        with open(newer, "ab") as f:
            f.write(b"version 2" * ((room + pages(sizes[big])) * page // 9 + 1))
        installed = files_on(drive)
        run = rig.install(self.p, "E:\\Q99")
        after = files_on(drive)
        self.assertEqual(sorted(after), sorted(installed), "the files on the drive (a temporary one left?)")
        self.assertEqual([name for name in installed if after[name] != installed[name]], [], "files changed")
        self.assert_failed(run)


class NonAnsiDestination(rig.RigCase):
    def test_files_installed_but_shortcut_fails_with_two_messages(self):
        os.makedirs(os.path.join(self.p.drive_c, "Test"))
        folder = "C:\\Test\\\u03a9mega"
        run = rig.install(self.p, folder, typed=False)  # xdotool cannot type every character
        self.assert_failed(run, rig.SHORTCUT_FAILED)
        self.assert_rows(rig.unix_path(self.p, folder))


class UncaughtFailure(rig.RigCase):
    """The runtime's own report of a failure that no handler catches: the installer's disk is
    taken out while the destination page is up, and Browse then cannot list its folder."""

    def test_disk_removed_then_browse_shows_the_runtime_error_and_ends_with_code_1(self):
        run = self.session()
        run.to_destination()
        os.rename(self.p.disk, self.p.disk + "-removed")
        self.p.click(rig.DESTINATION, "Browse")
        facts = run.message()
        self.assertEqual((facts["window"]["title"], facts["icon"], facts["buttons"]), ("Setup", "hand", ["OK"]))
        self.assertEqual(facts["text"], "Run-time error '76':\n\nCannot list the folder D:\\.\nPath not found.")
        self.assertIsNone(self.p.window(rig.CHOOSER), "the chooser opened on a drive it cannot read")
        # Modal to the whole program, as every message box is.
        self.assert_closes_refused(run, facts["window"]["hwnd"], [rig.BACKDROP], ("click", "post"))
        self.p.wait_focus(facts["window"]["hwnd"])
        self.p.key("Return")
        self.assertEqual(run.proc.wait(rig.STEP_TIMEOUT), rig.EXIT_FAILED)
        self.assertEqual(run.drive_c_changes(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
