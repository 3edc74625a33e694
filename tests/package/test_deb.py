"""The Debian package quillora-sea: its contents (dpkg-deb), lintian's
verdict (no errors), and, when run as root, an installation from which
sea-build is on PATH, its manual page is found and an installer is built
without --stub from the packaged 32-bit stub; removed again at the end."""
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

PACKAGE_DIR = os.environ.get("SEA_PACKAGE_DIR", "")
SOURCE_DIR = os.environ.get("SEA_SOURCE_DIR", os.path.dirname(os.path.dirname(
    os.path.dirname(os.path.abspath(__file__)))))
VERSION = os.environ.get("SEA_PACKAGE_VERSION", "")
STUB = os.environ.get("SEA_STUB_EXE", "")


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          **kwargs)


def deb_path():
    return os.path.join(PACKAGE_DIR, "quillora-sea_%s_amd64.deb" % VERSION)


class Package(unittest.TestCase):

    def setUp(self):
        if not PACKAGE_DIR or not os.path.exists(deb_path()):
            self.skipTest("no package built (run through ctest in build/package)")

    def test_contents(self):
        listing = run(["dpkg-deb", "-c", deb_path()])
        self.assertEqual(listing.returncode, 0, listing.stdout)
        entries = {}
        for line in listing.stdout.splitlines():
            fields = line.split()
            entries[fields[-1].lstrip(".")] = (fields[0], fields[1])
        expected = {
            "/usr/bin/sea-build": "-rwxr-xr-x",
            "/usr/lib/quillora-sea/sea.exe": "-rw-r--r--",
            "/usr/share/man/man1/sea-build.1.gz": "-rw-r--r--",
            "/usr/share/bash-completion/completions/sea-build": "-rw-r--r--",
            "/usr/share/doc/quillora-sea/copyright": "-rw-r--r--",
            "/usr/share/doc/quillora-sea/changelog.gz": "-rw-r--r--",
        }
        for path, mode in expected.items():
            self.assertIn(path, entries, listing.stdout)
            self.assertEqual(entries[path][0], mode, path)
            self.assertEqual(entries[path][1], "root/root", path)
        files = [p for p, (mode, _) in entries.items() if not mode.startswith("d")]
        self.assertEqual(sorted(files), sorted(expected), "files nobody asked for")
        # The packaged stub is the 32-bit product, byte for byte.
        with tempfile.TemporaryDirectory() as unpacked:
            self.assertEqual(run(["dpkg-deb", "-x", deb_path(), unpacked]).returncode, 0)
            with open(os.path.join(unpacked, "usr/lib/quillora-sea/sea.exe"), "rb") as f:
                packaged = f.read()
            with open(STUB, "rb") as f:
                self.assertEqual(packaged, f.read())
            kind = run(["file", "-b", os.path.join(unpacked, "usr/lib/quillora-sea/sea.exe")])
            self.assertIn("PE32 executable", kind.stdout)
            self.assertIn("Intel 80386", kind.stdout)
        fields = run(["dpkg-deb", "-f", deb_path(), "Package", "Version", "Architecture",
                      "Depends", "Recommends"]).stdout
        self.assertIn("Package: quillora-sea", fields)
        self.assertIn("Version: " + VERSION, fields)
        self.assertIn("Architecture: amd64", fields)
        self.assertIn("libc6", fields)
        self.assertIn("osslsigncode", fields)

    def test_lintian_reports_no_errors(self):
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed")
        result = run(["lintian", "--tag-display-limit", "0", deb_path()])
        errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], result.stdout)
        # The remaining warnings, for the record.
        print("lintian:\n" + (result.stdout.strip() or "(nothing)"))
        print("package size: %d bytes" % os.path.getsize(deb_path()))


@unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0,
                     "installing the package needs root")
class Installed(unittest.TestCase):

    def setUp(self):
        if not PACKAGE_DIR or not os.path.exists(deb_path()):
            self.skipTest("no package built (run through ctest in build/package)")
        if run(["dpkg-query", "-W", "quillora-sea"]).returncode == 0:
            self.skipTest("quillora-sea is installed on this machine already: left alone")
        self.scratch = tempfile.mkdtemp(prefix="sea-deb-")

    def tearDown(self):
        run(["dpkg", "--purge", "quillora-sea"])
        shutil.rmtree(self.scratch, ignore_errors=True)

    def test_install_use_and_remove(self):
        installed = run(["dpkg", "-i", deb_path()])
        self.assertEqual(installed.returncode, 0, installed.stdout)
        self.assertEqual(shutil.which("sea-build"), "/usr/bin/sea-build")
        if shutil.which("man"):
            page = run(["man", "-w", "sea-build"])
            self.assertEqual(page.stdout.strip(), "/usr/share/man/man1/sea-build.1.gz")
        tree = os.path.join(self.scratch, "myapp")
        os.makedirs(os.path.join(tree, "Windows"))
        with open(os.path.join(tree, "Windows", "setup.exe"), "wb") as f:
            f.write(b"MZ launcher stand-in")
        out = os.path.join(self.scratch, "setup.exe")
        built = run(["sea-build", tree, "-o", out], cwd=self.scratch)
        self.assertEqual(built.returncode, 0, built.stdout)
        with open(out, "rb") as f:
            data = f.read()
        with open(STUB, "rb") as f:
            stub = f.read()
        # The packaged stub's bytes, but for the image checksum, which covers
        # the whole installer.
        checksum_at = struct.unpack_from("<I", stub, 0x3C)[0] + 24 + 64
        self.assertEqual(data[:checksum_at] + data[checksum_at + 4:len(stub)],
                         stub[:checksum_at] + stub[checksum_at + 4:],
                         "the installer does not start with the packaged stub")
        self.assertIn("PE32 executable", run(["file", "-b", out]).stdout)
        tested = run(["sea-build", "--test", out])
        self.assertEqual(tested.returncode, 0, tested.stdout)
        removed = run(["dpkg", "--purge", "quillora-sea"])
        self.assertEqual(removed.returncode, 0, removed.stdout)
        self.assertIsNone(shutil.which("sea-build"))
        self.assertEqual(glob.glob("/usr/lib/quillora-sea*"), [])

    def test_token_command_and_detached_signing_through_the_package(self):
        """The token, signing-command and detached-signature tests, run
        against the installed /usr/bin/sea-build."""
        installed = run(["dpkg", "-i", deb_path()])
        self.assertEqual(installed.returncode, 0, installed.stdout)
        env = {k: v for k, v in os.environ.items() if k not in ("SEA_EXE", "SEA_RUNNER")}
        env.update(SEA_BUILD_TOOL="/usr/bin/sea-build", SEA_BUILD_DIR=self.scratch)
        script = os.path.join(SOURCE_DIR, "tests", "e2e", "test_token_signing.py")
        result = run([sys.executable, script, "Pkcs11Token", "SignCommand", "DetachedSignature"],
                     env=env, cwd=self.scratch)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertNotIn("skipped", result.stdout, "a signing test skipped itself")
        self.assertRegex(result.stdout, r"Ran [1-9][0-9]* tests")


if __name__ == "__main__":
    unittest.main(verbosity=2)
