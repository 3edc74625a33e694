"""Signing the way vendors sign today: a key generated inside a SoftHSM2
token made here (PKCS#11, osslsigncode's pkcs11 engine), a signing command
of the vendor's own (--sign-command) and its refusals, and reproducible
signed installers from a detached signature (--extract-signature,
--attach-signature). The Linux classes run any sea-build named by
SEA_BUILD_TOOL (the Debian package's too); under Wine the signed installers
run, and sea-build.exe signs through cmd."""
import os
import shutil
import struct
import subprocess
import tempfile
import threading
import time
import unittest

from seatest import (BUILD_DIR, IS_WINDOWS_BUILD, SEA_EXE, RUNNER, InstallerTestCase,
                     exit_status, host_to_program_path)
from test_build import minimal_pe
from test_signing import TestCA, TimeStampServer, osslsigncode_verify

TOOL = os.environ.get("SEA_BUILD_TOOL", "")
HOST_TOOL = os.environ.get("SEA_HOST_BUILD_TOOL", "") if IS_WINDOWS_BUILD else TOOL
PIN = "t0ken-PIN-4711"
MODULE_CANDIDATES = ("/usr/lib/softhsm/libsofthsm2.so",
                     "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so")
EPOCH = "1700000000"
LAUNCHER = "Windows\\setup.exe"


def sound_pe():
    """The builder's minimal test image with the alignments and image size
    a linker writes, which the self-extractor's certificate-table rules
    require of a signed file's headers."""
    image = bytearray(minimal_pe())
    optional = 64 + 4 + 20
    struct.pack_into("<II", image, optional + 32, 0x1000, 0x200)  # section, file alignment
    struct.pack_into("<I", image, optional + 56, 0x2000)           # SizeOfImage
    return bytes(image)


def softhsm_module():
    return next((m for m in MODULE_CANDIDATES if os.path.exists(m)), None)


def have_token_tools():
    return bool(softhsm_module() and shutil.which("softhsm2-util") and shutil.which("pkcs11-tool")
                and shutil.which("openssl") and shutil.which("osslsigncode"))


class SoftHsmToken:
    """A SoftHSM2 token in directory with its own configuration: an RSA key
    generated inside it and the certificate ca issues for that key,
    stored beside it under the same label."""

    def __init__(self, directory, ca, label="vendor"):
        self.module = softhsm_module()
        self.dir = os.path.join(directory, "softhsm")
        os.makedirs(os.path.join(self.dir, "tokens"))
        self.conf = os.path.join(self.dir, "softhsm2.conf")
        with open(self.conf, "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n"
                    % os.path.join(self.dir, "tokens"))
        self.env = dict(os.environ, SOFTHSM2_CONF=self.conf)
        self.run("softhsm2-util", "--init-token", "--free", "--label", "sea test",
                 "--pin", PIN, "--so-pin", "so-" + PIN)
        self.pkcs11_tool("--keypairgen", "--key-type", "rsa:2048", "--label", label, "--id", "01")
        # A certificate request signed inside the token, through the engine.
        engine_conf = os.path.join(self.dir, "openssl.cnf")
        with open(engine_conf, "w") as f:
            f.write("openssl_conf = init\n[init]\nengines = engines\n[engines]\n"
                    "pkcs11 = pkcs11_section\n[pkcs11_section]\nengine_id = pkcs11\n"
                    "MODULE_PATH = %s\ninit = 0\n[req]\ndistinguished_name = dn\n[dn]\n"
                    % self.module)
        csr = os.path.join(ca.dir, label + ".csr")
        self.run("openssl", "req", "-new", "-engine", "pkcs11", "-keyform", "engine",
                 "-key", self.uri(label, "private") + ";pin-value=" + PIN,
                 "-subj", "/CN=" + label, "-out", csr,
                 env=dict(self.env, OPENSSL_CONF=engine_conf))
        ca.openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
                   "-in", csr, "-out", label + ".pem", "-notext", "-extensions", "codesign",
                   "-days", "10")
        self.cert_file = ca.path(label + ".pem")
        der = ca.path(label + ".der")
        ca.openssl("x509", "-in", self.cert_file, "-outform", "DER", "-out", der)
        self.pkcs11_tool("--write-object", der, "--type", "cert", "--label", label, "--id", "01")
        self.key = self.uri(label, "private")
        self.cert = self.uri(label, "cert")
        self.pin_file = os.path.join(self.dir, "pin")
        with open(self.pin_file, "w") as f:
            f.write(PIN + "\n")

    @staticmethod
    def uri(label, kind):
        return "pkcs11:token=sea%%20test;object=%s;type=%s" % (label, kind)

    def run(self, *command, env=None):
        result = subprocess.run(list(command), env=env or self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        assert result.returncode == 0, result.stdout.decode("utf-8", "replace")

    def pkcs11_tool(self, *args):
        self.run("pkcs11-tool", "--module", self.module, "--token-label", "sea test", "--login",
                 "--pin", PIN, *args)

    def osslsigncode_sign(self, unsigned, signed, *extra):
        """Signs as a vendor would after the build: osslsigncode on the token."""
        result = subprocess.run(
            ["osslsigncode", "sign", "-pkcs11module", self.module, "-certs", self.cert_file,
             "-key", self.key, "-readpass", self.pin_file, *extra, "-in", unsigned, "-out", signed],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        assert result.returncode == 0 and os.path.exists(signed), result.stdout


def watch_command_lines(done, seen):
    """Collects every process's command line until done is set (once when
    it is set already)."""
    while True:
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    seen.append(f.read())
            except OSError:
                pass
        if done.is_set():
            return
        time.sleep(0.02)


class TokenTestCase(unittest.TestCase):
    """A CA, a token and a tree to pack, made once per class."""

    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="sea-token-", dir=BUILD_DIR or None)
        if not have_token_tools():
            return
        cls.ca = TestCA(cls.keys, "Token CA")
        cls.token = SoftHsmToken(cls.keys, cls.ca)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)

    def setUp(self):
        if not have_token_tools():
            self.skipTest("needs softhsm2, opensc (pkcs11-tool), openssl and osslsigncode")
        self.scratch = tempfile.mkdtemp(prefix="sea-token-", dir=BUILD_DIR or None)
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.stub = os.path.join(self.scratch, "stub.exe")
        with open(self.stub, "wb") as f:
            f.write(sound_pe())
        self.tree = self.make_tree("tree")

    def make_tree(self, name, extra=b""):
        tree = os.path.join(self.scratch, name)
        os.makedirs(os.path.join(tree, "Windows"))
        with open(os.path.join(tree, "Windows", "setup.exe"), "wb") as f:
            f.write(b"MZ launcher stand-in")
        with open(os.path.join(tree, "data.bin"), "wb") as f:
            f.write(bytes(range(256)) * 300 + extra)
        return tree

    def tool(self, args, env=None, timeout=300, tool=None):
        environment = dict(self.token.env, SOURCE_DATE_EPOCH=EPOCH)
        environment.update(env or {})
        return subprocess.run([tool or TOOL] + list(args), cwd=self.scratch, env=environment,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)

    def build(self, out, *signing, tree=None, env=None, timeout=300, tool=None):
        return self.tool([tree or self.tree, "-o", out, "--stub", self.stub, "-q",
                          "--launcher", LAUNCHER] + list(signing), env=env, timeout=timeout,
                         tool=tool)

    def assert_refused(self, result, out, text, earlier=None):
        """Exit 1, one line naming text, no new file; an earlier installer
        at out keeps its bytes."""
        stderr = result.stderr.decode("utf-8", "replace")
        self.assertEqual(result.returncode, 1, stderr)
        self.assertIn(text, stderr)
        self.assertTrue(stderr.startswith("sea-build: "), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertNotIn(PIN, stderr)
        leftovers = [n for n in os.listdir(os.path.dirname(out))
                     if n.startswith(os.path.basename(out)) and n != os.path.basename(out)]
        self.assertEqual(leftovers, [], "temporary files left behind")
        if earlier is None:
            self.assertFalse(os.path.exists(out), "an output file was written")
        else:
            with open(out, "rb") as f:
                self.assertEqual(f.read(), earlier, "the earlier installer was changed")


@unittest.skipIf(IS_WINDOWS_BUILD or not TOOL, "the Linux sea-build (SEA_BUILD_TOOL)")
class Pkcs11Token(TokenTestCase):

    def test_token_signature_verifies_and_the_pin_stays_off_every_command_line(self):
        seen, done = [], threading.Event()
        watcher = threading.Thread(target=watch_command_lines, args=(done, seen))
        watcher.start()
        try:
            results = {}
            for name, cert in (("uri.exe", self.token.cert), ("file.exe", self.token.cert_file)):
                out = os.path.join(self.scratch, name)
                results[out] = self.build(out, "--sign", cert, self.token.key, "--pkcs11-module",
                                          self.token.module, "--password-file",
                                          self.token.pin_file)
            env_out = os.path.join(self.scratch, "env.exe")
            results[env_out] = self.build(env_out, "--sign", self.token.cert, self.token.key,
                                          "--pkcs11-module", self.token.module,
                                          "--password-env", "TOKEN_PIN", env={"TOKEN_PIN": PIN})
        finally:
            done.set()
            watcher.join()
        lines = b"\n".join(seen)
        self.assertIn(b"osslsigncode", lines, "the watcher never saw osslsigncode run")
        self.assertIn(b"-pkcs11module", lines)
        self.assertNotIn(PIN.encode(), lines)
        for out, result in results.items():
            with self.subTest(os.path.basename(out)):
                self.assertEqual(result.returncode, 0, result.stderr)
                check = osslsigncode_verify(out, self.ca.cert)
                self.assertEqual(check.returncode, 0, check.stdout.decode("utf-8", "replace"))
                verdict = self.tool(["--verify", out, "--ca", self.ca.cert])
                self.assertEqual(verdict.returncode, 0, verdict.stderr)
                self.assertIn(b"signature by", verdict.stdout)
                self.assertIn(b"vendor", verdict.stdout)
                with open(out, "rb") as f:
                    self.assertNotIn(PIN.encode(), f.read())

    def test_token_failures_are_one_clear_line(self):
        wrong_pin = os.path.join(self.scratch, "wrong.pin")
        with open(wrong_pin, "w") as f:
            f.write("not-the-pin\n")
        out = os.path.join(self.scratch, "setup.exe")
        pin = ["--password-file", self.token.pin_file]
        module = ["--pkcs11-module", self.token.module]
        cases = [
            (["--sign", self.token.cert, self.token.key, "--password-file", wrong_pin] + module,
             "the token refused the PIN"),
            (["--sign", self.token.cert, self.token.key] + module, "the token needs a PIN"),
            (["--sign", self.token.cert, self.token.uri("nothing", "private")] + module + pin,
             "the token holds no private key pkcs11:token=sea%20test;object=nothing"),
            (["--sign", self.token.uri("nothing", "cert"), self.token.key] + module + pin,
             "the token holds no certificate pkcs11:token=sea%20test;object=nothing"),
            (["--sign", self.token.cert, self.token.key, "--pkcs11-module",
              os.path.join(self.scratch, "missing.so")] + pin,
             "cannot read the PKCS#11 module " + os.path.join(self.scratch, "missing.so")),
            (["--sign", self.token.cert, self.token.key, "--pkcs11-module", self.stub] + pin,
             "cannot load the PKCS#11 module " + self.stub),
        ]
        with open(self.stub, "rb") as f:
            earlier = f.read()
        for args, expected in cases:
            for existing in (None, earlier):
                with self.subTest(expected, earlier_installer=existing is not None):
                    if existing is not None:
                        with open(out, "wb") as f:
                            f.write(existing)
                    self.assert_refused(self.build(out, *args), out, expected, existing)
                    if os.path.exists(out):
                        os.remove(out)

    def test_a_token_uri_needs_the_module(self):
        result = self.build(os.path.join(self.scratch, "x.exe"), "--sign", self.token.cert,
                            self.token.key)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"--pkcs11-module", result.stderr)

    def test_a_uri_holding_the_pin_is_refused_and_the_pin_shown_nowhere(self):
        out = os.path.join(self.scratch, "x.exe")
        for attribute in ("pin-value=" + PIN, "PIN-SOURCE=file:" + self.token.pin_file):
            for cert, key in ((self.token.cert, self.token.key + ";" + attribute),
                              (self.token.cert + "?" + attribute, self.token.key)):
                with self.subTest(cert=cert, key=key):
                    result = self.build(out, "--sign", cert, key, "--pkcs11-module",
                                        self.token.module)
                    self.assertEqual(result.returncode, 2, result.stderr)
                    self.assertIn(b"--password-file", result.stderr)
                    self.assertNotIn(PIN.encode(), result.stdout + result.stderr)
                    self.assertNotIn(self.token.pin_file.encode(), result.stderr)
                    self.assertFalse(os.path.exists(out))


@unittest.skipIf(IS_WINDOWS_BUILD or not TOOL, "the Linux sea-build (SEA_BUILD_TOOL)")
class SignCommand(TokenTestCase):

    def signer_command(self, then=""):
        """osslsigncode on the token as the vendor's own tool: signs {} into
        a second file and moves it back."""
        return ("osslsigncode sign -pkcs11module '%s' -certs '%s' -key '%s' -readpass '%s' "
                "-in {} -out {}.signed >/dev/null && mv {}.signed {}%s"
                % (self.token.module, self.token.cert_file, self.token.key, self.token.pin_file,
                   then))

    def test_signing_command_result_is_checked_and_kept(self):
        out = os.path.join(self.scratch, "setup 'quoted' $HOME.exe")
        result = self.build(out, "--sign-command", self.signer_command())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(osslsigncode_verify(out, self.ca.cert).returncode, 0)
        verdict = self.tool(["--verify", out, "--ca", self.ca.cert])
        self.assertEqual(verdict.returncode, 0, verdict.stderr)
        # The same bytes as an unsigned build signed by hand.
        unsigned = os.path.join(self.scratch, "unsigned.exe")
        self.assertEqual(self.build(unsigned).returncode, 0)
        with open(out, "rb") as f, open(unsigned, "rb") as g:
            signed, plain = f.read(), g.read()
        pe = struct.unpack_from("<I", plain, 0x3C)[0]
        skip = {pe + 24 + 64 + i for i in range(4)} | {pe + 24 + 96 + 32 + i for i in range(8)}
        self.assertTrue(all(signed[i] == plain[i] for i in range(len(plain)) if i not in skip))

    def test_placeholder_in_the_vendors_quotes_is_refused_and_runs_nothing(self):
        """An output folder whose name holds $(...) and `...`: a {} the
        vendor put in quotes is refused before anything runs; written bare,
        the same folder signs and nothing in its name runs."""
        folder = os.path.join(self.scratch, "o it's $(touch PWNED1) `touch PWNED2`")
        os.makedirs(folder)
        out = os.path.join(folder, "setup.exe")
        signer = ("osslsigncode sign -pkcs11module '%s' -certs '%s' -key '%s' -readpass '%s' "
                  % (self.token.module, self.token.cert_file, self.token.key, self.token.pin_file))
        quoted = signer + '-in "{}" -out "{}.s" >/dev/null && mv "{}.s" "{}"'
        result = self.build(out, "--sign-command", quoted)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(b"write {} without quotes", result.stderr)
        self.assertEqual(os.listdir(folder), [])
        bare = signer + "-in {} -out {}.s >/dev/null && mv {}.s {}"
        result = self.build(out, "--sign-command", bare)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(osslsigncode_verify(out, self.ca.cert).returncode, 0)
        for directory, _, files in os.walk(self.scratch):
            self.assertNotIn("PWNED1", files, directory)
            self.assertNotIn("PWNED2", files, directory)

    def test_without_openssl_the_unchecked_signature_is_said(self):
        """Without openssl the signer's own signature cannot be checked:
        a warning says so, -q or not; with it there is none."""
        bin_dir = os.path.join(self.scratch, "bin")
        os.makedirs(bin_dir)
        for program in ("osslsigncode", "mv"):
            os.symlink(shutil.which(program), os.path.join(bin_dir, program))
        warning = b"openssl was not found on PATH"
        out = os.path.join(self.scratch, "setup.exe")
        result = self.build(out, "--sign-command", self.signer_command(), env={"PATH": bin_dir})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(warning, result.stderr)
        self.assertEqual(osslsigncode_verify(out, self.ca.cert).returncode, 0)
        signature = os.path.join(self.scratch, "setup.p7")
        self.assertEqual(self.tool(["--extract-signature", out, "-o", signature]).returncode, 0)
        again = os.path.join(self.scratch, "again.exe")
        result = self.build(again, "--attach-signature", signature, env={"PATH": bin_dir})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(warning, result.stderr)
        result = self.build(again, "--attach-signature", signature)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(warning, result.stderr)

    def test_a_link_left_by_the_command_is_read_never_written(self):
        """The command signs into a file of its own elsewhere, with a stale
        checksum, and leaves {} a symbolic link to it: sea-build keeps a
        file of its own with the right checksum and writes nothing through
        the link."""
        edit = os.path.join(self.scratch, "edit.py")
        with open(edit, "w") as f:
            f.write(EDIT_SCRIPT)
        elsewhere = os.path.join(self.scratch, "elsewhere.exe")
        command = ("osslsigncode sign -pkcs11module '%s' -certs '%s' -key '%s' -readpass '%s' "
                   "-in {} -out '%s' >/dev/null && '%s' '%s' checksum '%s' && ln -sf '%s' {}"
                   % (self.token.module, self.token.cert_file, self.token.key,
                      self.token.pin_file, elsewhere, shutil.which("python3"), edit, elsewhere,
                      elsewhere))
        out = os.path.join(self.scratch, "setup.exe")
        result = self.build(out, "--sign-command", command)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.islink(out))
        with open(elsewhere, "rb") as f:
            theirs = f.read()
        with open(out, "rb") as f:
            ours = f.read()
        pe = struct.unpack_from("<I", ours, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<I", theirs, pe + 24 + 64)[0], 0x12345678,
                         "sea-build wrote through the link")
        self.assertNotEqual(struct.unpack_from("<I", ours, pe + 24 + 64)[0], 0x12345678)
        self.assertEqual(ours[:pe + 88] + ours[pe + 92:], theirs[:pe + 88] + theirs[pe + 92:])
        verdict = self.tool(["--verify", out, "--ca", self.ca.cert])
        self.assertEqual(verdict.returncode, 0, verdict.stderr)

    def test_bad_signing_commands_are_refused(self):
        other_tree = self.make_tree("other", extra=b"another build")
        other_unsigned = os.path.join(self.scratch, "other-unsigned.exe")
        other_signed = os.path.join(self.scratch, "other-signed.exe")
        self.assertEqual(self.build(other_unsigned, tree=other_tree).returncode, 0)
        self.token.osslsigncode_sign(other_unsigned, other_signed)
        edit = os.path.join(self.scratch, "edit.py")
        with open(edit, "w") as f:
            f.write(EDIT_SCRIPT)
        python = "'%s' '%s'" % (shutil.which("python3"), edit)
        cases = [
            ("exit 3 # {}", "the signing command failed (exit code 3)"),
            ("sleep 600 # {}", "did not finish within 2 seconds"),
            ("cp '%s' {}" % other_signed, "refused: the certificate table starts at"),
            ("true {}", "the file was not signed"),
            ("truncate -s -100 {}", "refused: the file was changed but not signed"),
            (self.signer_command(" && %s inside {}" % python),
             "follow the signature inside the certificate table"),
            (self.signer_command(" && %s after {}" % python), "bytes follow the certificate table"),
            (self.signer_command(" && %s payload {}" % python),
             "differs from the installer built in more than its signature"),
            (self.signer_command(" && %s resign {}" % python), "the signature does not verify"),
        ]
        out = os.path.join(self.scratch, "setup.exe")
        earlier = b"an earlier installer"
        with open(out, "wb") as f:
            f.write(earlier)
        for command, expected in cases:
            with self.subTest(command):
                started = time.monotonic()
                result = self.build(out, "--sign-command", command, "--timestamp-timeout", "2",
                                    timeout=120)
                self.assertLess(time.monotonic() - started, 60)
                self.assert_refused(result, out, expected, earlier)
        time.sleep(0.5)
        seen, done = [], threading.Event()
        done.set()  # one pass over /proc
        watch_command_lines(done, seen)
        self.assertNotIn(b"sleep\x00600\x00", seen, "the hanging command was left running")


# The hostile edits a signing command makes after a correct signature.
EDIT_SCRIPT = r'''
import struct, sys, io, zipfile
what, path = sys.argv[1], sys.argv[2]
data = bytearray(open(path, "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
entry = pe + 24 + (112 if struct.unpack_from("<H", data, pe + 24)[0] == 0x20B else 96) + 32
offset, size = struct.unpack_from("<II", data, entry)
smuggled = io.BytesIO()
with zipfile.ZipFile(smuggled, "w") as z:
    z.writestr("Windows/setup.exe", b"MZ not the vendor's")
if what == "inside":      # a ZIP inside the WIN_CERTIFICATE, lengths grown
    extra = smuggled.getvalue() + b"\0" * (-len(smuggled.getvalue()) % 8)
    struct.pack_into("<II", data, entry, offset, size + len(extra))
    struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + len(extra))
    data += extra
elif what == "after":     # a ZIP after the table, the header untouched
    data += smuggled.getvalue()
elif what == "payload":   # a byte of the payload changed after signing
    data[offset - 200] ^= 0x20
elif what == "checksum":  # a signer that leaves the checksum stale
    struct.pack_into("<I", data, pe + 24 + 64, 0x12345678)
elif what == "resign":    # the signature's own bytes changed (its digest kept)
    data[offset + 8 + 300] ^= 0x01
open(path, "wb").write(bytes(data))
'''


@unittest.skipIf(IS_WINDOWS_BUILD or not TOOL, "the Linux sea-build (SEA_BUILD_TOOL)")
class DetachedSignature(TokenTestCase):

    def signed_and_extracted(self, *sign_extra):
        vendor = tempfile.mkdtemp(prefix="vendor-", dir=self.scratch)
        unsigned = os.path.join(vendor, "unsigned.exe")
        signed = os.path.join(vendor, "setup.exe")
        os.makedirs(os.path.dirname(unsigned), exist_ok=True)
        self.assertEqual(self.build(unsigned).returncode, 0)
        self.token.osslsigncode_sign(unsigned, signed, *sign_extra)
        signature = os.path.join(vendor, "setup.p7")
        result = self.tool(["--extract-signature", signed, "-o", signature])
        self.assertEqual(result.returncode, 0, result.stderr)
        by_osslsigncode = os.path.join(vendor, "osslsigncode.p7")
        subprocess.run(["osslsigncode", "extract-signature", "-in", signed, "-out",
                        by_osslsigncode], check=True, stdout=subprocess.DEVNULL)
        with open(signature, "rb") as f, open(by_osslsigncode, "rb") as g:
            ours, theirs = f.read(), g.read()
        # osslsigncode 2.5 writes the whole certificate table entry:
        # its 8-byte header, the signature and the padding.
        if theirs[:1] != b"\x30":
            theirs = theirs[8:8 + len(ours)]
        self.assertEqual(ours, theirs)
        with open(signed, "rb") as f:
            return signed, f.read(), signature, by_osslsigncode

    def rebuild(self, signature, out):
        """A clean copy of the tree with other file times, built with the
        same SOURCE_DATE_EPOCH and the detached signature."""
        copy = os.path.join(self.scratch, "clean-" + os.path.basename(out))
        shutil.copytree(self.tree, copy)
        later = time.time() + 3600
        for root, dirs, files in os.walk(copy):
            for name in dirs + files:
                os.utime(os.path.join(root, name), (later, later))
        return self.build(out, "--attach-signature", signature, tree=copy)

    def test_rebuild_with_the_detached_signature_is_the_signed_file(self):
        server = TimeStampServer(self.ca)
        try:
            stamped = self.signed_and_extracted("-ts", server.url)
        finally:
            server.close()
        plain = self.signed_and_extracted()
        cases = [("plain", plain[1], plain[2]), ("time-stamped", stamped[1], stamped[2]),
                 ("extracted by osslsigncode", plain[1], plain[3])]
        for digest in ("sha1", "sha384", "sha512"):
            signed = self.signed_and_extracted("-h", digest)
            cases.append((digest, signed[1], signed[2]))
        for name, data, signature in cases:
            with self.subTest(name):
                out = os.path.join(self.scratch, name + ".exe")
                result = self.rebuild(signature, out)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), data, "the rebuild differs from the signed file")
                verdict = self.tool(["--verify", out, "--ca", self.ca.cert])
                self.assertEqual(verdict.returncode, 0, verdict.stderr)

    def test_signature_of_other_bytes_is_refused(self):
        signature = self.signed_and_extracted()[2]
        with open(os.path.join(self.tree, "data.bin"), "ab") as f:
            f.write(b"one more byte")
        out = os.path.join(self.scratch, "setup.exe")
        self.assert_refused(self.build(out, "--attach-signature", signature), out,
                            "the signature was made for other bytes")
        # The same tree stored instead of deflated is other bytes too.
        self.assert_refused(self.build(out, "--attach-signature", signature, "-0"), out,
                            "made for other bytes")
        damaged = os.path.join(self.scratch, "damaged.p7")
        with open(signature, "rb") as f, open(damaged, "wb") as g:
            g.write(f.read()[:-40])
        self.assert_refused(self.build(out, "--attach-signature", damaged), out,
                            "no DER-encoded Authenticode signature")
        unsigned = os.path.join(self.scratch, "unsigned.exe")
        self.assertEqual(self.build(unsigned).returncode, 0)
        result = self.tool(["--extract-signature", unsigned, "-o", damaged])
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"is not signed", result.stderr)


@unittest.skipUnless(IS_WINDOWS_BUILD and have_token_tools(),
                     "needs the Windows build under Wine, softhsm2 and osslsigncode")
class TokenSignedUnderWine(InstallerTestCase, TokenTestCase):
    """A token-signed installer runs under Wine; sea-build.exe signs
    through cmd /c and attaches a detached signature."""

    setUpClass = TokenTestCase.setUpClass
    tearDownClass = TokenTestCase.tearDownClass

    def setUp(self):
        TokenTestCase.setUp(self)
        InstallerTestCase.setUp(self)
        if not HOST_TOOL or not os.path.exists(HOST_TOOL):
            self.skipTest("the Linux sea-build (SEA_HOST_BUILD_TOOL) is not built")
        with open(os.environ["SEA_LAUNCHER"], "rb") as f:
            launcher = f.read()
        shutil.rmtree(self.tree)
        self.tree = os.path.join(self.scratch, "wine-tree")
        os.makedirs(os.path.join(self.tree, "Windows"))
        with open(os.path.join(self.tree, "Windows", "setup.exe"), "wb") as f:
            f.write(launcher)
        with open(os.path.join(self.tree, "Windows", "exitcode.txt"), "wb") as f:
            f.write(b"7")
        self.stub = SEA_EXE

    def wine_build(self, out, *signing):
        args = [host_to_program_path(self.tree), "-o", host_to_program_path(out), "--stub",
                host_to_program_path(self.stub), "--allow-pe32plus", "-q", "--launcher",
                LAUNCHER] + list(signing)
        return subprocess.run([RUNNER, TOOL] + args, cwd=self.scratch,
                              env=dict(os.environ, SOURCE_DATE_EPOCH=EPOCH),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)

    def test_token_signed_installer_runs_and_windows_builder_signs(self):
        signed = os.path.join(self.scratch, "token", "setup.exe")
        os.makedirs(os.path.dirname(signed))
        result = self.build(signed, "--allow-pe32plus", "--sign", self.token.cert,
                            self.token.key, "--pkcs11-module", self.token.module,
                            "--password-file", self.token.pin_file, tool=HOST_TOOL)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(osslsigncode_verify(signed, self.ca.cert).returncode, 0)
        temp = os.path.join(self.scratch, "run")
        os.makedirs(temp)
        run = self.run_sea(["-i", "silent", "-tempdir", host_to_program_path(temp)], exe=signed)
        self.assertEqual(exit_status(run.returncode), 7, run.stderr)
        with open(signed, "rb") as f:
            data = f.read()
        # sea-build.exe: a batch command that copies the vendor's signed
        # file over {} (the same bytes, signed), and one that signs nothing.
        out = os.path.join(self.scratch, "cmd", "setup.exe")
        os.makedirs(os.path.dirname(out))
        copy = "copy /y /b %s {} >NUL" % host_to_program_path(signed)
        result = self.wine_build(out, "--sign-command", copy)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)
        os.remove(out)
        result = self.wine_build(out, "--sign-command", "echo {} >NUL")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"the file was not signed", result.stderr)
        self.assertFalse(os.path.exists(out))
        # The detached signature, extracted and attached by sea-build.exe.
        signature = os.path.join(self.scratch, "setup.p7")
        extracted = subprocess.run([RUNNER, TOOL, "--extract-signature",
                                    host_to_program_path(signed), "-o",
                                    host_to_program_path(signature)], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, timeout=300)
        self.assertEqual(extracted.returncode, 0, extracted.stderr)
        result = self.wine_build(out, "--attach-signature", host_to_program_path(signature))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), data)


if __name__ == "__main__":
    unittest.main(verbosity=2)
