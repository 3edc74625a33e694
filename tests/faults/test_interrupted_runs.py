"""Interrupted runs, end to end (natively, and under Wine for the Windows
builds): a run that is killed (SIGKILL natively, TerminateProcess under
Wine) or whose extraction fails half-way leaves a tree marked as one of a
run in progress; the next run removes it and extracts normally. Trees of
finished runs, unmarked directories, markers held by a living run and
links are never followed or removed. Two runs at once are forced into
chosen interleavings with the probe program's pause
(SEA_TEST_PAUSE_AT, tests/faults/abort_probe.cpp)."""
import glob
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

from payload import build_installer, zip_bytes  # noqa: E402
from seatest import (IS_WINDOWS_BUILD, RUNNER, InstallerTestCase, exit_status,  # noqa: E402
                     host_to_program_path, launcher_bytes, log_text)
from test_faults import Tmpfs  # noqa: E402

PROBE = os.environ.get("SEA_ABORT_PROBE", "")
TERMINATE_RUNNER = os.environ.get("SEA_TERMINATE_RUNNER", "")
MARKER = "~sea-extraction-in-progress"
REMOVING = "Removing the working directory of an interrupted run: "
SUCCESS = "Success. The extracted file execution has begun."
SEP = "\\" if IS_WINDOWS_BUILD else "/"


def wait_for(predicate, seconds=120, step=0.002):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class Run:
    """One program run in the background, with its own current directory
    (and so its own sea.log), that a test can pause, resume or kill."""

    def __init__(self, test, exe, temp, pause_at=None, name="run", extra_env=None, user=None):
        """user: natively, the run is made as that user (setpriv), with no
        umask, so that only the program decides who may write its tree."""
        self.test = test
        self.cwd = os.path.join(test.scratch, "%s-%d" % (name, test.next_id()))
        os.makedirs(self.cwd)
        self.pause_dir = os.path.join(self.cwd, "pause")
        os.makedirs(self.pause_dir)
        if user:
            shutil.chown(self.cwd, user)
            shutil.chown(self.pause_dir, user)
        self.signal = os.path.join(self.cwd, "terminate-now")
        environment = {k: v for k, v in os.environ.items() if k not in ("TMP", "TEMP", "TMPDIR")}
        environment["RUX_DEBUG"] = "TRUE"
        environment.setdefault("LANG", "C.UTF-8")
        if pause_at:
            environment["SEA_TEST_PAUSE_AT"] = pause_at
            environment["SEA_TEST_PAUSE_DIR"] = host_to_program_path(self.pause_dir)
        environment.update(extra_env or {})
        args = [host_to_program_path(exe) if IS_WINDOWS_BUILD else exe,
                "-i", "silent", "-tempdir", host_to_program_path(temp)]
        if IS_WINDOWS_BUILD:
            # TerminateProcess needs a Windows parent: the runner starts the
            # program and terminates it when the signal file appears.
            command = [RUNNER, TERMINATE_RUNNER, host_to_program_path(self.signal)] + args
        else:
            command = args
        if user:
            command = ["setpriv", "--reuid=" + user, "--regid=" + user, "--clear-groups"] + command
        self.process = subprocess.Popen(command, cwd=self.cwd, env=environment, umask=0 if user else -1,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_paused(self):
        paused = os.path.join(self.pause_dir, "paused")
        self.test.assertTrue(wait_for(lambda: os.path.exists(paused) or self.process.poll() is not None),
                             "the run never paused")
        self.test.assertIsNone(self.process.poll(), "the run ended instead of pausing")

    def resume(self):
        open(os.path.join(self.pause_dir, "resume"), "wb").close()

    def kill(self):
        """Kills the process where it stands; True when it was still running."""
        if IS_WINDOWS_BUILD:
            open(self.signal, "wb").close()
            return self.process.wait(timeout=120) == 200
        if self.process.poll() is not None:
            return False
        self.process.send_signal(signal.SIGKILL)
        return self.process.wait(timeout=120) == -signal.SIGKILL

    def finish(self):
        code = exit_status(self.process.wait(timeout=300))
        return code, log_text(self.cwd) or []


class ProbedRunCase(InstallerTestCase):
    """Runs of the program with test probes (SEA_ABORT_PROBE), each test
    with a small installer of its own at hand."""

    ids = 0

    def next_id(self):
        ProbedRunCase.ids += 1
        return ProbedRunCase.ids

    def setUp(self):
        super().setUp()
        if not PROBE:
            self.skipTest("SEA_ABORT_PROBE is not set (run through ctest)")
        if IS_WINDOWS_BUILD and not TERMINATE_RUNNER:
            self.skipTest("SEA_TERMINATE_RUNNER is not set (run through ctest)")
        self.small = self.make([("Windows/install.exe", launcher_bytes()),
                                ("InstallerData/data.bin", os.urandom(100000))], "small.exe")

    def make(self, entries, name, stub=None, archive=None, level=6):
        path = os.path.join(self.scratch, name)
        build_installer(stub or os.environ["SEA_EXE"], path,
                        archive if archive is not None else zip_bytes(entries, level=level))
        return path


class InterruptedRuns(ProbedRunCase):

    def work_dirs(self, temp=None):
        return sorted(os.path.basename(p) for p in glob.glob(os.path.join(temp or self.temp, "I*")))

    def marked(self, name, temp=None):
        return os.path.isfile(os.path.join(temp or self.temp, name, MARKER))

    def run_to_end(self, exe=None, temp=None):
        """A whole run of the program (no probe); returns exit code and log."""
        return Run(self, exe or self.small, temp or self.temp).finish()

    def assertLaunchedWithoutMarker(self, temp, name):
        with open(os.path.join(temp, name, "launch-record.txt"), "rb") as f:
            record = dict(line.split("=", 1) for line in f.read().decode("utf-8").splitlines())
        entries = record["entries"].split("|")
        self.assertIn("Windows", entries)
        self.assertIn("sea_loc", entries)
        self.assertNotIn(MARKER, entries)
        self.assertFalse(os.path.exists(os.path.join(temp, name, MARKER)))

    def assertNextRunRemoves(self, dead, temp=None):
        """The next run removes the dead trees (and logs it) and launches."""
        temp = temp or self.temp
        for name in dead:
            self.assertTrue(self.marked(name, temp), name + " carries no marker")
        code, log = self.run_to_end(temp=temp)
        self.assertEqual(code, 0, log)
        self.assertIn(SUCCESS, log)
        removing = [line for line in log if line.startswith(REMOVING)]
        self.assertEqual(sorted(line.rsplit(SEP, 1)[1] for line in removing), sorted(dead), log)
        # The new lines come before the new directory is made.
        verified = [i for i, line in enumerate(log) if line in ("Verified.", "Verifying...")]
        self.assertLess(max(log.index(line) for line in removing), verified[0])
        (new,) = self.work_dirs(temp)
        self.assertLaunchedWithoutMarker(temp, new)

    # --- killed ------------------------------------------------------------------

    def test_a_killed_run_leaves_a_marked_tree_that_the_next_run_removes(self):
        probe = self.make([("Windows/install.exe", launcher_bytes()),
                           ("InstallerData/data.bin", os.urandom(300000))], "probe.exe", stub=PROBE)
        # Right after the marker, before the extraction, after it; and after
        # the marker went (the launcher's tree from then on, never removed).
        for step in ("marked", "abort-7", "abort-8", "unmarked"):
            with self.subTest(step=step):
                temp = os.path.join(self.scratch, "t-" + step)
                os.makedirs(temp)
                run = Run(self, probe, temp, pause_at=step)
                run.wait_paused()
                self.assertTrue(run.kill())
                (dead,) = self.work_dirs(temp)
                if step == "unmarked":
                    self.assertFalse(self.marked(dead, temp))
                    code, log = self.run_to_end(temp=temp)
                    self.assertEqual(code, 0)
                    self.assertFalse([line for line in log if line.startswith(REMOVING)])
                    self.assertIn(dead, self.work_dirs(temp))
                    continue
                if step == "abort-8":
                    self.assertTrue(os.path.exists(os.path.join(temp, dead, "InstallerData", "data.bin")))
                self.assertNextRunRemoves([dead], temp)

    def test_killed_in_the_middle_of_a_large_extraction(self):
        count = 100
        entries = [("Windows/install.exe", launcher_bytes())]
        entries += [("InstallerData/part%03d.bin" % i, os.urandom(640 * 1024)) for i in range(count)]
        large = self.make(entries, "large.exe", level=0)
        landed = []
        for fraction in (0.05, 0.5, 0.9):
            temp = os.path.join(self.scratch, "t-%d" % int(fraction * 100))
            os.makedirs(temp)
            run = Run(self, large, temp)

            def extracted():
                return len(glob.glob(os.path.join(temp, "I*", "InstallerData", "part*.bin")))
            wait_for(lambda: extracted() >= max(1, int(count * fraction)) or run.process.poll() is not None,
                     step=0.001)
            if run.kill():
                landed.append(fraction)
                (dead,) = self.work_dirs(temp)
                self.assertLess(extracted(), count + 1)
                self.assertNextRunRemoves([dead], temp)
        sys.stderr.write("kills that landed mid-extraction: %s\n" % landed)
        # The kills race the extraction; on a loaded machine one may come
        # too late, but not all of them.
        self.assertTrue(landed, "every run finished before it could be killed")

    # --- failed ------------------------------------------------------------------

    def test_a_failed_extraction_leaves_a_marked_tree_that_the_next_run_removes(self):
        archive = bytearray(zip_bytes([("Windows/install.exe", launcher_bytes()),
                                       ("InstallerData/good.bin", os.urandom(50000)),
                                       ("InstallerData/bad.bin", b"B" * 50000)], level=0))
        # One byte of the last entry's data changes: its CRC-32 fails.
        at = bytes(archive).rindex(b"B" * 50000)
        archive[at + 100] = ord("C")
        damaged = self.make(None, "damaged.exe", archive=bytes(archive))
        code, log = self.run_to_end(exe=damaged)
        self.assertEqual(code, 255)
        self.assertNotIn(SUCCESS, log)
        self.assertTrue([line for line in log if line.startswith("*** FAILURE: Unable to unzip file")], log)
        (dead,) = self.work_dirs()
        self.assertTrue(os.path.exists(os.path.join(self.temp, dead, "InstallerData", "good.bin")))
        self.assertNextRunRemoves([dead])

    def test_a_full_disk_leaves_a_marked_tree_that_the_next_run_removes(self):
        size = os.path.getsize(self.small) + 300 * 1024
        small = Tmpfs(self, os.path.join(self.scratch, "small"), 3 * size + 2 * 1024 * 1024)
        zeros = b"\0" * (6 * size + 8 * 1024 * 1024)
        full = self.make([("Windows/install.exe", launcher_bytes()), ("data/zeros.bin", zeros)], "full.exe")
        code, log = self.run_to_end(exe=full, temp=small.path)
        self.assertEqual(code, 255)
        self.assertIn("Code -1992 = 'Write error'", log)
        (dead,) = self.work_dirs(small.path)
        # The space the dead tree took is what the next run needs.
        self.assertNextRunRemoves([dead], small.path)

    # --- two at once -------------------------------------------------------------

    def test_a_second_run_never_removes_the_tree_of_a_run_in_progress(self):
        probe = self.make([("Windows/install.exe", launcher_bytes()),
                           ("InstallerData/data.bin", os.urandom(300000))], "probe.exe", stub=PROBE)
        for step in ("created", "marked", "abort-7", "abort-8", "unmarked"):
            with self.subTest(step=step):
                temp = os.path.join(self.scratch, "t-" + step)
                os.makedirs(temp)
                first = Run(self, probe, temp, pause_at=step)
                first.wait_paused()
                (name,) = self.work_dirs(temp)
                code, log = self.run_to_end(temp=temp)
                self.assertEqual(code, 0)
                self.assertFalse([line for line in log if line.startswith(REMOVING)], log)
                self.assertIn(name, self.work_dirs(temp))
                first.resume()
                code, log = first.finish()
                self.assertEqual(code, 0, log)
                self.assertEqual(len(self.work_dirs(temp)), 2)
                for work in self.work_dirs(temp):
                    self.assertLaunchedWithoutMarker(temp, work)

    def test_two_scavengers_never_remove_one_tree_twice(self):
        probe = self.make([("Windows/install.exe", launcher_bytes())], "probe.exe", stub=PROBE)
        dead_run = Run(self, probe, self.temp, pause_at="abort-8")
        dead_run.wait_paused()
        self.assertTrue(dead_run.kill())
        (dead,) = self.work_dirs()
        # A later run may reuse the name within the same second: the dead
        # tree is told by a file of its own.
        sentinel = os.path.join(self.temp, dead, "dead-run.txt")
        open(sentinel, "wb").close()
        # The first scavenger stands still holding the dead run's marker.
        first = Run(self, probe, self.temp, pause_at="scavenging")
        first.wait_paused()
        code, log = self.run_to_end()
        self.assertEqual(code, 0)
        self.assertFalse([line for line in log if line.startswith(REMOVING)], log)
        self.assertTrue(os.path.exists(sentinel))
        first.resume()
        code, log = first.finish()
        self.assertEqual(code, 0, log)
        self.assertEqual([line.rsplit(SEP, 1)[1] for line in log if line.startswith(REMOVING)], [dead])
        self.assertFalse(os.path.exists(sentinel))

    # --- never removed -------------------------------------------------------------

    def test_finished_foreign_and_linked_trees_stay(self):
        code, _ = self.run_to_end()
        self.assertEqual(code, 0)
        (finished,) = self.work_dirs()
        outside = os.path.join(self.scratch, "outside")
        os.makedirs(os.path.join(outside, "I1"))
        for path in (os.path.join(outside, "precious.txt"), os.path.join(outside, "I1", MARKER),
                     os.path.join(outside, "I1", "keep.txt")):
            with open(path, "wb") as f:
                f.write(b"keep me")
        keep = {"I100": None, "I101": "marker is a directory"}
        os.makedirs(os.path.join(self.temp, "I100", "Windows"))  # someone else's, no marker
        os.makedirs(os.path.join(self.temp, "I101", MARKER))
        # Wine 8 shows a host's link to a file as the file itself (no
        # reparse attribute, no tag) and deletes the file it points to when
        # the link is deleted, so links to files are made natively only;
        # links to directories carry the reparse attribute under Wine too.
        file_links = not IS_WINDOWS_BUILD
        links = ["I102"]
        os.symlink(os.path.join(outside, "I1"), os.path.join(self.temp, "I102"))
        if file_links:
            os.makedirs(os.path.join(self.temp, "I103"))
            os.symlink(os.path.join(outside, "precious.txt"), os.path.join(self.temp, "I103", MARKER))
            links.append("I103")
        # A dead tree with a read-only marker and links to elsewhere in it:
        # it goes, what the links point to stays.
        os.makedirs(os.path.join(self.temp, "I104", "data"))
        with open(os.path.join(self.temp, "I104", MARKER), "wb"):
            pass
        os.chmod(os.path.join(self.temp, "I104", MARKER), 0o444)
        os.symlink(outside, os.path.join(self.temp, "I104", "data", "dirlink"))
        if file_links:
            os.symlink(os.path.join(outside, "precious.txt"), os.path.join(self.temp, "I104", "filelink"))

        code, log = self.run_to_end()
        self.assertEqual(code, 0)
        removing = [line.rsplit(SEP, 1)[1] for line in log if line.startswith(REMOVING)]
        self.assertEqual(removing, ["I104"])
        for name in [finished] + list(keep) + links:
            self.assertIn(name, self.work_dirs(), name)
        self.assertTrue(os.path.exists(os.path.join(self.temp, finished, "launch-record.txt")))
        for path in ("precious.txt", os.path.join("I1", MARKER), os.path.join("I1", "keep.txt")):
            with open(os.path.join(outside, path), "rb") as f:
                self.assertEqual(f.read(), b"keep me", path)


if __name__ == "__main__":
    unittest.main(verbosity=2)
