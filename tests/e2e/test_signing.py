"""Signed installers: PEM and PKCS#12 keys from a test CA made here with
openssl, the password from a file or the environment (never on a command
line, in a message or in the installer), RFC 3161 time stamp servers that
refuse or never answer, the certificate checks before building, and
sea-build --verify's verdicts. Under Wine the signed installers run in
silent and GUI mode. Also the manual page's examples, run against an
installed tree (cmake --install) where sea-build finds its stub by itself."""
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import zipfile
from http.server import BaseHTTPRequestHandler, HTTPServer

from payload import build_installer, zip_bytes
from seatest import (BUILD_DIR, IS_WINDOWS_BUILD, SEA_EXE, SOURCE_DIR, InstallerTestCase,
                     SeaTestCase, exit_status, host_to_program_path)
from test_branding import stub_path as branding_stub_path
from test_build import TOOL, minimal_pe

PASSWORD = "pfx-S3cret-\u00e9t\u00e9"

CA_CONFIG = """
[ ca ]
default_ca = testca
[ testca ]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
unique_subject = no
[ anything ]
commonName = supplied
[ codesign ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[ server ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
[ tsa_ext ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = tsaserial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
[ req ]
distinguished_name = dn
[ dn ]
[ v3_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
"""


def have_tools():
    return all(shutil.which(t) for t in ("openssl", "osslsigncode"))


class TestCA:
    """A CA in directory, and leaf certificates it issues."""

    def __init__(self, directory, name):
        self.dir = os.path.join(directory, name)
        os.makedirs(self.dir)
        with open(os.path.join(self.dir, "ca.cnf"), "w") as f:
            f.write(CA_CONFIG)
        open(os.path.join(self.dir, "index.txt"), "w").close()
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("01\n")
        self.cert = self.path("ca.pem")
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                     "-subj", "/CN=" + name, "-keyout", "ca.key", "-out", "ca.pem",
                     "-config", "ca.cnf", "-extensions", "v3_ca")

    def path(self, name):
        return os.path.join(self.dir, name)

    def openssl(self, *args, env=None):
        subprocess.run(["openssl"] + list(args), cwd=self.dir, check=True, env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def issue(self, name, extensions="codesign", dates=("-days", "10")):
        """Returns (certificate, key) of a new leaf."""
        self.openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name,
                     "-keyout", name + ".key", "-out", name + ".csr")
        self.openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
                     "-in", name + ".csr", "-out", name + ".pem", "-notext",
                     "-extensions", extensions, *dates)
        return self.path(name + ".pem"), self.path(name + ".key")

    def pkcs12(self, name, password):
        cert, key = self.issue(name)
        env = dict(os.environ, PFX_PASSWORD=password)
        self.openssl("pkcs12", "-export", "-in", cert, "-inkey", key, "-certfile", self.cert,
                     "-passout", "env:PFX_PASSWORD", "-out", name + ".pfx", env=env)
        return self.path(name + ".pfx")


class TimeStampServer:
    """An RFC 3161 time stamp authority on 127.0.0.1 for a few requests:
    openssl ts answers each query with a reply signed by a TSA certificate
    of ca."""

    def __init__(self, ca):
        ca_dir = ca.dir
        with open(ca.path("tsaserial"), "w") as f:
            f.write("01\n")
        signer, key = ca.issue("tsa", extensions="tsa_ext")

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                reply = subprocess.run(
                    ["openssl", "ts", "-reply", "-config", "ca.cnf", "-queryfile", "/dev/stdin",
                     "-signer", signer, "-inkey", key, "-chain", "ca.pem", "-out", "/dev/stdout"],
                    cwd=ca_dir, input=query, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                self.send_response(200 if reply.returncode == 0 else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply.stdout)))
                self.end_headers()
                self.wfile.write(reply.stdout)

            def log_message(self, *args):
                pass

        self.server = HTTPServer(("127.0.0.1", 0), Handler)
        self.server.timeout = 60
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.handle_request)
        self.thread.start()

    def close(self):
        self.thread.join(120)
        self.server.server_close()


def osslsigncode_verify(path, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


@unittest.skipIf(IS_WINDOWS_BUILD, "osslsigncode and openssl run on the build host, not under Wine")
class Signing(SeaTestCase):
    """The Linux sea-build signing and verifying installers."""

    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="sea-keys-", dir=BUILD_DIR or None)
        if not have_tools():
            return
        cls.ca = TestCA(cls.keys, "Test CA")
        cls.other_ca = TestCA(cls.keys, "Other CA")
        cls.good = cls.ca.issue("vendor")
        cls.expired = cls.ca.issue("expired", dates=("-startdate", "20200101000000Z",
                                                     "-enddate", "20200201000000Z"))
        cls.server = cls.ca.issue("server", extensions="server")
        cls.stranger = cls.other_ca.issue("stranger")
        cls.pfx = cls.ca.pkcs12("vendor-pfx", PASSWORD)
        # The certificate as a PKCS#7 file (.spc), which osslsigncode reads
        # and openssl x509 does not.
        cls.spc = os.path.join(cls.keys, "vendor.spc")
        cls.ca.openssl("crl2pkcs7", "-nocrl", "-certfile", cls.good[0], "-outform", "DER",
                       "-out", cls.spc)
        cls.password_file = os.path.join(cls.keys, "vendor.pass")
        with open(cls.password_file, "w", encoding="utf-8") as f:
            f.write(PASSWORD + "\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)

    def setUp(self):
        if not TOOL:
            self.skipTest("SEA_BUILD_TOOL is not set (run through ctest)")
        if not have_tools():
            self.skipTest("openssl or osslsigncode is not installed")
        super().setUp()
        self.stub = os.path.join(self.scratch, "stub.exe")
        with open(self.stub, "wb") as f:
            f.write(minimal_pe())
        self.tree = os.path.join(self.scratch, "tree")
        os.makedirs(os.path.join(self.tree, "Windows"))
        with open(os.path.join(self.tree, "Windows", "setup.exe"), "wb") as f:
            f.write(b"MZ launcher stand-in")
        with open(os.path.join(self.tree, "data.bin"), "wb") as f:
            f.write(os.urandom(50000))

    def tool(self, args, env=None, timeout=300):
        environment = dict(os.environ)
        environment.update(env or {})
        return subprocess.run([TOOL] + list(args), cwd=self.scratch, env=environment,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)

    def build(self, out, *signing, env=None):
        return self.tool([self.tree, "-o", out, "--stub", self.stub, "-q"] + list(signing), env=env)

    def verify(self, path, ca=None):
        result = self.tool(["--verify", path] + (["--ca", ca] if ca else []))
        text = (result.stdout + result.stderr).decode("utf-8", "replace")
        self.assertEqual(text.count("\n"), 1, "not one verdict line: " + text)
        return result.returncode, text

    def assert_clean_failure(self, result, out, text):
        stderr = result.stderr.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 1, stderr)
        self.assertIn(text, stderr)
        self.assertTrue(stderr.startswith("sea-build: "), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertNotIn(PASSWORD, stderr + result.stdout.decode("utf-8", "replace"))
        leftovers = [n for n in os.listdir(self.scratch) if n.startswith(os.path.basename(out))]
        self.assertEqual(leftovers, [], "output or temporary file left behind")

    def test_pem_and_pkcs12_signatures_verify(self):
        ways = {
            "pem.exe": (["--sign"] + list(self.good), None),
            "spc.exe": (["--sign", self.spc, self.good[1]], None),
            "pfx-file.exe": (["--pkcs12", self.pfx, "--password-file", self.password_file], None),
            "pfx-env.exe": (["--pkcs12", self.pfx, "--password-env", "VENDOR_PASS",
                             "--sign-name", "Vendor App", "--sign-url", "https://example.com/"],
                            {"VENDOR_PASS": PASSWORD}),
        }
        real_stub = branding_stub_path()
        if real_stub:
            # Branding needs a real stub (the minimal one has no resources):
            # sign a branded installer too.
            ways["branded.exe"] = (["--stub", real_stub, "--allow-pe32plus", "--version-info",
                                    "ProductName=Vendor App", "--pkcs12", self.pfx,
                                    "--password-file", self.password_file], None)
        for name, (args, env) in ways.items():
            with self.subTest(name):
                out = os.path.join(self.scratch, name)
                result = self.build(out, *args, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                check = osslsigncode_verify(out, self.ca.cert)
                self.assertEqual(check.returncode, 0, check.stdout.decode("utf-8", "replace"))
                code, text = self.verify(out, self.ca.cert)
                self.assertEqual(code, 0, text)
                self.assertRegex(text, r"^OK: .*: 2 entries, every CRC-32 matches.*CN ?= ?vendor")
                with zipfile.ZipFile(out) as z:
                    self.assertIsNone(z.testzip())
                with open(out, "rb") as f:
                    self.assertNotIn(PASSWORD.encode("utf-8"), f.read())
        described = osslsigncode_verify(os.path.join(self.scratch, "pfx-env.exe"), self.ca.cert)
        self.assertIn(b"Vendor App", described.stdout)
        self.assertIn(b"https://example.com/", described.stdout)

    def test_time_stamp_from_an_rfc3161_server(self):
        server = TimeStampServer(self.ca)
        out = os.path.join(self.scratch, "stamped.exe")
        try:
            result = self.build(out, "--pkcs12", self.pfx, "--password-file", self.password_file,
                                "--timestamp", server.url)
        finally:
            server.close()
        self.assertEqual(result.returncode, 0, result.stderr)
        code, text = self.verify(out, self.ca.cert)
        self.assertEqual(code, 0, text)
        self.assertIn("time-stamped ", text)
        check = subprocess.run(["osslsigncode", "verify", "-CAfile", self.ca.cert, "-TSA-CAfile",
                                self.ca.cert, "-in", out], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
        self.assertIn(b"Timestamp Server Signature verification: ok", check.stdout)

    def test_verify_names_what_is_wrong(self):
        signed = os.path.join(self.scratch, "signed.exe")
        self.assertEqual(self.build(signed, "--sign", *self.good).returncode, 0)
        with open(signed, "rb") as f:
            data = f.read()
        with zipfile.ZipFile(signed) as z:
            info = z.getinfo("data.bin")
        data_start = info.header_offset + 30 + len("data.bin")

        def variant(name, content):
            path = os.path.join(self.scratch, name)
            with open(path, "wb") as f:
                f.write(content)
            return path

        damaged = bytearray(data)
        damaged[data_start + 1000] ^= 0x55
        unsigned = os.path.join(self.scratch, "unsigned.exe")
        self.assertEqual(self.build(unsigned).returncode, 0)
        with open(unsigned, "rb") as f:
            unsigned_data = f.read()
        stranger = os.path.join(self.scratch, "stranger.exe")
        self.assertEqual(self.build(stranger, "--sign", *self.stranger).returncode, 0)
        cases = [
            (variant("damaged.exe", bytes(damaged)), "the payload is damaged: entry data.bin"),
            (variant("cut.exe", data[:-500]), "the file is truncated: its signature should end 500"),
            (variant("cut-unsigned.exe", unsigned_data[:len(unsigned_data) // 2]),
             "the file is truncated or is no installer"),
            (variant("cut-trailer.exe", unsigned_data[:-4]), "the file is truncated: it ends 4 bytes"),
            (stranger, "the signature's certificate does not verify against " + self.ca.cert +
             ": unable to get local issuer certificate"),
            (unsigned, "not signed (2 entries, every CRC-32 matches)"),
        ]
        for path, expected in cases:
            with self.subTest(os.path.basename(path)):
                code, text = self.verify(path, self.ca.cert)
                self.assertEqual(code, 1, text)
                self.assertIn("FAILED: " + path + ": " + expected, text)
        # A byte of the stub changed after signing: every CRC still matches.
        tampered = bytearray(data)
        tampered[0x300] ^= 0x01
        code, text = self.verify(variant("tampered.exe", bytes(tampered)), self.ca.cert)
        self.assertEqual(code, 1)
        self.assertIn("changed after signing", text)
        code, text = self.verify(stranger, self.other_ca.cert)
        self.assertEqual(code, 0, text)

    def test_signing_failures_leave_nothing_behind(self):
        wrong = os.path.join(self.scratch, "wrong.pass")
        with open(wrong, "w") as f:
            f.write("not-the-password\n")
        out = os.path.join(self.scratch, "setup.exe")
        cases = [
            (["--pkcs12", self.pfx, "--password-file", wrong], {}, "wrong password"),
            (["--pkcs12", self.pfx], {}, "needs a password"),
            (["--pkcs12", self.pfx, "--password-env", "NO_SUCH_VARIABLE_SET"], {}, "is not set"),
            (["--sign", self.good[0], os.path.join(self.scratch, "missing.key")], {},
             "cannot read " + os.path.join(self.scratch, "missing.key")),
            (["--sign", self.good[0], self.server[1]], {}, "consistency of a private key"),
            (["--sign"] + list(self.expired), {}, "expired on Feb  1 00:00:00 2020 GMT"),
            (["--sign"] + list(self.server), {}, "not meant for code signing"),
            (["--sign"] + list(self.good), {"PATH": self.path_without("osslsigncode")},
             "osslsigncode was not found on PATH"),
            (["--pkcs12", self.pfx, "--password-file", self.password_file, "--timestamp",
              "http://127.0.0.1:%d/" % self.closed_port()], {}, "failed"),
        ]
        for args, env, expected in cases:
            with self.subTest(expected):
                result = self.build(out, *args, env=env)
                self.assert_clean_failure(result, out, expected)

    def test_silent_time_stamp_server_is_given_up_and_the_password_stays_off_the_process_list(self):
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)  # accepts connections, never answers
        url = "http://127.0.0.1:%d/" % listener.getsockname()[1]
        out = os.path.join(self.scratch, "setup.exe")
        seen = []
        done = threading.Event()

        def watch():
            while not done.is_set():
                for pid in os.listdir("/proc"):
                    try:
                        with open("/proc/%s/cmdline" % pid, "rb") as f:
                            seen.append(f.read())
                    except OSError:
                        pass
                time.sleep(0.05)

        watcher = threading.Thread(target=watch)
        watcher.start()
        try:
            started = time.monotonic()
            result = self.build(out, "--pkcs12", self.pfx, "--password-env", "VENDOR_PASS",
                                "--timestamp", url, "--timestamp-timeout", "3",
                                env={"VENDOR_PASS": PASSWORD})
            elapsed = time.monotonic() - started
        finally:
            done.set()
            watcher.join()
            listener.close()
        self.assert_clean_failure(result, out, "did not answer within 3 seconds")
        self.assertLess(elapsed, 120)
        lines = b"\n".join(seen)
        self.assertIn(b"osslsigncode", lines, "the watcher never saw osslsigncode run")
        self.assertNotIn(PASSWORD.encode("utf-8"), lines)

    def test_password_file_inside_the_tree_is_not_packed(self):
        inside = os.path.join(self.tree, "vendor.pass")
        shutil.copy(self.password_file, inside)
        out = os.path.join(self.scratch, "setup.exe")
        result = self.build(out, "--pkcs12", self.pfx, "--password-file", inside)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"left out", result.stderr)
        with zipfile.ZipFile(out) as z:
            self.assertNotIn("vendor.pass", z.namelist())
        with open(out, "rb") as f:
            self.assertNotIn(PASSWORD.encode("utf-8"), f.read())

    def test_keys_are_left_out_however_their_paths_are_spelled(self):
        """The key, certificate and password files are known by which files
        they are: the tree through a link, ".." in a path, a folder link in
        the tree leading to them, or hard links to them pack nothing of
        them."""

        def through_link(base):
            os.symlink("t", os.path.join(base, "tlink"))
            return "tlink", "t/keys"

        def folder_link(base):
            os.symlink(os.path.join("..", "secure"), os.path.join(base, "t", "conf"))
            return "t", "secure"

        def hard_links(base):
            for name in ("key.pem", "pass.txt", "cert.pem"):
                os.link(os.path.join(base, "secure", name), os.path.join(base, "t", name + ".bak"))
            return "t", "secure"

        cases = {
            "the tree through a link": through_link,
            "'..' in the paths": lambda base: ("t", "t/Windows/../keys"),
            "a folder link in the tree": folder_link,
            "hard links in the tree": hard_links,
        }
        with open(self.good[1], "rb") as f:
            key_line = f.read().splitlines()[1]
        for number, (name, arrange) in enumerate(cases.items()):
            with self.subTest(name):
                base = os.path.join(self.scratch, "case%d" % number)
                for folder in ("t/keys", "t/Windows", "secure"):
                    os.makedirs(os.path.join(base, folder))
                with open(os.path.join(base, "t", "Windows", "setup.exe"), "wb") as f:
                    f.write(b"MZ launcher stand-in")
                for folder in ("t/keys", "secure"):
                    shutil.copy(self.good[0], os.path.join(base, folder, "cert.pem"))
                    shutil.copy(self.good[1], os.path.join(base, folder, "key.pem"))
                    shutil.copy(self.password_file, os.path.join(base, folder, "pass.txt"))
                source, keys = arrange(base)
                if keys == "secure":
                    shutil.rmtree(os.path.join(base, "t", "keys"))
                out = os.path.join(base, "s4.exe")
                result = subprocess.run(
                    [TOOL, source, "-o", out, "--stub", self.stub, "-q", "--sign",
                     keys + "/cert.pem", keys + "/key.pem", "--password-file", keys + "/pass.txt"],
                    cwd=base, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr.count(b"left out (a signing key"), 3, result.stderr)
                listing = self.tool(["--list", out]).stdout.decode("utf-8", "replace")
                self.assertIn("Windows/setup.exe", listing)
                self.assertIn(" 1 entries", listing)
                with open(out, "rb") as f:
                    packed = f.read()
                self.assertNotIn(key_line, packed)
                self.assertNotIn(PASSWORD.encode("utf-8"), packed)

    def path_without(self, program):
        """A PATH holding every program of this one except program."""
        bin_dir = os.path.join(self.scratch, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        for name in ("openssl",):
            os.symlink(shutil.which(name), os.path.join(bin_dir, name))
        self.assertIsNone(shutil.which(program, path=bin_dir))
        return bin_dir

    @staticmethod
    def closed_port():
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        return port


def man_page_examples():
    """The shell commands of the manual page's EXAMPLES section."""
    with open(os.path.join(SOURCE_DIR, "packaging", "sea-build.1"), encoding="utf-8") as f:
        text = f.read()
    section = text[text.index(".SH EXAMPLES"):]
    section = section[:section.index("\n.SH ", 1)]
    commands = []
    for block in re.findall(r"\.nf\n\.RS\n(.*?)\n\.RE\n\.fi", section, re.S):
        block = block.replace("\\-", "-").replace("\\e\n", "\\\n").replace("\\e", "\\")
        commands.append(block)
    return commands


@unittest.skipIf(IS_WINDOWS_BUILD, "the package is built for Linux")
class InstalledTree(SeaTestCase):
    """cmake --install into a scratch prefix: sea-build finds the stub in
    lib/quillora-sea without --stub, and the manual page's examples run."""

    def test_manual_page_examples_run(self):
        if not TOOL or not have_tools():
            self.skipTest("needs sea-build, openssl and osslsigncode")
        prefix = os.path.join(self.scratch, "usr")
        installed = subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(installed.returncode, 0, installed.stdout)
        stub = os.path.join(prefix, "lib", "quillora-sea", "sea.exe")
        if not os.path.exists(stub):  # no Windows build beside this one: a stand-in
            with open(stub, "wb") as f:
                f.write(minimal_pe())
        self.assertTrue(os.path.exists(os.path.join(prefix, "share", "man", "man1", "sea-build.1.gz")))
        work = os.path.join(self.scratch, "work")
        os.makedirs(os.path.join(work, "myapp", "Windows"))
        with open(os.path.join(work, "myapp", "Windows", "setup.exe"), "wb") as f:
            f.write(b"MZ launcher stand-in")
        # What the examples take as given: a vendor's PKCS#12 file and its password.
        ca = TestCA(self.scratch, "Example CA")
        shutil.copy(ca.pkcs12("vendor", PASSWORD), os.path.join(work, "vendor.pfx"))
        with open(os.path.join(work, "vendor.pass"), "w", encoding="utf-8") as f:
            f.write(PASSWORD + "\n")
        examples = man_page_examples()
        self.assertGreaterEqual(len(examples), 3)
        env = dict(os.environ, PATH=os.path.join(prefix, "bin") + os.pathsep + os.environ["PATH"])
        for script in examples:
            with self.subTest(script.splitlines()[0]):
                result = subprocess.run(["bash", "-e", "-c", script], cwd=work, env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                self.assertEqual(result.returncode, 0, result.stdout.decode("utf-8", "replace"))
        # Signing rewrote the header's checksum and certificate table entry;
        # the sections behind the header are the installed stub's.
        with open(os.path.join(work, "setup.exe"), "rb") as f, open(stub, "rb") as s:
            image = s.read()
            self.assertEqual(f.read(len(image))[0x400:], image[0x400:])


@unittest.skipUnless(IS_WINDOWS_BUILD and have_tools(),
                     "needs the Windows self-extractor under Wine, openssl and osslsigncode")
class SignedUnderWine(InstallerTestCase):
    """Installers signed with a PEM key and with a PKCS#12 key (osslsigncode
    on the host, as sea-build --sign runs it) extract and start their
    launcher in silent and in GUI mode."""

    def test_signed_installers_run_silent_and_gui(self):
        ca = TestCA(self.scratch, "Wine CA")
        cert, key = ca.issue("vendor")
        pfx = ca.pkcs12("vendor-pfx", PASSWORD)
        password = os.path.join(self.scratch, "pass")
        with open(password, "w", encoding="utf-8") as f:
            f.write(PASSWORD)
        launcher = os.environ["SEA_LAUNCHER"]
        with open(launcher, "rb") as f:
            entries = [("Windows/install.exe", f.read()), ("Windows/exitcode.txt", b"7")]
        unsigned = os.path.join(self.scratch, "unsigned.exe")
        build_installer(SEA_EXE, unsigned, zip_bytes(entries))
        signers = {"pem": ["-certs", cert, "-key", key],
                   "pfx": ["-pkcs12", pfx, "-readpass", password]}
        modes = [["-i", "silent"]]
        if os.environ.get("DISPLAY"):
            modes.append([])  # the GUI run mode: the progress dialog
        for name, args in signers.items():
            out = os.path.join(self.scratch, name, "install.exe")
            os.makedirs(os.path.dirname(out))
            subprocess.run(["osslsigncode", "sign"] + args + ["-in", unsigned, "-out", out],
                           check=True, stdout=subprocess.DEVNULL)
            self.assertEqual(osslsigncode_verify(out, ca.cert).returncode, 0)
            for mode in modes:
                with self.subTest(signer=name, mode=mode or "gui"):
                    temp = os.path.join(self.scratch, name + "-" + (mode[-1] if mode else "gui"))
                    os.makedirs(temp)
                    result = self.run_sea(mode + ["-tempdir", host_to_program_path(temp)], exe=out)
                    self.assertEqual(exit_status(result.returncode), 7, result.stderr)
                    work = [d for d in os.listdir(temp) if d.startswith("I")]
                    self.assertEqual(len(work), 1, os.listdir(temp))


if __name__ == "__main__":
    unittest.main(verbosity=2)
