"""End-to-end tests of the shortcut that SETUP.EXE makes at the end of the installation,
and of the messages that follow from what the setup library STKIT432.DLL does.

Each run starts the real SETUP.EXE from D:\\ (a copy of the installer folder) in the
module's prefix (reset between tests), walks the wizard with Enter (or types a folder
through Browse) and answers every message box with Enter; the link is read back through
tools/lnkinfo.exe.
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402


class DefaultShortcut(rig.RigCase):
    """The link after a default installation, and what starting it does."""

    def test_link_points_at_the_program_and_starting_it_starts_the_program(self):
        run = rig.install(self.p)
        self.assert_installed(run, rig.DEFAULT_DEST)
        self.assert_link(self.p, rig.DEFAULT_DEST)
        self.assertEqual(run.links_made(), [rig.c_relative(self.p, rig.link_path(self.p))],
                         "one link, and only there")
        # In every user's Start menu: the installer installs for all users and runs elevated,
        # often with another account's credentials than the user's who installs.
        every_users, users_own = rig.programs_folders(self.p)
        self.assertNotEqual(every_users.lower(), users_own.lower())
        self.assertFalse(os.path.lexists(rig.unix_path(self.p, users_own + "\\" + rig.LINK_NAME)),
                         "a link in the current user's own Programs folder")

        link = rig.unix_path(self.p, rig.link_path(self.p))
        self.assertIsNone(self.p.window(rig.PRODUCT), "the program runs already")
        starter = subprocess.Popen(["wine", "start", "/unix", link], env=self.p.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(starter.wait, 30)
        w = self.p.wait_window(rig.PRODUCT, timeout=30)
        # Ended with the case even when a check fails, so that it is not left in the prefix.
        self.addCleanup(lambda: self.p.window(rig.PRODUCT) and self.p.close_window(rig.PRODUCT))
        self.assertEqual(w["class"], "QuorvantMain")
        # The program found its DATA folder beside itself, in the destination.
        status = "11 files in " + rig.DEFAULT_DEST + "\\DATA"
        we.wait_for(lambda: any(c["class"] == "Static" and c["text"].startswith(status)
                                for c in self.p.controls(w["hwnd"])), 10,
                    what="the program's status line to read %r" % status)
        self.p.close_window(rig.PRODUCT)
        self.p.wait_window_gone(rig.PRODUCT, timeout=30)


class SetupLibrary(rig.RigCase):
    """What SETUP.EXE does with a missing or misbehaving STKIT432.DLL, replaced in the
    prefix's copy of the installer folder (which the reset makes whole again)."""

    def prefix_with_library(self, variant):
        p = self.p
        lib = os.path.join(p.disk, "STKIT432.DLL")
        if variant is None:
            os.unlink(lib)
        else:
            shutil.copyfile(rig.stkit_variant(variant), lib)
        return p

    def test_a_library_that_cannot_be_used_copies_all_files_then_fails(self):
        for variant in (None, "noentry"):  # missing, or without the entry point
            with self.subTest(library=variant or "missing"):
                self.p = self.prefix()
                p = self.prefix_with_library(variant)
                run = rig.install(p)
                self.assert_failed(run)
                self.assert_rows(rig.unix_path(p, rig.DEFAULT_DEST))

    def test_missing_library_is_not_looked_for_in_the_start_folder(self):
        # C:\windows is both the folder SETUP.EXE is started from and on the system's
        # search path for libraries: a library there must not stand in for the missing one.
        p = self.prefix_with_library(None)
        shutil.copyfile(rig.stkit_variant("nonzero"), os.path.join(p.drive_c, "windows", "STKIT432.DLL"))
        run = rig.install(p)
        self.assert_failed(run)

    def test_zero_result_gives_the_two_shortcut_messages_in_order(self):
        p = self.prefix_with_library("fail")
        run = rig.install(p)
        self.assert_failed(run, rig.SHORTCUT_FAILED)
        self.assert_rows(rig.unix_path(p, rig.DEFAULT_DEST))

    def test_the_backdrop_takes_no_click_while_a_message_is_up(self):
        # A message box is modal to the whole program: with the first shortcut message up,
        # clicks on the close boxes of the copy window and the backdrop, and WM_CLOSE posted
        # to them, do nothing, and the second message follows.
        p = self.prefix_with_library("fail")
        run = self.session(p)
        run.to_destination()
        run.start_copy()
        run.finish(before_answer=lambda index, box: index == 0 and self.assert_closes_refused(
            run, box["hwnd"], [rig.COPYING, rig.BACKDROP], ("click", "post")))
        self.assert_failed(run, rig.SHORTCUT_FAILED)

    def test_any_nonzero_result_is_success(self):
        p = self.prefix_with_library("nonzero")
        run = rig.install(p)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assertEqual(run.exit_code, rig.EXIT_INSTALLED)

    def test_library_is_loaded_when_the_shortcut_is_made(self):
        # Missing while the wizard starts, in place by the time the copy run ends.
        p = self.prefix_with_library(None)
        run = self.session(p)
        run.to_destination()
        shutil.copyfile(os.path.join(rig.disk_dir(), "STKIT432.DLL"), os.path.join(p.disk, "STKIT432.DLL"))
        run.start_copy()
        run.finish()
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assert_link(p, rig.DEFAULT_DEST)


if __name__ == "__main__":
    unittest.main(verbosity=2)
