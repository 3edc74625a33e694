"""The progress dialog under Wine, on a private virtual X display, driven
with xdotool and watched with ImageMagick screenshots: the percentage rises
during a real extraction; Cancel (a click), Enter and Escape abort it; a
successful run closes the dialog and returns the launcher's exit code; a
-tempdir on a small tmpfs shows the error panel with Choose...; and
screenshots of the preparing, error and ask-for-another-location states in
five languages go to build/screenshots/. Windows build only; the Linux
build's GUI run mode (no window) is tested at the end."""
import os
import shutil
import time
import unittest

import payload
from guitest import (ABORT_LINE, BIG_PAYLOAD_MB, IDC_ACTIVITY_TEXT, IDC_CANCEL, IDC_CHOOSE,
                     IDC_MAIN_TEXT, IDC_SECOND_TEXT, LANGUAGES, GuiTestCase, bar_fill,
                     big_installer, click, damaged_archive, damaged_installer, end_session,
                     find_dialog, has_colour, has_ink, key, launcher_entries, screenshot,
                     small_installer, start_session, window_rect, x)
from seatest import IS_WINDOWS_BUILD, SEA_EXE, SeaTestCase, exit_status, log_text


def setUpModule():
    start_session()


def tearDownModule():
    end_session()


def fills_now(test, window):
    """The bar's filled share at this moment (1 when the dialog is gone)."""
    shot = os.path.join(test.scratch, "now.png")
    rect = window_rect(window)
    screenshot(shot)
    return bar_fill(shot, test.template, rect) if find_dialog() == window else 1


class ProgressAndAbort(GuiTestCase):

    def test_percentage_rises_and_success_returns_the_launchers_exit_code(self):
        self.start(big_installer(exit_code=7))
        window = self.wait_for_dialog()
        fills = self.watch_progress(window)
        self.assertEqual(self.wait_for_exit(), 7)
        self.assertIsNone(find_dialog(), "the dialog is still shown")

        self.assertTrue(any(0 < f < 1 for f in fills), f"no partly filled bar seen: {fills}")
        self.assertGreater(len(set(fills)), 1, f"the bar never moved: {fills}")
        for before, after in zip(fills, fills[1:]):
            self.assertGreaterEqual(after, before - 0.02, f"the bar went back: {fills}")
        log = log_text(self.scratch)
        self.assertIn("Dialog initialized.", log)
        self.assertIn("*** The process has terminated with an exit code of 7 ***", log)
        self.assertNotIn(ABORT_LINE, log)

    def abort_mid_extraction(self, press):
        self.start(big_installer(megabytes=2 * BIG_PAYLOAD_MB))
        window = self.wait_for_dialog()
        fills = self.watch_progress(window, until=lambda f: f > 0.05)
        self.assertTrue(fills and 0 < fills[-1] < 1,
                        f"the extraction was not caught half-way (bar {fills}): make SEA_GUI_PAYLOAD_MB larger")
        press(window, window_rect(window))
        # The dialog goes before the run ends. (Under a bare X server Wine
        # waits two seconds for a window manager before it hides a window.)
        # An input event that the X server gave to no window (focus races on
        # a loaded machine) is pressed once more, still mid-extraction.
        pressed = time.time()
        retried = False
        while find_dialog() == window and self.process.poll() is None:
            if not retried and time.time() - pressed > 5 and fills_now(self, window) < 1:
                press(window, window_rect(window))
                retried = True
            time.sleep(0.05)
        self.assertIsNone(find_dialog(), f"the dialog outlived the run; log: {log_text(self.scratch)}")

        self.assertEqual(self.wait_for_exit(), 255)
        log = log_text(self.scratch)
        # The press was handled during the extraction: the driver stopped at
        # an abort test instead of starting the launcher.
        self.assertIn("User requested ABORT", log)
        self.assertNotIn("Success. The extracted file execution has begun.", log)
        self.assertIn(ABORT_LINE, log)
        self.assertEqual(self.work_dirs(), [], "the working directory is left")

    def test_cancel_click_mid_extraction_aborts_and_removes_the_working_directory(self):
        self.abort_mid_extraction(lambda window, rect: click(self.template.centre(IDC_CANCEL, rect)))

    def test_escape_mid_extraction_aborts(self):
        self.abort_mid_extraction(lambda window, rect: key(window, "Escape"))

    def test_enter_mid_extraction_aborts(self):
        self.abort_mid_extraction(lambda window, rect: key(window, "Return"))


class ErrorPanel(GuiTestCase):

    def test_tempdir_on_a_small_tmpfs_shows_error_14_with_choose(self):
        self.use_small_tmpfs()
        self.start(small_installer())
        window = self.wait_for_dialog()
        self.wait_for_log("*** Error 14: 'Not enough room for a complete install.' ***")
        self.wait_for_log("*** Secondary error string: 'Please select a temporary location to "
                          "extract the installer to:' ***")
        self.wait_for_log("*** FAILURE: Not enough free disk space available: Required disc space is ")
        time.sleep(0.5)  # let the panel paint
        rect = window_rect(window)
        shot = os.path.join(self.scratch, "error.png")
        screenshot(shot)
        from_template = self.template.rect_on_screen
        self.assertTrue(has_colour(shot, from_template(1003, rect)), "no error icon")

        # Choose... is there: pressing it opens the folder browser.
        before = set(x("xdotool", "search", "--onlyvisible", "--name", ".", check=False).split())
        click(self.template.centre(IDC_CHOOSE, rect))
        browser = None
        deadline = time.time() + 30
        while browser is None and time.time() < deadline:
            now = set(x("xdotool", "search", "--onlyvisible", "--name", ".", check=False).split())
            opened = [w for w in now - before if "IsViewable" in x("xwininfo", "-id", w, check=False)]
            browser = opened[0] if opened else None
            time.sleep(0.2)
        self.assertIsNotNone(browser, "Choose... did not open the folder browser")
        key(browser, "Escape")
        time.sleep(1)
        self.assertEqual(find_dialog(), window, "cancelling the browser closed the dialog")
        self.assertIsNone(self.process.poll())

        click(self.template.centre(IDC_CANCEL, rect))
        self.assertEqual(self.wait_for_exit(), 255)
        self.assertIn(ABORT_LINE, log_text(self.scratch))


class Screenshots(GuiTestCase):
    """The three states in five languages, each with its icon where the
    language's layout puts it (mirrored for Arabic)."""

    def shoot(self, language, state, icon, texts=()):
        """Saves the screenshot of a state and checks that its icon, and
        text in the controls `texts`, are where the template puts them."""
        window = find_dialog()
        self.assertIsNotNone(window, f"{language} {state}: no dialog")
        rect = window_rect(window)
        full = os.path.join(self.scratch, "full.png")
        screenshot(full)
        self.assertEqual(find_dialog(), window, f"{language} {state}: the dialog went during the screenshot")
        self.save_screenshot(full, rect, f"{language}-{state}")
        self.assertTrue(has_colour(full, self.template.rect_on_screen(icon, rect)),
                        f"{language} {state}: no icon at its place")
        for control in texts:
            self.assertTrue(has_ink(full, self.template.rect_on_screen(control, rect)),
                            f"{language} {state}: no text in control {control}")
        return window

    def test_preparing(self):
        for language in LANGUAGES:
            with self.subTest(language=language):
                self.start(big_installer(megabytes=2 * BIG_PAYLOAD_MB), language)
                window = self.wait_for_dialog()
                self.watch_progress(window, until=lambda f: f > 0.2)
                # The activity label shares its place with the main text's
                # second line: the new main text must not paint over it.
                self.shoot(language, "preparing", 1002, texts=(IDC_ACTIVITY_TEXT,))
                self.assertEqual(self.wait_for_exit(), 7)
                shutil.rmtree(self.tempdir)
                os.makedirs(self.tempdir)

    def shoot_waiting_panel(self, installer, log_start, state, icon, texts):
        for language in LANGUAGES:
            with self.subTest(language=language):
                self.start(installer, language)
                self.wait_for_dialog()
                self.wait_for_log(log_start)
                time.sleep(0.5)  # let the panel paint
                window = self.shoot(language, state, icon, texts)
                key(window, "Escape")
                self.assertEqual(self.wait_for_exit(), 255)

    def test_error_not_enough_room(self):
        self.use_small_tmpfs()
        self.shoot_waiting_panel(small_installer(), "*** FAILURE: Not enough free disk space available",
                                 "error", 1003, (IDC_MAIN_TEXT, IDC_SECOND_TEXT, IDC_CHOOSE))

    def test_ask_for_another_location(self):
        self.shoot_waiting_panel(damaged_installer(), "*** FAILURE: Unable to unzip file: Error ",
                                 "another-location", 1006, (IDC_SECOND_TEXT, IDC_CHOOSE))


class HeadlessGuiMode(SeaTestCase):
    """The GUI run mode of the Linux build: the same dialog logic without a
    window. The extraction runs from the dialog's start timer; a dialog left
    waiting after a failure (nobody can press Choose...) ends as if
    cancelled."""

    def setUp(self):
        if IS_WINDOWS_BUILD:
            self.skipTest("the Windows build has a real dialog (see the other tests here)")
        super().setUp()
        if not os.environ.get("SEA_LAUNCHER"):
            self.skipTest("SEA_LAUNCHER is not set (run through ctest)")
        self.tempdir = os.path.join(self.scratch, "tmp")
        os.makedirs(self.tempdir)

    def run_gui(self, archive):
        exe = os.path.join(self.scratch, "installer")
        payload.build_installer(SEA_EXE, exe, archive)
        result = self.run_sea(["-tempdir", self.tempdir], exe=exe, env={"RUX_DEBUG": "TRUE"})
        return exit_status(result.returncode), log_text(self.scratch)

    def test_success_returns_the_launchers_exit_code(self):
        code, log = self.run_gui(payload.zip_bytes(launcher_entries(9)))
        self.assertEqual(code, 9)
        start = log.index("Window class registered.")
        self.assertEqual(log[start + 1:start + 3], ["Extracting files.", "Dialog: Preparing to install..."])
        self.assertLess(log.index("Success. The extracted file execution has begun."),
                        log.index("Dialog initialized."))
        self.assertNotIn(ABORT_LINE, log)
        self.assertEqual(len(os.listdir(self.tempdir)), 1, "the working directory stays after a run")

    def test_failed_extraction_ends_as_cancelled(self):
        code, log = self.run_gui(damaged_archive(launcher_entries(0) + [("data.bin", os.urandom(4096))]))
        self.assertEqual(code, 255)
        self.assertEqual(log.count("Extracting files."), 1, "the driver ran more than once")
        self.assertLess(log.index("Dialog: Please select another location to extract the installer to:"),
                        log.index("Dialog initialized."))
        self.assertIn(ABORT_LINE, log)
        self.assertEqual(os.listdir(self.tempdir), [], "the working directory is left")


if __name__ == "__main__":
    unittest.main(verbosity=2)
