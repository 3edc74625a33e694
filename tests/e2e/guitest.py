"""Helpers of the GUI tests (test_gui.py): a private virtual X display, a
Wine prefix of its own, the dialog's template for screen positions,
screenshots read back pixel by pixel, xdotool input, and the installers
the tests run.

Without an X window manager a top-level window has no caption bar: its X
window is the dialog's client area, so dialog units map linearly onto it
and a click at a control's centre presses it."""
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import payload
from seatest import (BUILD_DIR, IS_WINDOWS_BUILD, RUNNER, SEA_EXE, SOURCE_DIR, SeaTestCase,
                     exit_status, log_text)

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "resources"))
import rc_source  # noqa: E402

TOOLS = ("Xvfb", "xdotool", "import", "convert", "xwininfo")
CAPTION = "Quillora"
# Dialog controls (resources/resource_ids.h).
IDC_CANCEL, IDC_PROGRESS, IDC_CHOOSE, IDC_ACTIVITY_TEXT = 2, 1011, 1010, 1007
IDC_MAIN_TEXT, IDC_SECOND_TEXT = 1005, 10001
# UI language -> (Unix locale that Wine reads it from, resource script).
LANGUAGES = {
    "en": ("en_US.UTF-8", "en.rc"),
    "de": ("de_DE.UTF-8", "de.rc"),
    "ja": ("ja_JP.UTF-8", "ja.rc"),
    "ar": ("ar_SA.UTF-8", "ar-SA.rc"),
    "ru": ("ru_RU.UTF-8", "ru.rc"),
}
SCREENSHOT_DIR = os.environ.get("SEA_SCREENSHOT_DIR") or os.path.join(SOURCE_DIR, "build", "screenshots")
ABORT_LINE = "User requested ABORT: Clean up temporary directory"
# The abort tests and the preparing screenshots take twice as much, so that
# a press or a screenshot lands well before the extraction ends.
BIG_PAYLOAD_MB = int(os.environ.get("SEA_GUI_PAYLOAD_MB", "60"))


def _skip_reason():
    if not IS_WINDOWS_BUILD:
        return "the dialog exists only in the Windows build (run from a win32/win64 build directory)"
    missing = [t for t in TOOLS if not shutil.which(t)]
    if missing:
        return "missing tools: " + ", ".join(missing) + " (scripts/test.sh installs them)"
    return None


SKIP_REASON = _skip_reason()


# --- the virtual display and the Wine prefix --------------------------------

class Display:
    """A private Xvfb; its number is chosen by the server (-displayfd)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([read_end], [], [], 1)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.strip().decode()

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


DISPLAY = None
# GUI runs get a prefix of their own: Wine's desktop process belongs to the
# display of the run that started it, and this display goes away at the end.
# SEA_GUI_DPI runs the tests at another display scale (144: 150 %), in a
# prefix of that DPI (Wine reads it when its server starts).
GUI_DPI = os.environ.get("SEA_GUI_DPI", "")
PREFIX = os.path.join(BUILD_DIR or ".", "wineprefix-gui" + (f"-dpi{GUI_DPI}" if GUI_DPI else ""))
WINE_DPI = {"SEA_WINE_DPI": GUI_DPI} if GUI_DPI else {}


def wineserver(*args):
    subprocess.run(["wineserver"] + list(args), env=dict(os.environ, WINEPREFIX=PREFIX),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def start_session():
    """The display and the Wine prefix for one module of tests."""
    global DISPLAY
    if SKIP_REASON:
        return
    DISPLAY = Display()
    # The first run creates the prefix; then one server stays for all runs
    # (a run that starts while the last one's server shuts down can fail).
    env = dict(os.environ, DISPLAY=DISPLAY.name, SEA_WINEPREFIX=PREFIX, **WINE_DPI)
    subprocess.run([RUNNER, SEA_EXE, "-i", "silent"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    wineserver("-w")
    wineserver("-p")


def restart_wineserver():
    """Ends the prefix's server and its processes (the desktop among them)
    and starts a new persistent one."""
    wineserver("-k")
    wineserver("-w")
    wineserver("-p")


def end_session():
    if SharedPayloads.directory:
        shutil.rmtree(SharedPayloads.directory, ignore_errors=True)
    if DISPLAY is None:
        return
    wineserver("-k")
    DISPLAY.close()


def x(*args, check=True):
    """An X client command on the private display; its output."""
    result = subprocess.run(list(args), env=dict(os.environ, DISPLAY=DISPLAY.name),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    if check and result.returncode != 0:
        raise RuntimeError(f"{args[0]} failed: {result.stderr.decode(errors='replace')}")
    return result.stdout.decode(errors="replace")


def locale_installed(name):
    out = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE).stdout.decode().lower()
    return name.lower().replace("utf-8", "utf8") in out.split()


def wine_path(path):
    """The Windows name of a host path (drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --- the dialog on screen ----------------------------------------------------

class Template:
    """A language variant of the dialog template, for screen positions."""

    def __init__(self, rc_file):
        root = os.path.join(SOURCE_DIR, "resources")
        with open(os.path.join(root, "resource_ids.h"), encoding="utf-8") as f:
            macros = rc_source.parse_header(f.read())
        with open(os.path.join(root, "lang", rc_file), encoding="utf-8") as f:
            script = rc_source.parse_script(f.read(), macros)
        self.dialog = script.dialogs[0]
        self.rtl = "WS_EX_LAYOUTRTL" in self.dialog.exstyle.set
        self.controls = {c.id: c.rect for c in self.dialog.controls}

    def rect_on_screen(self, control_id, window):
        """(x, y, w, h) in screen pixels of a control in the dialog window
        window = (x, y, w, h); right-to-left layouts are mirrored."""
        _, _, dw, dh = self.dialog.rect
        sx, sy = window[2] / dw, window[3] / dh
        cx, cy, cw, ch = self.controls[control_id]
        if self.rtl:
            cx = dw - cx - cw
        return (round(window[0] + cx * sx), round(window[1] + cy * sy), round(cw * sx), round(ch * sy))

    def centre(self, control_id, window):
        left, top, w, h = self.rect_on_screen(control_id, window)
        return left + w // 2, top + h // 2


def find_dialog():
    """The dialog's X window id, or None."""
    out = x("xdotool", "search", "--name", f"^{CAPTION}$", check=False).split()
    for window in out:
        if "IsViewable" in x("xwininfo", "-id", window, check=False):
            return window
    return None


def window_rect(window):
    info = x("xwininfo", "-id", window)
    values = {}
    for line in info.splitlines():
        key, _, value = line.strip().partition(":")
        values[key] = value.strip()
    return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
            int(values["Width"]), int(values["Height"]))


def screenshot(path):
    x("import", "-window", "root", path)


def pixels(png, rect):
    """Rows of (r, g, b) of a screen rectangle of a screenshot."""
    left, top, w, h = rect
    data = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{left}+{top}", "+repage", "ppm:-"],
                          stdout=subprocess.PIPE, check=True).stdout
    # P6 header: magic, width, height, maximum value, one whitespace byte.
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    width, height = int(fields[1]), int(fields[2])
    body = data[pos:]
    return [[tuple(body[(r * width + c) * 3:(r * width + c) * 3 + 3]) for c in range(width)]
            for r in range(height)]


def bar_fill(png, template, window):
    """The filled share (0..1) of the progress bar: dark pixels along its
    middle row, the border left out."""
    left, top, w, h = template.rect_on_screen(IDC_PROGRESS, window)
    inner = (left + 3, top + h // 2, max(1, w - 6), 1)
    row = pixels(png, inner)[0]
    filled = sum(1 for (r, g, b) in row if (r + g + b) / 3 < 200)
    return filled / len(row)


def click(point):
    x("xdotool", "mousemove", str(point[0]), str(point[1]), "click", "1")


def key(window, name):
    """A key press for the dialog. The pointer goes over it too: with no
    window manager, keys go to the window under the pointer whenever the
    input focus reverts to the pointer root."""
    left, top, w, _ = window_rect(window)
    x("xdotool", "mousemove", str(left + w // 2), str(top + 4))
    x("xdotool", "windowfocus", "--sync", window, check=False)
    x("xdotool", "key", name)


# --- test payloads -------------------------------------------------------------

def launcher_entries(exit_code=None):
    launcher = os.environ.get("SEA_LAUNCHER", "")
    with open(launcher, "rb") as f:
        entries = [("Windows/install.exe", f.read())]
    if exit_code is not None:
        entries.append(("Windows/exitcode.txt", str(exit_code).encode()))
    return entries


class GuiTestCase(SeaTestCase):
    """Starts the program on the private display and watches its dialog."""

    @classmethod
    def setUpClass(cls):
        if SKIP_REASON:
            raise unittest.SkipTest(SKIP_REASON)
        if not os.environ.get("SEA_LAUNCHER"):
            raise unittest.SkipTest("SEA_LAUNCHER is not set (run through ctest)")

    def setUp(self):
        super().setUp()
        self.process = None
        self.processes = []
        self.mounts = []
        self.tempdir = os.path.join(self.scratch, "tmp")
        os.makedirs(self.tempdir)

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        # Unmounted before the scratch directory that holds them goes.
        for mount in self.mounts:
            mount.close()
        super().tearDown()

    def use_small_tmpfs(self):
        """-tempdir on a freshly mounted small tmpfs (skips without root)."""
        tmpfs = SmallTmpfs(os.path.join(self.scratch, "small"))
        self.mounts.append(tmpfs)
        self.tempdir = tmpfs.path

    def start(self, exe, language="en", args=()):
        """Starts a run with a fresh log, after the end of any earlier run
        (a failed subtest can leave one behind)."""
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        deadline = time.time() + 10
        while find_dialog() and time.time() < deadline:
            time.sleep(0.1)
        log = os.path.join(self.scratch, "sea.log")
        if os.path.exists(log):
            os.remove(log)
        locale_name, _ = LANGUAGES[language]
        if language != "en" and not locale_installed(locale_name):
            self.skipTest(f"locale {locale_name} is not installed (scripts/test.sh generates it)")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("LC_") and k not in ("RUX_DEBUG", "TMP", "TEMP", "TMPDIR")}
        # Wine's error messages are kept: they tell why a dialog did not
        # come up when a run ends without one.
        env.update(DISPLAY=DISPLAY.name, LANG=locale_name, LC_ALL=locale_name,
                   RUX_DEBUG="TRUE", SEA_WINEPREFIX=PREFIX, WINEDEBUG="-all,err+all", **WINE_DPI)
        self.started = (exe, language, args)
        command = [RUNNER, exe, "-tempdir", wine_path(self.tempdir)] + list(args)
        self.wine_errors = os.path.join(self.scratch, f"wine-errors-{len(self.processes)}.txt")
        with open(self.wine_errors, "wb") as errors:
            self.process = subprocess.Popen(command, cwd=self.scratch, env=env,
                                            stdout=subprocess.DEVNULL, stderr=errors)
        self.processes.append(self.process)
        self.template = Template(LANGUAGES[language][1])

    def wait_for_dialog(self, timeout=120, restarted=False):
        deadline = time.time() + timeout
        while time.time() < deadline:
            window = find_dialog()
            if window:
                return window
            if self.process.poll() is not None:
                with open(self.wine_errors, "rb") as errors:
                    wine = errors.read().decode(errors="replace").splitlines()[-20:]
                ended = (f"the program ended ({self.process.returncode}) without showing the dialog;"
                         f" log: {log_text(self.scratch)}; Wine's errors: {wine}")
                if restarted:
                    self.fail(ended)
                # Seen once in several runs on a loaded machine: Wine could
                # not put the dialog up, and in the same prefix it could not
                # the second time either (a crashed desktop process of the
                # prefix is one way to get there). The run is made once more
                # from a clean target folder with a new Wine server for the
                # prefix; a second failure is a failure.
                print("restarting once with a new Wine server: " + ended, file=sys.stderr)
                restart_wineserver()
                self.clear_tempdir()
                self.start(*self.started)
                return self.wait_for_dialog(timeout, restarted=True)
            time.sleep(0.1)
        self.fail("the dialog did not appear")

    def clear_tempdir(self):
        for name in os.listdir(self.tempdir):
            path = os.path.join(self.tempdir, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            else:
                os.remove(path)

    def wait_for_log(self, start, timeout=60):
        """Waits for a log line beginning with `start` (the error texts
        themselves are in the dialog's language)."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if any(line.startswith(start) for line in log_text(self.scratch) or []):
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.1)
        self.fail(f"no line {start!r}... logged; log: {log_text(self.scratch)}")

    def wait_for_exit(self, timeout=300):
        return exit_status(self.process.wait(timeout))

    def watch_progress(self, window, until=None, timeout=120):
        """Bar fills seen while the dialog is up (until `until`(fill) is
        true, when given)."""
        fills = []
        shot = os.path.join(self.scratch, "watch.png")
        rect = window_rect(window)
        deadline = time.time() + timeout
        while time.time() < deadline and find_dialog() == window:
            screenshot(shot)
            if find_dialog() != window:
                break
            fills.append(bar_fill(shot, self.template, rect))
            if until and until(fills[-1]):
                break
        return fills

    def work_dirs(self):
        return [n for n in os.listdir(self.tempdir) if n.startswith("I")]

    def save_screenshot(self, full, rect, name):
        """The dialog's part (with a margin) of a screenshot, kept as a test
        artefact."""
        os.makedirs(SCREENSHOT_DIR, exist_ok=True)
        left, top, w, h = rect
        target = os.path.join(SCREENSHOT_DIR, name + ".png")
        subprocess.run(["convert", full, "-crop", f"{w + 16}x{h + 16}+{max(0, left - 8)}+{max(0, top - 8)}",
                        "+repage", target], check=True)
        return target


def damaged_archive(entries):
    """A ZIP of stored entries whose last entry's data has one byte flipped:
    its CRC check fails during the extraction."""
    import struct
    data = bytearray(payload.zip_bytes(entries, level=0))
    # The last entry's local header follows the others' local records, which
    # end where the central directory of an archive without it begins.
    head = payload.zip_bytes(entries[:-1], level=0)
    offset = struct.unpack("<I", head[-6:-2])[0]
    data[offset + 30 + len(entries[-1][0].encode()) + 10] ^= 0xFF
    return bytes(data)


class SharedPayloads:
    """Installers built once per run of this module, from the current
    program."""
    directory = None

    @classmethod
    def path(cls, name, build):
        if cls.directory is None:
            cls.directory = tempfile.mkdtemp(prefix="sea-gui-payloads-", dir=BUILD_DIR or None)
        path = os.path.join(cls.directory, name)
        if not os.path.exists(path):
            build(path + ".part")
            os.replace(path + ".part", path)
        return path


def big_installer(exit_code=7, megabytes=BIG_PAYLOAD_MB):
    def build(path):
        size = megabytes << 20
        entries = launcher_entries(exit_code)
        # A few large files and many small ones, as installers carry.
        for i in range(4):
            entries.append((f"jre/lib/big{i}.bin", os.urandom(size // 8)))
        small = (size // 2) // 400
        for i in range(400):
            entries.append((f"data/part{i // 50}/file{i:03}.bin", os.urandom(small)))
        payload.build_installer(SEA_EXE, path, payload.zip_bytes(entries, level=1))
    return SharedPayloads.path(f"big-{megabytes}mb-{exit_code}.exe", build)


def small_installer(megabytes=2):
    def build(path):
        entries = launcher_entries(0) + [("data.bin", os.urandom(megabytes << 20))]
        payload.build_installer(SEA_EXE, path, payload.zip_bytes(entries, level=1))
    return SharedPayloads.path(f"small-{megabytes}mb.exe", build)


def damaged_installer():
    def build(path):
        entries = launcher_entries(0) + [("data.bin", os.urandom(256 << 10))]
        payload.build_installer(SEA_EXE, path, damaged_archive(entries))
    return SharedPayloads.path("damaged.exe", build)


class SmallTmpfs:
    """A 1 MiB tmpfs: far too small for three times any payload here."""

    def __init__(self, path):
        self.path = path
        os.makedirs(path, exist_ok=True)
        if os.geteuid() != 0:
            raise unittest.SkipTest("mounting a small tmpfs needs root")
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", path],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            raise unittest.SkipTest("cannot mount a tmpfs here: " + result.stdout.decode().strip())

    def close(self):
        subprocess.run(["umount", "-l", self.path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def has_colour(png, rect):
    """True when a screen rectangle holds clearly coloured pixels (an icon)
    rather than the grey and black of the dialog."""
    for row in pixels(png, rect):
        for (r, g, b) in row:
            if max(r, g, b) - min(r, g, b) > 60:
                return True
    return False


def has_ink(png, rect):
    """True when a screen rectangle holds dark pixels (text)."""
    return any((r + g + b) / 3 < 110 for row in pixels(png, rect) for (r, g, b) in row)
