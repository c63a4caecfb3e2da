"""End-to-end robustness tests of SETUP.EXE under Wine: faults of the installer folder and
of the destination. In every case the installer must tell the truth, lose nothing and
write nothing outside the chosen destination (and the Start menu link): "Quorvant '99
Installation Complete!" only when all twenty files and the link are in place, "Setup
Failed Due To An Error!" otherwise, with no part-written file left behind.

Each run starts the real SETUP.EXE from D:\\ (a copy of the installer folder) in the
module's prefix (reset between tests), walks the wizard as a user does (Enter, a folder
typed through Browse, Next >) and answers every message box with Enter until the process
ends.
"""

import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402

MAGENTA = (255, 0, 255)
# What a screen reader or the system waits for an answer (where everything is slower, by SLOW:
# still well under the five seconds after which the system takes a window for hung).
ANSWER_MS = int(300 * we.SLOW)
COVERED_ROW = 16  # COMDLG32.OC_, 610,000 bytes: about two seconds at the slowed rate


class SourceMissing(rig.RigCase):
    """A source file missing: the run stops at its row. The first, a middle and the last row
    here; tests/unit/install_test.cpp takes each of the twenty in turn."""

    def test_run_stops_at_the_row_whose_source_is_missing(self):
        p = self.p
        dest = rig.unix_path(p, rig.DEFAULT_DEST)
        aside = os.path.join(p.root, "aside")
        for k in (1, 8, 20):
            source = rig.MANIFEST[k - 1][0]
            with self.subTest(missing_row=k, source=source):
                shutil.rmtree(dest, ignore_errors=True)
                os.rename(os.path.join(p.disk, source), aside)
                try:
                    run = rig.install(p)
                    self.assert_failed(run)  # before the source is back in the installer folder
                finally:
                    os.rename(aside, os.path.join(p.disk, source))
                self.assert_rows(dest, range(1, k), absent=range(k, 21))
                self.assertEqual(run.changes_outside(rig.DEFAULT_DEST), [])
                # The copy window still shows the row that failed.
                copying = run.messages[0].window(rig.COPYING)
                self.assertIsNotNone(copying, "the copy window is gone at the failure message")
                texts = [c["text"] for c in copying["controls"] if c["class"] == "Static"]
                self.assertIn("D:\\" + source, texts)


class UnreadableOrEmptySource(rig.RigCase):
    def test_source_held_open_by_another_program_fails_at_its_row(self):
        holder = self.p.hold_open("D:\\QV99.EX_")
        run = rig.install(self.p)
        self.assertTrue(holder.holding(), "the file was not held open for the whole run")
        self.assertEqual(holder.release(), 0)
        self.assert_failed(run)
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        self.assert_rows(dest, range(1, 8), absent=range(8, 21))
        self.assertEqual(run.changes_outside(rig.DEFAULT_DEST), [])

    def test_empty_source_file_installs_as_an_empty_file(self):
        with open(os.path.join(self.p.disk, "README.TXT"), "wb"):
            pass
        run = rig.install(self.p)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        self.assertEqual(rig.read(os.path.join(dest, "README.TXT")), b"")
        self.assert_rows(dest, [k for k in rig.ALL_ROWS if k != 2])
        self.assertEqual(len(run.links_made()), 1)
        self.assertEqual(run.changes_outside(rig.DEFAULT_DEST), [])


class HostileDestinations(rig.RigCase):
    def test_drive_whose_folder_is_gone_ends_in_the_failure_message(self):
        gone = self.p.new_drive("f")
        os.rmdir(gone)
        run = rig.install(self.p, "F:\\Q99")
        self.assert_failed(run)
        self.assertIsNotNone(run.messages[0].window(rig.COPYING), "no copy window")
        self.assertFalse(os.path.exists(gone), "the missing folder was made")
        self.assertEqual(run.drive_c_changes(), [])

    def test_drive_root_gets_the_files_and_the_link_points_there(self):
        root = self.p.new_drive("e")
        run = rig.install(self.p, "E:\\")
        self.assert_installed(run, root)
        self.assertEqual(len(os.listdir(os.path.join(root, "DATA"))), 11)
        self.assertEqual(len(os.listdir(root)), 10)  # nine files and DATA
        self.assert_link(self.p, "E:\\")

    def test_path_too_long_for_the_files_is_refused_on_the_page(self):
        folder = "C:\\" + "\\".join(["Quorvant Long Folder %02d" % i for i in range(11)])
        run = self.session()
        run.to_destination()
        run.choose(folder)
        facts, titles = run.refusal()
        self.assertEqual(facts["text"], "The destination directory path is too long. Please choose a path "
                                        "of at most 241 characters.")
        self.assertEqual((facts["buttons"], facts["icon"]), (["OK"], "exclamation"))
        self.assertIn(rig.DESTINATION, titles)
        self.assertNotIn(rig.COPYING, titles)
        self.assertTrue(run.proc.running())
        self.assertEqual(run.destination_label(), folder)
        self.assertEqual(run.drive_c_changes(), [])


class SlowMedium(rig.RigCase):
    """The payload read as slowly as from a CD drive or a network share (slowread.so at
    rig.SLOW_RATE: the copy run lasts about 15 s): the copy window answers and repaints all the
    while, a log-off or shutdown is refused until the installation is complete, and a run ended
    by force leaves no temporary file."""

    def start_slow(self):
        self.slow = rig.slow_source_env(self.p)
        run = self.session(env=self.slow)
        run.to_destination()
        run.start_copy()
        we.wait_for(lambda: rig.copy_snapshot(run), rig.RUN_TIMEOUT, what="the copy run")
        return run

    def copying(self, run):
        """Whether the copy run still copies: SETUP.EXE runs and no final message is up."""
        return run.proc.running() and not any(t in rig.MESSAGE_TITLES for t in self.p.titles())

    def test_the_copy_window_answers_and_repaints_all_through_the_run(self):
        run = self.start_slow()
        window = self.p.window(rig.COPYING)
        samples, repainted, started = [], None, time.monotonic()
        while self.copying(run):
            samples.append(self.p.uia("respond", window["hwnd"], str(ANSWER_MS)))
            if repainted is None and rig.copying_row(self.p.uia("snapshot")) == COVERED_ROW:
                # Another window passes over it while one large file is read; what it uncovers
                # is painted again at once, not when the next file comes.
                self.p.uia("cover", window["hwnd"], "400")
                left, top, right, bottom = window["rect"]
                repainted = self.p.screenshot_when(
                    "uncovered", lambda shot: not any(rgb == MAGENTA for _, rgb in shot.pixels_in(left, top, right, bottom)),
                    timeout=1.5, what="the uncovered copy window painted again")
                self.assertEqual(rig.copying_row(self.p.uia("snapshot")), COVERED_ROW,
                                 "the next file came before the uncovered window was seen painted")
            try:  # the next sample in a quarter of a second, or the program's end
                run.proc.wait(0.25)
            except TimeoutError:
                pass
        copied = time.monotonic() - started
        answered = [s for s in samples if s["answered"] and s["ms"] <= ANSWER_MS]
        longest = max((s["ms"] for s in samples), default=0)
        sys.stderr.write("\nslowed copy run of %.1f s: %d samples, %d answered within %d ms, longest wait %d ms, %d hung\n"
                         % (copied, len(samples), len(answered), ANSWER_MS, longest, sum(s["hung"] for s in samples)))
        self.assertGreaterEqual(len(samples), 10, "too few samples: the run was not slow")
        self.assertIsNotNone(repainted, "row %d was never seen being copied" % COVERED_ROW)
        self.assertEqual(len(answered), len(samples), samples)
        self.assertEqual([s for s in samples if s["hung"]], [])
        run.finish()
        self.assert_installed(run, rig.DEFAULT_DEST)

    def test_a_session_end_during_the_copy_is_refused_and_the_installation_completes(self):
        run = self.start_slow()
        started = time.monotonic()
        code, out = self.p.run("wineboot", "--end-session", timeout=60)
        took = time.monotonic() - started
        self.assertEqual(code, 1, "wineboot --end-session was not refused: %s" % out)
        self.assertTrue(self.copying(run), "the copy run did not go on")
        # Answered at once, before the system would offer the user to end a program that does not.
        self.assertLess(took, 5 * we.SLOW)
        rig.full_speed(self.slow)
        run.finish()
        self.assert_installed(run, rig.DEFAULT_DEST)

    def test_a_session_end_on_the_welcome_page_ends_the_program_as_leaving_does(self):
        run = self.session()
        run.wait_welcome()
        code, out = self.p.run("wineboot", "--end-session", timeout=60)
        self.assertEqual(code, 0, out)
        self.assert_cancelled(run)

    def test_a_run_ended_by_force_leaves_no_temporary_file(self):
        run = self.start_slow()
        we.wait_for(lambda: (rig.copying_row(rig.copy_snapshot(run)) or 0) >= 3, rig.RUN_TIMEOUT,
                    what="the copy of row 3")
        run.proc.stop()  # as the system ends a program that still keeps the session from ending
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)

        def temporaries():
            return sorted(os.path.join(d, n) for d, _, names in os.walk(dest) for n in names if n.startswith("~QV"))
        we.wait_for(lambda: not temporaries(), 10, what="no temporary file in the destination")
        for row in rig.MANIFEST:  # what is there is whole
            path = rig.row_path(dest, row)
            if os.path.exists(path):
                self.assertEqual(rig.read(path), rig.read(os.path.join(rig.disk_dir(), row[0])), path)


if __name__ == "__main__":
    unittest.main(verbosity=2)
