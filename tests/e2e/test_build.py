"""The installer builder sea-build: trees packed into installers that other
ZIP readers (Info-ZIP unzip, Python's zipfile) accept, the payload layout
around the ZIP data, the read-back modes --list and --test, its refusals and
exit codes, signing with osslsigncode, and (for the Windows build, under
Wine) the self-extractor reproducing the tree it was built from."""
import glob
import os
import shutil
import signal
import stat
import struct
import subprocess
import time
import unittest
import zipfile

from seatest import (IS_WINDOWS_BUILD, RUNNER, SEA_EXE, SOURCE_DIR, SeaTestCase, exit_status,
                     host_to_program_path, self_signed_certificate, without_wine_lines)

TOOL = os.environ.get("SEA_BUILD_TOOL", "")
MAGIC = b"\x5b\x3e\x4e\x00"
TRAILER = b"\x00\x44\x13\x00" + b"\x00" * 6
OLD_TIME = time.mktime((2001, 2, 3, 4, 5, 6, 0, 0, -1))


def minimal_pe(pe32plus=False):
    """The smallest image the builder accepts: DOS header, PE signature,
    file header, optional header (PE32 or PE32+) and one 512-byte section."""
    optional_size = 240 if pe32plus else 224
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 64)
    file_header = struct.pack("<HHIIIHH", 0x8664 if pe32plus else 0x14C, 1, 0, 0, 0,
                              optional_size, 0x0102)
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, 0x20B if pe32plus else 0x10B)
    struct.pack_into("<II", optional, 32, 0x1000, 0x200)         # section, file alignment
    struct.pack_into("<I", optional, 60, 0x200)                  # SizeOfHeaders
    struct.pack_into("<I", optional, 108 if pe32plus else 92, 16)  # data directories
    section = struct.pack("<8sIIIIIIHHI", b".text", 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                          0x60000020)
    headers = bytes(dos) + b"PE\0\0" + file_header + bytes(optional) + section
    return headers.ljust(0x200, b"\0") + b"\xc3" * 0x200


def make_tree(root):
    """A tree with the cases that trip writers up; returns {name: bytes or
    None (empty directory)} keyed by ZIP name."""
    files = {
        "Windows/setup.exe": b"MZ launcher stand-in",
        "Windows/empty.txt": b"",
        "a/b/c/d/nested.txt": b"deep\n" * 10,
        "Donn\u00e9es/\u00fcn\u00efc\u00f6d\u00e9 \u65e5\u672c.txt": "gr\u00fc\u00dfe".encode("utf-8"),
        "readonly.txt": b"do not touch\n",
        "pages/4096.bin": os.urandom(4096),
        "pages/8192.txt": (b"0123456789abcdef" * 512),
        "pages/12288.bin": os.urandom(12288),
        "random.bin": os.urandom(100000),
        "text.txt": b"".join(b"line %d of some text\n" % i for i in range(5000)),
    }
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.utime(os.path.join(root, "text.txt"), (OLD_TIME, OLD_TIME))
    os.chmod(os.path.join(root, "readonly.txt"), 0o444)
    expected = dict(files)
    for name in ("empty_dir", "x/also_empty"):
        os.makedirs(os.path.join(root, *name.split("/")))
        expected[name + "/"] = None
    return expected


class BuildTestCase(SeaTestCase):

    def setUp(self):
        if not TOOL:
            self.skipTest("SEA_BUILD_TOOL is not set (run through ctest)")
        super().setUp()
        self.stub = os.path.join(self.scratch, "stub.exe")
        with open(self.stub, "wb") as f:
            f.write(minimal_pe())

    def tearDown(self):
        for directory, _, files in os.walk(self.scratch):
            for name in files:
                os.chmod(os.path.join(directory, name), 0o644)
        super().tearDown()

    def build_tool(self, args, timeout=600):
        command = ([RUNNER] if RUNNER else []) + [TOOL] + list(args)
        return subprocess.run(command, cwd=self.scratch, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout)

    def build(self, tree, out, *extra):
        result = self.build_tool([tree, "-o", out, "--stub", self.stub] + list(extra))
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        return result

    def new_tree(self):
        tree = os.path.join(self.scratch, "tree")
        os.makedirs(tree)
        return tree, make_tree(tree)


class RoundTrip(BuildTestCase):

    def test_tree_round_trips_through_other_zip_readers(self):
        tree, expected = self.new_tree()
        out = os.path.join(self.scratch, "setup.exe")
        result = self.build(tree, out)
        # No progress bar into a pipe (Windows text streams end lines with CR LF).
        self.assertNotIn(b"\r", result.stdout.replace(b"\r\n", b"\n"), "progress bar in a pipe")
        with open(self.stub, "rb") as f:
            stub = f.read()
        with open(out, "rb") as f:
            data = f.read()
        # Stub, magic, launcher field (default: Windows\ + output name), ZIP, trailer.
        # The stub's bytes, but for the image checksum, which covers the
        # whole installer.
        checksum_at = struct.unpack_from("<I", stub, 0x3C)[0] + 24 + 64
        self.assertEqual(data[:checksum_at] + data[checksum_at + 4:len(stub)],
                         stub[:checksum_at] + stub[checksum_at + 4:])
        header = data[len(stub):len(stub) + 1028]
        self.assertEqual(header[:4], MAGIC)
        self.assertEqual(header[4:].rstrip(b"\0"), b"Windows\\setup.exe")
        self.assertEqual(len(header[4:]), 1024)
        self.assertEqual(data[-10:], TRAILER)
        zip_data = data[len(stub) + 1028:-10]
        self.assertEqual(zip_data[:4], b"PK\x03\x04")
        self.assertEqual(zip_data[-22:-18], b"PK\x05\x06")

        with zipfile.ZipFile(out) as z:
            self.assertIsNone(z.testzip())
            infos = {i.filename: i for i in z.infolist()}
            self.assertEqual(set(infos), set(expected))
            for name, content in expected.items():
                info = infos[name]
                self.assertEqual(info.flag_bits & 0x0808, 0x0808, name)
                if content is None:
                    self.assertEqual(info.external_attr & 0x10, 0x10, name)
                    continue
                self.assertEqual(z.read(name), content, name)
                self.assertEqual(info.external_attr & 0x01, 1 if name == "readonly.txt" else 0, name)
            self.assertEqual(infos["random.bin"].compress_type, zipfile.ZIP_STORED)
            self.assertEqual(infos["text.txt"].compress_type, zipfile.ZIP_DEFLATED)
            self.assertEqual(infos["text.txt"].date_time, (2001, 2, 3, 4, 5, 6))
            self.assertEqual(infos["pages/8192.txt"].compress_type, zipfile.ZIP_DEFLATED)

        # Info-ZIP: the installer (it warns about the stub in front) and the
        # ZIP data on its own, whose offsets start at 0.
        if shutil.which("unzip"):
            check = subprocess.run(["unzip", "-t", out], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
            self.assertIn(b"No errors detected", check.stdout)
            self.assertLessEqual(check.returncode, 1, check.stdout)
            bare = os.path.join(self.scratch, "bare.zip")
            with open(bare, "wb") as f:
                f.write(zip_data)
            check = subprocess.run(["unzip", "-t", bare], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
            self.assertEqual(check.returncode, 0, check.stdout)

        tested = self.build_tool(["--test", out])
        self.assertEqual(tested.returncode, 0, tested.stderr)
        self.assertIn(b"OK: %d entries" % len(expected), tested.stdout)
        listed = self.build_tool(["--list", out])
        self.assertEqual(listed.returncode, 0, listed.stderr)
        text = listed.stdout.decode("utf-8")
        self.assertIn("Launcher: Windows\\setup.exe", text)
        for name in expected:
            self.assertIn(name, text)

    def test_levels_and_launcher_option(self):
        tree, _ = self.new_tree()
        stored = os.path.join(self.scratch, "stored.exe")
        self.build(tree, stored, "-0", "--launcher", "Windows/setup.exe")
        with zipfile.ZipFile(stored) as z:
            self.assertIsNone(z.testzip())
            self.assertTrue(all(i.compress_type == zipfile.ZIP_STORED for i in z.infolist()))
        with open(stored, "rb") as f:
            self.assertIn(MAGIC + b"Windows\\setup.exe\0", f.read())
        best = os.path.join(self.scratch, "best.exe")
        self.build(tree, best, "-9")
        with zipfile.ZipFile(best) as z:
            self.assertEqual(z.getinfo("text.txt").flag_bits, 0x080A)
            self.assertIsNone(z.testzip())
        self.assertLess(os.path.getsize(best), os.path.getsize(stored))

    # -m METHOD: ZIP method, version needed, the flag bits beside 0x0808 at
    # -1, -6 and -9 (deflate's option; LZMA's end marker), and the name
    # --list and the summary give it.
    METHODS = [("deflate", 8, 20, (0x4, 0, 0x2)), ("lzma", 14, 63, (0x2, 0x2, 0x2)),
               ("zstd", 93, 63, (0, 0, 0))]

    def test_each_method_is_read_by_7zip_bsdtar_and_python(self):
        tree, expected = self.new_tree()
        for method, number, version, level_flags in self.METHODS:
            for level, flags in zip(("-1", "-6", "-9"), level_flags):
                out = os.path.join(self.scratch, "%s%s.exe" % (method, level))
                summary = self.build(tree, out, "-m", method, level).stdout.decode()
                self.assertRegex(summary, r"; %s %s: files \d+\.\d%% of 238556 bytes" % (method, level))
                with zipfile.ZipFile(out) as z:
                    text = z.getinfo("text.txt")
                    self.assertEqual((text.compress_type, text.extract_version, text.flag_bits),
                                     (number, version, 0x0808 | flags), out)
                    # Incompressible data are stored, whatever the method.
                    self.assertEqual(z.getinfo("random.bin").compress_type, 0, out)
                    self.assertEqual(z.getinfo("random.bin").extract_version, 20, out)
                    if method != "zstd":  # Python's zipfile has no Zstandard
                        self.assertIsNone(z.testzip(), out)
                check = subprocess.run(["7z", "t", out], stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT)
                self.assertEqual(check.returncode, 0, check.stdout)
                self.assertIn(b"Everything is Ok", check.stdout)
                names = subprocess.run(["bsdtar", "-tf", out], stdout=subprocess.PIPE, check=True)
                self.assertEqual(set(names.stdout.decode().splitlines()), set(expected), out)
                for name in ("text.txt", "pages/8192.txt", "a/b/c/d/nested.txt"):
                    data = subprocess.run(["bsdtar", "-xOf", out, name], stdout=subprocess.PIPE,
                                          check=True).stdout
                    self.assertEqual(data, expected[name], (out, name))
            listed = self.build_tool(["--list", out]).stdout.decode()
            self.assertRegex(listed, r"\d+ %-7s [-0-9: ]+ -{3}- +text\.txt" % method)
            self.assertRegex(listed, r"100000 +100000 stored .*random\.bin")
            tested = self.build_tool(["--test", out])
            self.assertEqual(tested.returncode, 0, tested.stderr)
            self.assertIn(b"OK: %d entries" % len(expected), tested.stdout)

    def test_output_inside_the_tree_is_not_packed_into_itself(self):
        tree, expected = self.new_tree()
        out = os.path.join(tree, "setup.exe")
        for _ in range(2):  # the second build finds the first one in the tree
            result = self.build(tree + os.sep + ".", out)
            with zipfile.ZipFile(out) as z:
                self.assertEqual(set(z.namelist()), set(expected))
        self.assertIn(b"left out", result.stderr)

    def test_output_named_through_a_link_is_not_packed_into_itself(self):
        tree, expected = self.new_tree()
        link = os.path.join(self.scratch, "treelink")
        os.symlink(tree, link)
        out = os.path.join(link, "setup.exe")
        # A temporary file of a build that was killed, found through another
        # spelling of the same folder.
        with open(os.path.join(tree, "setup.exe.~3.tmp"), "wb") as f:
            f.write(b"half an installer")
        for _ in range(3):  # each build finds the earlier one in the tree
            result = self.build(tree, out)
            with zipfile.ZipFile(out) as z:
                self.assertEqual(set(z.namelist()), set(expected))
        self.assertIn(b"left out (the installer being written): setup.exe", result.stderr)
        self.assertIn(b"left out (the installer being written): setup.exe.~3.tmp", result.stderr)

    def test_damaged_installer_fails_the_test(self):
        tree = os.path.join(self.scratch, "tree")
        os.makedirs(tree)
        with open(os.path.join(tree, "text.txt"), "wb") as f:
            f.write(b"".join(b"hello world %d, " % i for i in range(2000)))
        for method in ("deflate", "lzma", "zstd"):
            out = os.path.join(self.scratch, method + ".exe")
            self.build(tree, out, "-m", method)
            with open(out, "r+b") as f:
                f.seek(len(minimal_pe()) + 1028 + 30 + len("text.txt") + 40)
                byte = f.read(1)
                f.seek(-1, 1)
                f.write(bytes([byte[0] ^ 0x55]))
            tested = self.build_tool(["--test", out])
            self.assertEqual(tested.returncode, 1, method)
            self.assertIn(b"text.txt", tested.stderr, method)


class Refusals(BuildTestCase):

    def assert_refused(self, args, code, text):
        result = self.build_tool(args)
        self.assertEqual(result.returncode, code, result.stderr)
        error = result.stderr.decode("utf-8", "replace")
        self.assertIn(text, error)
        self.assertTrue(error.startswith("sea-build: "), error)
        self.assertEqual(error.count("\n"), 1, error)
        return result

    def test_stubs_that_cannot_carry_a_payload(self):
        tree, _ = self.new_tree()
        out = os.path.join(self.scratch, "o.exe")
        not_pe = os.path.join(self.scratch, "notpe.exe")
        with open(not_pe, "wb") as f:
            f.write(b"#!/bin/sh\n" * 20)
        self.assert_refused([tree, "-o", out, "--stub", not_pe], 1, "not a Windows executable")
        wide = os.path.join(self.scratch, "pe32plus.exe")
        with open(wide, "wb") as f:
            f.write(minimal_pe(pe32plus=True))
        self.assert_refused([tree, "-o", out, "--stub", wide], 1, "--allow-pe32plus")
        self.build_tool([tree, "-o", out, "--stub", wide, "--allow-pe32plus"])
        self.assertTrue(zipfile.is_zipfile(out))
        # A finished installer used as a stub already carries a payload.
        self.assert_refused([tree, "-o", os.path.join(self.scratch, "p.exe"), "--stub", out], 1,
                            "bytes after its image")
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "p.exe")))
        self.assert_refused([tree, "-o", out, "--stub", os.path.join(self.scratch, "none.exe")],
                            1, "cannot read the stub")

    def test_bad_command_lines_and_inputs(self):
        tree, _ = self.new_tree()
        out = os.path.join(self.scratch, "o.exe")
        self.assert_refused([tree], 2, "no output file")
        self.assert_refused([tree, "-o", out, "--bogus"], 2, "unknown option --bogus")
        self.assert_refused([tree, "-o"], 2, "-o needs a value")
        self.assert_refused([tree, "-o", out, "-m", "bzip2"], 2, "-m takes deflate, lzma or zstd, not bzip2")
        self.assert_refused([tree, "-o", out, "--method", "LZMA"], 2, "not LZMA")
        self.assert_refused([tree, "-o", out, "--method"], 2, "--method needs a value")
        self.assert_refused(["--sign", "only-cert"], 2, "--sign needs")
        self.assert_refused([os.path.join(self.scratch, "missing"), "-o", out, "--stub", self.stub],
                            1, "not a directory")
        self.assert_refused([tree, "-o", out, "--stub", self.stub, "--launcher", "Windows\\\u00e9.exe"],
                            1, "printable ASCII")
        self.assert_refused(["--test", self.stub], 1, "Can't locate end of central directory")
        self.assertFalse(os.path.exists(out))
        helped = self.build_tool(["--help"])
        self.assertEqual(helped.returncode, 0)
        self.assertIn(b"Usage: sea-build", helped.stdout)

    def test_a_pin_never_comes_from_a_pkcs11_uri(self):
        """A URI holding the PIN (pin-value) or where to read it
        (pin-source), in any letter case or percent-encoded, would put it
        on a command line and in messages: refused before anything runs."""
        tree, _ = self.new_tree()
        out = os.path.join(self.scratch, "o.exe")
        key = "pkcs11:token=test;object=codesign;type=private"
        cert = os.path.join(self.scratch, "cert.pem")
        cases = [
            (cert, key + ";pin-value=9731"),
            (cert, key + "?PIN-Value=9731"),
            (cert, key + "?module-name=x&Pin-Source=file:/tmp/9731"),
            (cert, key + ";pin%2Dvalue=9731"),
            ("pkcs11:token=test;object=codesign;type=cert;pin-value=9731", key),
        ]
        for certificate, uri in cases:
            for module in (["--pkcs11-module", self.stub], []):
                with self.subTest(certificate=certificate, key=uri, module=bool(module)):
                    result = self.assert_refused(
                        [tree, "-o", out, "--stub", self.stub, "--sign", certificate, uri] + module,
                        2, "--password-file")
                    self.assertNotIn(b"9731", result.stdout + result.stderr)
                    self.assertFalse(os.path.exists(out))
        # An attribute value that merely mentions the words is no PIN.
        result = self.build_tool([tree, "-o", out, "--stub", self.stub, "--sign", cert,
                                  key.replace("codesign", "pin-value"), "--pkcs11-module",
                                  os.path.join(self.scratch, "none.so")])
        self.assertEqual(result.returncode, 1, result.stderr)

    def test_a_quoted_placeholder_in_the_signing_command_is_refused(self):
        """The path goes into the command quoted already: inside quotes of
        the vendor's the quoting would turn over and the shell would read
        the path."""
        tree, _ = self.new_tree()
        out = os.path.join(self.scratch, "o.exe")
        refused = ['signer -in "{}" -out "{}.s"', "signer '{}'", 'signer "--in={}.s"',
                   "signer {}\"", "signer ^{}", 'signer --in "x {}.s" && mv x y',
                   "sh -c 'signer {}'"]
        if not IS_WINDOWS_BUILD:
            refused.append("signer \\{}")
        for command in refused:
            with self.subTest(command):
                self.assert_refused([tree, "-o", out, "--stub", self.stub, "--sign-command", command],
                                    2, "write {} without quotes")
                self.assertFalse(os.path.exists(out))
        # Quotes elsewhere in the command are the vendor's own business.
        accepted = 'signer /d "Vendor \'s tool" {} && mv {}.s {} # "done"'
        result = self.build_tool([tree, "-o", out, "--stub", self.stub, "--sign-command", accepted,
                                  "--timestamp-timeout", "20"])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertNotIn(b"without quotes", result.stderr)


@unittest.skipIf(IS_WINDOWS_BUILD, "osslsigncode runs on the build host, not under Wine")
class Signing(BuildTestCase):

    def test_signed_installer_verifies_and_still_reads(self):
        cert, key = self_signed_certificate(self, self.scratch)
        tree, expected = self.new_tree()
        out = os.path.join(self.scratch, "signed.exe")
        self.build(tree, out, "--sign", cert, key, "-m", "lzma")
        self.assertFalse(os.path.exists(out + ".unsigned"))
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", out],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(verify.returncode, 0, verify.stdout.decode("utf-8", "replace"))
        with open(out, "rb") as f:
            data = f.read()
        # The certificate table follows the payload's trailer, and the end
        # record stays within the stub's search window.
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        table_offset, table_size = struct.unpack_from("<II", data, pe + 24 + 96 + 4 * 8)
        self.assertGreater(table_size, 0)
        self.assertEqual(table_offset + table_size, len(data))
        trailer_at = data.rfind(TRAILER, 0, table_offset + 1)
        self.assertEqual(data[trailer_at - 22:trailer_at - 18], b"PK\x05\x06")
        self.assertLessEqual(len(data) - (trailer_at - 22), 66000)
        with zipfile.ZipFile(out) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(set(z.namelist()), set(expected))
            self.assertEqual(z.getinfo("text.txt").compress_type, zipfile.ZIP_LZMA)
        self.assertEqual(self.build_tool(["--test", out]).returncode, 0)
        verified = self.build_tool(["--verify", out, "--ca", cert])
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)


def running(pid):
    """Whether the process pid still runs (a zombie has ended: a container's
    first process may never reap it)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def processes_naming(text):
    """The pids of the processes whose command line holds text."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if text.encode() in f.read():
                    found.append(int(pid))
        except OSError:
            pass
    return found


# STATUS_CONTROL_C_EXIT as Wine's process exits with it.
CTRL_C_EXIT = 0xC000013A & 0xFF


class Interrupted(BuildTestCase):
    """Ctrl-C, SIGTERM or a closed terminal (SIGHUP) while the tree is
    packed or the signing command runs: the conventional exit code, one
    line, the signing command and what it started killed, no temporary
    file, and the earlier installer of that name as it was. Under Wine,
    SIGINT reaches sea-build.exe as the console's CTRL_C_EVENT."""

    EARLIER = b"an earlier installer of this name"

    def start(self, tree, *extra):
        self.out_dir = os.path.join(self.scratch, "out")
        os.makedirs(self.out_dir, exist_ok=True)
        out = os.path.join(self.out_dir, "setup.exe")
        with open(out, "wb") as f:
            f.write(self.EARLIER)
        command = ([RUNNER] if RUNNER else []) + [TOOL, tree, "-o", out, "--stub", self.stub, "-q"]
        return subprocess.Popen(command + list(extra), cwd=self.scratch, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)

    def wait_for(self, condition, what, limit=120):
        deadline = time.monotonic() + limit
        while not condition():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.01)

    def assert_nothing_left(self, build, signal_number, code=None):
        build.send_signal(signal_number)
        _, stderr = build.communicate(timeout=60)
        stderr = without_wine_lines(stderr.decode("utf-8", "replace")).replace("\r\n", "\n")
        self.assertEqual(build.returncode, code or 128 + signal_number, stderr)
        # sea-build.exe finds no openssl under Wine and warns about it.
        lines = [line for line in stderr.splitlines() if "warning: openssl" not in line]
        self.assertEqual(lines, ["sea-build: interrupted: no installer written"], stderr)
        self.assertEqual(os.listdir(self.out_dir), ["setup.exe"], "a temporary file was left")
        with open(os.path.join(self.out_dir, "setup.exe"), "rb") as f:
            self.assertEqual(f.read(), self.EARLIER, "the earlier installer was changed")

    @unittest.skipIf(IS_WINDOWS_BUILD, "POSIX signals")
    def test_signing_command_is_killed_with_what_it_started(self):
        tree, _ = self.new_tree()
        pids = os.path.join(self.scratch, "pids")
        script = os.path.join(self.scratch, "signer.sh")
        with open(script, "w") as f:
            f.write("sleep 600 &\necho $! $$ > %s.new\nmv %s.new %s\nwait\n" % (pids, pids, pids))
        for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=signal_number.name):
                build = self.start(tree, "--sign-command", "sh %s {}" % script)
                self.wait_for(lambda: os.path.exists(pids), "the signing command never ran")
                with open(pids) as f:
                    signer_pids = [int(pid) for pid in f.read().split()]
                os.remove(pids)
                self.assert_nothing_left(build, signal_number)
                for pid in signer_pids:
                    self.wait_for(lambda: not running(pid), "%d still runs" % pid, limit=5)

    def test_packing_stops_without_a_partial_installer(self):
        # Windows removes no file that is open: the packing lets go of it.
        tree, _ = self.new_tree()
        with open(os.path.join(tree, "big.bin"), "wb") as f:
            f.write(os.urandom(48 << 20))  # deflate -9 takes a while on it
        build = self.start(tree, "-9")
        temporary = os.path.join(self.out_dir, "setup.exe.~0.tmp")
        self.wait_for(lambda: os.path.exists(temporary) and os.path.getsize(temporary) > 1 << 20,
                      "the build wrote nothing")
        self.assertIsNone(build.poll(), "the build ended before the interrupt")
        self.assert_nothing_left(build, signal.SIGINT, code=CTRL_C_EXIT if IS_WINDOWS_BUILD else None)

    @unittest.skipUnless(IS_WINDOWS_BUILD, "the console's control events of sea-build.exe")
    def test_ctrl_c_ends_the_signing_commands_job(self):
        tree, _ = self.new_tree()
        tag = os.path.basename(self.scratch)
        started = os.path.join(self.scratch, "started")
        # cmd spins until it is killed; the tag finds its process.
        command = "echo %s> %s & for /l %%i in (1,0,2) do @rem {}" % (
            tag, host_to_program_path(started))
        build = self.start(tree, "--sign-command", command)
        self.wait_for(lambda: os.path.exists(started), "the signing command never ran")
        signers = [pid for pid in processes_naming(tag) if pid != build.pid]
        self.assertTrue(signers)
        self.assert_nothing_left(build, signal.SIGINT, code=CTRL_C_EXIT)
        for pid in signers:
            self.wait_for(lambda: not running(pid), "%d still runs" % pid, limit=10)


def _driver_extracts():
    try:
        with open(os.path.join(SOURCE_DIR, "sea", "extract.cpp"), encoding="utf-8") as f:
            return "ALPkArchive" in f.read()
    except OSError:
        return False


@unittest.skipUnless(IS_WINDOWS_BUILD and _driver_extracts(),
                     "needs the Windows self-extractor (under Wine) with its extraction driver")
class SelfExtraction(BuildTestCase):

    def test_self_extractor_reproduces_the_tree(self):
        tree, expected = self.new_tree()
        self.stub = SEA_EXE
        for method in ("deflate", "lzma", "zstd"):
            with self.subTest(method=method):
                self.check_extraction(tree, expected, method)

    def check_extraction(self, tree, expected, method):
        out = os.path.join(self.scratch, method, "setup.exe")
        os.makedirs(os.path.dirname(out))
        self.build(tree, out, "--allow-pe32plus", "-m", method)
        work = os.path.join(self.scratch, method, "work")
        os.makedirs(work)
        result = self.run_sea(["-i", "silent", "-tempdir", work], exe=out)
        # Windows\setup.exe is no program: the launch fails after extraction.
        self.assertEqual(exit_status(result.returncode), 255)
        extracted = glob.glob(os.path.join(work, "I*"))
        self.assertEqual(len(extracted), 1, os.listdir(work))
        target = extracted[0]
        found = set()
        for directory, dirs, files in os.walk(target):
            rel = os.path.relpath(directory, target).replace(os.sep, "/")
            prefix = "" if rel == "." else rel + "/"
            if prefix and not dirs and not files:
                found.add(prefix)
            found.update(prefix + name for name in files)
        found.discard("sea_loc")
        self.assertEqual(found, set(expected))
        for name, content in expected.items():
            if content is None:
                continue
            source = os.path.join(tree, *name.split("/"))
            copy = os.path.join(target, *name.split("/"))
            with open(copy, "rb") as f:
                self.assertEqual(f.read(), content, name)
            self.assertLessEqual(abs(os.stat(copy).st_mtime - os.stat(source).st_mtime), 2, name)
            writable = bool(os.stat(copy).st_mode & stat.S_IWUSR)
            self.assertEqual(writable, name != "readonly.txt", name)

    def test_signed_installer_still_extracts(self):
        for tool in ("openssl", "osslsigncode"):
            if not shutil.which(tool):
                self.skipTest(tool + " is not installed")
        tree = os.path.join(self.scratch, "tree")
        os.makedirs(os.path.join(tree, "Windows"))
        content = b"".join(b"row %d\n" % i for i in range(20000))
        with open(os.path.join(tree, "Windows", "data.txt"), "wb") as f:
            f.write(content)
        self.stub = SEA_EXE
        unsigned = os.path.join(self.scratch, "unsigned.exe")
        self.build(tree, unsigned, "--allow-pe32plus")
        # What --sign runs, done here on the host: the Windows build of the
        # builder finds no osslsigncode under Wine.
        cert = os.path.join(self.scratch, "cert.pem")
        key = os.path.join(self.scratch, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=sea-build test", "-keyout", key, "-out", cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        out = os.path.join(self.scratch, "setup.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", unsigned,
                        "-out", out], check=True, stdout=subprocess.DEVNULL)
        self.assertEqual(self.build_tool(["--test", out]).returncode, 0)
        work = os.path.join(self.scratch, "work")
        os.makedirs(work)
        self.run_sea(["-i", "silent", "-tempdir", work], exe=out)
        copies = glob.glob(os.path.join(work, "I*", "Windows", "data.txt"))
        self.assertEqual(len(copies), 1)
        with open(copies[0], "rb") as f:
            self.assertEqual(f.read(), content)


if __name__ == "__main__":
    unittest.main(verbosity=2)
