"""End-to-end tests of SETUP.EXE against planted libraries: DLLs named like system
libraries (version.dll, uxtheme.dll, ...) and like the setup library, left in the
installer folder and in the folder SETUP.EXE is started from, as anyone who can write to
a download folder or a shared disk can do.

The planted DLLs are tests/e2e/plant/plant.cpp built under each name; loaded, one leaves
the marker C:\\planted\\<name>.loaded. After a whole installation no marker may exist, and
the shortcut must have been made by the installer's own STKIT432.DLL.
"""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402

SYSTEM_NAMES = ["version.dll", "uxtheme.dll", "dwmapi.dll", "winmm.dll", "comctl32.dll",
                "msimg32.dll", "cryptbase.dll", "userenv.dll", "profapi.dll", "propsys.dll"]
SETUP_LIBRARY = "STKIT432.DLL"
MARKERS = "C:\\planted"
# Native before builtin for the planted names, but for version.dll: Wine's own user32
# imports it, so with it native-first a planted copy would be bound before the first
# instruction of SETUP.EXE runs (the user32 of Windows does not import it).
NATIVE_FIRST = ",".join(n[:-4] for n in SYSTEM_NAMES if n != "version.dll") + "=n,b"

display = None


def setUpModule():
    global display
    display = we.Display()


def tearDownModule():
    if display:
        display.close()


def plant_dir():
    """The planted DLLs and hold.exe, built beside uia.exe."""
    return os.path.join(os.path.dirname(os.path.abspath(we.env_path("SETUP_E2E_UIA"))), "plant")


def markers(prefix):
    folder = rig.unix_path(prefix, MARKERS)
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


class PlantedLibraries(unittest.TestCase):
    """One whole installation with every planted DLL in place, started from C:\\Work."""

    @classmethod
    def setUpClass(cls):
        cls.p = p = we.Prefix(display, name=cls.__name__)
        cls.addClassCleanup(p.close)
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
        saved = p.env["WINEDLLOVERRIDES"]
        p.env["WINEDLLOVERRIDES"] = saved + ";" + NATIVE_FIRST
        try:
            cls.run_ = rig.InstallRun(p, cwd=cls.work)
        finally:
            p.env["WINEDLLOVERRIDES"] = saved
        try:
            cls.run_.to_destination()
            cls.run_.start_copy()
            cls.run_.finish()
        finally:
            cls.run_.stop()
        cls.changes = cls.run_.drive_c_changes()
        cls.markers_after_run = markers(p)

    def test_no_planted_library_was_loaded(self):
        self.assertEqual(self.markers_after_run, [])
        self.assertNotIn("added planted", self.changes)

    def test_installation_completes_with_the_link_made_by_the_real_library(self):
        self.assertEqual(self.run_.message_keys(), [rig.SUCCESS])
        self.assertEqual(self.run_.exit_code, 0)
        link = rig.programs_folder(self.p) + "\\" + rig.LINK_NAME
        info = rig.read_link(self.p, link)
        self.assertEqual(info["target"], rig.DEFAULT_DEST + "\\QV99.EXE")
        self.assertEqual(info["description"], rig.PRODUCT)
        dest = rig.unix_path(self.p, rig.DEFAULT_DEST)
        for row in rig.MANIFEST:
            self.assertEqual(rig.read(rig.row_path(dest, row)),
                             rig.read(os.path.join(rig.disk_dir(), row[0])), row[1])

    def test_nothing_is_written_outside_the_destination_and_the_link(self):
        dest = os.path.relpath(rig.unix_path(self.p, rig.DEFAULT_DEST), self.p.drive_c)
        link_dir = os.path.relpath(rig.unix_path(self.p, rig.programs_folder(self.p)), self.p.drive_c)
        link = os.path.join(link_dir, rig.LINK_NAME)
        unexpected = [c for c in self.changes
                      if not (c.startswith("added ") and
                              (c[6:] == dest or c[6:].startswith(dest + "/") or c[6:] == link
                               or link.startswith(c[6:] + "/")))]
        self.assertEqual(unexpected, [])

    def test_the_planted_libraries_do_leave_a_marker_when_something_loads_them(self):
        # The other tests mean something only if a planted DLL that is loaded says so:
        # here a program that loads libraries by name loads two of them on purpose.
        env = dict(self.p.env, WINEDLLOVERRIDES=self.p.env["WINEDLLOVERRIDES"] + ";" + NATIVE_FIRST)
        for name in ("D:\\uxtheme.dll", "C:\\Work\\" + SETUP_LIBRARY):
            we._run(["wine", "rundll32", name + ",Nothing"], env, 60, check=False)
        got = we.wait_for(lambda: (lambda m: m if len(m) == 2 else None)(markers(self.p)), 20,
                          what="the markers of the two loaded DLLs")
        self.assertEqual(got, [SETUP_LIBRARY + ".loaded", "uxtheme.dll.loaded"])
        with open(os.path.join(rig.unix_path(self.p, MARKERS), "uxtheme.dll.loaded"), encoding="utf-8") as f:
            self.assertEqual(f.readline().strip().lower(), "d:\\uxtheme.dll")


if __name__ == "__main__":
    unittest.main(verbosity=2)
