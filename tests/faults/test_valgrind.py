"""Memcheck over the whole program: `sea -i silent` unpacks a real payload
(a few hundred entries, heap options patched, the launcher started) and,
separately, fails on a damaged one. Both runs must show no memory error
and no definitely lost byte. Registered only for unsanitized native builds
when valgrind is installed."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.dont_write_bytecode = True

from payload import build_installer, zip_bytes  # noqa: E402

SEA_EXE = os.environ.get("SEA_EXE", "")
LAUNCHER = os.environ.get("SEA_LAUNCHER", "")
VALGRIND = os.environ.get("VALGRIND", "valgrind")


def payload(damaged=False):
    with open(LAUNCHER, "rb") as f:
        entries = [("Windows/install.exe", f.read()),
                   ("Windows/install.rux",
                    b"rux.nl.java.option.java.heap.size.initial=16m\r\n"
                    b"rux.nl.java.option.java.heap.size.max=64m\r\n")]
    for i in range(400):
        folder = "InstallerData/d%02d/" % (i % 25)
        if i % 40 == 0:
            entries.append((folder + "empty%d/" % i, None))
        data = (b"line %d of the installer data\r\n" % i) * (i * 7 % 300 + 1)
        entries.append((folder + "f%03d.txt" % i, data, {"method": 0} if i % 4 == 0 else {}))
    archive = bytearray(zip_bytes(entries))
    if damaged:
        at = archive.rfind(b"f399.txt", 0, archive.find(b"PK\x01\x02")) + 20
        archive[at] ^= 0xFF
    return bytes(archive)


class Memcheck(unittest.TestCase):

    def setUp(self):
        if not SEA_EXE or not LAUNCHER:
            self.skipTest("SEA_EXE and SEA_LAUNCHER are not set (run through ctest)")
        self.scratch = tempfile.mkdtemp(prefix="sea-valgrind-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.scratch])

    def memcheck(self, damaged):
        exe = os.path.join(self.scratch, "install-%d" % damaged)
        build_installer(SEA_EXE, exe, payload(damaged))
        temp = os.path.join(self.scratch, "tmp-%d" % damaged)
        os.makedirs(temp)
        env = {k: v for k, v in os.environ.items() if k not in ("TMP", "TEMP", "TMPDIR")}
        env["RUX_DEBUG"] = "TRUE"
        result = subprocess.run(
            [VALGRIND, "--tool=memcheck", "--suppressions=" + os.path.join(HERE, "valgrind.supp"),
             "--leak-check=full", "--show-leak-kinds=definite",
             "--errors-for-leak-kinds=definite", "--error-exitcode=99",
             exe, "-i", "silent", "-tempdir", temp, "-jvmxms", "32m", "-jvmxmx", "512m"],
            cwd=self.scratch, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            timeout=1200)
        report = result.stderr.decode("utf-8", "replace")
        self.assertRegex(report, r"ERROR SUMMARY: 0 errors from 0 contexts", report[-3000:])
        lost = re.search(r"definitely lost: ([\d,]+) bytes", report)
        if lost:
            self.assertEqual(lost.group(1), "0", report[-3000:])
        else:
            self.assertIn("All heap blocks were freed", report)
        return result.returncode, temp

    def test_a_real_payload(self):
        code, temp = self.memcheck(damaged=False)
        self.assertEqual(code, 0)
        (work,) = [d for d in os.listdir(temp) if d.startswith("I")]
        self.assertTrue(os.path.exists(os.path.join(temp, work, "launch-record.txt")))
        with open(os.path.join(temp, work, "Windows", "install.rux"), "rb") as f:
            self.assertIn(b"heap.size.max=512m", f.read())

    def test_a_damaged_payload(self):
        code, _ = self.memcheck(damaged=True)
        self.assertEqual(code & 0xFF, 255)


if __name__ == "__main__":
    unittest.main(verbosity=2)
