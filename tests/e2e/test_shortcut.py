"""End-to-end tests of the shortcut that SETUP.EXE makes at the end of the installation,
and of the messages that follow from what the setup library STKIT432.DLL does.

Each run starts the real SETUP.EXE from D:\\ (a copy of the installer folder), walks the
wizard with Enter (or types a folder through Browse) and answers every message box with
Enter; the link is read back through tools/lnkinfo.exe.
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402


def install(prefix, folder=None, cwd=None):
    """One whole run: Enter, the destination (kept, or typed through Browse), Next >,
    Enter on every message box until SETUP.EXE ends."""
    run = rig.InstallRun(prefix, cwd=cwd)
    run.to_destination()
    if folder:
        run.browse(folder)
    run.start_copy(by_key=folder is None)
    run.finish()
    return run


class ShortcutCase(unittest.TestCase):
    def new_prefix(self, name):
        p = we.Prefix(name=name)
        self.addCleanup(p.close)
        return p

    def link_path(self, prefix):
        return rig.programs_folder(prefix) + "\\" + rig.LINK_NAME

    def assert_link(self, prefix, folder):
        link = self.link_path(prefix)
        self.assertTrue(os.path.isfile(rig.unix_path(prefix, link)), "no link at %s" % link)
        info = rig.read_link(prefix, link)
        self.assertEqual(info["target"], folder + "\\QV99.EXE")
        self.assertEqual(info["workingDirectory"], folder)
        self.assertEqual(info["description"], rig.PRODUCT)
        self.assertEqual(info["arguments"], "")
        return link

    def assert_all_copied(self, prefix, folder=rig.DEFAULT_DEST):
        dest = rig.unix_path(prefix, folder)
        for row in rig.MANIFEST:
            self.assertEqual(rig.read(rig.row_path(dest, row)),
                             rig.read(os.path.join(rig.disk_dir(), row[0])), row[1])


class DefaultShortcut(ShortcutCase):
    """The link after a default installation, and what starting it does."""

    @classmethod
    def setUpClass(cls):
        cls.p = we.Prefix(name=cls.__name__)
        cls.addClassCleanup(cls.p.close)
        cls.run_ = install(cls.p)

    def test_link_in_the_programs_folder_points_at_the_program(self):
        self.assertEqual(self.run_.message_keys(), [rig.SUCCESS])
        self.assertEqual(self.run_.exit_code, 0)
        link = self.assert_link(self.p, rig.DEFAULT_DEST)
        rel = os.path.relpath(rig.unix_path(self.p, link), self.p.drive_c)
        self.assertEqual(self.run_.links_made(), [rel], "one link, and only there")

    def test_starting_the_link_starts_the_installed_program(self):
        link = rig.unix_path(self.p, self.link_path(self.p))
        self.assertIsNone(self.p.window(rig.PRODUCT), "the program runs already")
        starter = subprocess.Popen(["wine", "start", "/unix", link], env=self.p.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(starter.wait, 30)
        w = self.p.wait_window(rig.PRODUCT, timeout=30)
        self.assertNotIn(w["title"], (rig.BACKDROP, rig.WELCOME))
        self.p.screenshot("program")
        self.p.close_window(rig.PRODUCT)
        self.p.wait_window_gone(rig.PRODUCT, timeout=30)


class OtherDestination(ShortcutCase):
    def test_link_target_follows_the_chosen_folder(self):
        p = self.new_prefix("other-destination")
        folder = "C:\\Quorvant Test"
        run = install(p, folder=folder)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assert_link(p, folder)
        self.assert_all_copied(p, folder)


class SetupLibrary(ShortcutCase):
    """What SETUP.EXE does with a missing or misbehaving STKIT432.DLL; a fresh prefix
    per test, with the library replaced in its copy of the installer folder."""

    def prefix_with_library(self, name, variant):
        p = self.new_prefix(name)
        lib = os.path.join(p.disk, "STKIT432.DLL")
        if variant is None:
            os.unlink(lib)
        else:
            shutil.copyfile(rig.stkit_variant(variant), lib)
        return p

    def test_missing_library_copies_all_files_then_fails(self):
        p = self.prefix_with_library("library-missing", None)
        run = install(p)
        self.assertEqual(run.message_keys(), [rig.FAILED])
        self.assertEqual(run.exit_code, 0)
        self.assert_all_copied(p)
        self.assertEqual(run.links_made(), [])

    def test_missing_library_is_not_looked_for_in_the_start_folder(self):
        # C:\windows is both the folder SETUP.EXE is started from and on the system's
        # search path for libraries: a library there must not stand in for the missing one.
        p = self.prefix_with_library("library-missing-planted", None)
        shutil.copyfile(rig.stkit_variant("nonzero"), os.path.join(p.drive_c, "windows", "STKIT432.DLL"))
        run = install(p)
        self.assertEqual(run.message_keys(), [rig.FAILED])
        self.assertEqual(run.links_made(), [])

    def test_zero_result_gives_the_two_shortcut_messages_in_order(self):
        p = self.prefix_with_library("library-fails", "fail")
        run = install(p)
        self.assertEqual(run.message_keys(), rig.SHORTCUT_FAILED)
        self.assertEqual([m.buttons for m in run.messages], [["OK"], ["OK"]])
        self.assertEqual(run.exit_code, 0)
        self.assert_all_copied(p)

    def test_the_backdrop_takes_no_click_while_a_message_is_up(self):
        # A message box is modal to the whole program: with the first shortcut message up, a
        # real click on the backdrop's close box does nothing, and the second message follows.
        p = self.prefix_with_library("library-fails-click", "fail")
        run = rig.InstallRun(p)
        clicked = []

        def click_backdrop_close_box(index, box):
            if index != 0:
                return
            backdrop = p.window(rig.BACKDROP)
            self.assertFalse(backdrop["enabled"], "the backdrop takes input under the message box")
            left, top, right, _ = backdrop["client"]
            we._run(["xdotool", "mousemove", str(right - 10), str(top - 10), "click", "1"], p.env, 30)
            shot = p.screenshot("backdrop-close-clicked")
            clicked.append(shot.path)
            self.assertTrue(run.proc.running(), "the click on the backdrop ended the program")
            self.assertIsNotNone(p.window(box["title"]), "the message box went with the click")
        try:
            run.to_destination()
            run.start_copy()
            run.finish(before_answer=click_backdrop_close_box)
        finally:
            run.stop()
        self.assertEqual(len(clicked), 1)
        self.assertEqual(run.message_keys(), rig.SHORTCUT_FAILED)
        self.assertEqual(run.exit_code, 0)

    def test_library_without_the_entry_point_fails(self):
        p = self.prefix_with_library("library-noentry", "noentry")
        run = install(p)
        self.assertEqual(run.message_keys(), [rig.FAILED])
        self.assertEqual(run.exit_code, 0)
        self.assert_all_copied(p)
        self.assertEqual(run.links_made(), [])

    def test_any_nonzero_result_is_success(self):
        p = self.prefix_with_library("library-nonzero", "nonzero")
        run = install(p)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assertEqual(run.exit_code, 0)

    def test_library_is_loaded_when_the_shortcut_is_made(self):
        # Missing while the wizard starts, in place by the time the copy run ends.
        p = self.prefix_with_library("library-late", None)
        run = rig.InstallRun(p)
        run.to_destination()
        shutil.copyfile(os.path.join(rig.disk_dir(), "STKIT432.DLL"), os.path.join(p.disk, "STKIT432.DLL"))
        run.start_copy()
        run.finish()
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assert_link(p, rig.DEFAULT_DEST)

    def test_library_in_the_start_folder_is_not_used(self):
        p = self.new_prefix("library-planted")
        work = os.path.join(p.drive_c, "Work")
        os.makedirs(work)
        shutil.copyfile(rig.stkit_variant("fail"), os.path.join(work, "STKIT432.DLL"))
        run = install(p, cwd=work)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assert_link(p, rig.DEFAULT_DEST)


if __name__ == "__main__":
    unittest.main(verbosity=2)
