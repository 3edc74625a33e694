"""Hostile payloads through the real program (natively, and under Wine for
the Windows builds): each payload carries a working launcher first and one
hostile part after it. The run must fail with exit code -1, start no
launcher (the test launcher would write launch-record.txt), log the failure
code, and change nothing outside its working directory."""
import glob
import os
import struct
import unittest
import zlib

from payload import build_installer
from seatest import (IS_WINDOWS_BUILD, InstallerTestCase, exit_status, host_to_program_path,
                     launcher_bytes, log_text)


AL_CANT_CREATE_COMPRESSION_ENGINE = -1998
AL_CANT_OPEN_FILE = -1995
AL_CRC_ERROR = -1984
AL_INVALID_ARCHIVE = -1980
AL_MISSING_CRYPTO_ENGINE = -1974


class Zip:
    """A ZIP archive with every field under the test's control."""

    def __init__(self):
        self.locals = bytearray()
        self.central = bytearray()
        self.count = 0
        self.zip64_records = b""
        self.end_fields = None

    def add(self, name, data, method=8, flags=0, crc=None, usize=None, version_made_by=20,
            external=0x20, offset=None, stored=None):
        raw = name.encode("utf-8") if isinstance(name, str) else name
        if stored is None:
            stored = data
            if method == 8:
                c = zlib.compressobj(9, zlib.DEFLATED, -15)
                stored = c.compress(data) + c.flush()
        crc = zlib.crc32(data) if crc is None else crc
        usize = len(data) if usize is None else usize
        if offset is None:
            offset = len(self.locals)
            self.locals += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0x6000,
                                       0x5A21, crc, len(stored), usize, len(raw), 0)
            self.locals += raw + stored
        self.central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, version_made_by, 20, flags,
                                    method, 0x6000, 0x5A21, crc, len(stored), usize, len(raw), 0,
                                    0, 0, 0, external, offset)
        self.central += raw
        self.count += 1
        return offset

    def bytes(self):
        size, offset = len(self.central), len(self.locals)
        fields = self.end_fields or (self.count, self.count, size, offset)
        end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, fields[0], fields[1], fields[2],
                          fields[3], 0)
        return bytes(self.locals + self.central) + self.zip64_records + end


def payload_with(hostile):
    """The launcher first, then whatever `hostile` adds to the archive."""
    z = Zip()
    z.add("Windows/install.exe", launcher_bytes())
    hostile(z)
    return z.bytes()


def traversal(z):
    z.add("../escape1.txt", b"evil")
    z.add("..\\..\\escape2.txt", b"evil")
    z.add("a/../../../escape3.txt", b"evil")


def absolute(scratch):
    def add(z):
        z.add(host_to_program_path(os.path.join(scratch, "absolute.txt")), b"evil")
    return add


def windows_names(z):
    z.add("nul.txt", b"evil")
    z.add("Windows/install.exe:stream", b"evil")
    z.add("trailing.", b"evil")


def symlink(z):
    z.add("link", b"../..", method=0, version_made_by=0x031E, external=0o120777 << 16)
    z.add("link/escape4.txt", b"evil")


def overlap_bomb(z):
    kernel = b"\0" * (1 << 20)
    offset = z.add("bomb/0", kernel, usize=1000)
    for i in range(1, 30):
        z.add("bomb/%d" % i, kernel, usize=1000, offset=offset)


def crc_mismatch(z):
    z.add("data.bin", b"x" * 5000, crc=zlib.crc32(b"y" * 5000))


def zip64(z):
    z.add("data.bin", b"data")
    size, offset = len(z.central), len(z.locals)
    z.zip64_records = (struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, z.count,
                                   z.count, size, offset) +
                       struct.pack("<IIQI", 0x07064B50, 0, offset + size, 1))
    z.end_fields = (0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)


def unknown_method(z):
    z.add("data.bin", b"data", method=12)
    z.add("after.bin", b"after")


def encrypted(z):
    z.add("data.bin", b"data", flags=1)


class HostilePayloads(InstallerTestCase):

    def snapshot(self):
        """Every path in the scratch directory except the working
        directories and the log."""
        work = os.path.join("tmp", "I")
        seen = set()
        for directory, dirs, files in os.walk(self.scratch):
            rel = os.path.relpath(directory, self.scratch)
            dirs[:] = [d for d in dirs if not os.path.join(rel, d).startswith(work)]
            for name in dirs + files:
                seen.add(os.path.normpath(os.path.join(rel, name)))
        return seen - {"sea.log"}

    def run_case(self, label, archive, code):
        exe = os.path.join(self.scratch, "install.exe")
        build_installer(os.environ["SEA_EXE"], exe, archive)
        # The working directories of earlier rows move out of the way.
        for old in glob.glob(os.path.join(self.temp, "I*")):
            self.moved = getattr(self, "moved", 0) + 1
            os.rename(old, os.path.join(self.scratch, "done-%d" % self.moved))
        before = self.snapshot()
        log = os.path.join(self.scratch, "sea.log")
        if os.path.exists(log):
            os.remove(log)
        result = self.run_sea(["-i", "silent", "-tempdir", host_to_program_path(self.temp)],
                              exe=exe, env={"RUX_DEBUG": "TRUE"}, timeout=300)
        self.assertEqual(exit_status(result.returncode), 255, label)
        lines = log_text(self.scratch)
        self.assertIn("*** FAILURE: Unable to unzip file: Error %d" % code, lines, label)
        self.assertNotIn("Success. The extracted file execution has begun.", lines, label)
        # The working directory stays when something was extracted into it
        # (an empty one is removed).
        work_dirs = glob.glob(os.path.join(self.temp, "I*"))
        self.assertLessEqual(len(work_dirs), 1, label)
        for work in work_dirs:
            for directory, _, files in os.walk(work):
                self.assertNotIn("launch-record.txt", files, label + ": a launcher ran")
        self.assertEqual(self.snapshot(), before, label + ": written outside the working directory")
        return work_dirs[0] if work_dirs else None

    def test_hostile_payloads_fail_without_launching(self):
        rows = [
            ("traversal", payload_with(traversal), AL_CANT_OPEN_FILE),
            ("absolute name", payload_with(absolute(self.scratch)), AL_CANT_OPEN_FILE),
            ("symbolic link", payload_with(symlink), AL_CANT_OPEN_FILE),
            ("overlap bomb", payload_with(overlap_bomb), AL_INVALID_ARCHIVE),
            ("CRC mismatch", payload_with(crc_mismatch), AL_CRC_ERROR),
            ("ZIP64", payload_with(zip64), AL_INVALID_ARCHIVE),
            ("unknown method", payload_with(unknown_method), AL_CANT_CREATE_COMPRESSION_ENGINE),
            ("encrypted", payload_with(encrypted), AL_MISSING_CRYPTO_ENGINE),
            ("cut in half", payload_with(crc_mismatch)[:3000], AL_INVALID_ARCHIVE),
        ]
        if IS_WINDOWS_BUILD:
            rows.append(("Windows device, stream and trimmed names", payload_with(windows_names),
                         AL_CANT_OPEN_FILE))
        for label, archive, code in rows:
            with self.subTest(label):
                work = self.run_case(label, archive, code)
                if label == "overlap bomb":
                    total = sum(os.path.getsize(os.path.join(d, f))
                                for d, _, fs in os.walk(os.path.join(work, "bomb")) for f in fs)
                    self.assertLessEqual(total, 30 * 1000)
                if label == "symbolic link":
                    self.assertFalse(os.path.islink(os.path.join(work, "link")))

    def test_the_same_payload_without_its_hostile_part_launches(self):
        """The control case: the launcher does run when nothing is wrong."""
        exe = os.path.join(self.scratch, "install.exe")
        build_installer(os.environ["SEA_EXE"], exe, payload_with(lambda z: None))
        result = self.run_sea(["-i", "silent", "-tempdir", host_to_program_path(self.temp)],
                              exe=exe, timeout=300)
        self.assertEqual(exit_status(result.returncode), 0)
        (work,) = glob.glob(os.path.join(self.temp, "I*"))
        self.assertTrue(os.path.exists(os.path.join(work, "launch-record.txt")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
