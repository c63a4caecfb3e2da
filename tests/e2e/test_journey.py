"""A user's whole journeys through SETUP.EXE under Wine, end to end.

Every way out of the wizard, driven with real keys (and the frame's close box),
checked by what the user sees and by what lands on drive C: — nothing but the
destination folder and the Start-menu link — and by the process having ended
when it should. All runs share the module's prefix, reset before each test.

Accessibility: one run walks the whole wizard with the keyboard only; focus follows the
tab order with real Tab presses, Enter presses the default button, Escape does nothing,
and the copy window's texts can be read by an automation client (our uia.exe). The
pages' captions are read in test_layout.py.
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wineenv as we  # noqa: E402
import install_rig as rig  # noqa: E402

# A folder tree the user picks through the directory list: "Apps" sorts first on C:\.
PICKED = "C:\\Apps\\Quorvant"
TYPED = "C:\\Keyboard Only"


class Journeys(rig.RigCase):
    def setUp(self):
        super().setUp()
        os.makedirs(rig.unix_path(self.p, PICKED))

    def walk(self):
        w = self.session()
        w.wait_welcome()
        return w

    # -- leaving without installing

    def test_cancel_by_keyboard_on_each_page_ends_at_once(self):
        w = self.walk()
        self.p.key("Tab")
        self.p.wait_focus(rig.WELCOME, "Button", "Cancel")
        self.p.key("space")
        self.assert_cancelled(w)

        w = self.walk()
        w.to_destination()
        self.p.key("Tab")
        self.p.wait_focus(rig.DESTINATION, "Button", "Cancel")
        self.p.key("space")
        self.assert_cancelled(w)

    def test_close_boxes_step_back_until_the_backdrop_ends_the_program(self):
        w = self.walk()
        w.to_destination()
        # The destination page's close box is "< Back": the welcome page is active again.
        self.p.close_window(rig.DESTINATION)
        self.p.wait_titles([rig.WELCOME, rig.BACKDROP])
        self.p.wait_focus(rig.WELCOME, "Button", "Next >")
        w.to_destination()

        # The chooser's close box (and before it, its Cancel) returns to the page unchanged.
        w.open_chooser("keys")
        self.p.key("x")
        w.wait_chooser_text("x")
        self.p.key("Tab", "Tab", "Tab", "Tab")
        self.p.wait_focus(rig.CHOOSER, "Button", "Cancel")
        self.p.key("space")
        self.p.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        self.assertEqual(w.destination_label(), rig.DEFAULT_DEST)
        # The page is active again with the focus on its default button, Next >.
        w.open_chooser("keys")
        self.p.key("y")
        w.wait_chooser_text("y")
        self.p.close_window(rig.CHOOSER)
        self.p.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        self.assertEqual(w.destination_label(), rig.DEFAULT_DEST)
        self.p.wait_focus(rig.DESTINATION, "Button", "Next >")

        self.p.close_window(rig.DESTINATION)
        self.p.wait_titles([rig.WELCOME, rig.BACKDROP])
        self.p.close_window(rig.WELCOME)
        self.p.wait_titles([rig.BACKDROP])
        we.wait_for(lambda: self.p.window(rig.BACKDROP)["enabled"], 10, what="the backdrop enabled")
        self.assertTrue(w.proc.running(), "the program ended with the welcome page")
        self.p.close_window(rig.BACKDROP)
        self.assert_cancelled(w)

    # -- installing

    def test_back_and_next_several_times_then_install(self):
        w = self.walk()
        for _ in range(3):
            w.to_destination()
            self.assertEqual(w.destination_label(), rig.DEFAULT_DEST)
            self.p.key("Tab", "Tab")
            self.p.wait_focus(rig.DESTINATION, "Button", "< Back")
            self.p.key("space")
            self.p.wait_titles([rig.WELCOME, rig.BACKDROP])
        w.to_destination()
        self.p.key("Return")
        w.finish()
        self.assert_installed(w, rig.DEFAULT_DEST)
        self.assert_link(self.p, rig.DEFAULT_DEST)

    def choose_picked_by_lists(self, w):
        """Drive list to c:, then the directory list: Apps, then Quorvant; Enter on the
        open folder is the default button, OK."""
        w.open_chooser("keys")
        self.p.key("Tab", "Tab")
        self.p.wait_focus(rig.CHOOSER, "ComboBox", "d:")
        self.p.key("c")
        w.wait_chooser_text("C:\\")
        self.p.key("shift+Tab")
        self.p.wait_focus(rig.CHOOSER, "ListBox")
        self.p.key("Down", "Return")
        w.wait_chooser_text("C:\\Apps")
        self.p.key("Down", "Return")
        w.wait_chooser_text(PICKED)
        self.p.key("Return")
        self.p.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        w.wait_label(PICKED)

    def install_picked(self):
        """A whole run into PICKED, chosen with the lists; checks what it leaves."""
        w = self.walk()
        w.to_destination()
        self.choose_picked_by_lists(w)
        self.p.wait_focus(rig.DESTINATION, "Button", "Next >")
        self.p.key("Return")
        w.finish()
        self.assert_installed(w, PICKED)
        self.assert_link(self.p, PICKED)

    def test_folder_picked_with_the_lists_then_a_second_installation_over_it(self):
        self.install_picked()
        # The user spoils two files and runs the installer again into the same folder.
        dest_unix = rig.unix_path(self.p, PICKED)
        for row in (rig.MANIFEST[0], rig.MANIFEST[7]):
            with open(rig.row_path(dest_unix, row), "wb") as f:
                f.write(b"spoiled")
        self.install_picked()
        links = [k for k in self.p.drive_c_tree() if k.lower().endswith(".lnk")]
        self.assertEqual(links, [rig.c_relative(self.p, rig.link_path(self.p))], "one link only")


class CloseRequests(rig.RigCase):
    """Close requests to windows whose input a page or a message box has taken away: a real
    click on the close box, WM_CLOSE posted (as a task manager or another program closes a
    window) and SC_CLOSE posted. Each is refused: the program goes on with the same windows
    and focus, and the user finishes or cancels as usual."""

    REQUESTS = ("click", "post", "syscommand")

    def test_refused_at_every_stage_then_the_installation_completes(self):
        w = self.session()
        w.wait_welcome()
        self.assert_closes_refused(w, rig.WELCOME, [rig.BACKDROP], self.REQUESTS)
        w.to_destination()
        # The welcome page's close box is covered by the destination page: no click there.
        self.assert_closes_refused(w, rig.DESTINATION, [rig.WELCOME, rig.BACKDROP], ("post", "syscommand"))
        w.open_chooser("keys")
        self.assert_closes_refused(w, rig.CHOOSER, [rig.DESTINATION, rig.WELCOME, rig.BACKDROP], ("post", "syscommand"))
        self.p.key("Return")  # the chooser's OK
        self.p.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        w.start_copy()
        w.finish(before_answer=lambda i, box: self.assert_closes_refused(
            w, box["hwnd"], [rig.COPYING, rig.BACKDROP], self.REQUESTS))
        self.assert_installed(w, rig.DEFAULT_DEST)

    def test_closes_to_every_window_end_only_the_front_one_until_the_user_cancels(self):
        # WM_CLOSE to every window, the front one last, takes down one window at a time:
        # the chooser (its Cancel), then the destination page (its < Back); never the
        # process's last visible window while a page waits for the user.
        w = self.session()
        w.to_destination()
        w.open_chooser("click")
        stages = [([rig.BACKDROP, rig.WELCOME, rig.DESTINATION, rig.CHOOSER], (rig.DESTINATION, "Button", "Next >")),
                  ([rig.BACKDROP, rig.WELCOME, rig.DESTINATION], (rig.WELCOME, "Button", "Next >"))]
        for titles, focus in stages:
            for title in titles:
                self.p.post_close(title)
            self.p.wait_titles(titles[:-1])
            self.p.wait_focus(*focus)
            self.assertTrue(w.proc.running())
        self.p.click(rig.WELCOME, "Cancel")
        self.assert_cancelled(w)


class KeyboardAndReader(rig.RigCase):
    def setUp(self):
        super().setUp()
        self.w = self.session()

    def tab_cycle(self, window, stops):
        """Tab from the first stop through all of them and back round; then Shift+Tab back."""
        self.p.wait_focus(window, *stops[0])
        for stop in stops[1:] + stops[:1]:
            self.p.key("Tab")
            self.p.wait_focus(window, *stop)
        self.p.key("shift+Tab")
        self.p.wait_focus(window, *stops[-1])
        self.p.key("Tab")
        self.p.wait_focus(window, *stops[0])

    def escape_does_nothing(self, window, focus, next_focus):
        before = self.p.titles()
        self.p.key("Escape", "Tab")
        # Once the Tab after it has moved the focus on, the Escape has been handled too.
        self.p.wait_focus(window, *next_focus)
        self.p.key("shift+Tab")
        self.p.wait_focus(window, *focus)
        self.assertEqual(self.p.titles(), before, "Escape on %r" % window)
        self.assertTrue(self.w.proc.running())

    def test_whole_wizard_by_keyboard(self):
        w, p = self.w, self.p
        w.wait_welcome()
        self.tab_cycle(rig.WELCOME, [("Button", "Next >"), ("Button", "Cancel")])
        self.escape_does_nothing(rig.WELCOME, ("Button", "Next >"), ("Button", "Cancel"))
        p.key("Return")  # the default button, Next >
        p.wait_window(rig.DESTINATION, timeout=rig.STEP_TIMEOUT, proc=w.proc)

        self.tab_cycle(rig.DESTINATION, [("Button", "Next >"), ("Button", "Cancel"),
                                         ("Button", "< Back"), ("Button", "Browse")])
        self.escape_does_nothing(rig.DESTINATION, ("Button", "Next >"), ("Button", "Cancel"))

        w.open_chooser("keys")
        self.tab_cycle(rig.CHOOSER, [("Edit", None), ("ListBox", None), ("ComboBox", "d:"),
                                     ("Button", "OK"), ("Button", "Cancel")])
        self.escape_does_nothing(rig.CHOOSER, ("Edit", None), ("ListBox", None))
        # Enter in the text box is OK.
        w.enter_folder(TYPED)
        p.key("Return")
        p.wait_titles([rig.DESTINATION, rig.WELCOME, rig.BACKDROP])
        w.wait_label(TYPED)
        p.wait_focus(rig.DESTINATION, "Button", "Next >")  # the default button, not Browse
        p.key("Return")

        w.finish()
        self.assert_installed(w, TYPED)
        self.assert_link(self.p, TYPED)
        copying = w.messages[0].window(rig.COPYING)
        self.assertIsNotNone(copying, "no copy window at the final message")
        controls = copying["controls"]
        frames = [c["text"] for c in controls if c["class"] == "RtFrame"]
        self.assertEqual(frames, ["Setup is installing Quorvant '99 program files."])
        texts = [c["text"] for c in controls if c["class"] == "Static"]
        for t in ("Installing From:", "Installing To:", "D:\\TABCTL32.OC_",
                  TYPED.upper() + "\\TABCTL32.OCX"):
            self.assertIn(t, texts)
        gauges = [c["text"] for c in controls if c["class"] == "RtPicture" and c["text"]]
        self.assertEqual(gauges, ["100%"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
