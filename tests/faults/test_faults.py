"""Faults around a self-extraction, end to end (natively, and under Wine for
the Windows builds): the disk fills up in the middle of an entry, the
target folder is read-only, the launcher is missing or cannot run, the user
cancels at each of the driver's nine abort tests, and two self-extractors
start together from the same folder.

Cancel uses sea_abort_probe, the program with a test probe that raises the
abort flag just before the Nth abort test (SEA_TEST_ABORT_AT=N)."""
import glob
import os
import re
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.dont_write_bytecode = True

from payload import build_installer, zip_bytes  # noqa: E402
from seatest import (IS_WINDOWS_BUILD, InstallerTestCase, exit_status, host_to_program_path, launcher_bytes,  # noqa: E402
                     log_text)

PROBE = os.environ.get("SEA_ABORT_PROBE", "")
SUCCESS = "Success. The extracted file execution has begun."


class Tmpfs:
    """A small tmpfs mounted on a scratch folder for the length of a test."""

    def __init__(self, test, path, size_bytes, read_only=False):
        if os.geteuid() != 0:
            test.skipTest("mounting a tmpfs needs root (the test runs as uid %d)" % os.geteuid())
        os.makedirs(path, exist_ok=True)
        options = "size=%dk" % ((size_bytes + 1023) // 1024) + (",ro" if read_only else "")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path]).returncode:
            test.skipTest("a tmpfs cannot be mounted here")
        test.addCleanup(subprocess.run, ["umount", "-l", path])
        self.path = path


class Faults(InstallerTestCase):

    def make(self, entries, name="install.exe", stub=None, archive=None):
        path = os.path.join(self.scratch, name)
        build_installer(stub or os.environ["SEA_EXE"], path,
                        archive if archive is not None else zip_bytes(entries))
        return path

    def run_installer(self, exe, temp=None, args=(), env=None):
        log = os.path.join(self.scratch, "sea.log")
        if os.path.exists(log):
            os.remove(log)
        environment = {"RUX_DEBUG": "TRUE"}
        environment.update(env or {})
        result = self.run_sea(["-i", "silent", "-tempdir", host_to_program_path(temp or self.temp)]
                              + list(args), exe=exe, env=environment)
        return exit_status(result.returncode), log_text(self.scratch) or []

    def launch_records(self, temp=None):
        return glob.glob(os.path.join(temp or self.temp, "I*", "launch-record.txt"))

    def assertFailedWithoutLaunch(self, status, log, temp=None):
        self.assertEqual(status, 255)
        self.assertNotIn(SUCCESS, log)
        self.assertEqual(self.launch_records(temp), [])

    # --- the disk fills up ---------------------------------------------------

    def test_disk_full_in_the_middle_of_an_entry(self):
        # The free-space rule asks for 3 x the program's size; the zeros
        # need far more than that, but compress to almost nothing.
        probe = self.make([("Windows/install.exe", launcher_bytes())], name="probe.exe")
        size = os.path.getsize(probe) + 300 * 1024
        small = Tmpfs(self, os.path.join(self.scratch, "small"), 3 * size + 2 * 1024 * 1024)
        zeros = b"\0" * (6 * size + 8 * 1024 * 1024)
        exe = self.make([("Windows/install.exe", launcher_bytes()), ("data/zeros.bin", zeros)])
        self.assertLess(os.path.getsize(exe), size)
        status, log = self.run_installer(exe, temp=small.path)
        self.assertFailedWithoutLaunch(status, log, temp=small.path)
        self.assertIn("Code -1992 = 'Write error'", log)
        self.assertIn("*** FAILURE: Unable to unzip file: Error -1992", log)
        # The partial tree stays; nothing claims it is complete.
        (work,) = glob.glob(os.path.join(small.path, "I*"))
        self.assertLess(os.path.getsize(os.path.join(work, "data", "zeros.bin")), len(zeros))

    def test_read_only_target_folder(self):
        exe = self.make([("Windows/install.exe", launcher_bytes())])
        locked = Tmpfs(self, os.path.join(self.scratch, "locked"), 1024 * 1024, read_only=True)
        status, log = self.run_installer(exe, temp=locked.path)
        self.assertFailedWithoutLaunch(status, log, temp=locked.path)
        self.assertIn("Dialog: Please select a temporary location to extract the installer to:", log)
        self.assertEqual(os.listdir(locked.path), [])

    # --- the launcher ----------------------------------------------------------

    def test_launcher_missing_or_not_executable(self):
        cases = [
            ("no launcher at all", [("InstallerData/readme.txt", b"read me")]),
            ("launcher that is no program", [("Windows/install.exe", b"this is not a program\n")]),
            ("empty launcher", [("Windows/install.exe", b"")]),
            ("launcher that is a directory", [("Windows/install.exe/", None),
                                              ("Windows/install.exe/inner.txt", b"x")]),
        ]
        for label, entries in cases:
            with self.subTest(label):
                temp = os.path.join(self.scratch, "t-" + label.replace(" ", "-"))
                os.makedirs(temp)
                exe = self.make(entries)
                status, log = self.run_installer(exe, temp=temp)
                self.assertFailedWithoutLaunch(status, log, temp=temp)
                self.assertIn("*** FAILURE: Unable to execute the EXE program.", log)

    # --- Cancel ------------------------------------------------------------------

    def test_cancel_at_each_abort_test(self):
        if not PROBE:
            self.skipTest("SEA_ABORT_PROBE is not set (run through ctest)")
        rux = b"rux.nl.java.option.java.heap.size.initial=16m\r\n"
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("Windows/install.rux", rux),
                         ("InstallerData/data.bin", os.urandom(200000))],
                        stub=PROBE)
        sep = "\\" if IS_WINDOWS_BUILD else "/"
        start = host_to_program_path(self.scratch).rstrip("\\/")
        snapshot = os.path.join(self.scratch, "snapshot.txt")
        extracted = ["InstallerData", "InstallerData/data.bin", "Windows", "Windows/install.exe"]

        def run(n):
            temp = os.path.join(self.scratch, "t%d" % n)
            os.makedirs(temp)
            if os.path.exists(snapshot):
                os.remove(snapshot)
            status, log = self.run_installer(
                exe, temp=temp, args=["-jvmxms", "64m"],
                env={"SEA_TEST_ABORT_AT": str(n),
                     "SEA_TEST_SNAPSHOT": host_to_program_path(snapshot)})
            # The parts that differ from run to run.
            log = [re.sub(r"^Free disk space: \d+ ", "Free disk space: N ",
                          l.replace(host_to_program_path(temp), "<temp>")) for l in log]
            return temp, status, log

        # There are nine abort tests: the tenth never comes.
        temp, status, success_log = run(10)
        self.assertEqual(status, 0)
        self.assertIn(SUCCESS, success_log)
        self.assertEqual(len(self.launch_records(temp)), 1)
        self.assertFalse(os.path.exists(snapshot))
        # The line each abort test follows in the log of a whole run.
        verdict = [l for l in success_log if l in ("Verified.", "Verifying...")]
        self.assertEqual(len(verdict), 1, success_log)
        # Under Wine the own-file check adds a line before abort test 5.
        unchecked = [l for l in success_log if l.startswith("The installer's file is held from ")]
        before = {1: "Dialog: Preparing to install...",
                  3: verdict[0], 4: verdict[0], 5: (unchecked or verdict)[0],
                  6: "Retrieved free disk space... ",
                  7: "Comparing free disk space... ", 8: "Comparing free disk space... ",
                  9: "Comparing free disk space... "}
        cleanup = "User requested ABORT: Clean up temporary directory"
        for n in range(1, 10):
            with self.subTest(abort_test=n):
                temp, status, log = run(n)
                self.assertFailedWithoutLaunch(status, log, temp=temp)
                self.assertEqual(log.count("User requested ABORT"), 1, log)
                at = log.index("User requested ABORT")
                # Up to the abort the run went as a whole run goes, and it
                # stopped right after the step the abort test follows.
                self.assertEqual(log[:at], success_log[:at])
                expected_before = before.get(n, "Using TEMP path from win32 subsystem: <temp>" + sep)
                self.assertEqual(log[at - 1], expected_before, log)
                # From the third test on a working directory exists; the
                # entry function then removes the whole tree, and nothing
                # else follows.
                self.assertEqual(log[at + 1:], ([cleanup] if n >= 3 else []) + [""], log)
                self.assertEqual(os.listdir(temp), [])
                if n < 3:
                    self.assertFalse(os.path.exists(snapshot))
                    continue
                # What the driver's own clean-up left for that removal: the
                # starting directory current again, and the working directory
                # gone while it was empty, or the extracted tree (patched after
                # the ninth test's step) with its marker once something was
                # extracted.
                with open(snapshot, "rb") as f:
                    lines = f.read().decode("utf-8").splitlines()
                self.assertEqual(lines[0].rstrip("\\/"), "cwd=" + start)
                if n <= 7:
                    self.assertEqual(lines[1:], ["tree=missing"])
                else:
                    heap = "64m" if n == 9 else "16m"
                    # The marker of a run in progress stays until just
                    # before the launch.
                    self.assertEqual(lines[1:], extracted[:4] + [
                        "Windows/install.rux = rux.nl.java.option.java.heap.size.initial=" + heap,
                        "~sea-extraction-in-progress = "])

    # --- two at once -----------------------------------------------------------

    def test_two_programs_started_together(self):
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("InstallerData/data.bin", os.urandom(300000))])
        # The names the clock gives for the next minute are taken already:
        # each run must find a name of its own.
        now = int(time.time())
        taken = ["I%d" % t for t in range(now - 2, now + 60)]
        for name in taken:
            os.mkdir(os.path.join(self.temp, name))
        command = [exe, "-i", "silent", "-tempdir", host_to_program_path(self.temp)]
        runner = os.environ.get("SEA_RUNNER", "")
        if runner:
            command = [runner] + command
        environment = {k: v for k, v in os.environ.items() if k not in ("RUX_DEBUG", "TMP", "TEMP")}
        environment.setdefault("LANG", "C.UTF-8")
        processes = [subprocess.Popen(command, cwd=self.scratch, env=environment,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                     for _ in range(2)]
        codes = [p.wait(timeout=300) for p in processes]
        self.assertEqual(codes, [0, 0])
        records = self.launch_records()
        self.assertEqual(len(records), 2)
        self.assertNotEqual(os.path.dirname(records[0]), os.path.dirname(records[1]))
        for name in taken:
            self.assertEqual(os.listdir(os.path.join(self.temp, name)), [], name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
