"""A user's whole journeys through SETUP.EXE under Wine, end to end.

Every way out of the wizard, driven with real keys (and the frame's close box),
checked by what the user sees and by what lands on drive C: — nothing but the
destination folder and the Start-menu link — and by the process having ended
when it should. All runs share one prefix: each run compares drive C: before
and after itself, and the order of the tests does not matter.
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402
import walk_rig as wr  # noqa: E402

# A folder tree the user picks through the directory list: "Apps" sorts first on C:\.
PICKED = "C:\\Apps\\Quorvant"


class Journeys(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = we.Prefix(name=cls.__name__)
        cls.addClassCleanup(cls.p.close)
        os.makedirs(rig.unix_path(cls.p, PICKED))
        cls.link_rel = os.path.join(os.path.relpath(
            rig.unix_path(cls.p, rig.programs_folder(cls.p)), cls.p.drive_c), rig.LINK_NAME)

    def walk(self):
        w = wr.Walk(self.p)
        self.addCleanup(w.stop)
        w.wait_welcome()
        return w

    def assert_ended_without_a_trace(self, w):
        self.assertEqual(w.proc.wait(rig.STEP_TIMEOUT), 0)
        self.assertEqual(w.drive_c_changes(), [], "written to drive C:")

    def assert_only_installed(self, changes, dest):
        """Every change on drive C: lies in the destination or is the link (or a folder on
        the way to it)."""
        dest_rel = os.path.relpath(rig.unix_path(self.p, dest), self.p.drive_c)
        stray = []
        for change in changes:
            kind, path = change.split(" ", 1)
            if kind == "removed":
                stray.append(change)
            elif not (path == dest_rel or path.startswith(dest_rel + os.sep) or path == self.link_rel
                      or (kind == "added" and self.link_rel.startswith(path + os.sep))):
                stray.append(change)
        self.assertEqual(stray, [], "changes outside the destination and the link")

    def assert_installed(self, w, dest):
        self.assertEqual(w.message_keys(), [rig.SUCCESS])
        self.assertEqual(w.messages[0].buttons, ["OK"])
        self.assertEqual(w.exit_code, 0)
        dest_unix = rig.unix_path(self.p, dest)
        for row in rig.MANIFEST:
            self.assertEqual(rig.read(rig.row_path(dest_unix, row)),
                             rig.read(os.path.join(self.p.disk, row[0])), row[1])
        link = rig.read_link(self.p, rig.programs_folder(self.p) + "\\" + rig.LINK_NAME)
        self.assertEqual(link["target"].lower(), (dest + "\\QV99.EXE").lower())

    # -- leaving without installing

    def test_cancel_by_keyboard_on_each_page_ends_at_once(self):
        w = self.walk()
        self.p.key("Tab")
        w.wait_focus_on(rig.WELCOME, "Button", "Cancel")
        self.p.key("space")
        self.assert_ended_without_a_trace(w)

        w = self.walk()
        w.next_to_destination()
        self.p.key("Tab")
        w.wait_focus_on(rig.DESTINATION, "Button", "Cancel")
        self.p.key("space")
        self.assert_ended_without_a_trace(w)

    def test_close_boxes_step_back_until_the_backdrop_ends_the_program(self):
        w = self.walk()
        w.next_to_destination()
        # The destination page's close box is "< Back": the welcome page is active again.
        self.p.close_window(rig.DESTINATION)
        w.wait_titles([rig.WELCOME, rig.BACKDROP])
        w.wait_focus_on(rig.WELCOME, "Button", "Next >")
        w.next_to_destination()

        # The chooser's close box (and before it, its Cancel) returns to the page unchanged.
        w.open_chooser_by_keys()
        self.p.key("x")
        w.wait_chooser_text("x")
        self.p.key("Tab", "Tab", "Tab", "Tab")
        w.wait_focus_on(rig.CHOOSER, "Button", "Cancel")
        self.p.key("space")
        w.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        self.assertEqual(w.destination_label(), rig.DEFAULT_DEST)
        # Focus comes back to Browse, which opened the chooser.
        w.wait_focus_on(rig.DESTINATION, "Button", "Browse")
        self.p.key("space")
        w.wait_focus_on(rig.CHOOSER, "Edit")
        self.p.key("y")
        w.wait_chooser_text("y")
        self.p.close_window(rig.CHOOSER)
        w.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        self.assertEqual(w.destination_label(), rig.DEFAULT_DEST)

        self.p.close_window(rig.DESTINATION)
        w.wait_titles([rig.WELCOME, rig.BACKDROP])
        self.p.close_window(rig.WELCOME)
        w.wait_titles([rig.BACKDROP])
        we.wait_for(lambda: self.p.window(rig.BACKDROP)["enabled"], 10, what="the backdrop enabled")
        self.assertTrue(w.proc.running(), "the program ended with the welcome page")
        self.p.close_window(rig.BACKDROP)
        self.assert_ended_without_a_trace(w)

    # -- installing

    def test_back_and_next_several_times_then_install(self):
        w = self.walk()
        for _ in range(3):
            w.next_to_destination()
            self.assertEqual(w.destination_label(), rig.DEFAULT_DEST)
            self.p.key("Tab", "Tab")
            w.wait_focus_on(rig.DESTINATION, "Button", "< Back")
            self.p.key("space")
            w.wait_titles([rig.WELCOME, rig.BACKDROP])
        w.next_to_destination()
        self.p.key("Return")
        w.finish()
        self.assert_installed(w, rig.DEFAULT_DEST)
        self.assert_only_installed(w.drive_c_changes(), rig.DEFAULT_DEST)

    def choose_picked_by_lists(self, w):
        """Drive list to c:, then the directory list: Apps, then Quorvant; Enter on the
        open folder is the default button, OK."""
        w.open_chooser_by_keys()
        self.p.key("Tab", "Tab")
        w.wait_focus_on(rig.CHOOSER, "ComboBox", "d:")
        self.p.key("c")
        w.wait_chooser_text("C:\\")
        self.p.key("shift+Tab")
        w.wait_focus_on(rig.CHOOSER, "ListBox")
        self.p.key("Down", "Return")
        w.wait_chooser_text("C:\\Apps")
        self.p.key("Down", "Return")
        w.wait_chooser_text(PICKED)
        self.p.key("Return")
        w.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        we.wait_for(lambda: w.destination_label() == PICKED, 10, what="the label to read " + PICKED)
        # Focus is back on Browse; Tab goes round to Next >.
        w.wait_focus_on(rig.DESTINATION, "Button", "Browse")
        self.p.key("Tab")

    def test_folder_picked_with_the_lists_then_a_second_installation_over_it(self):
        w = self.walk()
        w.next_to_destination()
        self.choose_picked_by_lists(w)
        w.wait_focus_on(rig.DESTINATION, "Button", "Next >")
        self.p.key("Return")
        w.finish()
        self.assert_installed(w, PICKED)
        self.assert_only_installed(w.drive_c_changes(), PICKED)

        # The user spoils two files and runs the installer again into the same folder.
        dest_unix = rig.unix_path(self.p, PICKED)
        for row in (rig.MANIFEST[0], rig.MANIFEST[7]):
            with open(rig.row_path(dest_unix, row), "wb") as f:
                f.write(b"spoiled")
        again = self.walk()
        again.next_to_destination()
        self.choose_picked_by_lists(again)
        again.wait_focus_on(rig.DESTINATION, "Button", "Next >")
        self.p.key("Return")
        again.finish()
        self.assert_installed(again, PICKED)
        self.assert_only_installed(again.drive_c_changes(), PICKED)
        links = [k for k in self.p.drive_c_tree() if k.lower().endswith(".lnk")]
        self.assertEqual(links, [self.link_rel], "one link only")


if __name__ == "__main__":
    unittest.main(verbosity=2)
