"""Helpers shared by the end-to-end tests: run the program under test
(natively or through Wine) in a scratch directory and read what it wrote."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

SEA_EXE = os.environ.get("SEA_EXE", "")
RUNNER = os.environ.get("SEA_RUNNER", "")
BUILD_DIR = os.environ.get("SEA_BUILD_DIR", "")
SOURCE_DIR = os.environ.get("SEA_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
IS_WINDOWS_BUILD = SEA_EXE.lower().endswith(".exe")
LAUNCHER = os.environ.get("SEA_LAUNCHER", "")

# Environment variables that would leak the caller's settings into a run.
_SCRUB = ("RUX_DEBUG", "TMP", "TEMP", "TMPDIR")


def log_text(directory, name="sea.log"):
    """The log file's lines (line ends of either kind removed), or None."""
    path = os.path.join(directory, name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    if IS_WINDOWS_BUILD:
        # Text-mode streams on Windows end every line with CR LF.
        assert b"\n" not in data.replace(b"\r\n", b""), "bare LF in a Windows log"
        data = data.replace(b"\r\n", b"\n")
        # The log is in the ANSI code page (Windows-1252 under Wine's English locales).
        return data.decode("cp1252", errors="replace").split("\n")
    return data.decode("utf-8").split("\n")


def host_to_program_path(path):
    """A host path as the program sees it (Wine maps / to drive Z:)."""
    return "Z:" + path.replace("/", "\\") if IS_WINDOWS_BUILD else path


def launcher_bytes():
    """The test launcher, to pack into payloads."""
    with open(LAUNCHER, "rb") as f:
        return f.read()


def exit_status(code):
    """A process exit code as the host reports it (-1 arrives as 255)."""
    return code & 0xFF


def others_can_enter(path):
    """Whether every folder from path up to / lets others through."""
    path = os.path.abspath(path)
    while True:
        if not os.stat(path).st_mode & 0o001:
            return False
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent


class SeaTestCase(unittest.TestCase):
    """Gives every test a scratch directory and a way to run the program.
    A class whose tests start processes as another user sets
    scratch_for_others: its scratch then lies where others can reach it
    (the build directory, or the system's temporary folder when the
    build directory lies in a folder such as root's home)."""

    scratch_for_others = False

    def setUp(self):
        if not SEA_EXE:
            self.skipTest("SEA_EXE is not set (run through ctest)")
        root = BUILD_DIR or None
        if self.scratch_for_others and not others_can_enter(BUILD_DIR or tempfile.gettempdir()):
            root = tempfile.gettempdir()
        self.scratch = tempfile.mkdtemp(prefix="sea-e2e-", dir=root)

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def copy_program(self, name=None, directory=None):
        """A copy of the program under test, optionally renamed."""
        directory = directory or self.scratch
        os.makedirs(directory, exist_ok=True)
        target = os.path.join(directory, name or os.path.basename(SEA_EXE))
        shutil.copy2(SEA_EXE, target)
        return target

    def run_sea(self, args=(), env=None, cwd=None, exe=None, timeout=300):
        environment = {k: v for k, v in os.environ.items() if k not in _SCRUB}
        # Wine converts file names with the locale's encoding.
        if "UTF-8" not in environment.get("LANG", "") + environment.get("LC_ALL", ""):
            environment["LANG"] = "C.UTF-8"
        environment.update(env or {})
        command = ([RUNNER] if RUNNER else []) + [exe or SEA_EXE] + list(args)
        result = subprocess.run(command, cwd=cwd or self.scratch, env=environment,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout)
        return result


class InstallerTestCase(SeaTestCase):
    """Runs installers that carry the test launcher; self.temp is the
    -tempdir of their runs, in the scratch directory."""

    def setUp(self):
        super().setUp()
        if not LAUNCHER:
            self.skipTest("SEA_LAUNCHER is not set (run through ctest)")
        self.temp = os.path.join(self.scratch, "tmp")
        os.makedirs(self.temp)


def self_signed_certificate(test, directory):
    """A throw-away certificate and key (PEM) in directory; skips the test
    when openssl or osslsigncode is not installed."""
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            test.skipTest(tool + " is not installed")
    cert = os.path.join(directory, "cert.pem")
    key = os.path.join(directory, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=sea-build test", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def without_wine_lines(text):
    """text without the lines Wine itself writes to a program's standard
    error (a crash report of one of its own helper processes while a prefix
    starts, "wine: configuration ... updated", debug channel lines)."""
    own = re.compile(r"^(wine: |wine client error|[0-9a-f]{4}:(err|fixme|warn|trace):)")
    return "".join(line for line in text.splitlines(keepends=True) if not own.match(line))
