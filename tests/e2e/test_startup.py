"""Start-up behaviour of the program: the log switch, the old log, the
run-mode lines and the exit code when no launcher was started."""
import os
import unittest

from seatest import SeaTestCase, exit_status, log_text


class StartupLogging(SeaTestCase):

    def test_rux_debug_true_in_any_case_switches_the_log_on(self):
        for value in ("TRUE", "True", "tRuE", "true"):
            with self.subTest(value=value):
                log = os.path.join(self.scratch, "sea.log")
                if os.path.exists(log):
                    os.remove(log)
                result = self.run_sea(["-i", "silent"], env={"RUX_DEBUG": value})
                self.assertEqual(exit_status(result.returncode), 255)
                lines = log_text(self.scratch)
                self.assertIsNotNone(lines, "no sea.log written")
                self.assertEqual(lines[:2], ["Self Extractor execution begins.",
                                             "Running in Silent Mode"])

    def test_other_values_leave_the_log_off(self):
        for value in ("1", "yes", "TRUEX", "T" * 300):
            with self.subTest(value=value[:10]):
                open(os.path.join(self.scratch, "vorn.log"), "w").close()
                result = self.run_sea(["-i", "silent"], env={"RUX_DEBUG": value})
                self.assertEqual(exit_status(result.returncode), 255)
                self.assertIsNone(log_text(self.scratch))
                # With the log off the old log is left alone.
                self.assertTrue(os.path.exists(os.path.join(self.scratch, "vorn.log")))

    def test_old_log_is_removed_and_runs_append(self):
        open(os.path.join(self.scratch, "vorn.log"), "w").close()
        self.run_sea(["-i", "console"], env={"RUX_DEBUG": "TRUE"})
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "vorn.log")))
        first = log_text(self.scratch)
        self.assertEqual(first[:2], ["Self Extractor execution begins.",
                                     "Running in Console Mode"])
        self.run_sea(["-i", "silent"], env={"RUX_DEBUG": "TRUE"})
        both = log_text(self.scratch)
        # The second run's lines follow the first run's, unchanged.
        self.assertEqual(both[:len(first) - 1], first[:-1])
        self.assertEqual(both[len(first) - 1:len(first) + 1],
                         ["Self Extractor execution begins.", "Running in Silent Mode"])

    def test_exit_code_is_minus_one_without_a_launcher(self):
        result = self.run_sea(["-i", "silent"])
        self.assertEqual(exit_status(result.returncode), 255,
                         (result.stdout + result.stderr).decode("utf-8", "replace"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
