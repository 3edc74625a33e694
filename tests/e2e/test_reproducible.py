"""Reproducible installers: the same tree gives the same bytes whatever the
order in which the file system lists it, the time of the copy, the umask,
the locale and the time zone; SOURCE_DATE_EPOCH clamps every time stamp;
the Windows builder (under Wine) writes what the Linux builder writes; a
signature changes nothing but the certificate table and the fields that
point at it; and a failed build leaves no file behind."""
import calendar
import hashlib
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zipfile

from seatest import IS_WINDOWS_BUILD, RUNNER, SEA_EXE, SeaTestCase, self_signed_certificate
from test_branding import VENDOR_IMAGES, icon_file
from test_build import minimal_pe

TOOL = os.environ.get("SEA_BUILD_TOOL", "")
# The Linux builder, which the Windows builder's output is compared with.
HOST_TOOL = os.environ.get("SEA_HOST_BUILD_TOOL", "") if IS_WINDOWS_BUILD else TOOL
EPOCH = 1700000001  # 2023-11-14 22:13:21 UTC
OLD = calendar.timegm((2001, 2, 3, 4, 5, 7))  # older than EPOCH: kept as it is

# Names that sort differently by UTF-16 and by code point (U+FF01 and
# U+1F600), by letter case ("B.txt" before "a.txt" and "c.txt"; "b.txt"
# beside it would be the same name on Windows), and by separator ("a.txt"
# and "a/").
# No dot files: Wine reports them as hidden, Linux does not.
FILES = {
    "Windows/setup.exe": b"MZ stand-in",
    "Windows/setup.rux": b"key=value\n" * 50,
    "a.txt": b"a" * 3000,
    "a/x.txt": b"x\n" * 100,
    "B.txt": b"upper case",
    "c.txt": b"lower case",
    "Donn\u00e9es/\u65e5\u672c\u8a9e.txt": "\u65e5\u672c".encode("utf-8") * 40,
    "\uff01wide.txt": b"fullwidth",
    "\U0001F600.txt": b"beyond the basic plane",
    "old.txt": b"older than the epoch\n" * 20,
    "readonly.txt": b"read only",
    "deep/er/still/file.bin": bytes(range(256)) * 16,
    # Large enough for every match finder the compressors choose by size.
    "big/lines.txt": b"".join(b"%d: %x\n" % (i, i * i % 65521) for i in range(40000)),
}
# -m and a level of each kind: deflate; LZMA's normal and fast modes;
# Zstandard's optimal parsing and its lazy match finder.
METHOD_LEVELS = [("deflate", "-6"), ("lzma", "-6"), ("lzma", "-2"), ("zstd", "-6"), ("zstd", "-4")]
ZIP_METHOD = {"deflate": 8, "lzma": 14, "zstd": 93}
EMPTY_DIRS = ["empty", "deep/er/hollow"]


def defined_order():
    """Depth first; the entries of each directory ordered by the UTF-8
    bytes of their names; an empty directory as "name/"."""
    tree = {}
    for name in list(FILES) + [d + "/" for d in EMPTY_DIRS]:
        node = tree
        parts = name.rstrip("/").split("/")
        for part in parts[:-1]:
            node = node.setdefault(part, {})
        node.setdefault(parts[-1], {} if name.endswith("/") else None)

    def walk(node, prefix):
        for key in sorted(node, key=lambda k: k.encode("utf-8")):
            if node[key] is None:
                yield prefix + key
            elif node[key]:
                yield from walk(node[key], prefix + key + "/")
            else:
                yield prefix + key + "/"
    return list(walk(tree, ""))


def write_tree(root, reverse, umask, stamp):
    """The tree under root, created in name order or in reverse, with the
    given umask; every file and directory gets the time stamp `stamp` except
    old.txt (OLD)."""
    previous = os.umask(umask)
    try:
        names = sorted(FILES, reverse=reverse)
        dirs = sorted(EMPTY_DIRS, reverse=reverse)
        for name in (names + dirs) if not reverse else (dirs + names):
            path = os.path.join(root, *name.split("/"))
            if name in FILES:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(FILES[name])
            else:
                os.makedirs(path, exist_ok=True)
        os.chmod(os.path.join(root, "readonly.txt"), 0o444)
        for directory, subdirs, files in os.walk(root):
            for name in subdirs + files:
                os.utime(os.path.join(directory, name), (stamp, stamp))
        os.utime(os.path.join(root, "old.txt"), (OLD, OLD))
    finally:
        os.umask(previous)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def dos_time(seconds):
    t = time.gmtime(seconds)
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec // 2 * 2)


class ReproducibleTestCase(SeaTestCase):

    def setUp(self):
        if not TOOL:
            self.skipTest("SEA_BUILD_TOOL is not set (run through ctest)")
        super().setUp()
        # tmpfs lists a directory in reverse order of creation, the build
        # directory's ext4 in hash order: two copies on the two list the
        # same names differently.
        shm = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
        self.other = tempfile.mkdtemp(prefix="sea-e2e-", dir=shm or self.scratch)
        self.stub = SEA_EXE if IS_WINDOWS_BUILD else os.path.join(self.scratch, "stub.exe")
        if not IS_WINDOWS_BUILD:
            with open(self.stub, "wb") as f:
                f.write(minimal_pe())

    def tearDown(self):
        for top in (self.scratch, self.other):
            for directory, _, files in os.walk(top):
                for name in files:
                    os.chmod(os.path.join(directory, name), 0o644)
        shutil.rmtree(self.other, ignore_errors=True)
        super().tearDown()

    def run_tool(self, args, env=None, tool=None, runner=RUNNER):
        environment = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        # Wine converts file names with the locale's encoding.
        if "UTF-8" not in environment.get("LANG", "") + environment.get("LC_ALL", ""):
            environment["LANG"] = "C.UTF-8"
        environment.update(env or {})
        command = ([runner] if runner else []) + [tool or TOOL] + list(args)
        return subprocess.run(command, cwd=self.scratch, env=environment, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=600)

    def build(self, tree, out, env=None, tool=None, runner=RUNNER, extra=()):
        args = [tree, "-o", out, "--stub", self.stub, "--allow-pe32plus", "-q",
                "--launcher", "Windows\\setup.exe"] + list(extra)
        result = self.run_tool(args, env, tool, runner)
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        return out

    def leftovers(self, directory):
        return [n for n in os.listdir(directory) if n.endswith(".tmp")]


class SameBytes(ReproducibleTestCase):

    def test_copies_that_differ_in_order_time_umask_locale_and_zone(self):
        first = os.path.join(self.scratch, "first")
        second = os.path.join(self.other, "second")
        write_tree(first, reverse=False, umask=0o022, stamp=EPOCH + 3600)
        write_tree(second, reverse=True, umask=0o077, stamp=EPOCH + 86400 * 400 + 17)
        self.assertNotEqual(os.listdir(first), os.listdir(second),
                            "both copies list in the same order: the test proves nothing")
        # Wine reads Unix file names in the locale's character set, so under
        # Wine both locales must be UTF-8 ones.
        plain_locale = "C.UTF-8" if IS_WINDOWS_BUILD else "C"
        a = self.build(first, os.path.join(self.scratch, "a.exe"),
                       {"SOURCE_DATE_EPOCH": str(EPOCH), "LC_ALL": plain_locale, "TZ": "UTC"})
        b = self.build(second, os.path.join(self.other, "b.exe"),
                       {"SOURCE_DATE_EPOCH": str(EPOCH), "LC_ALL": "ja_JP.UTF-8",
                        "TZ": "America/New_York"})
        self.assertEqual(sha256(a), sha256(b))
        with zipfile.ZipFile(a) as z:
            self.assertEqual(z.namelist(), defined_order())
            for info in z.infolist():
                expected = OLD if info.filename == "old.txt" else EPOCH
                self.assertEqual(info.date_time, dos_time(expected), info.filename)
                if info.filename.endswith("/"):
                    self.assertEqual(info.external_attr, 0x10, info.filename)
                else:
                    ro = 1 if info.filename == "readonly.txt" else 0
                    self.assertEqual(info.external_attr, 0x20 | ro, info.filename)
            self.assertIsNone(z.testzip())

    def test_thread_count_changes_no_byte(self):
        tree = os.path.join(self.scratch, "tree")
        write_tree(tree, reverse=False, umask=0o022, stamp=EPOCH)
        for method, level in METHOD_LEVELS:
            outputs = []
            for threads in ("1", "4"):
                out = os.path.join(self.scratch, "%s%s-%s.exe" % (method, level, threads))
                env = {"SOURCE_DATE_EPOCH": str(EPOCH), "LANG": "C.UTF-8",
                       "SEA_BUILD_THREADS": threads}
                outputs.append(sha256(self.build(tree, out, env, extra=["-m", method, level])))
                with zipfile.ZipFile(out) as z:
                    self.assertEqual(z.getinfo("big/lines.txt").compress_type, ZIP_METHOD[method])
            self.assertEqual(outputs[0], outputs[1], (method, level))

    def test_source_date_epoch_values(self):
        tree = os.path.join(self.scratch, "tree")
        write_tree(tree, reverse=False, umask=0o022, stamp=EPOCH)
        out = os.path.join(self.scratch, "out.exe")
        for bad in ("yesterday", "-5", "1.5", " 17", "99999999999999"):
            result = self.run_tool([tree, "-o", out, "--stub", self.stub, "--allow-pe32plus", "-q"],
                                   {"SOURCE_DATE_EPOCH": bad})
            self.assertEqual(result.returncode, 1, bad)
            self.assertIn(b"SOURCE_DATE_EPOCH", result.stderr, bad)
            self.assertFalse(os.path.exists(out), bad)
        # Before 1980 every entry gets the earliest DOS time; empty means unset.
        self.build(tree, out, {"SOURCE_DATE_EPOCH": "0", "LANG": "C.UTF-8"})
        with zipfile.ZipFile(out) as z:
            self.assertEqual({i.date_time for i in z.infolist()}, {(1980, 1, 1, 0, 0, 0)})
        self.build(tree, out, {"SOURCE_DATE_EPOCH": "", "TZ": "UTC", "LANG": "C.UTF-8"})
        with zipfile.ZipFile(out) as z:
            self.assertEqual(z.getinfo("old.txt").date_time, dos_time(OLD))
        self.assertEqual(self.leftovers(self.scratch), [])


@unittest.skipUnless(IS_WINDOWS_BUILD, "compares the Windows builder with the Linux one")
class WindowsBuilder(ReproducibleTestCase):

    def test_windows_folder_gives_the_linux_builders_bytes(self):
        self.assertTrue(HOST_TOOL and os.path.exists(HOST_TOOL),
                        "the Linux builder is missing (SEA_HOST_BUILD_TOOL=%r): build the "
                        "native preset first" % HOST_TOOL)
        tree = os.path.join(self.scratch, "Qu\u00e9bec \u65e5\u672c", "tree")
        write_tree(tree, reverse=False, umask=0o022, stamp=EPOCH + 60)
        env = {"SOURCE_DATE_EPOCH": str(EPOCH), "LANG": "C.UTF-8"}
        # Branded the same way by both builders: the icon and the version
        # information (non-ASCII values included) go into the same bytes.
        icon = os.path.join(self.scratch, "Qu\u00e9bec \u65e5\u672c", "vendor.ico")
        with open(icon, "wb") as f:
            f.write(icon_file(VENDOR_IMAGES))
        branding = ["--version-info", "ProductName=Caf\u00e9 \u65e5\u672c",
                    "--version-info", "FileVersion=2.5.1.0"]
        windows_tree = "Z:" + tree.replace("/", "\\")
        for method, level in METHOD_LEVELS:
            name = "%s%s.exe" % (method, level)
            windows_out = "Z:" + os.path.join(self.scratch, name).replace("/", "\\")
            packing = ["-m", method, level]
            self.build(windows_tree + "\\", windows_out, env,
                       extra=branding + packing + ["--icon", "Z:" + icon.replace("/", "\\")])
            linux = self.build(tree, os.path.join(self.other, name), env, HOST_TOOL, None,
                               extra=branding + packing + ["--icon", icon])
            self.assertEqual(sha256(os.path.join(self.scratch, name)), sha256(linux), name)
            with zipfile.ZipFile(linux) as z:
                self.assertEqual(z.namelist(), defined_order())
                self.assertEqual(z.getinfo("big/lines.txt").compress_type, ZIP_METHOD[method])


class NoFileLeftBehind(ReproducibleTestCase):

    def test_failures_leave_nothing_and_keep_an_earlier_installer(self):
        tree = os.path.join(self.scratch, "tree")
        write_tree(tree, reverse=False, umask=0o022, stamp=EPOCH)
        # A temporary file of a killed build inside the tree is not packed.
        out = os.path.join(tree, "setup.exe")
        with open(out + ".~3.tmp", "wb") as f:
            f.write(b"half an installer")
        self.build(tree, out)
        with zipfile.ZipFile(out) as z:
            self.assertNotIn("setup.exe.~3.tmp", z.namelist())
        os.remove(out + ".~3.tmp")
        with open(out, "rb") as f:
            earlier = f.read()
        # The output cannot be put in place: a directory of that name.
        blocked = os.path.join(self.scratch, "blocked.exe")
        os.makedirs(blocked)
        result = self.run_tool([tree, "-o", blocked, "--stub", self.stub, "--allow-pe32plus"])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"blocked.exe", result.stderr)
        self.assertEqual(self.leftovers(self.scratch), [])
        # No folder for the output.
        result = self.run_tool([tree, "-o", os.path.join(self.scratch, "none", "x.exe"),
                                "--stub", self.stub, "--allow-pe32plus"])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "none")))
        if IS_WINDOWS_BUILD or not (shutil.which("osslsigncode") and shutil.which("openssl")):
            return
        # Signing fails after the installer was written: nothing is left,
        # and the installer of the earlier build stays as it was.
        bad_key = os.path.join(self.scratch, "bad.pem")
        with open(bad_key, "w") as f:
            f.write("not a key\n")
        result = self.run_tool([tree, "-o", out, "--stub", self.stub, "--allow-pe32plus",
                                "--sign", bad_key, bad_key])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(self.leftovers(tree), [])
        with open(out, "rb") as f:
            self.assertEqual(f.read(), earlier)


@unittest.skipIf(IS_WINDOWS_BUILD, "osslsigncode runs on the build host, not under Wine")
class Signing(ReproducibleTestCase):

    def test_signature_adds_only_the_certificate_table(self):
        cert, key = self_signed_certificate(self, self.scratch)
        tree = os.path.join(self.scratch, "tree")
        write_tree(tree, reverse=False, umask=0o022, stamp=EPOCH + 5)
        env = {"SOURCE_DATE_EPOCH": str(EPOCH)}
        plain = self.build(tree, os.path.join(self.scratch, "plain.exe"), env)
        signed = [self.build(tree, os.path.join(self.scratch, "s%d.exe" % i), env,
                             extra=["--sign", cert, key]) for i in range(2)]
        # With SOURCE_DATE_EPOCH the signing time is fixed: the same bytes.
        self.assertEqual(sha256(signed[0]), sha256(signed[1]))
        with open(plain, "rb") as f:
            u = bytearray(f.read())
        with open(signed[0], "rb") as f:
            s = bytearray(f.read())
        pe = struct.unpack_from("<I", u, 0x3C)[0]
        optional = pe + 24
        checksum = optional + 64
        security = optional + (96 if struct.unpack_from("<H", u, optional)[0] == 0x10B else 112) + 32
        table, size = struct.unpack_from("<II", s, security)
        self.assertEqual(struct.unpack_from("<II", u, security), (0, 0))
        self.assertEqual(table + size, len(s))
        self.assertEqual(table % 8, 0)
        self.assertTrue(len(u) <= table < len(u) + 8)
        self.assertEqual(bytes(s[len(u):table]), b"\0" * (table - len(u)), "padding")
        for field, length in ((checksum, 4), (security, 8)):
            s[field:field + length] = u[field:field + length]
        self.assertEqual(bytes(s[:len(u)]), bytes(u), "bytes other than the pointer fields")


if __name__ == "__main__":
    unittest.main(verbosity=2)
