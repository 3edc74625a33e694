"""The installer's own file swapped under a running program, end to end.

A second process of the same user renames the running installer and puts
another installer under its name (natively rename(); under Wine
swap_attacker, a Windows program calling MoveFileExW and CopyFileW): at the
probe's pause after the own path is known and before anything is open
("own-path"), at its pause after the file is held ("own-held"), and racing
from the moment the process exists, in a few runs. The run extracts its own
payload, or refuses as with an unreadable own file; it never extracts the
other installer's.

Wine cannot compare the open file with the running image (it reports the
name an image was started under, not its name now): there the file is held
from start-up and the log says that it could not be compared, and a swap
made before that moment goes unseen. The cases show what Wine does.
"""
import glob
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

from seatest import IS_WINDOWS_BUILD, RUNNER, host_to_program_path, launcher_bytes  # noqa: E402
from test_interrupted_runs import SUCCESS, ProbedRunCase, Run  # noqa: E402

ATTACKER = os.environ.get("SEA_SWAP_ATTACKER", "")
ORIGINAL = b"the original installer's payload"
OTHER = b"another installer's payload"
NOT_IMAGE = "*** The installer's file is not the running program: "
UNCHECKED = ("The installer's file is held from start-up, but it cannot be compared with the "
             "running program: ")
REFUSED = "*** FAILURE: Unable to extract the compressed file"
# Runs racing the attacker from the start; delays (natively) before the swap.
RACE_DELAYS = (0.0, 0.002, 0.01, 0.05)
WINE_RACES = 3


class OwnFileSwap(ProbedRunCase):

    def setUp(self):
        super().setUp()
        if IS_WINDOWS_BUILD and not ATTACKER:
            self.skipTest("SEA_SWAP_ATTACKER is not set (run through ctest)")

    def installers(self, name, stub=None):
        """The installer under attack (which.txt: ORIGINAL) and the other one."""
        target = self.make([("Windows/install.exe", launcher_bytes()),
                            ("InstallerData/which.txt", ORIGINAL)], name, stub=stub)
        other = self.make([("Windows/install.exe", launcher_bytes()),
                           ("InstallerData/which.txt", OTHER)], "other-" + name)
        return target, other

    def swap(self, target, other, race_ms=0):
        """Renames target aside and copies other to its name; the attacker's
        exit code (0 swapped, 1 rename refused) and what it said."""
        aside = target + ".aside"
        if not IS_WINDOWS_BUILD:
            os.rename(target, aside)
            shutil.copyfile(other, target)
            return 0, "swapped"
        command = [RUNNER, ATTACKER] + [host_to_program_path(p) for p in (target, aside, other)]
        if race_ms:
            command.append(str(race_ms))
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=300)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def extracted(self, temp):
        """The payload marker of every working directory in temp."""
        found = []
        for tree in glob.glob(os.path.join(temp, "I*")):
            path = os.path.join(tree, "InstallerData", "which.txt")
            if os.path.exists(path):
                with open(path, "rb") as f:
                    found.append(f.read())
        return found

    def assertOwnPayloadOrRefused(self, code, log, temp):
        """The run extracted and launched its own payload, or refused as
        with an unreadable own file and left nothing; never the other's.
        Returns "original" or "refused"."""
        got = self.extracted(temp)
        self.assertNotIn(OTHER, got, log)
        if code == 0:
            self.assertEqual(got, [ORIGINAL], log)
            self.assertIn(SUCCESS, log)
            return "original"
        self.assertEqual(code, 255, log)
        self.assertEqual(got, [], log)
        failure = log.index(REFUSED)
        self.assertTrue(log[failure - 1].startswith(NOT_IMAGE), log)
        self.assertEqual(log[failure + 1], "*** Error 9: 'Unable to extract the compressed file.' ***")
        return "refused"

    def unchecked(self, log):
        return any(line.startswith(UNCHECKED) for line in log)

    def test_swapped_while_held_the_run_reads_its_own_file(self):
        target, other = self.installers("setup.exe", stub=os.environ["SEA_ABORT_PROBE"])
        run = Run(self, target, self.temp, pause_at="own-held")
        run.wait_paused()
        attacker, said = self.swap(target, other)
        # Windows: the held file cannot be renamed (no delete sharing).
        self.assertEqual(attacker, 1 if IS_WINDOWS_BUILD else 0, said)
        run.resume()
        code, log = run.finish()
        self.assertEqual(self.assertOwnPayloadOrRefused(code, log, self.temp), "original")
        self.assertEqual(self.unchecked(log), IS_WINDOWS_BUILD, log)

    def test_swapped_before_the_open_the_run_refuses(self):
        target, other = self.installers("setup.exe", stub=os.environ["SEA_ABORT_PROBE"])
        run = Run(self, target, self.temp, pause_at="own-path")
        run.wait_paused()
        attacker, said = self.swap(target, other)
        self.assertEqual(attacker, 0, said)
        run.resume()
        code, log = run.finish()
        if IS_WINDOWS_BUILD:
            # Wine: the other file is held from here on, and not compared.
            self.assertTrue(self.unchecked(log), log)
            return
        self.assertEqual(self.assertOwnPayloadOrRefused(code, log, self.temp), "refused")

    def test_racing_from_the_start(self):
        outcomes = []
        runs = WINE_RACES if IS_WINDOWS_BUILD else len(RACE_DELAYS)
        for number in range(runs):
            with self.subTest(run=number):
                temp = os.path.join(self.scratch, "race-tmp-%d" % number)
                os.makedirs(temp)
                target, other = self.installers("race%d.exe" % number)
                run = Run(self, target, temp)
                if IS_WINDOWS_BUILD:
                    attacker, said = self.swap(target, other, race_ms=60000)
                else:
                    time.sleep(RACE_DELAYS[number])
                    attacker, said = self.swap(target, other)
                code, log = run.finish()
                if IS_WINDOWS_BUILD and self.unchecked(log) and OTHER in self.extracted(temp):
                    outcomes.append("other (Wine: not compared)")
                    continue
                outcomes.append(self.assertOwnPayloadOrRefused(code, log, temp) +
                                (" (attacker: %s)" % said.strip()))
        sys.stderr.write("races: %s\n" % "; ".join(outcomes))


if __name__ == "__main__":
    unittest.main(verbosity=2)
