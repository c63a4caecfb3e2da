"""End-to-end tests of the wizard's pages of SETUP.EXE under Wine: start-up and the welcome
page, the destination page and its folder chooser; what the user's keys and clicks do there,
where the installer can be started from, and what it imports.

Each test starts the real SETUP.EXE in the module's prefix (reset between tests) from
another working directory (C:\\windows) and looks at it the way a user does: windows,
focus, message boxes, what lands on the disks. The pages' layout is checked in
test_layout.py, the texts the destination page refuses in test_planting.py.
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
from install_rig import CHOOSER, DESTINATION, DEFAULT_DEST  # noqa: E402

KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
              "oleaut32.dll", "advapi32.dll", "comdlg32.dll", "shlwapi.dll", "msvcrt.dll"}
# A folder that the installer folder holds besides its files, so that the directory
# list has something to open below its starting folder.
EXTRA_FOLDER = "SAMPLES"


# --------------------------------------------------------------------------- the welcome page

class WelcomeBehaviour(rig.RigCase):
    """What the user's keys and clicks do on the welcome page."""

    def setUp(self):
        super().setUp()
        self.run_ = self.session()
        self.run_.wait_welcome()

    def test_enter_opens_the_destination_page_over_the_welcome_page(self):
        self.p.key("Return")
        self.p.wait_window(rig.DESTINATION, timeout=15, proc=self.run_.proc)
        self.p.wait_titles([rig.BACKDROP, rig.DESTINATION, rig.WELCOME])
        self.assertFalse(self.p.window(rig.WELCOME)["enabled"], "the welcome page takes input behind")

    def test_cancel_ends_at_once_and_writes_nothing(self):
        self.p.mouse_click(rig.WELCOME, "Cancel")
        self.assert_cancelled(self.run_)

    def test_back_is_disabled_and_a_click_on_it_does_nothing(self):
        back = self.p.buttons(rig.WELCOME)["< Back"]
        self.assertFalse(back["enabled"])
        # A real click on it changes nothing: the focus stays on Next >, and the Tab pressed
        # after it is the next input handled.
        before = self.p.titles()
        self.p.mouse_click(rig.WELCOME, "< Back")
        self.p.key("Tab")
        self.p.wait_focus(rig.WELCOME, "Button", "Cancel")
        self.assertEqual(self.p.titles(), before)


class StartedFromASubFolder(rig.RigCase):
    """The installer folder need not be a drive's root: copied into D:\\Setup\\Disk 1, it
    takes its files from there and installs them all."""

    def test_installs_from_a_sub_folder_of_its_drive(self):
        p = self.p
        sub = os.path.join(p.disk, "Setup", "Disk 1")
        os.makedirs(sub)
        for name in os.listdir(rig.disk_dir()):
            shutil.copy2(os.path.join(rig.disk_dir(), name), sub)
        # Nothing is left at the root to be taken instead.
        for name in os.listdir(p.disk):
            if name != "Setup":
                os.unlink(os.path.join(p.disk, name))
        run = self.session(exe="D:\\Setup\\Disk 1\\SETUP.EXE")
        run.to_destination()
        run.start_copy()
        run.finish()
        self.assert_installed(run, rig.DEFAULT_DEST)
        self.assert_link(p, rig.DEFAULT_DEST)
        texts = [c["text"] for c in run.messages[0].window(rig.COPYING)["controls"] if c["class"] == "Static"]
        self.assertIn("D:\\SETUP\\DISK 1\\TABCTL32.OC_", [t.upper() for t in texts])


# --------------------------------------------------------------------------- the destination page

class DestinationCase(rig.RigCase):
    def start(self):
        self.run_ = self.session()
        self.run_.to_destination(by_key=False)
        return self.run_


class DestinationPage(DestinationCase):
    """Leaving the destination page and the chooser by their buttons."""

    def test_back_returns_to_welcome_and_next_shows_the_initial_folder_again(self):
        run = self.start()
        run.choose("C:\\Somewhere Else")
        self.p.click(DESTINATION, "< Back")
        self.p.wait_titles([rig.BACKDROP, rig.WELCOME])
        self.p.wait_focus(rig.WELCOME, "Button", "Next >")
        self.assertTrue(self.p.window(rig.WELCOME)["enabled"])
        run.to_destination(by_key=False)
        self.assertEqual(run.destination_label(), DEFAULT_DEST)
        self.assertTrue(run.proc.running())
        self.assert_nothing_written(self.run_)

    def test_cancel_ends_the_program_and_writes_nothing(self):
        run = self.start()
        self.p.click(DESTINATION, "Cancel")
        self.assert_cancelled(run)

    def test_chooser_cancel_and_close_box_keep_the_label_and_ok_writes_it_back(self):
        run = self.start()
        run.open_chooser("click")
        run.enter_folder("C:\\Not Taken")
        self.p.click(CHOOSER, "Cancel")
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(run.destination_label(), DEFAULT_DEST)

        run.open_chooser("click")
        run.enter_folder("C:\\Not Taken Either")
        self.p.close_window(CHOOSER)
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(run.destination_label(), DEFAULT_DEST)
        # The page is active again, with the focus on its default button.
        self.p.wait_focus(DESTINATION, "Button", "Next >")

        # OK without touching anything writes back exactly the label's text.
        run.open_chooser("click")
        self.assertEqual(run.chooser_text(), DEFAULT_DEST)
        self.p.click(CHOOSER, "OK")
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(run.destination_label(), DEFAULT_DEST)
        self.assertIsNotNone(self.p.window(DESTINATION))
        self.assert_nothing_written(self.run_)


class ChoosingAnotherDrive(DestinationCase):
    """Browse, the text box, the directory list, a typed folder on E:, and the installation."""

    def test_typed_folder_on_another_drive_is_installed_into(self):
        os.makedirs(os.path.join(self.p.disk, EXTRA_FOLDER))
        drive_e = self.p.new_drive("e")
        run = self.start()
        run.open_chooser("click")
        self.assertEqual(run.chooser_text(), DEFAULT_DEST)
        self.assertEqual(run.chooser_control("ComboBox")["text"], "d:")

        # The whole text is selected on opening: one typed letter replaces it.
        self.p.key("x")
        run.wait_chooser_text("x")

        # The directory list starts at the installer's folder, D:\, with its sub-folder
        # below: opening that one puts its path into the text box.
        self.p.key("Tab")
        self.p.wait_focus(CHOOSER, "ListBox")
        self.p.key("Down", "Return")
        run.wait_chooser_text("D:\\" + EXTRA_FOLDER)
        self.assertIsNotNone(self.p.window(CHOOSER), "Enter on another folder opens it, not OK")

        # Back into the text box with the mouse, then by keyboard: each time its whole
        # text is selected, and the typed letter replaces it.
        left, top, right, bottom = run.chooser_control("Edit")["rect"]
        self.p.click_at((left + right) // 2, (top + bottom) // 2)
        self.p.wait_focus(CHOOSER, "Edit")
        self.p.key("y")
        run.wait_chooser_text("y")
        self.p.key("Tab")
        self.p.wait_focus(CHOOSER, "ListBox")
        self.p.key("shift+Tab")
        self.p.wait_focus(CHOOSER, "Edit")
        self.p.key("w")
        run.wait_chooser_text("w")

        target = "E:\\Quorvant Apps"
        self.p.key("End", "shift+Home")  # the text selected, so the typing replaces it
        run.enter_folder(target)
        self.p.key("Return")
        self.p.wait_window_gone(CHOOSER, timeout=10)
        run.wait_label(target)
        self.assertEqual(os.listdir(drive_e), [], "the chooser created something")

        self.p.click(DESTINATION, "Next >")
        run.finish()
        self.assert_installed(run, os.path.join(drive_e, "Quorvant Apps"))
        self.assertEqual(sorted(os.listdir(drive_e)), ["Quorvant Apps"])
        self.assert_link(self.p, target)


class DriveNotReady(DestinationCase):
    """A drive whose folder has gone, chosen in the drive list."""

    def test_drive_not_ready_is_reported_and_the_list_stays(self):
        gone = self.p.new_drive("f")
        run = self.start()
        run.open_chooser("click")
        shutil.rmtree(gone)
        self.p.key("Tab", "Tab")
        self.p.wait_focus(CHOOSER, "ComboBox")
        self.assertEqual(run.chooser_control("ComboBox")["text"], "d:")
        self.p.key("f")
        facts = run.message()
        self.assertEqual((facts["window"]["title"], facts["buttons"], facts["icon"]), ("Setup", ["OK"], "exclamation"))
        self.assertEqual(facts["text"], "Drive F: is not ready or cannot be read.\n\nInsert a disk or choose another drive.")
        run.answer(facts)
        self.assertTrue(run.proc.running())
        self.assertIsNotNone(self.p.window(CHOOSER))
        we.wait_for(lambda: run.chooser_control("ComboBox")["text"] == "d:", 10,
                    what="the drive list back on d:")
        self.assertEqual(run.chooser_text(), DEFAULT_DEST, "the directory list moved")

        # The chooser still works: Cancel leaves the destination as it was.
        self.p.click(CHOOSER, "Cancel")
        self.p.wait_window_gone(CHOOSER, timeout=10)
        self.assertEqual(run.destination_label(), DEFAULT_DEST)
        self.assert_nothing_written(self.run_)


class Imports(unittest.TestCase):
    def test_setup_exe_imports_only_known_dlls(self):
        out = subprocess.run([we.env_path("SETUP_E2E_OBJDUMP"), "-p", os.path.join(rig.disk_dir(), "SETUP.EXE")],
                             check=True, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=60).stdout
        dlls = {line.split(b":", 1)[1].strip().decode().lower()
                for line in out.splitlines() if line.strip().startswith(b"DLL Name:")}
        self.assertTrue(dlls, "no import table found")
        self.assertEqual(dlls - KNOWN_DLLS, set())


if __name__ == "__main__":
    unittest.main(verbosity=2)
