"""The 32-bit product itself, build/win32/bin/sea.exe, under 32-bit Wine on
a host whose kernel runs no 32-bit code: scripts/win32-emulated.sh runs it
in an i386 chroot through user-mode emulation, where each Wine process
start costs about a minute of CPU. So the installers are made here, all of
them run there in one batch under one Wine server, in lanes side by side
(one per core), and what they left is checked here afterwards. An installer
that launches costs two starts, one that is refused one.

  silent        made by sea-build, run silently with the user's arguments
                into a -tempdir that holds two dead runs' trees (read-only
                markers; in one a read-only file, in the other a link out
                of it) and a finished run's tree: the launcher's exit code
                comes back, every file is byte-identical, sea_loc names the
                installer, the first dead tree goes (the handle-based
                removal), the one with the link stays (Wine opens a host's
                link as what it points to), as do what the link points to
                and the finished tree;
  signed        signed by sea-build --sign: runs;
  smuggled      the same with a ZIP in its certificate table: refused;
  zip64, overlap bomb   hostile archives of the catalogue: refused;
  lzma, zstd    entries of either method, when sea-build has --method:
                extracted byte-identical; the peak memory of the emulated
                process is reported.

Besides, the emulation runs 32-bit code inside and leaves the host as it
was, also when it registered itself machine-wide and was interrupted.

Run by scripts/test.sh on hosts without 32-bit execution; by hand:
    python3 tests/e2e/win32_smoke.py
(SEA_EXE, SEA_LAUNCHER and SEA_BUILD_TOOL default to build/win32's stub
and launcher and build/native's sea-build.)"""
import fcntl
import glob
import os
import shlex
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
os.environ.setdefault("SEA_EXE", os.path.join(ROOT, "build", "win32", "bin", "sea.exe"))
os.environ.setdefault("SEA_LAUNCHER", os.path.join(ROOT, "build", "win32", "bin", "test_launcher.exe"))
os.environ.setdefault("SEA_BUILD_TOOL", os.path.join(ROOT, "build", "native", "bin", "sea-build"))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "faults"))
sys.dont_write_bytecode = True

from seatest import exit_status, host_to_program_path, launcher_bytes, log_text  # noqa: E402
from test_build import TOOL  # noqa: E402
from test_extract import read_record  # noqa: E402
from test_hostile import AL_INVALID_ARCHIVE, overlap_bomb, payload_with, zip64  # noqa: E402
from test_interrupted_runs import MARKER, REMOVING, SUCCESS  # noqa: E402
from test_signed_payload import Signed, smuggled_zip, write  # noqa: E402
from test_signing import TestCA, have_tools  # noqa: E402
from payload import build_installer  # noqa: E402

SEA_EXE = os.environ["SEA_EXE"]
EMULATION = os.environ.get("SEA_EMULATION_SCRIPT", os.path.join(ROOT, "scripts", "win32-emulated.sh"))
UNAVAILABLE = 75  # the emulation script's "cannot be prepared here"
BINFMT = "/proc/sys/fs/binfmt_misc"
METHODS = {"lzma": 14, "zstd": 93}

# Runs inside the chroot: the installers in lanes side by side under one
# persistent Wine server, each one's exit code and seconds into
# OUT/NAME.result.
BATCH = r"""
set -u
out=$1
run() {
  name=$1 cwd=$2
  shift 2
  start=$(date +%s)
  status=0
  (cd "$cwd" && RUX_DEBUG=TRUE exec wine "$@") >"$out/$name.out" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  echo "$status $seconds" >"$out/$name.result"
  echo "win32 smoke: $name: exit code $status after $seconds s" >&2
}
wine --version >"$out/wine-version" 2>&1
status=0
bash -c '. "$1/scripts/lib/install.sh" && sea_host_runs_32bit' sh "$ROOT" || status=$?
echo "$status" >"$out/runs-32bit"
# Services a session starts by itself that no installer here uses (event
# log, network, plug and play) start on demand instead: under emulation
# each costs minutes of CPU. The mount manager stays.
sed -i '/^\[System\\\\CurrentControlSet\\\\Services\\\\\(Eventlog\|NDIS\|nsiproxy\|PlugPlay\)\]/,/^$/ s/"Start"=dword:00000002/"Start"=dword:00000003/' "$WINEPREFIX/system.reg"
wineserver -p
# Wine's own processes (services, devices, the boot) start with the first
# program and end with the last one: a command prompt waiting on its input
# keeps them for the whole batch, so that they start once.
mkfifo "$out/keeper"
wine cmd.exe /k echo keeper up <"$out/keeper" >"$out/keeper.out" 2>&1 &
exec 8>"$out/keeper"
start=$(date +%s)
until grep -q "keeper up" "$out/keeper.out" 2>/dev/null; do
  [ $(($(date +%s) - start)) -lt 1800 ] || break
  sleep 2
done
echo "win32 smoke: Wine started in $(($(date +%s) - start)) s" >&2
lanes=""
"""


def host_runs_32bit():
    return subprocess.run(["bash", "-c", '. "$1/scripts/lib/install.sh" && sea_host_runs_32bit',
                           "sh", ROOT]).returncode == 0


def sea_build_has_method():
    if not os.path.exists(TOOL):
        return False
    result = subprocess.run([TOOL, "--help"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return b"--method" in result.stdout


def tree_files(root):
    """Every file below root: {relative path: bytes}."""
    files = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = f.read()
    return files


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    return write(path, data)


def make_tree(root, files):
    for rel, data in files.items():
        put(os.path.join(root, rel), data)
    return root


def vendor_files(exit_code, extra=None):
    files = {"Windows/install.exe": launcher_bytes(), "Windows/exitcode.txt": str(exit_code).encode()}
    files.update(extra or {})
    return files


class Run:
    """One installer run of the batch, in a folder of its own: cwd (the
    installer and its sea.log) and tmp (its -tempdir)."""

    def __init__(self, scratch, name, extra_args=(), starts=2):
        self.name = name
        self.dir = os.path.join(scratch, name)
        self.cwd = os.path.join(self.dir, "cwd")
        self.temp = os.path.join(self.dir, "tmp")
        os.makedirs(self.cwd)
        os.makedirs(self.temp)
        self.exe = os.path.join(self.cwd, "install.exe")
        self.args = ["-i", "silent", "-tempdir", host_to_program_path(self.temp)] + list(extra_args)
        self.starts = starts
        self.preplaced = set()
        self.status = self.seconds = None
        self.peak_kib = 0

    def command(self):
        return " ".join(shlex.quote(a) for a in ["run", self.name, self.cwd, self.exe] + self.args)

    def read_result(self, out):
        path = os.path.join(out, self.name + ".result")
        if os.path.exists(path):
            with open(path) as f:
                status, seconds = f.read().split()
            self.status, self.seconds = exit_status(int(status)), int(seconds)

    def new_work_dirs(self):
        return sorted(d for d in glob.glob(os.path.join(self.temp, "I*"))
                      if os.path.basename(d) not in self.preplaced)

    def log(self):
        return log_text(self.cwd) or []


class PeakMemory(threading.Thread):
    """Samples the peak resident size (VmHWM) of the processes whose command
    line names one of the runs' installers: under emulation the process is
    qemu's, so the figure includes the emulator's own memory."""

    def __init__(self, runs):
        super().__init__(daemon=True)
        self.runs = runs
        self.done = threading.Event()

    def sample(self):
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
                with open("/proc/%s/status" % pid) as f:
                    status = f.read()
            except OSError:
                continue
            for run in self.runs:
                if run.exe.encode() in cmdline:
                    for line in status.splitlines():
                        if line.startswith("VmHWM:"):
                            run.peak_kib = max(run.peak_kib, int(line.split()[1]))

    def run(self):
        while not self.done.wait(0.2):
            self.sample()


@unittest.skipIf(host_runs_32bit(), "this host runs 32-bit code: the Windows tests run the product")
class Win32Smoke(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        for path in (SEA_EXE, os.environ["SEA_LAUNCHER"], TOOL):
            if not os.path.exists(path):
                raise unittest.SkipTest(path + " is missing (build win32 and native first)")
        # The chroot sees the host's /tmp at the same place.
        cls.scratch = tempfile.mkdtemp(prefix="sea-win32-smoke-", dir="/tmp")
        cls.out = os.path.join(cls.scratch, "results")
        os.makedirs(cls.out)
        cls.runs = {}
        cls.make_silent()
        cls.make_signed()
        cls.make_hostile()
        cls.codecs = sea_build_has_method()
        if cls.codecs:
            cls.make_codecs()
        else:
            sys.stderr.write("win32 smoke: sea-build has no --method: the LZMA and Zstandard "
                             "installers are left out\n")
        cls.run_batch()

    @classmethod
    def tearDownClass(cls):
        if os.environ.get("SEA_KEEP_SMOKE") != "1":
            subprocess.run(["rm", "-rf", cls.scratch])

    @classmethod
    def add(cls, run):
        cls.runs[run.name] = run
        return run

    @classmethod
    def build(cls, run, files, *options):
        tree = make_tree(os.path.join(run.dir, "tree"), files)
        result = subprocess.run([TOOL, tree, "-o", run.exe, "--stub", SEA_EXE, "-q"] + list(options),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode:
            raise AssertionError("sea-build failed for %s: %s" % (run.name, result.stdout.decode()))
        return tree

    # --- the installers ------------------------------------------------------

    @classmethod
    def make_silent(cls):
        run = cls.add(Run(cls.scratch, "silent", ["-extra", "x y"]))
        cls.silent_tree = cls.build(run, vendor_files(42, {
            "InstallerData/random.bin": os.urandom(300000),
            "InstallerData/text.txt": b"line of text\r\n" * 20000,
            "InstallerData/Pr\u00fcfung \u00f1/deep/empty.dat": b"",
        }))
        # Two dead runs' trees, each with a read-only marker. I104 holds
        # folders and a read-only file: it goes. I105 holds a link to a
        # folder outside; Wine opens a host's link as what it points to,
        # so the link cannot be told from that folder and the tree stays.
        cls.outside = os.path.join(run.dir, "outside")
        put(os.path.join(cls.outside, "precious.txt"), b"keep me")
        for name in ("I104", "I105"):
            dead = os.path.join(run.temp, name)
            put(os.path.join(dead, MARKER), b"")
            os.chmod(os.path.join(dead, MARKER), 0o444)
        put(os.path.join(run.temp, "I104", "data", "deep", "file.bin"), b"dead run")
        os.chmod(os.path.join(run.temp, "I104", "data", "deep", "file.bin"), 0o444)
        os.makedirs(os.path.join(run.temp, "I105", "data"))
        os.symlink(cls.outside, os.path.join(run.temp, "I105", "data", "dirlink"))
        # A finished run's tree: no marker, never removed.
        put(os.path.join(run.temp, "I100", "Windows", "keep.txt"), b"finished run")
        run.preplaced = {"I100", "I104", "I105"}

    @classmethod
    def make_signed(cls):
        if not have_tools():
            sys.stderr.write("win32 smoke: openssl or osslsigncode missing: no signed installers\n")
            return
        signed = cls.add(Run(cls.scratch, "signed"))
        cert, key = TestCA(signed.dir, "Smoke CA").issue("vendor")
        cls.build(signed, vendor_files(7, {"vendor.txt": b"vendor"}), "--sign", cert, key)
        smuggled = cls.add(Run(cls.scratch, "smuggled", starts=1))
        with open(signed.exe, "rb") as f:
            table = Signed(f.read())
        write(smuggled.exe, bytes(table.grow_table(smuggled_zip(launcher_bytes()), True).data))

    @classmethod
    def make_hostile(cls):
        for name, hostile in (("zip64", zip64), ("overlap-bomb", overlap_bomb)):
            run = cls.add(Run(cls.scratch, name, starts=1))
            build_installer(SEA_EXE, run.exe, payload_with(hostile))

    @classmethod
    def make_codecs(cls):
        text = b"".join(b"%08d the quick brown fox jumps over the lazy dog\r\n" % i
                        for i in range(120000))
        cls.codec_trees = {}
        for method in METHODS:
            run = cls.add(Run(cls.scratch, method))
            cls.codec_trees[method] = cls.build(run, vendor_files(0, {
                "InstallerData/text.txt": text, "InstallerData/random.bin": os.urandom(200000)}),
                "--method", method)

    # --- the batch -----------------------------------------------------------

    @classmethod
    def lanes(cls):
        """The runs split into one lane per core, lanes side by side: an
        emulated process keeps about one core busy. Each run goes to the
        lane with the fewest Wine starts so far."""
        count = max(1, min(4, os.cpu_count() or 1))
        lanes, starts = [[] for _ in range(count)], [0] * count
        for run in cls.runs.values():
            lane = starts.index(min(starts))
            lanes[lane].append(run)
            starts[lane] += run.starts
        return [lane for lane in lanes if lane]

    @classmethod
    def run_batch(cls):
        script = os.path.join(cls.scratch, "batch.sh")
        with open(script, "w") as f:
            f.write(BATCH.replace("$ROOT", shlex.quote(ROOT)))
            for lane in cls.lanes():
                f.write("(\n%s) &\nlanes=\"$lanes $!\"\n"
                        % "".join("  %s\n" % run.command() for run in lane))
            f.write("wait $lanes\nexec 8>&-\nwineserver -k\n")
        starts = sum(r.starts for r in cls.runs.values())
        sys.stderr.write("win32 smoke: %d installers, about %d Wine process starts\n"
                         % (len(cls.runs), starts))
        memory = PeakMemory(list(cls.runs.values()))
        memory.start()
        started = time.monotonic()
        result = subprocess.run([EMULATION, "sh", script, cls.out], cwd=cls.scratch, timeout=3600)
        cls.batch_seconds = time.monotonic() - started
        memory.done.set()
        memory.join()
        if result.returncode == UNAVAILABLE and not os.path.exists(os.path.join(cls.out, "wine-version")):
            raise unittest.SkipTest("the 32-bit emulation cannot be prepared here")
        for run in cls.runs.values():
            run.read_result(cls.out)
        sys.stderr.write("win32 smoke: the batch took %d s\n" % cls.batch_seconds)
        for run in cls.runs.values():
            sys.stderr.write("win32 smoke: %-13s exit %s in %s s, peak memory %.1f MiB\n"
                             % (run.name, run.status, run.seconds, run.peak_kib / 1024.0))

    def finished(self, name, status):
        if name not in self.runs:
            self.skipTest(name + " was not made")
        run = self.runs[name]
        with open(os.path.join(self.out, name + ".out"), "rb") as f:
            output = f.read().decode("utf-8", "replace")
        self.assertEqual(run.status, status, "%s: %s\n%s" % (name, run.log(), output))
        return run

    def assertExtracted(self, run, tree):
        """The one new working directory holds the tree byte for byte, plus
        sea_loc and the launcher's record; returns it."""
        (work,) = run.new_work_dirs()
        expected = tree_files(tree)
        got = tree_files(work)
        self.assertEqual(sorted(got), sorted(list(expected) + ["sea_loc", "launch-record.txt"]))
        for rel, data in expected.items():
            self.assertTrue(got[rel] == data, rel + " differs")
        return work

    # --- the checks ----------------------------------------------------------

    def test_emulation_runs_32bit_code_inside_and_leaves_the_host_as_it_was(self):
        with open(os.path.join(self.out, "wine-version")) as f:
            self.assertRegex(f.read(), r"^wine-8\.")
        with open(os.path.join(self.out, "runs-32bit")) as f:
            self.assertEqual(f.read().strip(), "0", "32-bit code does not run in the chroot")
        self.assertFalse(host_runs_32bit(), "the host runs 32-bit code after the emulation")
        if os.path.exists(os.path.join(BINFMT, "register")):
            self.assertEqual([n for n in os.listdir(BINFMT) if n.startswith("sea-i386-")], [])

    def test_silent_run_extracts_launches_and_removes_the_dead_tree(self):
        run = self.finished("silent", 42)
        log = run.log()
        self.assertIn(SUCCESS, log)
        self.assertIn("*** The process has terminated with an exit code of 42 ***", log)
        dead = [host_to_program_path(os.path.join(run.temp, n)) for n in ("I104", "I105")]
        self.assertEqual(sorted(l for l in log if l.startswith(REMOVING)), [REMOVING + d for d in dead])
        self.assertFalse(os.path.lexists(os.path.join(run.temp, "I104")))
        self.assertTrue(os.path.islink(os.path.join(run.temp, "I105", "data", "dirlink")))
        with open(os.path.join(self.outside, "precious.txt"), "rb") as f:
            self.assertEqual(f.read(), b"keep me")
        with open(os.path.join(run.temp, "I100", "Windows", "keep.txt"), "rb") as f:
            self.assertEqual(f.read(), b"finished run")
        work = self.assertExtracted(run, self.silent_tree)
        with open(os.path.join(work, "sea_loc"), "rb") as f:
            sea_loc = f.read()
        self.assertEqual(sea_loc, host_to_program_path(run.exe).encode("utf-8") + b"\n\x00")
        record = read_record(work)
        self.assertEqual(record["sea_loc"], sea_loc.hex())
        self.assertEqual(record["TMP"], host_to_program_path(run.temp))
        self.assertTrue(record["cmdline"].endswith(" -extra \"x y\""), record["cmdline"])
        self.assertNotIn(MARKER, record["entries"].split("|"))

    def test_signed_installer_runs(self):
        run = self.finished("signed", 7)
        self.assertIn(SUCCESS, run.log())
        (work,) = run.new_work_dirs()
        self.assertTrue(os.path.exists(os.path.join(work, "vendor.txt")))

    def test_zip_smuggled_into_the_certificate_table_is_refused(self):
        run = self.finished("smuggled", 255)
        log = run.log()
        failure = [l for l in log if l.startswith(
            "*** FAILURE: The installer's certificate table is damaged: ")]
        self.assertEqual(len(failure), 1, log)
        self.assertIn("bytes of data follow the signature inside the certificate table", failure[0])
        self.assertNotIn(SUCCESS, log)
        self.assertEqual(run.new_work_dirs(), [])
        self.assertEqual(sorted(os.listdir(run.cwd)), ["install.exe", "sea.log"])

    def test_hostile_archives_are_refused(self):
        for name in ("zip64", "overlap-bomb"):
            with self.subTest(name):
                run = self.finished(name, 255)
                log = run.log()
                self.assertIn("*** FAILURE: Unable to unzip file: Error %d" % AL_INVALID_ARCHIVE, log)
                self.assertNotIn(SUCCESS, log)
                # What came before the refusal stays (the launcher); of the
                # bomb's thirty 1 MB claims, at most their declared sizes.
                for work in run.new_work_dirs():
                    self.assertNotIn("launch-record.txt", tree_files(work))
                    bomb = tree_files(os.path.join(work, "bomb"))
                    self.assertLessEqual(sum(len(d) for d in bomb.values()), 30 * 1000)

    def test_lzma_and_zstandard_entries_are_extracted(self):
        if not self.codecs:
            self.skipTest("sea-build has no --method")
        for method, number in METHODS.items():
            with self.subTest(method):
                run = self.finished(method, 0)
                with zipfile.ZipFile(run.exe) as archive:
                    self.assertIn(number, {i.compress_type for i in archive.infolist()})
                self.assertExtracted(run, self.codec_trees[method])
                sys.stderr.write("win32 smoke: %s: peak memory of the emulated process %.1f MiB "
                                 "(the deflate installer: %.1f MiB)\n"
                                 % (method, run.peak_kib / 1024.0,
                                    self.runs["silent"].peak_kib / 1024.0))


@unittest.skipIf(host_runs_32bit(), "this host runs 32-bit code")
class MachineWideRegistration(unittest.TestCase):
    """Where a namespace cannot have binfmt_misc of its own the emulation is
    registered for the whole machine while it runs: an interrupted run takes
    it away again."""

    def test_interrupted_run_removes_its_registration(self):
        if os.geteuid() != 0:
            self.skipTest("needs root")
        mounted_before = os.path.exists(os.path.join(BINFMT, "register"))
        for sig, code in ((signal.SIGTERM, 143), (signal.SIGINT, 130)):
            with self.subTest(sig.name):
                process = subprocess.Popen([EMULATION, "sleep", "600"], cwd="/tmp",
                                           env=dict(os.environ, SEA_EMULATION_REGISTRATION="machine"),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                try:
                    entry = os.path.join(BINFMT, "sea-i386-%d" % process.pid)
                    end = time.monotonic() + 120
                    while not os.path.exists(entry) and process.poll() is None and time.monotonic() < end:
                        time.sleep(0.05)
                    if process.poll() == UNAVAILABLE:
                        self.skipTest(process.stderr.read().decode().strip())
                    self.assertTrue(os.path.exists(entry), "never registered")
                    self.assertTrue(host_runs_32bit(), "the registration does not take")
                    process.send_signal(sig)
                    self.assertEqual(process.wait(timeout=120), code)
                finally:
                    if process.poll() is None:
                        process.terminate()
                        process.wait(timeout=120)
                    process.stderr.close()
                self.assertFalse(os.path.exists(entry))
                self.assertFalse(host_runs_32bit())
                self.assertEqual(os.path.exists(os.path.join(BINFMT, "register")), mounted_before)

    def test_a_run_waiting_for_another_ends_when_interrupted(self):
        """A run waits for the cache's lock while another prepares it; a
        signal then ends it at once, before it prepares or runs anything."""
        if os.geteuid() != 0:
            self.skipTest("needs root")
        cache = tempfile.mkdtemp(prefix="sea-emu-cache-", dir="/tmp")
        try:
            with open(cache + "/c.lock", "w") as held:
                fcntl.flock(held, fcntl.LOCK_EX)
                process = subprocess.Popen([EMULATION, "true"], env=dict(
                    os.environ, SEA_EMULATION_CACHE=cache + "/c"), stderr=subprocess.DEVNULL)
                time.sleep(2)
                process.send_signal(signal.SIGTERM)
                self.assertEqual(process.wait(timeout=30), 143)
            self.assertEqual(os.listdir(cache), ["c.lock"])
        finally:
            subprocess.run(["rm", "-rf", cache])


if __name__ == "__main__":
    unittest.main(verbosity=2)
