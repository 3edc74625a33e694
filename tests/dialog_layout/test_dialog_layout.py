"""The progress dialog's layout in all 30 language variants at 96, 120, 144
and 192 DPI, in each visible state: dialog_layout.exe measures every shown
text against its control and every control against the dialog and the
others (see platform/win32/testing/dialog_layout.cpp). Wine reads the DPI
when its server starts, so each DPI has a prefix of its own and one run of
the program measures all languages and states of that DPI. At 144 DPI the
states of six languages are saved as screenshots in build/screenshots/.

Wine paints Thai, a script it shapes, with the glyphs of the dialog's own
font alone: Wine's Tahoma has none, and its font link to Loma serves only
the measurement. Thai is therefore measured twice, in the common prefix and
in a prefix of its own where Loma stands in for Tahoma; the Thai
screenshots come from the latter, where the text itself shows."""
import os
import re
import shutil
import subprocess
import sys
import unittest

PROGRAM = os.environ.get("SEA_LAYOUT_PROGRAM", "")
RUNNER = os.environ.get("SEA_RUNNER", "")
BUILD_DIR = os.environ.get("SEA_BUILD_DIR", ".")
SOURCE_DIR = os.environ.get("SEA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SCREENSHOT_DIR = os.environ.get("SEA_SCREENSHOT_DIR") or os.path.join(SOURCE_DIR, "build", "screenshots")
DPIS = (96, 120, 144, 192)
SHOT_DPI = 144
SHOT_LANGUAGES = ("en", "de", "ja", "ar-SA", "ru", "th")
LANGUAGES = 30
STATES = ("preparing", "error-14", "error-18", "ask-temp", "ask-another")
# Thai, in a prefix whose dialog font has the Thai glyphs.
THAI, THAI_FONT = "th", "Loma"
ROW = re.compile(r"^(\S+)\s+(\d+)\s+(\S+)\s+(\d+)x(\d+)\s+(\d+) texts\s+(ok|FAILED)(.*)$")


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_layout(dpi, shots=None, languages=SHOT_LANGUAGES, ui_font=None):
    """(exit code, output) of one run in the prefix of `dpi` (and `ui_font`);
    with `ui_font` only `languages` are measured."""
    prefix = f"wineprefix-dpi{dpi}" + (f"-{ui_font.lower()}" if ui_font else "")
    env = dict(os.environ, SEA_WINE_DPI=str(dpi), SEA_WINEPREFIX=os.path.join(BUILD_DIR, prefix))
    command = [RUNNER, PROGRAM, "--dpi", str(dpi)]
    if ui_font:
        env["SEA_WINE_UI_FONT"] = ui_font
        command += ["--languages", ",".join(languages)]
    if shots:
        command += ["--shots", wine_path(shots), "--shot-languages", ",".join(languages)]
    if not env.get("DISPLAY"):
        # A screen large enough for the widest variant at 192 DPI.
        command = ["xvfb-run", "-a", "-s", "-screen 0 1600x1200x24"] + command
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=600)
    return result.returncode, result.stdout.decode(errors="replace").replace("\r\n", "\n")


def rows(output):
    """[(language, dpi, state, failed, details)] of the program's table."""
    found = []
    for line in output.splitlines():
        match = ROW.match(line)
        if match:
            found.append((match[1], int(match[2]), match[3], match[7] == "FAILED", match[8].strip()))
    return found


@unittest.skipUnless(PROGRAM and RUNNER, "run through ctest in a Windows build directory")
class DialogLayout(unittest.TestCase):

    def test_no_clipped_or_colliding_control_in_any_language_at_any_scale(self):
        shots = os.path.join(BUILD_DIR, "dialog-layout-shots")
        shutil.rmtree(shots, ignore_errors=True)
        os.makedirs(shots)
        failures, table = [], {}
        common = [language for language in SHOT_LANGUAGES if language != THAI]
        for dpi in DPIS:
            shoot = shots if dpi == SHOT_DPI else None
            runs = ((None, LANGUAGES, run_layout(dpi, shoot, common)),
                    (THAI_FONT, 1, run_layout(dpi, shoot, [THAI], THAI_FONT)))
            for ui_font, languages, (code, output) in runs:
                found = rows(output)
                with self.subTest(dpi=dpi, ui_font=ui_font):
                    self.assertEqual(languages * len(STATES), len(found), output)
                    self.assertEqual({(dpi, s) for s in STATES}, {(r[1], r[2]) for r in found})
                    # Problems outside the table (a template that cannot
                    # be created, a dialog at another DPI, a state text that
                    # is no string) make the program fail as well.
                    self.assertEqual(0, code, "\n".join(line for line in output.splitlines()
                                                        if "FAILED" in line or "texts" not in line))
                for language, _dpi, state, is_failed, details in found:
                    if ui_font:
                        language += "/" + ui_font
                    by_dpi = table.setdefault(language, {})
                    by_dpi[dpi] = by_dpi.get(dpi, 0) + is_failed
                    if is_failed:
                        failures.append(f"{language} {dpi} {state}: {details}")
        print_table(table)
        self.assertEqual([], failures)

        os.makedirs(SCREENSHOT_DIR, exist_ok=True)
        for language in SHOT_LANGUAGES:
            for state in STATES:
                name = f"{language}-{state}-{SHOT_DPI}dpi"
                source = os.path.join(shots, name + ".bmp")
                with self.subTest(screenshot=name):
                    self.assertTrue(os.path.exists(source), f"no screenshot {name}")
                    target = os.path.join(SCREENSHOT_DIR, name + ".png")
                    subprocess.run(["convert", source, target], check=True)
        shutil.rmtree(shots, ignore_errors=True)


def print_table(table):
    """States with a problem, per language and DPI."""
    print("\nstates with a clipped or colliding control (of 5)", file=sys.stderr)
    print("language  " + "".join(f"{dpi:>6}" for dpi in DPIS), file=sys.stderr)
    for language, by_dpi in table.items():
        print(f"{language:<9} " + "".join(f"{by_dpi.get(dpi, 0):>6}" for dpi in DPIS), file=sys.stderr)
    total = sum(sum(by_dpi.values()) for by_dpi in table.values())
    print(f"total: {total} of {len(table) * len(DPIS) * len(STATES)}", file=sys.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
