"""Trees an installer must not be built from: names Windows cannot create,
names that collide when letter case is ignored, paths beyond the
self-extractor's budget, link cycles, folders reached twice, named pipes,
sockets, broken links, unreadable files and files that grow while they are
read. Each case on its own and all of them in one tree: the builder lists
every offending path once with its reason, exits with 1 and leaves an
earlier installer of that name as it was. The Windows builder (under Wine)
gets the cases Wine can express, and what the builder accepts extracts
under Wine to the same files and bytes."""
import glob
import hashlib
import io
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

from seatest import (BUILD_DIR, IS_WINDOWS_BUILD, RUNNER, SEA_EXE, SOURCE_DIR, SeaTestCase,
                     exit_status, others_can_enter, without_wine_lines)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_build import MAGIC, TRAILER, minimal_pe  # noqa: E402

TOOL = os.environ.get("SEA_BUILD_TOOL", "")
NATIVE = not IS_WINDOWS_BUILD
# A build that does not end within this time hangs (a named pipe opened).
TIME_LIMIT = 240
EARLIER = b"an earlier installer of this name"


def write(root, name, data=b"data\n"):
    path = os.path.join(root, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def make_socket(path):
    """A Unix socket at path (bound by a relative name: socket paths are
    limited to 108 bytes); the file stays when the socket is closed."""
    here = os.getcwd()
    os.chdir(os.path.dirname(path))
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.bind(os.path.basename(path))
    finally:
        os.chdir(here)


# Each case: what it puts into a folder of the tree (given the folder and a
# folder outside the tree), the paths it must name with a part of their
# reason, and whether Wine can express it.
def case_device_names(d, _):
    for name in ("CON", "aux.txt", "Lpt1.log", "nul .txt", "com\u00b9"):
        write(d, name)
    return {"CON": "device name", "aux.txt": "device name", "Lpt1.log": "device name",
            "nul .txt": "device name", "com\u00b9": "device name"}


def case_reserved_characters(d, _):
    names = {"colon:name": "':'", "q?mark": "'?'", "a<b": "'<'", "pipe|x": "'|'",
             "star*": "'*'", "quote\"x": "'\"'", "tab\tx": "U+0009",
             "esc\x1b[2Jclear": "U+001B"}
    for name in names:
        write(d, name)
    # Printed with the control and direction characters escaped.
    return {shown(name): reason for name, reason in names.items()}


def shown(name):
    """name as sea-build prints it."""
    return name.replace("\t", "\\x09").replace("\x1b", "\\x1b").replace("\u202e", "\\u202e")


def case_not_utf8(d, _):
    for name in (b"latin1-\xe9t\xe9.txt", b"cut-\xe2\x82", b"dir\xff"):
        path = os.path.join(os.fsencode(d), name)
        if name.startswith(b"dir"):
            os.makedirs(os.path.join(path, b"inside"))
        else:
            with open(path, "wb") as f:
                f.write(b"x")
    reason = "not valid UTF-8"
    return {"latin1-\\xe9t\\xe9.txt": reason, "cut-\\xe2\\x82": reason, "dir\\xff": reason}


def case_trailing_dot_or_blank(d, _):
    write(d, "trail.")
    write(d, "blank /inside.txt")
    return {"trail.": "ends in a dot or a blank", "blank ": "ends in a dot or a blank"}


def case_letter_case(d, _):
    write(d, "A.txt")
    write(d, "a.txt")
    write(d, "\u00c4rger.txt")
    write(d, "\u00e4rger.txt")
    write(d, "DIR/one.txt")
    write(d, "Dir/two.txt")
    return {"a.txt": "A.txt (Windows ignores letter case)",
            "\u00e4rger.txt": "\u00c4rger.txt (Windows ignores letter case)",
            "Dir": "DIR (Windows ignores letter case)"}


def case_long_path(d, _):
    # The folder of the case is part of the entry path: "c_long_path/" in
    # the tree of all cases, nothing when it stands alone.
    write(d, "d" * 100 + "/" + "e" * 100 + "/" + "f" * 60)
    return {"d" * 100 + "/" + "e" * 100 + "/" + "f" * 60: "file path of"}


def case_link_cycle(d, _):
    os.symlink(".", os.path.join(d, "loop"))
    os.makedirs(os.path.join(d, "a", "b"))
    os.symlink(os.path.join("..", ".."), os.path.join(d, "a", "b", "up"))
    write(d, "a/b/file.txt")
    return {"loop": ", a folder above it: a cycle", "a/b/up": ", a folder above it: a cycle"}


def case_folder_twice(d, outside):
    os.symlink(outside, os.path.join(d, "first"))
    os.symlink(outside, os.path.join(d, "second"))
    return {"second": "first: every folder goes into the installer once"}


def case_named_pipe(d, _):
    os.mkfifo(os.path.join(d, "pipe"))
    return {"pipe": "named pipe, socket or device"}


def case_socket(d, _):
    make_socket(os.path.join(d, "sock"))
    return {"sock": "named pipe, socket or device"}


def case_broken_link(d, _):
    os.symlink("nowhere", os.path.join(d, "broken"))
    return {"broken": "broken link"}


def case_unreadable(d, _):
    os.chmod(write(d, "secret.txt"), 0)
    os.makedirs(os.path.join(d, "closed"))
    write(d, "closed/inside.txt")
    os.chmod(os.path.join(d, "closed"), 0)
    return {"secret.txt": "permission denied", "closed": "cannot be read"}


def case_backslash(d, _):
    write(d, "back\\slash")
    return {"back\\slash": "backslash"}


# name -> (maker, Wine can express it). Wine does not list broken links,
# cannot open sockets at all (a read error, not a special file), lets root
# read everything, and a backslash is its separator.
CASES = {
    "device_names": (case_device_names, True),
    "reserved_characters": (case_reserved_characters, True),
    "trailing_dot_or_blank": (case_trailing_dot_or_blank, True),
    "letter_case": (case_letter_case, True),
    "long_path": (case_long_path, True),
    "link_cycle": (case_link_cycle, True),
    "folder_twice": (case_folder_twice, True),
    "named_pipe": (case_named_pipe, True),
    "socket": (case_socket, False),
    "broken_link": (case_broken_link, False),
    "unreadable": (case_unreadable, False),
    "backslash": (case_backslash, False),
    "not_utf8": (case_not_utf8, False),
}


def unprivileged():
    """The command prefix that runs the native builder as nobody when the
    tests run as root (root reads unreadable files)."""
    if (NATIVE and os.geteuid() == 0 and shutil.which("setpriv")
            and others_can_enter(BUILD_DIR or tempfile.gettempdir())):
        return ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"]
    return []


def unreadable_possible():
    """Files can be made unreadable to the builder: it does not run as root."""
    return os.geteuid() != 0 or bool(unprivileged())


def tree_files(root):
    """{relative path: sha256} of every file below root (links followed),
    and the empty folders as path + "/"."""
    found = {}
    for directory, dirs, files in os.walk(root, followlinks=True):
        rel = os.path.relpath(directory, root).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        if prefix and not dirs and not files:
            found[prefix] = None
        for name in files:
            with open(os.path.join(directory, name), "rb") as f:
                found[prefix + name] = hashlib.sha256(f.read()).hexdigest()
    return found


class HostileTreeCase(SeaTestCase):

    def setUp(self):
        if not TOOL:
            self.skipTest("SEA_BUILD_TOOL is not set (run through ctest)")
        super().setUp()
        os.chmod(self.scratch, 0o755)
        self.stub = os.path.join(self.scratch, "stub.exe")
        with open(self.stub, "wb") as f:
            f.write(minimal_pe())
        self.outside = os.path.join(self.scratch, "outside")
        write(self.outside, "deep/shared.txt", b"outside the tree\n")
        self.out_dir = os.path.join(self.scratch, "out")
        os.makedirs(self.out_dir)
        os.chmod(self.out_dir, 0o777)
        self.sockets = []

    def tearDown(self):
        for directory, dirs, _ in os.walk(self.scratch):
            for name in dirs:
                os.chmod(os.path.join(directory, name), 0o755)
        super().tearDown()

    def run_tool(self, args, limit=TIME_LIMIT):
        command = unprivileged() + ([RUNNER] if RUNNER else []) + [TOOL] + list(args)
        try:
            result = subprocess.run(command, cwd=self.scratch, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, timeout=limit)
        except subprocess.TimeoutExpired:
            self.fail("sea-build did not end within %d s (a named pipe opened?)" % limit)
        stderr = without_wine_lines(result.stderr.decode("utf-8", "replace"))
        return result.returncode, stderr, result.stdout.decode("utf-8", "replace")

    def new_tree(self, name="tree"):
        tree = os.path.join(self.scratch, name)
        write(tree, "Windows/setup.exe", b"MZ launcher stand-in")
        return tree

    def build(self, tree, out, *extra, limit=TIME_LIMIT):
        return self.run_tool([tree, "-o", out, "--stub", self.stub] + list(extra), limit)

    def problems(self, stderr):
        """{path: reason} of the problem lines, with a check that every path
        comes once and the last line counts them."""
        lines = [line for line in stderr.splitlines() if line.strip()]
        self.assertTrue(lines and lines[-1].endswith("no installer written"), stderr)
        found = {}
        for line in lines[:-1]:
            self.assertTrue(line.startswith("sea-build: "), line)
            text = line[len("sea-build: "):]
            if text.startswith("warning: "):
                continue
            path, _, reason = text.partition(": ")
            # The Windows builder names paths with its own separator.
            path = path.replace("\\", "/") if IS_WINDOWS_BUILD else path
            self.assertNotIn(path, found, "named twice:\n" + stderr)
            found[path] = reason
        self.assertIn("%d problem" % len(found), lines[-1])
        return found

    def assert_refused(self, tree, expected):
        out = os.path.join(self.out_dir, "setup.exe")
        with open(out, "wb") as f:
            f.write(EARLIER)
        code, stderr, _ = self.build(tree, out)
        self.assertEqual(code, 1, stderr)
        found = self.problems(stderr)
        if IS_WINDOWS_BUILD:  # read as problems() reads them, escapes' backslashes too
            expected = {path.replace("\\", "/"): part for path, part in expected.items()}
        self.assertEqual(sorted(found), sorted(expected), stderr)
        for path, part in expected.items():
            self.assertIn(part, found[path], path)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), EARLIER, "the earlier installer was changed")
        self.assertEqual(os.listdir(self.out_dir), ["setup.exe"], "temporary files left behind")

    def cases(self):
        return {name: maker for name, (maker, wine) in CASES.items()
                if (NATIVE or wine) and (name != "unreadable" or unreadable_possible())}


class EachCase(HostileTreeCase):

    def test_every_case_on_its_own(self):
        for name, maker in self.cases().items():
            with self.subTest(case=name):
                tree = self.new_tree("tree_" + name)
                expected = maker(tree, self.outside)
                self.assert_refused(tree, expected)

    def test_all_cases_in_one_tree(self):
        tree = self.new_tree()
        expected = {}
        for name, maker in self.cases().items():
            folder = os.path.join(tree, "c_" + name)
            os.makedirs(folder)
            for path, reason in maker(folder, self.outside).items():
                expected["c_%s/%s" % (name, path)] = reason
        # The long path of its own is longer still inside its folder.
        self.assert_refused(tree, expected)


class Accepted(HostileTreeCase):

    def test_link_outside_the_tree_is_packed_once(self):
        tree = self.new_tree()
        os.symlink(self.outside, os.path.join(tree, "shared"))
        os.symlink(os.path.join("Windows", "setup.exe"), os.path.join(tree, "copy.exe"))
        out = os.path.join(self.out_dir, "setup.exe")
        code, stderr, _ = self.build(tree, out)
        self.assertEqual(code, 0, stderr)
        with zipfile.ZipFile(out) as z:
            names = z.namelist()
            self.assertEqual(sorted(names),
                             ["Windows/setup.exe", "copy.exe", "shared/deep/shared.txt"])
            self.assertEqual(z.read("shared/deep/shared.txt"), b"outside the tree\n")
            self.assertEqual(z.read("copy.exe"), b"MZ launcher stand-in")

    def test_long_paths_warn_and_listing_reports_names(self):
        tree = self.new_tree()
        long_name = "d" * 100 + "/" + "e" * 100  # a file path of 201 characters
        write(tree, long_name, b"far down\n")
        out = os.path.join(self.out_dir, "setup.exe")
        code, stderr, _ = self.build(tree, out)
        self.assertEqual(code, 0, stderr)
        self.assertIn("warning: ", stderr)
        self.assertIn("a file path of 201 characters fits only below a temporary folder of at "
                      "most 46 characters", stderr)
        # An installer made by another tool: --list, --test and --verify
        # name what Windows cannot create.
        other = os.path.join(self.scratch, "other.exe")
        payload = io.BytesIO()
        with zipfile.ZipFile(payload, "w") as z:
            for name in ("Windows/setup.exe", "CON", "docs/A.txt", "docs/a.txt",
                         "docs/\x1b[2Jclear", "docs/rlo\u202etxt.exe"):
                z.writestr(name, b"x")
        with open(other, "wb") as f:
            f.write(minimal_pe() + MAGIC + b"Windows\\setup.exe".ljust(1024, b"\0") +
                    payload.getvalue() + TRAILER)
        for mode in ("--list", "--test"):
            code, stderr, _ = self.run_tool([mode, other])
            self.assertEqual(code, 1, mode)
            self.assertIn("sea-build: CON: \"CON\" is a device name", stderr)
            self.assertIn("sea-build: docs/a.txt: the same name on Windows as docs/A.txt", stderr)
            self.assertIn(shown("sea-build: docs/\x1b[2Jclear: holds the control character"),
                          stderr)
        listing = self.run_tool(["--list", other])[2].replace("\r\n", "\n")
        self.assertIn(shown("  docs/\x1b[2Jclear\n"), listing)
        self.assertIn(shown("  docs/rlo\u202etxt.exe\n"), listing)
        self.assertNotRegex(listing, "[\x1b\u202e]")
        code, stderr, _ = self.run_tool(["--verify", other])
        self.assertEqual(code, 1)
        self.assertIn("an entry name Windows cannot create: CON: ", stderr)
        self.assertIn("(and 2 more)", stderr)

    @unittest.skipUnless(NATIVE, "Wine lists neither pipes, sockets nor broken links")
    def test_skip_unreadable_leaves_them_out_and_counts_them(self):
        tree = self.new_tree()
        expected = {}
        makers = [case_named_pipe, case_socket, case_broken_link]
        if unreadable_possible():
            makers.append(case_unreadable)
        for maker in makers:
            expected.update(maker(tree, self.outside))
        out = os.path.join(self.out_dir, "setup.exe")
        code, stderr, stdout = self.build(tree, out, "--skip-unreadable")
        self.assertEqual(code, 0, stderr)
        for path in expected:
            self.assertIn("warning: skipped %s: " % path, stderr)
        self.assertIn("%d skipped (unreadable or special files)" % len(expected), stdout)
        with zipfile.ZipFile(out) as z:
            self.assertEqual(sorted(z.namelist()), ["Windows/setup.exe"])
        # Names are never skipped.
        write(tree, "CON")
        os.remove(out)
        code, stderr, _ = self.build(tree, out, "--skip-unreadable")
        self.assertEqual(code, 1, stderr)
        self.assertEqual(list(self.problems(stderr)), ["CON"])
        self.assertFalse(os.path.exists(out))

    def test_file_that_grows_while_it_is_read(self):
        tree = self.new_tree()
        grows = write(tree, "Windows/grows.bin", os.urandom(1 << 22))
        writer = subprocess.Popen([sys.executable, "-c", (
            "import sys, time\n"
            "with open(sys.argv[1], 'ab', buffering=0) as f:\n"
            "    while True:\n"
            "        f.write(b'x' * 4096)\n"
            "        time.sleep(0.002)\n"), grows])
        try:
            start = os.path.getsize(grows)
            while os.path.getsize(grows) == start:
                time.sleep(0.01)
            out = os.path.join(self.out_dir, "setup.exe")
            code, stderr, _ = self.build(tree, out, "-0")
        finally:
            writer.kill()
            writer.wait()
        self.assertEqual(code, 1, stderr)
        self.assertIn("grows.bin: changed size while it was read", stderr)
        self.assertEqual(os.listdir(self.out_dir), [], "an installer or temporary file was left")


@unittest.skipUnless(NATIVE, "named pipes need the native builder")
class SwappedForAPipe(HostileTreeCase):
    """An attacker who can write to the tree swaps a file for a named pipe
    and back, as fast as he can, while installers are built from it: a
    build may fail, but never hangs on the pipe and never packs anything
    but the file's own bytes."""

    def test_racing_swapper_never_blocks_a_build(self):
        tree = self.new_tree()
        target = write(tree, "Windows/data.bin", b"regular file\n" * 100)
        # The pipe and the file are made outside the tree and moved in.
        swapper = subprocess.Popen([sys.executable, "-c", (
            "import os, sys\n"
            "target, scratch = sys.argv[1], sys.argv[2]\n"
            "pipe, plain = os.path.join(scratch, 'p'), os.path.join(scratch, 'r')\n"
            "while True:\n"
            "    os.mkfifo(pipe)\n"
            "    os.replace(pipe, target)\n"
            "    with open(plain, 'wb') as f:\n"
            "        f.write(b'regular file\\n' * 100)\n"
            "    os.replace(plain, target)\n"), target, self.scratch])
        outcomes = set()
        try:
            for attempt in range(20):
                out = os.path.join(self.out_dir, "setup%d.exe" % attempt)
                code, stderr, _ = self.build(tree, out, "-q", "--launcher", "Windows/setup.exe",
                                             limit=60)
                if code == 0:
                    with zipfile.ZipFile(out) as z:
                        names = set(z.namelist()) - {"Windows/setup.exe"}
                        self.assertEqual(names, {"Windows/data.bin"}, names)
                        self.assertEqual(z.read("Windows/data.bin"), b"regular file\n" * 100)
                    outcomes.add("built")
                else:
                    self.assertEqual(code, 1, stderr)
                    self.assertRegex(stderr, "named pipe|replaced|changed size", stderr)
                    outcomes.add(stderr.splitlines()[0].split(": ", 2)[-1][:40])
        finally:
            swapper.kill()
            swapper.wait()
        # The race was run: the pipe was met at least once.
        self.assertTrue(outcomes - {"built"}, outcomes)
        print("outcomes:", sorted(outcomes), file=sys.stderr)


def _driver_extracts():
    try:
        with open(os.path.join(SOURCE_DIR, "sea", "extract.cpp"), encoding="utf-8") as f:
            return "ALPkArchive" in f.read()
    except OSError:
        return False


@unittest.skipUnless(IS_WINDOWS_BUILD and _driver_extracts(),
                     "needs the Windows self-extractor (under Wine) with its extraction driver")
class AcceptedTreesExtract(HostileTreeCase):
    """What the builder accepts, the self-extractor creates: every file,
    byte for byte, and nothing else."""

    def test_accepted_tree_extracts_byte_identical(self):
        tree = self.new_tree()
        os.symlink(self.outside, os.path.join(tree, "shared"))
        write(tree, "Donn\u00e9es/\u00e9t\u00e9 \u65e5\u672c.txt", "gr\u00fc\u00dfe".encode())
        write(tree, "caf\u00e9/\u00df.txt", b"sharp s")        # no upper-case pair
        write(tree, "caf\u00e9/SS.txt", b"two letters")
        write(tree, "a" * 60 + "/" + "b" * 60 + "/" + "c" * 40 + ".bin", os.urandom(70000))
        write(tree, "Windows/empty.txt", b"")
        os.makedirs(os.path.join(tree, "empty_dir"))
        self.stub = SEA_EXE
        out = os.path.join(self.scratch, "setup.exe")
        code, stderr, _ = self.build(tree, out, "--allow-pe32plus")
        self.assertEqual(code, 0, stderr)
        work = os.path.join(self.scratch, "work")
        os.makedirs(work)
        result = self.run_sea(["-i", "silent", "-tempdir", work], exe=out)
        # Windows\setup.exe is no program: the launch fails after extraction.
        self.assertEqual(exit_status(result.returncode), 255)
        extracted = glob.glob(os.path.join(work, "I*"))
        self.assertEqual(len(extracted), 1, os.listdir(work))
        found = tree_files(extracted[0])
        found.pop("sea_loc", None)
        self.assertEqual(found, tree_files(tree))


if __name__ == "__main__":
    unittest.main(verbosity=2)
