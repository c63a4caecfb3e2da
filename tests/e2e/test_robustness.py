"""End-to-end robustness tests of SETUP.EXE under Wine: faults of the installer folder and
of the destination. In every case the installer must tell the truth, lose nothing and
write nothing outside the chosen destination (and the Start menu link): "Quorvant '99
Installation Complete!" only when all twenty files and the link are in place, "Setup
Failed Due To An Error!" otherwise, with no part-written file left behind.

Each run starts the real SETUP.EXE from D:\\ (a copy of the installer folder), walks the
wizard as a user does (Enter, a folder typed through Browse, Next >) and answers every
message box with Enter until the process ends.
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402


def plant_dir():
    return os.path.join(os.path.dirname(os.path.abspath(we.env_path("SETUP_E2E_UIA"))), "plant")


def install(prefix, folder=None, typed=True, cwd=None):
    """One whole run, started from the Unix folder cwd (the prefix's own by default): the
    destination kept or typed through Browse, Next >, every message box answered until
    SETUP.EXE ends. A run that fails a step does not linger."""
    run = rig.InstallRun(prefix, cwd=cwd)
    try:
        run.to_destination()
        if folder is not None:
            run.browse(folder, typed=typed)
        run.start_copy(by_key=folder is None)
        run.finish()
    finally:
        run.stop()
    return run


class RobustnessCase(unittest.TestCase):
    def assert_rows(self, dest_unix, copied, absent=()):
        """Rows `copied` (1-based) are byte-identical to their sources; rows `absent` are not
        there at all, not even part-written."""
        for k in copied:
            row = rig.MANIFEST[k - 1]
            path = rig.row_path(dest_unix, row)
            self.assertTrue(os.path.isfile(path), "row %d: %s is missing" % (k, path))
            self.assertEqual(rig.read(path), rig.read(os.path.join(rig.disk_dir(), row[0])),
                             "row %d: %s differs from its source" % (k, row[1]))
        for k in absent:
            row = rig.MANIFEST[k - 1]
            self.assertFalse(os.path.lexists(rig.row_path(dest_unix, row)),
                             "row %d: %s was written" % (k, row[1]))

    def assert_failed(self, run):
        self.assertEqual(run.message_keys(), [rig.FAILED])
        self.assertEqual(run.exit_code, 0)
        self.assertEqual(run.links_made(), [], "a shortcut was made")

    def assert_only_under(self, run, *allowed):
        """Nothing changed on drive C: but additions (or a rewritten file, as the link of an
        earlier run is) under the given drive_c-relative paths."""
        unexpected = []
        for change in run.drive_c_changes():
            kind, path = change.split(" ", 1)
            if kind in ("added", "changed") and any(path == a or path.startswith(a + "/") or a.startswith(path + "/")
                                       for a in allowed):
                continue
            unexpected.append(change)
        self.assertEqual(unexpected, [])

    def link_rel(self, prefix):
        return os.path.relpath(rig.unix_path(prefix, rig.programs_folder(prefix)), prefix.drive_c) \
            + "/" + rig.LINK_NAME


class EverySourceMissingInTurn(RobustnessCase):
    """Each of the twenty source files missing in turn: the run stops at its row."""

    def test_run_stops_at_each_row_whose_source_is_missing(self):
        p = we.Prefix(name="missing-each")
        self.addCleanup(p.close)
        dest = rig.unix_path(p, rig.DEFAULT_DEST)
        dest_rel = os.path.relpath(dest, p.drive_c)
        aside = os.path.join(p.root, "aside")
        for k in range(1, 21):
            source = rig.MANIFEST[k - 1][0]
            with self.subTest(missing_row=k, source=source):
                rig.remove_tree(dest)
                os.rename(os.path.join(p.disk, source), aside)
                try:
                    run = install(p)
                finally:
                    os.rename(aside, os.path.join(p.disk, source))
                self.assert_failed(run)
                self.assert_rows(dest, range(1, k), absent=range(k, 21))
                self.assert_only_under(run, dest_rel)
                # The copy window still shows the row that failed.
                copying = run.messages[0].window(rig.COPYING)
                self.assertIsNotNone(copying, "the copy window is gone at the failure message")
                texts = [c["text"] for c in copying["controls"] if c["class"] == "Static"]
                self.assertIn("D:\\" + source, texts)


class UnreadableOrEmptySource(RobustnessCase):
    @classmethod
    def setUpClass(cls):
        cls.p = we.Prefix(name=cls.__name__)
        cls.addClassCleanup(cls.p.close)

    def setUp(self):
        rig.remove_tree(rig.unix_path(self.p, rig.DEFAULT_DEST))
        rig.restore_disk(self.p)
        self.addCleanup(rig.restore_disk, self.p)

    def test_source_held_open_by_another_program_fails_at_its_row(self):
        ready = os.path.join(self.p.root, "held.ready")
        holder = subprocess.Popen(["wine", os.path.join(plant_dir(), "hold.exe"), "D:\\QV99.EX_",
                                   we.to_windows_path(ready)], env=self.p.env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  start_new_session=True)
        self.addCleanup(holder.wait, 10)
        self.addCleanup(holder.kill)
        we.wait_for(lambda: os.path.exists(ready) or holder.poll() is not None, 30,
                    what="QV99.EX_ to be held open")
        self.assertIsNone(holder.poll(), "hold.exe could not open the file")
        run = install(self.p)
        self.assertIsNone(holder.poll(), "the file was not held open for the whole run")
        self.assert_failed(run)
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        self.assert_rows(dest, range(1, 8), absent=range(8, 21))
        self.assert_only_under(run, os.path.relpath(dest, self.p.drive_c))

    def test_empty_source_file_installs_as_an_empty_file(self):
        with open(os.path.join(self.p.disk, "README.TXT"), "wb"):
            pass
        run = install(self.p)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        self.assertEqual(rig.read(os.path.join(dest, "README.TXT")), b"")
        self.assert_rows(dest, [k for k in range(1, 21) if k != 2])
        self.assertEqual(len(run.links_made()), 1)
        self.assert_only_under(run, os.path.relpath(dest, self.p.drive_c), self.link_rel(self.p))


class HostileDestinations(RobustnessCase):
    def new_prefix(self, name):
        p = we.Prefix(name=name)
        self.addCleanup(p.close)
        return p

    def test_drive_whose_folder_is_gone_never_reports_success(self):
        p = self.new_prefix("drive-gone")
        gone = os.path.join(p.root, "drive-f")
        os.makedirs(gone)
        p.map_drive("f", gone, copy=False)
        os.rmdir(gone)
        run = rig.InstallRun(p)
        try:
            run.to_destination()
            run.browse("F:\\Q99")
            run.start_copy(by_key=False)
            box = run._next_message(rig.RUN_TIMEOUT)
            self.assertNotEqual(box, "ended", "SETUP.EXE ended without a word")
            facts = p.message_box(box["hwnd"])
            self.assertNotEqual(facts["text"], rig.SUCCESS[1])
            if facts["text"] != rig.FAILED[1]:
                # Refused on the destination page: the page stays and nothing is copied.
                self.assertIsNotNone(p.window(rig.DESTINATION), "refusal without the page")
                self.assertIsNone(p.window(rig.COPYING))
            p.key("Return")
        finally:
            run.stop()
        self.assertFalse(os.path.exists(gone), "the missing folder was made")
        self.assertEqual(run.drive_c_changes(), [])

    def test_drive_root_gets_the_files_and_the_link_points_there(self):
        p = self.new_prefix("drive-root")
        root = os.path.join(p.root, "drive-e")
        os.makedirs(root)
        p.map_drive("e", root, copy=False)
        run = install(p, "E:\\")
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assert_rows(root, range(1, 21))
        self.assertEqual(len(os.listdir(os.path.join(root, "DATA"))), 11)
        self.assertEqual(len(os.listdir(root)), 10)  # nine files and DATA
        info = rig.read_link(p, rig.programs_folder(p) + "\\" + rig.LINK_NAME)
        self.assertEqual(info["target"].upper(), "E:\\QV99.EXE")
        self.assert_only_under(run, self.link_rel(p))

    def test_path_too_long_for_the_files_is_refused_on_the_page(self):
        p = self.new_prefix("too-long")
        folder = "C:\\" + "\\".join(["Quorvant Long Folder %02d" % i for i in range(11)])
        self.assertGreater(len(folder) + len("\\DATA\\SUPPLIER.XLS"), 260)
        run = rig.InstallRun(p)
        try:
            run.to_destination()
            run.browse(folder)
            run.start_copy(by_key=False)
            box = run._next_message(rig.STEP_TIMEOUT)
            self.assertNotEqual(box, "ended")
            facts = p.message_box(box["hwnd"])
            self.assertIn("too long", facts["text"])
            self.assertEqual(facts["buttons"], ["OK"])
            self.assertIsNotNone(p.window(rig.DESTINATION))
            self.assertIsNone(p.window(rig.COPYING))
            p.key("Return")
            p.wait_window_gone("Setup", timeout=rig.STEP_TIMEOUT)
            self.assertTrue(run.proc.running())
            self.assertEqual(run.destination_label(), folder)
        finally:
            run.stop()
        self.assertEqual(run.drive_c_changes(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
