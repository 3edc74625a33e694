"""Removals racing an attacker who swaps directories for links, end to end.

Natively, as root (as the test command runs), an unprivileged process
(setpriv to nobody) keeps swapping subdirectories with symbolic links to a
root-owned victim folder, in a tight loop, while the program runs as root:
during the scavenging of a marked tree and during the removal after
Cancel. The victim folder (files, a read-only file, a subfolder) stays
identical, names, contents and modes; a marked tree that belongs to
another user is never scavenged at all.

Under Wine the attacker is the test itself: a host symbolic link (which
Wine shows as a reparse point) put into the tree while the run stands
still before its abort test, or into a dead tree, is never entered.
Natively it is removed as a link. Wine 8 opens a host's link as its
target even when asked for the link itself, so no Windows call can delete
a link to a folder that holds anything: there the link and the folders
above it stay (and, in a dead tree, the marker, for a later try).
"""
import glob
import os
import pwd
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

from seatest import IS_WINDOWS_BUILD, host_to_program_path, launcher_bytes  # noqa: E402
from test_interrupted_runs import (MARKER, PROBE, REMOVING, SUCCESS, ProbedRunCase,  # noqa: E402
                                   Run)

SWAPPER = os.path.join(HERE, "link_swapper.py")
CLEANUP = "User requested ABORT: Clean up temporary directory"


def left_in(root):
    """What is left below root (links are listed, never entered)."""
    if not os.path.lexists(root):
        return None
    return sorted(snapshot(root))


def snapshot(root):
    """Every entry below root: kind, mode and contents."""
    seen = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            data = None
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    data = f.read()
            seen[os.path.relpath(path, root)] = (info.st_mode, data)
    return seen


class LinkRaces(ProbedRunCase):

    scratch_for_others = True

    def run_to_end(self, temp=None):
        return Run(self, self.small, temp or self.temp).finish()

    def setUp(self):
        super().setUp()
        os.chmod(self.scratch, 0o755)
        self.victim = os.path.join(self.scratch, "victim")
        os.makedirs(os.path.join(self.victim, "sub"))
        for name, data in (("a.txt", b"precious"), ("sub/b.txt", b"also precious"),
                           ("ro.txt", b"read-only and precious")):
            with open(os.path.join(self.victim, name), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(self.victim, "ro.txt"), 0o444)
        self.before = snapshot(self.victim)
        self.assertEqual(len(self.before), 4)
        self.attackers = []

    def tearDown(self):
        for stop, process in self.attackers:
            open(stop, "wb").close()
            process.wait(timeout=60)
            process.stdout.close()
        super().tearDown()

    def assertVictimIntact(self):
        self.assertEqual(snapshot(self.victim), self.before)

    def need_attacker(self):
        if IS_WINDOWS_BUILD:
            self.skipTest("the unprivileged attacker runs natively")
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv for a real unprivileged attacker")

    def attack(self, folder, marker=None):
        """Starts the attacker as nobody in folder; returns once it runs."""
        stop = os.path.join(self.scratch, "stop-%d" % self.next_id())
        # The attacker's own copy: the checkout may lie where nobody cannot
        # read (root's home).
        swapper = os.path.join(self.scratch, os.path.basename(SWAPPER))
        if not os.path.exists(swapper):
            shutil.copy(SWAPPER, swapper)
            os.chmod(swapper, 0o644)
        command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                   sys.executable, swapper, folder, self.victim, stop] + ([marker] if marker else [])
        process = subprocess.Popen(command, stdout=subprocess.PIPE)
        self.attackers.append((stop, process))
        self.assertEqual(process.stdout.readline().strip(), b"ready")
        time.sleep(0.2)
        return process

    def sticky_base(self):
        base = os.path.join(self.scratch, "shared")
        os.makedirs(base)
        os.chmod(base, 0o1777)
        return base

    # --- natively, with an unprivileged attacker -----------------------------------

    def test_a_marked_tree_of_another_user_is_never_scavenged(self):
        self.need_attacker()
        base = self.sticky_base()
        self.attack(os.path.join(base, "I1000"), marker=MARKER)
        self.assertEqual(os.stat(os.path.join(base, "I1000")).st_uid, 65534)
        for _ in range(3):
            code, log = self.run_to_end(temp=base)
            self.assertEqual(code, 0, log)
            self.assertEqual([line for line in log if "interrupted run" in line], [], log)
        self.assertTrue(os.path.isfile(os.path.join(base, "I1000", MARKER)))
        self.assertVictimIntact()

    def test_scavenging_races_an_attacker_inside_its_own_tree(self):
        self.need_attacker()
        base = self.sticky_base()
        # A dead tree of root's, with a folder in it that the attacker owns
        # (as a payload or an inherited access list could make one).
        drop = os.path.join(base, "I1001", "InstallerData", "drop")
        os.makedirs(drop)
        os.chown(drop, 65534, 65534)
        open(os.path.join(base, "I1001", MARKER), "wb").close()
        self.attack(drop)
        tree = os.path.join(base, "I1001")
        # A run that wins the race removes the whole tree; until one does,
        # each run takes it on again (its marker goes last).
        for _ in range(5):
            if not os.path.isdir(tree):
                break
            code, log = self.run_to_end(temp=base)
            self.assertEqual(code, 0, log)
            self.assertIn(REMOVING + tree, log)
        self.assertVictimIntact()

    def test_the_removal_after_cancel_races_an_attacker(self):
        self.need_attacker()
        probe = self.make([("Windows/install.exe", launcher_bytes()),
                           ("InstallerData/data.bin", os.urandom(100000))], "probe.exe", stub=PROBE)
        for attempt in range(3):
            with self.subTest(attempt=attempt):
                temp = os.path.join(self.scratch, "cancel-%d" % attempt)
                os.makedirs(temp)
                run = Run(self, probe, temp, pause_at="abort-8",
                          extra_env={"SEA_TEST_ABORT_AT": "8"})
                run.wait_paused()
                (work,) = glob.glob(os.path.join(temp, "I*"))
                os.chmod(work, 0o755)
                drop = os.path.join(work, "InstallerData", "drop")
                os.makedirs(drop)
                os.chown(drop, 65534, 65534)
                self.attack(drop)
                run.resume()
                code, log = run.finish()
                self.assertIn(CLEANUP, log)
                self.assertVictimIntact()

    def run_as_another_user(self, exe, base):
        """A whole run as daemon, with no umask (shutil.chown needs root)."""
        return Run(self, exe, base, user="daemon").finish()

    def test_a_shared_base_folder_gets_a_private_working_directory(self):
        self.need_attacker()
        own = os.path.join(self.scratch, "own-temp")
        os.makedirs(own)
        shutil.chown(own, "daemon", "daemon")
        for base, private in ((self.sticky_base(), True), (own, False)):
            with self.subTest(private=private):
                code, log = self.run_as_another_user(self.small, base)
                self.assertEqual(code, 0, log)
                (work,) = glob.glob(os.path.join(base, "I*"))
                info = os.stat(work)
                self.assertEqual(info.st_uid, pwd.getpwnam("daemon").pw_uid)
                # Private where others may write; as inherited (mkdir's 0777
                # with no umask) in the user's own folder.
                self.assertEqual(info.st_mode & 0o777, 0o700 if private else 0o777)
                self.assertEqual("Shared base folder: private working directory." in log, private, log)

    def test_runs_in_a_shared_base_race_an_attacker_planting_links(self):
        self.need_attacker()
        for folder, _, files in os.walk(self.victim):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                shutil.chown(name, "daemon", "daemon")
        base = self.sticky_base()
        self.attack(os.path.join(base, "I*"))
        tree = self.make([("Windows/install.exe", launcher_bytes())] +
                         [("InstallerData/deep/f%d.bin" % i, os.urandom(2000)) for i in range(40)],
                         "tree.exe")
        for attempt in range(5):
            with self.subTest(attempt=attempt):
                code, log = self.run_as_another_user(tree, base)
                self.assertEqual(code, 0, log)
                self.assertIn(SUCCESS, log)
        self.assertVictimIntact()

    def test_a_folder_of_another_user_swapped_in_before_the_hold_is_never_used(self):
        if IS_WINDOWS_BUILD or os.geteuid() != 0:
            self.skipTest("needs root natively to give a folder to another user")
        base = os.path.join(self.scratch, "open")
        os.makedirs(base)
        os.chmod(base, 0o777)  # others may rename what is made here
        run = Run(self, self.tree_probe(), base, pause_at="made")
        run.wait_paused()
        (work,) = glob.glob(os.path.join(base, "I*"))
        os.rename(work, os.path.join(self.scratch, "moved-away"))
        os.mkdir(work)
        shutil.chown(work, "nobody", "nogroup")
        run.resume()
        code, log = run.finish()
        self.assertNotIn(SUCCESS, log)
        self.assertEqual(os.listdir(work) if os.path.exists(work) else [], [])

    # --- under Wine as well: links put in by the test --------------------------------

    def tree_probe(self):
        return self.make([("Windows/install.exe", launcher_bytes()),
                          ("InstallerData/deep/a.bin", os.urandom(1000)),
                          ("InstallerData/deep/b.bin", os.urandom(1000))], "tree.exe", stub=PROBE)

    def assertExtractionFailed(self, log):
        self.assertNotIn(SUCCESS, log)
        self.assertTrue([line for line in log if line.startswith("*** FAILURE: Unable to unzip file")], log)

    def test_a_link_planted_where_a_folder_will_be_made_is_never_entered(self):
        for planted in ("InstallerData", "Windows"):
            with self.subTest(planted=planted):
                temp = os.path.join(self.scratch, "plant-" + planted)
                os.makedirs(temp)
                run = Run(self, self.tree_probe(), temp, pause_at="marked")
                run.wait_paused()
                (work,) = glob.glob(os.path.join(temp, "I*"))
                os.symlink(self.victim, os.path.join(work, planted))
                run.resume()
                code, log = run.finish()
                self.assertExtractionFailed(log)
                self.assertVictimIntact()

    def test_a_folder_swapped_for_a_link_between_two_entries_is_never_entered(self):
        run = Run(self, self.tree_probe(), self.temp, pause_at="entry:b.bin")
        run.wait_paused()
        (work,) = glob.glob(os.path.join(self.temp, "I*"))
        deep = os.path.join(work, "InstallerData", "deep")
        moved = os.path.join(self.scratch, "moved")
        os.rename(deep, moved)
        os.symlink(self.victim, deep)
        run.resume()
        code, log = run.finish()
        self.assertExtractionFailed(log)
        self.assertVictimIntact()
        self.assertEqual(os.listdir(moved), ["a.bin"])

    def test_a_directory_link_put_into_the_tree_before_cancel_is_removed_as_a_link(self):
        probe = self.make([("Windows/install.exe", launcher_bytes()),
                           ("InstallerData/deep/data.bin", os.urandom(1000)),
                           ("InstallerData/" + "L" * 200 + "/long.txt", b"long name")],
                          "probe.exe", stub=PROBE)
        run = Run(self, probe, self.temp, pause_at="abort-8", extra_env={"SEA_TEST_ABORT_AT": "8"})
        run.wait_paused()
        (work,) = glob.glob(os.path.join(self.temp, "I*"))
        os.symlink(self.victim, os.path.join(work, "InstallerData", "deep", "link"))
        os.chmod(os.path.join(work, "InstallerData", "deep", "data.bin"), 0o444)
        run.resume()
        code, log = run.finish()
        self.assertIn(CLEANUP, log)
        self.assertVictimIntact()
        if IS_WINDOWS_BUILD:
            self.assertEqual(left_in(work), ["InstallerData", "InstallerData/deep",
                                             "InstallerData/deep/link"])
        else:
            self.assertEqual(os.listdir(self.temp), [])

    def test_a_directory_swapped_for_a_link_between_listing_and_descent_is_never_entered(self):
        probe = self.make([("Windows/install.exe", launcher_bytes()),
                           ("InstallerData/deep/data.bin", os.urandom(1000)),
                           ("InstallerData/deep/more/data.bin", os.urandom(1000))],
                          "probe.exe", stub=PROBE)
        run = Run(self, probe, self.temp, pause_at="descent:deep", extra_env={"SEA_TEST_ABORT_AT": "8"})
        run.wait_paused()
        (work,) = glob.glob(os.path.join(self.temp, "I*"))
        deep = os.path.join(work, "InstallerData", "deep")
        os.rename(deep, os.path.join(self.scratch, "moved"))
        os.symlink(self.victim, deep)
        run.resume()
        code, log = run.finish()
        self.assertIn(CLEANUP, log)
        self.assertVictimIntact()
        self.assertTrue(os.path.isfile(os.path.join(self.scratch, "moved", "more", "data.bin")))
        if IS_WINDOWS_BUILD:
            self.assertEqual(left_in(work), ["InstallerData", "InstallerData/deep"])
        else:
            self.assertEqual(os.listdir(self.temp), [])

    def test_a_dead_tree_with_a_directory_link_goes_and_the_target_stays(self):
        dead = os.path.join(self.temp, "I1002")
        os.makedirs(os.path.join(dead, "Windows", "resource"))
        open(os.path.join(dead, MARKER), "wb").close()
        os.symlink(self.victim, os.path.join(dead, "Windows", "resource", "link"))
        code, log = self.run_to_end()
        self.assertEqual(code, 0, log)
        self.assertIn(SUCCESS, log)
        self.assertIn(REMOVING + host_to_program_path(dead), log)
        self.assertVictimIntact()
        if IS_WINDOWS_BUILD:
            self.assertEqual(left_in(dead), ["Windows", "Windows/resource", "Windows/resource/link", MARKER])
        else:
            self.assertIsNone(left_in(dead))


if __name__ == "__main__":
    unittest.main()
