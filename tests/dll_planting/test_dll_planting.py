"""DLL planting under Wine: DLLs named like ones the program or its
dependencies load, placed beside the program, are never loaded.

The planted DLL (planted_dll.dll, copied under each name) leaves
"<name>.loaded" beside itself when any process loads it. Wine prefers its
own builtin DLLs, so every planted name is set to "native, then builtin"
(WINEDLLOVERRIDES name=n,b): a planted copy is then loaded whenever the
search reaches the program's folder first, as on Windows.

Not planted for the program's own runs: DLLs that Wine's builtin user32 and
gdi32 import themselves (version, imm32, win32u, zlib1). Wine resolves those
imports before any code of the program runs; on Windows user32 and gdi32 are
Known DLLs that import none of them. They are covered by the load probes.

Controls, proving that the checks can fail: the load probe without the
hardening, and the program built without its hardening, do load planted
copies."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.dont_write_bytecode = True

from payload import build_installer, zip_bytes  # noqa: E402

SEA_EXE = os.environ.get("SEA_EXE", "")
SEA_UNHARDENED = os.environ.get("SEA_UNHARDENED", "")
LAUNCHER = os.environ.get("SEA_LAUNCHER", "")
RUNNER = os.environ.get("SEA_RUNNER", "")
PLANTED = os.environ.get("PLANTED_DLL", "")
PROBE_PLAIN = os.environ.get("PROBE_PLAIN", "")
PROBE_HARDENED = os.environ.get("PROBE_HARDENED", "")
BUILD_DIR = os.environ.get("SEA_BUILD_DIR", "")

# Loaded at run time by the program or by the system DLLs it uses (theming,
# window effects, the folder browser, random numbers, the common controls).
FOR_PROGRAM = ["uxtheme.dll", "dwmapi.dll", "msimg32.dll", "bcrypt.dll", "comctl32.dll",
               "ole32.dll", "oleaut32.dll", "propsys.dll", "oleacc.dll", "userenv.dll",
               "cryptbase.dll", "apphelp.dll"]
FOR_PROBES = ["version.dll", "dwmapi.dll", "uxtheme.dll", "bcrypt.dll", "msimg32.dll"]
# DLLs that Windows always takes from the system directory (Known DLLs).
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "advapi32.dll",
              "msvcrt.dll", "ole32.dll", "comdlg32.dll", "shlwapi.dll", "oleaut32.dll"}


def overrides(names):
    stems = ",".join(os.path.splitext(n)[0] for n in names)
    return "%s=n,b;mscoree,mshtml=" % stems


def win_path(path):
    return "Z:" + path.replace("/", "\\")


class DllPlanting(unittest.TestCase):

    def setUp(self):
        if not (SEA_EXE.lower().endswith(".exe") and RUNNER and PLANTED and LAUNCHER):
            self.skipTest("Windows build only, run through ctest")
        self.dir = tempfile.mkdtemp(prefix="sea-planting-", dir=BUILD_DIR or None)
        self.addCleanup(shutil.rmtree, self.dir, True)

    def plant(self, names):
        for name in names:
            shutil.copy(PLANTED, os.path.join(self.dir, name))

    def loaded(self):
        return sorted(n[:-len(".loaded")] for n in os.listdir(self.dir) if n.endswith(".loaded"))

    def clear_markers(self):
        for name in os.listdir(self.dir):
            if name.endswith(".loaded"):
                os.remove(os.path.join(self.dir, name))

    def run_windows(self, exe, args, names, timeout=300):
        env = dict(os.environ, WINEDLLOVERRIDES=overrides(names), WINEDEBUG="-all")
        env.pop("RUX_DEBUG", None)
        try:
            return subprocess.run([RUNNER, exe] + list(args), cwd=self.dir, env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def installer(self, stub, name):
        with open(LAUNCHER, "rb") as f:
            archive = zip_bytes([("Windows/install.exe", f.read()), ("data/readme.txt", b"hello")])
        path = os.path.join(self.dir, name)
        build_installer(stub, path, archive)
        return path

    def test_load_probes_control_and_hardened(self):
        self.plant(FOR_PROBES)
        for probe in (PROBE_PLAIN, PROBE_HARDENED):
            shutil.copy(probe, self.dir)
        plain = os.path.join(self.dir, os.path.basename(PROBE_PLAIN))
        hardened = os.path.join(self.dir, os.path.basename(PROBE_HARDENED))
        # Control: LoadLibraryW by name without the hardening finds the
        # planted copies in the program's folder.
        self.assertIsNotNone(self.run_windows(plain, FOR_PROBES, FOR_PROBES))
        self.assertEqual(self.loaded(), sorted(FOR_PROBES))
        self.clear_markers()
        result = self.run_windows(hardened, FOR_PROBES, FOR_PROBES)
        self.assertIsNotNone(result)
        self.assertEqual(self.loaded(), [])
        out = result.stdout.decode("utf-8", "replace").lower()
        for name in FOR_PROBES:
            self.assertIn("%s -> c:\\windows\\system32\\%s" % (name, name), out)

    def test_the_program_never_loads_planted_dlls(self):
        exe = self.installer(SEA_EXE, "install.exe")
        self.plant(FOR_PROGRAM)
        modes = [("silent", ["-i", "silent"])]
        if os.environ.get("DISPLAY"):
            modes.append(("GUI", []))
        else:
            print("no DISPLAY: the GUI run mode is not checked", file=sys.stderr)
        for label, args in modes:
            with self.subTest(mode=label):
                temp = os.path.join(self.dir, "tmp-" + label)
                os.makedirs(temp)
                result = self.run_windows(exe, args + ["-tempdir", win_path(temp)], FOR_PROGRAM)
                self.assertIsNotNone(result, "the run did not end")
                self.assertEqual(result.returncode, 0)
                self.assertEqual(self.loaded(), [])
                work = [d for d in os.listdir(temp) if d.startswith("I")]
                self.assertEqual(len(work), 1)
                self.assertTrue(os.path.exists(os.path.join(temp, work[0], "launch-record.txt")))

    def test_the_program_without_its_hardening_loads_them(self):
        if not SEA_UNHARDENED:
            self.skipTest("SEA_UNHARDENED is not set")
        if not os.environ.get("DISPLAY"):
            self.skipTest("no DISPLAY: the GUI run mode cannot be started")
        exe = self.installer(SEA_UNHARDENED, "plain.exe")
        self.plant(["uxtheme.dll"])
        temp = os.path.join(self.dir, "tmp-plain")
        os.makedirs(temp)
        # The planted DLL refuses to load, which Wine's theming code does not
        # survive: the run is cut short once the marker had its chance.
        self.run_windows(exe, ["-tempdir", win_path(temp)], ["uxtheme.dll"], timeout=40)
        self.assertEqual(self.loaded(), ["uxtheme.dll"])

    def test_the_import_table_names_known_dlls_only(self):
        objdump = shutil.which("x86_64-w64-mingw32-objdump") or shutil.which("i686-w64-mingw32-objdump")
        if not objdump:
            self.skipTest("no MinGW objdump")
        out = subprocess.run([objdump, "-p", SEA_EXE], stdout=subprocess.PIPE).stdout.decode()
        imports = {line.split(":", 1)[1].strip().lower() for line in out.splitlines()
                   if "DLL Name:" in line}
        self.assertTrue(imports)
        self.assertLessEqual(imports, KNOWN_DLLS)


if __name__ == "__main__":
    unittest.main(verbosity=2)
