"""End-to-end tests of SETUP.EXE against hostile input that reaches it from outside:
libraries planted where it might load them, and destination texts that are not folders.

Planted libraries: DLLs named like system libraries (version.dll, uxtheme.dll, ...) and
like the setup library, left in the installer folder and in the folder SETUP.EXE is
started from, as anyone who can write to a download folder or a shared disk can do. They
are tests/e2e/plant/plant.cpp built under each name; loaded, one leaves the marker
C:\\planted\\<name>.loaded. After a whole installation no marker may exist, and the shortcut
must have been made by the installer's own STKIT432.DLL.

Typed destinations: texts typed into the folder chooser; the destination page refuses
every one that is not a full folder path, with its reason, and stays; the accepted ones
run and end in the message that tells what happened.
"""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
from install_rig import plant_dir  # noqa: E402

SYSTEM_NAMES = ["version.dll", "uxtheme.dll", "dwmapi.dll", "winmm.dll", "comctl32.dll",
                "msimg32.dll", "cryptbase.dll", "userenv.dll", "profapi.dll", "propsys.dll"]
SETUP_LIBRARY = "STKIT432.DLL"
MARKERS = "C:\\planted"
# Native before builtin for the planted names, but for version.dll: Wine's own user32
# imports it, so with it native-first a planted copy would be bound before the first
# instruction of SETUP.EXE runs (the user32 of Windows does not import it).
NATIVE_FIRST = ",".join(n[:-4] for n in SYSTEM_NAMES if n != "version.dll") + "=n,b"


def planted_env(prefix):
    """The prefix's environment with native libraries first for the planted names."""
    return dict(prefix.env, WINEDLLOVERRIDES=prefix.env["WINEDLLOVERRIDES"] + ";" + NATIVE_FIRST)


def markers(prefix):
    folder = rig.unix_path(prefix, MARKERS)
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


class PlantedLibraries(rig.RigCase):
    """One whole installation with every planted DLL in place, started from C:\\Work."""

    reset_each = False

    @classmethod
    def setUpClass(cls):
        cls.p = p = we.shared_prefix().reset(name=cls.__name__)
        cls.work = os.path.join(p.drive_c, "Work")
        os.makedirs(cls.work)
        for name in SYSTEM_NAMES:
            # Beside SETUP.EXE (the real STKIT432.DLL stays there) and in the start folder.
            shutil.copyfile(os.path.join(plant_dir(), name), os.path.join(p.disk, name))
            shutil.copyfile(os.path.join(plant_dir(), name), os.path.join(cls.work, name))
        shutil.copyfile(os.path.join(plant_dir(), SETUP_LIBRARY), os.path.join(cls.work, SETUP_LIBRARY))
        # Wine's builtin libraries would win over a native one of the same name anyway; the
        # override makes a planted library win wherever the search reaches it, as a DLL that
        # is not one of the system's known libraries does on Windows.
        cls.run_ = rig.Session(p, cwd=cls.work, env=planted_env(p))
        try:
            cls.run_.to_destination()
            cls.run_.start_copy()
            cls.run_.finish()
        finally:
            cls.run_.stop()
        cls.markers_after_run = markers(p)

    def test_no_planted_library_was_loaded(self):
        self.assertEqual(self.markers_after_run, [])

    def test_installation_completes_with_the_link_made_by_the_real_library(self):
        self.assert_installed(self.run_, rig.DEFAULT_DEST)
        self.assert_link(self.p, rig.DEFAULT_DEST)

    def test_the_planted_libraries_do_leave_a_marker_when_something_loads_them(self):
        # The other tests mean something only if a planted DLL that is loaded says so:
        # here a program that loads libraries by name loads two of them on purpose.
        for name in ("D:\\uxtheme.dll", "C:\\Work\\" + SETUP_LIBRARY):
            self.p.run("rundll32", name + ",Nothing", env=planted_env(self.p))
        got = we.wait_for(lambda: (lambda m: m if len(m) == 2 else None)(markers(self.p)), 20,
                          what="the markers of the two loaded DLLs")
        self.assertEqual(got, [SETUP_LIBRARY + ".loaded", "uxtheme.dll.loaded"])
        with open(os.path.join(rig.unix_path(self.p, MARKERS), "uxtheme.dll.loaded"), encoding="utf-8") as f:
            self.assertEqual(f.readline().strip().lower(), "d:\\uxtheme.dll")


class SetupLibraryImports(rig.RigCase):
    """Where the setup library's own imports are looked for: beside it and in the system folder,
    never in the folder SETUP.EXE is started from. STKIT432.DLL is replaced by a test build that
    imports STKHELP.DLL, and STKHELP.DLL is a planted library that leaves a marker when loaded."""

    HELPER = "STKHELP.DLL"

    def install_with_helper_in(self, folder):
        p = self.p
        shutil.copyfile(rig.stkit_variant("helper"), os.path.join(p.disk, SETUP_LIBRARY))
        work = os.path.join(p.drive_c, "Work")
        os.makedirs(work)
        shutil.copyfile(os.path.join(plant_dir(), self.HELPER),
                        os.path.join(p.disk if folder == "installer" else work, self.HELPER))
        return p, rig.install(p, cwd=work)

    def test_an_import_in_the_start_folder_is_not_loaded(self):
        p, run = self.install_with_helper_in("start")
        self.assertEqual(markers(p), [])
        self.assert_failed(run)  # the library cannot be loaded

    def test_an_import_beside_the_library_is_loaded_from_there(self):
        p, run = self.install_with_helper_in("installer")
        self.assertEqual(markers(p), [self.HELPER + ".loaded"])
        with open(os.path.join(rig.unix_path(p, MARKERS), self.HELPER + ".loaded"), encoding="utf-8") as f:
            self.assertEqual(f.readline().strip().upper(), "D:\\" + self.HELPER)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])


FULL = ("Please enter the full path of the destination directory, beginning with a drive letter "
        "(for example C:\\Program Files\\Quorvant '99) or with a network share (\\\\server\\share).")
TOO_LONG = "The destination directory path is too long. Please choose a path of at most 241 characters."
# Typed destinations that the destination page refuses, one for each reason it gives, with the
# whole message. Typed with real keys, except where a key press cannot make the text (an empty
# box, a control character, characters outside the keyboard layout): those are set in the box.
# Every text the page refuses is checked against its reason by tests/unit/destination_test.cpp.
REFUSED = [
    ("", "Please choose a destination directory.", False),
    ("   ", "Please choose a destination directory.", True),
    ("C:foo", FULL, True),
    ("\u00c4:\\Q99", FULL, False),
    ("C:\\Q|99", "A directory name cannot contain any of the following characters:\n< > : \" / | ? *\n\n"
                 "Please correct \"Q|99\".", True),
    ("C:\\Q\t99", "The destination directory contains a character that cannot be used in a directory name.", False),
    ("C:\\Apps\\nul", "\"nul\" is a name reserved by Windows and cannot be used as a directory name.", True),
    ("C:\\Q99 ", "A directory name cannot end with a dot or a space. Please correct \"Q99 \".", True),
    ("C:\\Apps\\..\\Q99", "The destination directory must not contain \".\" or \"..\". " + FULL, True),
    ("C:\\Apps\\\\Q99", "The destination directory \"C:\\Apps\\\\Q99\" contains an empty directory name (\\\\).", True),
    ("C:\\" + "q" * 239, TOO_LONG, True),  # 242 characters, 243 with the backslash the copies add
    ("C:\\" + "\u03a9" * 250, TOO_LONG, False),
]
# The longest folder whose copies all stay within the 260-character limit: 241 characters,
# 242 with its backslash, 259 for DATA\SUPPLIER.XLS.
LONGEST = "C:\\" + "L" * 238


class TypedDestinations(rig.RigCase):
    """One SETUP.EXE session: each refused text entered into the chooser, OK, Next >, the
    reason read and dismissed; then the longest accepted folder is installed into."""

    def test_refused_texts_keep_the_page_and_the_longest_folder_installs(self):
        p = self.p
        run = self.session(p)
        run.to_destination()
        for text, says, typed in REFUSED:
            with self.subTest(text=text):
                run.choose(text, typed=typed, how="click")
                facts, titles = run.refusal()
                self.assertEqual(facts["text"], says)
                self.assertEqual((facts["window"]["title"], facts["buttons"], facts["icon"]),
                                 ("Setup", ["OK"], "exclamation"))
                self.assertIn(rig.DESTINATION, titles, "left the destination page")
                self.assertNotIn(rig.COPYING, titles, "the copy window came up")
                self.assertEqual(run.destination_label(), text)
        self.assertTrue(run.proc.running())
        self.assertEqual(run.drive_c_changes(), [], "a refused destination was written")

        run.choose(LONGEST)
        run.start_copy(by_key=False)
        run.finish()
        self.assert_installed(run, LONGEST)
        self.assert_link(p, LONGEST)


class AcceptedDestinations(rig.RigCase):
    """Unusual texts that are full folder paths: no refusal, the copy window comes up, and
    the run ends in the message that tells what really happened. One prefix, one run each."""

    CASES = [
        ("C:\\CONSOLE.d\\NULL", [rig.FAILED]),  # its parent is made only by the next case
        ("C:\\CONSOLE.d", [rig.SUCCESS]),
        ("c:\\q99 lower\\", [rig.SUCCESS]),
        ("C:\\COM10", [rig.SUCCESS]),
        ("\\\\server\\share\\Q99", [rig.FAILED]),
    ]

    def test_each_runs_and_ends_truthfully(self):
        p = self.p
        for text, messages in self.CASES:
            with self.subTest(text=text):
                run = rig.install(p, text)
                self.assertIsNotNone(run.messages[0].window(rig.COPYING), "no copy window")
                if messages == [rig.SUCCESS]:
                    self.assert_installed(run, text.rstrip("\\"))
                    self.assert_link(p, text)
                else:
                    self.assert_failed(run)
                    self.assertEqual(run.drive_c_changes(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
