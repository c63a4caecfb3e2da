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
from test_robustness import RobustnessCase, install, plant_dir  # noqa: E402

SYSTEM_NAMES = ["version.dll", "uxtheme.dll", "dwmapi.dll", "winmm.dll", "comctl32.dll",
                "msimg32.dll", "cryptbase.dll", "userenv.dll", "profapi.dll", "propsys.dll"]
SETUP_LIBRARY = "STKIT432.DLL"
MARKERS = "C:\\planted"
# Native before builtin for the planted names, but for version.dll: Wine's own user32
# imports it, so with it native-first a planted copy would be bound before the first
# instruction of SETUP.EXE runs (the user32 of Windows does not import it).
NATIVE_FIRST = ",".join(n[:-4] for n in SYSTEM_NAMES if n != "version.dll") + "=n,b"


def markers(prefix):
    folder = rig.unix_path(prefix, MARKERS)
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


class PlantedLibraries(unittest.TestCase):
    """One whole installation with every planted DLL in place, started from C:\\Work."""

    @classmethod
    def setUpClass(cls):
        cls.p = p = we.Prefix(name=cls.__name__)
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


class SetupLibraryImports(unittest.TestCase):
    """Where the setup library's own imports are looked for: beside it and in the system folder,
    never in the folder SETUP.EXE is started from. STKIT432.DLL is replaced by a test build that
    imports STKHELP.DLL, and STKHELP.DLL is a planted library that leaves a marker when loaded."""

    HELPER = "STKHELP.DLL"

    def install_with_helper_in(self, folder):
        p = we.Prefix(name="%s-%s" % (type(self).__name__, self._testMethodName))
        self.addCleanup(p.close)
        shutil.copyfile(rig.stkit_variant("helper"), os.path.join(p.disk, SETUP_LIBRARY))
        work = os.path.join(p.drive_c, "Work")
        os.makedirs(work)
        shutil.copyfile(os.path.join(plant_dir(), self.HELPER),
                        os.path.join(p.disk if folder == "installer" else work, self.HELPER))
        return p, install(p, cwd=work)

    def test_an_import_in_the_start_folder_is_not_loaded(self):
        p, run = self.install_with_helper_in("start")
        self.assertEqual(markers(p), [])
        self.assertEqual(run.message_keys(), [rig.FAILED])  # the library cannot be loaded
        self.assertEqual(run.links_made(), [])

    def test_an_import_beside_the_library_is_loaded_from_there(self):
        p, run = self.install_with_helper_in("installer")
        self.assertEqual(markers(p), [self.HELPER + ".loaded"])
        with open(os.path.join(rig.unix_path(p, MARKERS), self.HELPER + ".loaded"), encoding="utf-8") as f:
            self.assertEqual(f.readline().strip().upper(), "D:\\" + self.HELPER)
        self.assertEqual(run.message_keys(), [rig.SUCCESS])


FULL = "full path"
# Typed destinations that the destination page refuses, each with a part of the reason it
# gives. Typed with real keys, except where a key press cannot make the text (an empty box,
# a control character, characters outside the keyboard layout): those are set in the box.
REFUSED = [
    ("", "choose", False),
    ("   ", "choose", True),
    ("Quorvant", FULL, True),
    ("Program Files\\Q99", FULL, True),
    (".\\Q99", FULL, True),
    ("..\\Q99", FULL, True),
    ("C:", FULL, True),
    ("C:foo", FULL, True),
    ("C:Q99\\Sub", FULL, True),
    ("\\", FULL, True),
    ("\\Q99", FULL, True),
    ("\\\\", FULL, True),
    ("\\\\server", FULL, True),
    ("\\\\server\\", FULL, True),
    ("\\\\?\\C:\\Q99", FULL, True),
    ("\\\\.\\C:\\Q99", FULL, True),
    ("1:\\Q99", FULL, True),
    ("C:/Q99", FULL, True),
    ("\u00c4:\\Q99", FULL, False),
    ("C:\\Apps/Q99", "characters", True),
    ("C:\\Q<99", "characters", True),
    ("C:\\Q>99", "characters", True),
    ("C:\\Q:99", "characters", True),
    ("C:\\Q\"99", "characters", True),
    ("C:\\Q|99", "characters", True),
    ("C:\\Q?99", "characters", True),
    ("C:\\Q*99", "characters", True),
    ("C:\\Q\t99", "character", False),
    ("C:\\CON", "reserved", True),
    ("C:\\Apps\\nul", "reserved", True),
    ("C:\\aux.txt", "reserved", True),
    ("C:\\COM1\\Q99", "reserved", True),
    ("C:\\lpt9.log", "reserved", True),
    ("C:\\prn  .x", "reserved", True),
    ("C:\\Q99.", "dot or a space", True),
    ("C:\\Q99 ", "dot or a space", True),
    ("C:\\Q99 \\Sub", "dot or a space", True),
    ("C:\\Apps\\..\\Q99", "\"..\"", True),
    ("C:\\Apps\\.", "\"..\"", True),
    ("C:\\Apps\\\\Q99", "empty", True),
    ("C:\\" + "q" * 245, "too long", True),
    ("C:\\" + "\u03a9" * 250, "too long", False),
]
# The longest folder whose copies all stay within the 260-character limit: 241 characters,
# 242 with its backslash, 259 for DATA\SUPPLIER.XLS.
LONGEST = "C:\\" + "L" * 238


class TypedDestinations(RobustnessCase):
    """One SETUP.EXE session: every refused text typed into the chooser, OK, Next >, the
    reason read and dismissed; then the longest accepted folder is installed into."""

    def test_refused_texts_keep_the_page_and_the_longest_folder_installs(self):
        p = we.Prefix(name="typed")
        self.addCleanup(p.close)
        run = rig.InstallRun(p)
        self.addCleanup(run.stop)
        run.to_destination()
        edit_id = None
        first_icon = None
        for text, says, typed in REFUSED:
            with self.subTest(text=text):
                p.click(rig.DESTINATION, "Browse")
                # The chooser's text box has the focus with the page's text in it.
                we.wait_for(lambda: (lambda f: f.get("foreground_title") == rig.CHOOSER
                                     and f.get("focus_class") == "Edit")(p.focus()), 10,
                            what="the chooser's text box to have the focus")
                if typed:
                    rig.type_text(p, text)  # the whole text is selected, so it is replaced
                else:
                    if edit_id is None:
                        edit_id = next(c["id"] for c in p.controls(rig.CHOOSER) if c["class"] == "Edit")
                    # Wine decodes the command line as UTF-8 only in a UTF-8 locale.
                    saved = p.env.get("LC_ALL")
                    p.env["LC_ALL"] = "C.UTF-8"
                    try:
                        self.assertTrue(p.set_text(rig.CHOOSER, edit_id, text)["ok"])
                    finally:
                        if saved is None:
                            del p.env["LC_ALL"]
                        else:
                            p.env["LC_ALL"] = saved
                we.wait_for(lambda: p.focus().get("focus_text") == text, 10,
                            what="the text box to read %r" % text)
                p.key("Return")
                we.wait_for(lambda: p.window(rig.CHOOSER) is None, rig.STEP_TIMEOUT,
                            what="the chooser to close")
                p.click(rig.DESTINATION, "Next >")

                def message():
                    ws = p.windows()
                    box = [w for w in ws if w["class"] == "#32770" and w["title"] in rig.MESSAGE_TITLES]
                    return (box[0], {w["title"] for w in ws}) if box else None
                box, titles = we.wait_for(message, rig.STEP_TIMEOUT, what="the refusal")
                facts = p.uia("msgbox", box["hwnd"])
                self.assertIn(says, facts["text"])
                self.assertEqual((box["title"], facts["buttons"]), ("Setup", ["OK"]))
                if first_icon is None:
                    # Told from the screen once; every later box must carry the same icon.
                    self.assertEqual(p.message_box(box["hwnd"])["icon"], "exclamation")
                    first_icon = facts["icon"]
                self.assertEqual(facts["icon"], first_icon)
                self.assertIn(rig.DESTINATION, titles, "left the destination page")
                self.assertNotIn(rig.COPYING, titles, "the copy window came up")
                we.wait_for(lambda: p.focus().get("foreground") == box["hwnd"], 10,
                            what="the message box to have the focus")
                p.key("Return")
                we.wait_for(lambda: p.focus().get("foreground_title") == rig.DESTINATION, 10,
                            what="the destination page in front again")
                self.assertEqual(run.destination_label(), text)
        self.assertTrue(run.proc.running())
        self.assertEqual(run.drive_c_changes(), [], "a refused destination was written")

        run.browse(LONGEST)
        run.start_copy(by_key=False)
        run.finish()
        self.assertEqual(run.message_keys(), [rig.SUCCESS])
        self.assertIsNotNone(run.messages[0].window(rig.COPYING))
        dest = rig.unix_path(p, LONGEST)
        self.assert_rows(dest, range(1, 21))
        info = rig.read_link(p, rig.programs_folder(p) + "\\" + rig.LINK_NAME)
        self.assertEqual(info["target"], LONGEST + "\\QV99.EXE")
        self.assert_only_under(run, os.path.relpath(dest, p.drive_c), self.link_rel(p))

class AcceptedDestinations(RobustnessCase):
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
        p = we.Prefix(name="accepted")
        self.addCleanup(p.close)
        for text, messages in self.CASES:
            with self.subTest(text=text):
                run = install(p, text)
                self.assertEqual(run.message_keys(), messages)
                self.assertIsNotNone(run.messages[0].window(rig.COPYING), "no copy window")
                self.assertEqual(run.exit_code, 0)
                if messages == [rig.SUCCESS]:
                    dest = rig.unix_path(p, text)
                    self.assert_rows(dest, range(1, 21))
                    info = rig.read_link(p, rig.programs_folder(p) + "\\" + rig.LINK_NAME)
                    self.assertEqual(info["target"].lower(), text.rstrip("\\").lower() + "\\qv99.exe")
                    self.assert_only_under(run, os.path.relpath(dest, p.drive_c), self.link_rel(p))
                else:
                    self.assertEqual(run.drive_c_changes(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
