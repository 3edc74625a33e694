"""Signed installers run only what their signature covers. The hostile
catalogue, each attack made on a really signed installer: a ZIP inside the
padding of the PKCS#7 entry, a second WIN_CERTIFICATE carrying a ZIP, data
appended after the table, a security directory pointing past the end, into
the image or at an unaligned offset, a zero and a huge dwLength, an end
record across the table's start. Under Wine each either refuses (the
cause logged, the error panel of an unreadable installer, exit code -1,
nothing written, the working directory removed) or runs the vendor's
payload; the smuggled launcher never starts. Installers signed by
sea-build (--sign, --pkcs12), by osslsigncode (with and without a time
stamp, and dual-signed with -nest) still run. sea-build --verify gives
each attack one verdict and exit code 1."""
import os
import shutil
import struct
import subprocess
import unittest

from payload import build_installer, zip_bytes
from seatest import (BUILD_DIR, IS_WINDOWS_BUILD, SEA_EXE, InstallerTestCase, SeaTestCase,
                     exit_status, host_to_program_path, log_text)
from test_build import TOOL, minimal_pe
from test_signing import PASSWORD, TestCA, TimeStampServer, have_tools

HOST_TOOL = os.environ.get("SEA_HOST_BUILD_TOOL", "") if IS_WINDOWS_BUILD else TOOL
VENDOR_EXIT = 7
SMUGGLED_EXIT = 9


def smuggled_zip(launcher):
    return zip_bytes([("Windows/install.exe", launcher), ("Windows/exitcode.txt", b"9"),
                      ("smuggled.txt", b"not the vendor's")], flags=0)


class Signed:
    """A signed PE file: where its security directory entry and table are."""

    def __init__(self, data):
        self.data = bytearray(data)
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        magic = struct.unpack_from("<H", self.data, pe + 24)[0]
        self.entry = pe + 24 + (112 if magic == 0x20B else 96) + 8 * 4
        self.offset, self.size = struct.unpack_from("<II", self.data, self.entry)
        assert self.offset and self.offset + self.size == len(self.data), "not signed"

    def directory(self, offset, size):
        struct.pack_into("<II", self.data, self.entry, offset, size)
        return self

    def grow_table(self, extra, entry_too):
        """Appends extra (padded to 8) to the table, and to its first entry."""
        self.data += extra + b"\0" * (-len(extra) % 8)
        size = len(self.data) - self.offset
        if entry_too:
            struct.pack_into("<I", self.data, self.offset, size)
        return self.directory(self.offset, size)

    def dw_length(self, value):
        struct.pack_into("<I", self.data, self.offset, value)
        return self


def win_certificate(content, kind):
    entry = struct.pack("<IHH", 8 + len(content), 0x0200, kind) + content
    return entry + b"\0" * (-len(entry) % 8)


def hostile_variants(signed, smuggled):
    """(name, bytes, the cause the stub logs, --verify's verdict)."""
    s = lambda: Signed(signed)  # noqa: E731
    return [
        ("zip in the padding", s().grow_table(smuggled, True).data,
         "bytes of data follow the signature inside the certificate table",
         "tampered after signing: "),
        ("second entry with a zip", s().grow_table(win_certificate(smuggled, 1), False).data,
         "a second certificate entry (type 0x0001",
         "tampered after signing: a second certificate entry (type 0x0001"),
        ("data after the table", bytes(signed) + smuggled,
         "%d bytes follow the certificate table" % len(smuggled),
         "tampered after signing: %d bytes follow the certificate table" % len(smuggled)),
        ("directory past the end", s().directory(Signed(signed).offset,
                                                 Signed(signed).size + 8).data,
         "runs past the end of the file", "the file is truncated: its signature should end 8"),
        ("directory into the image", s().directory(0x200, 0x100).data,
         "the certificate table (offset 512) lies inside the image",
         "tampered after signing: the certificate table (offset 512) lies inside the image"),
        ("unaligned directory", s().directory(Signed(signed).offset + 4,
                                              Signed(signed).size - 4).data,
         "starts at an unaligned offset",
         "tampered after signing: the certificate table starts at an unaligned offset"),
        ("zero dwLength", s().dw_length(0).data, "the certificate entry's length (0) is too small",
         "tampered after signing: the certificate entry's length (0) is too small"),
        ("huge dwLength", s().dw_length(0xFFFFFFF0).data,
         "the certificate entry's length (4294967280) runs past the certificate table",
         "tampered after signing: the certificate entry's length (4294967280) runs past"),
    ]


def straddling_input(unsigned):
    """unsigned with the first 16 bytes of an end record (directory size 0)
    at its end, placed so that signing adds no padding: the other six
    bytes would come from the table's header."""
    data = bytes(unsigned)
    data += b"\0" * (-(len(data) + 16) % 8)
    return data + b"PK\x05\x06" + b"\0" * 12


def sign(args, source, out, extra=()):
    subprocess.run(["osslsigncode", "sign"] + list(args) + list(extra) + ["-in", source,
                                                                        "-out", out],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o755)
    return path


@unittest.skipUnless(IS_WINDOWS_BUILD and have_tools(),
                     "needs the Windows self-extractor under Wine, openssl and osslsigncode")
class SignedPayloadUnderWine(InstallerTestCase):

    def setUp(self):
        super().setUp()
        self.ca = TestCA(self.scratch, "Wine CA")
        self.cert, self.key = self.ca.issue("vendor")
        self.signer = ["-certs", self.cert, "-key", self.key]
        with open(os.environ["SEA_LAUNCHER"], "rb") as f:
            self.launcher = f.read()
        self.vendor_zip = zip_bytes([("Windows/install.exe", self.launcher),
                                     ("Windows/exitcode.txt", b"7"), ("vendor.txt", b"vendor")])
        self.unsigned = os.path.join(self.scratch, "unsigned.exe")
        build_installer(SEA_EXE, self.unsigned, self.vendor_zip)
        self.signed = os.path.join(self.scratch, "signed.exe")
        sign(self.signer, self.unsigned, self.signed)
        self.runs = 0

    def run_installer(self, path):
        """Runs path silently with its own -tempdir; (exit status, log lines,
        the working directories left, every file under the scratch
        directory that appeared)."""
        self.runs += 1
        temp = os.path.join(self.scratch, "tmp%d" % self.runs)
        os.makedirs(temp)
        cwd = os.path.join(self.scratch, "cwd%d" % self.runs)
        os.makedirs(cwd)
        exe = os.path.join(cwd, "install.exe")
        shutil.copyfile(path, exe)
        before = set(os.listdir(self.scratch))
        result = self.run_sea(["-i", "silent", "-tempdir", host_to_program_path(temp)], exe=exe,
                              cwd=cwd, env={"RUX_DEBUG": "TRUE"}, timeout=300)
        self.assertEqual(set(os.listdir(self.scratch)) - before, set(), "written outside")
        written = sorted(os.path.relpath(os.path.join(d, f), cwd)
                         for d, _, fs in os.walk(cwd) for f in fs)
        work = [os.path.join(temp, d) for d in os.listdir(temp)]
        return exit_status(result.returncode), log_text(cwd) or [], work, written

    def assert_vendor_ran(self, path, label):
        code, lines, work, _ = self.run_installer(path)
        self.assertEqual(code, VENDOR_EXIT, label)
        self.assertEqual(len(work), 1, label)
        self.assertTrue(os.path.exists(os.path.join(work[0], "vendor.txt")), label)
        self.assertFalse(os.path.exists(os.path.join(work[0], "smuggled.txt")), label)
        self.assertIn("Success. The extracted file execution has begun.", lines, label)

    def test_hostile_tables_are_refused_and_nothing_smuggled_runs(self):
        with open(self.signed, "rb") as f:
            signed = f.read()
        for name, data, cause, _ in hostile_variants(signed, smuggled_zip(self.launcher)):
            with self.subTest(name):
                path = write(os.path.join(self.scratch, "hostile.exe"), data)
                code, lines, work, written = self.run_installer(path)
                self.assertEqual(code, 255, name)
                failure = [l for l in lines if l.startswith(
                    "*** FAILURE: The installer's certificate table is damaged: ")]
                self.assertEqual(len(failure), 1, lines)
                self.assertIn(cause, failure[0])
                at = lines.index(failure[0])
                self.assertEqual(lines[at + 1:at + 3], [
                    "*** Error 9: 'Unable to extract the compressed file.' ***",
                    "*** Secondary error string: 'Please get another copy of the installer and "
                    "try again.' ***"])
                self.assertNotIn("Success. The extracted file execution has begun.", lines)
                self.assertEqual(work, [], "the working directory stays")
                self.assertEqual(written, ["install.exe", "sea.log"], name)

    def test_an_end_record_across_the_tables_start_is_passed_over(self):
        with open(self.unsigned, "rb") as f:
            source = write(os.path.join(self.scratch, "straddle-in.exe"),
                           straddling_input(f.read()))
        out = os.path.join(self.scratch, "straddle.exe")
        sign(self.signer, source, out)
        with open(out, "rb") as f:
            data = f.read()
        table = Signed(data).offset
        self.assertEqual(data[table - 16:table - 12], b"PK\x05\x06")
        self.assert_vendor_ran(out, "straddling end record")

    def test_a_zip_inside_the_signature_structure_is_never_read(self):
        # Well framed (as an unauthenticated attribute would be): the rules
        # pass the table, and the archive search ends before it.
        smuggled = smuggled_zip(self.launcher)
        with open(self.signed, "rb") as f:
            table = Signed(f.read())
        table.data = table.data[:table.offset]
        der = b"\x30\x83" + len(smuggled).to_bytes(3, "big") + smuggled
        path = write(os.path.join(self.scratch, "inside.exe"),
                     bytes(table.grow_table(win_certificate(der, 2), False).data))
        self.assert_vendor_ran(path, "ZIP inside the PKCS#7 structure")

    def test_signed_installers_still_run(self):
        server = TimeStampServer(self.ca)
        stamped = os.path.join(self.scratch, "stamped.exe")
        try:
            sign(self.signer, self.unsigned, stamped, ["-ts", server.url])
        finally:
            server.close()
        dual = os.path.join(self.scratch, "dual.exe")
        sign(self.signer + ["-h", "sha1"], self.signed, dual, ["-nest"])
        ways = {"osslsigncode": self.signed, "osslsigncode with time stamp": stamped,
                "dual-signed (-nest)": dual, "unsigned": self.unsigned}
        if HOST_TOOL and os.path.exists(HOST_TOOL):
            pfx = self.ca.pkcs12("vendor-pfx", PASSWORD)
            password = write(os.path.join(self.scratch, "pass"), PASSWORD.encode("utf-8"))
            tree = os.path.join(self.scratch, "tree")
            os.makedirs(os.path.join(tree, "Windows"))
            write(os.path.join(tree, "Windows", "install.exe"), self.launcher)
            write(os.path.join(tree, "Windows", "exitcode.txt"), b"7")
            write(os.path.join(tree, "vendor.txt"), b"vendor")
            for name, args in {"sea-build --sign": ["--sign", self.cert, self.key],
                               "sea-build --pkcs12": ["--pkcs12", pfx, "--password-file",
                                                      password]}.items():
                out = os.path.join(self.scratch, name.replace(" ", "_") + ".exe")
                built = subprocess.run([HOST_TOOL, tree, "-o", out, "--stub", SEA_EXE,
                                        "--allow-pe32plus", "-q"] + args,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(built.returncode, 0, built.stderr)
                ways[name] = out
        for name, path in ways.items():
            with self.subTest(name):
                self.assert_vendor_ran(path, name)


@unittest.skipIf(IS_WINDOWS_BUILD, "sea-build --verify runs on the build host")
class VerifyNamesTheAttack(SeaTestCase):
    """sea-build --verify on the hostile catalogue, made on an installer
    that sea-build signed: one verdict line each, exit code 1."""

    def test_each_attack_has_its_verdict(self):
        if not TOOL or not have_tools():
            self.skipTest("needs sea-build, openssl and osslsigncode")
        ca = TestCA(self.scratch, "Verify CA")
        cert, key = ca.issue("vendor")
        stub = write(os.path.join(self.scratch, "stub.exe"), minimal_pe())
        tree = os.path.join(self.scratch, "tree")
        os.makedirs(os.path.join(tree, "Windows"))
        write(os.path.join(tree, "Windows", "setup.exe"), b"MZ launcher stand-in")
        signed = os.path.join(self.scratch, "signed.exe")
        built = subprocess.run([TOOL, tree, "-o", signed, "--stub", stub, "-q", "--sign", cert,
                                key], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(built.returncode, 0, built.stderr)
        with open(signed, "rb") as f:
            data = f.read()
        smuggled = smuggled_zip(b"MZ evil")
        cases = [(name, body, verdict) for name, body, _, verdict in hostile_variants(data, smuggled)]
        # What follows the PKCS#7 structure (a DER SEQUENCE, two length bytes).
        padding = cases[0][1]
        der_end = Signed(data).offset + 8 + 4 + struct.unpack_from(">H", data,
                                                                   Signed(data).offset + 10)[0]
        cases[0] = cases[0][:2] + ("tampered after signing: %d bytes of data follow the "
                                   "signature inside the certificate table"
                                   % (len(padding) - der_end),)
        unsigned = os.path.join(self.scratch, "unsigned.exe")
        built = subprocess.run([TOOL, tree, "-o", unsigned, "--stub", stub, "-q"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(built.returncode, 0, built.stderr)
        with open(unsigned, "rb") as f:
            straddle_in = write(os.path.join(self.scratch, "straddle-in.exe"),
                                straddling_input(f.read()))
        straddle = os.path.join(self.scratch, "straddle.exe")
        sign(["-certs", cert, "-key", key], straddle_in, straddle)
        with open(straddle, "rb") as f:
            cases.append(("straddling end record", f.read(),
                          "tampered after signing: a ZIP end record straddles the start of the "
                          "certificate table"))
        # A well-framed table whose DER structure carries a ZIP (as an
        # unauthenticated attribute could): the rules pass it, the search
        # never reaches it, --verify names it.
        der = b"\x30\x82" + struct.pack(">H", len(smuggled)) + smuggled
        wrapped = Signed(data)
        wrapped.data = wrapped.data[:wrapped.offset]
        end_record = 8 + 4 + smuggled.rindex(b"PK\x05\x06")
        cases.append(("end record inside the table",
                      bytes(wrapped.grow_table(win_certificate(der, 2), False).data),
                      "tampered after signing: a ZIP end record lies inside the certificate "
                      "table, %d bytes into it" % end_record))
        for name, body, verdict in cases:
            with self.subTest(name):
                path = write(os.path.join(self.scratch, "hostile.exe"), body)
                result = subprocess.run([TOOL, "--verify", path, "--ca", ca.cert],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                text = (result.stdout + result.stderr).decode("utf-8", "replace")
                self.assertEqual(result.returncode, 1, text)
                self.assertEqual(text.count("\n"), 1, text)
                self.assertIn("sea-build: FAILED: " + path + ": " + verdict, text)
        ok = subprocess.run([TOOL, "--verify", signed, "--ca", ca.cert], stdout=subprocess.PIPE)
        self.assertEqual(ok.returncode, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
