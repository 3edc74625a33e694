"""Self-extraction end to end in the silent and console run modes: the
payload is unpacked into a fresh working directory below -tempdir, the
launcher is chosen and started with the user's arguments, and its exit code
becomes the program's."""
import glob
import os
import subprocess
import unittest
import zipfile

from payload import build_installer, foreign_entries, zip_bytes
from seatest import (IS_WINDOWS_BUILD, InstallerTestCase, exit_status, host_to_program_path,
                     launcher_bytes, log_text)

SEP = "\\" if IS_WINDOWS_BUILD else "/"
OWN_FILE_UNCHECKED = ("The installer's file is held from start-up, but it cannot be compared "
                      "with the running program: ")


def read_record(work_dir):
    """The launcher's record of what it was handed, as a dict."""
    record = {}
    with open(os.path.join(work_dir, "launch-record.txt"), "rb") as f:
        for line in f.read().decode("utf-8").splitlines():
            key, _, value = line.partition("=")
            record[key] = value
    return record


class Extraction(InstallerTestCase):

    def make(self, entries, name="install.exe", directory=None):
        path = os.path.join(directory or self.scratch, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        build_installer(os.environ["SEA_EXE"], path, zip_bytes(entries))
        return path

    def work_dirs(self):
        return sorted(d for d in glob.glob(os.path.join(self.temp, "I*")) if os.path.isdir(d))

    def run_installer(self, exe, args=(), mode="silent"):
        result = self.run_sea(["-i", mode, "-tempdir", host_to_program_path(self.temp)] + list(args),
                              exe=exe, env={"RUX_DEBUG": "TRUE"})
        return exit_status(result.returncode), result

    def test_launcher_gets_arguments_and_exit_code_comes_back(self):
        for code in (0, 3, 106, 255):
            with self.subTest(code=code):
                exe = self.make([("Windows/install.exe", launcher_bytes()),
                                 ("Windows/exitcode.txt", str(code).encode()),
                                 ("InstallerData/readme.txt", b"hello\r\n" * 1000)],
                                directory=os.path.join(self.scratch, "c%d" % code))
                status, _ = self.run_installer(exe, ["-extra", "x y"])
                self.assertEqual(status, code)
        dirs = self.work_dirs()
        self.assertEqual(len(dirs), 4, "one fresh working directory per run")
        record = read_record(dirs[-1])
        self.assertEqual(record["TMP"], host_to_program_path(self.temp))
        self.assertEqual(record["TEMP"], host_to_program_path(self.temp))
        self.assertTrue(record["program"].endswith(SEP + "Windows" + SEP + "install.exe"))
        if IS_WINDOWS_BUILD:
            # The launch command line: launcher path, one space, then the rest of
            # the own command line after the quoted program path (which starts with
            # a space itself: two spaces in all).
            expected_rest = " -i silent -tempdir %s -extra \"x y\"" % host_to_program_path(self.temp)
            self.assertEqual(record["cmdline"], record["program"] + " " + expected_rest)
        with open(os.path.join(dirs[-1], "InstallerData", "readme.txt"), "rb") as f:
            self.assertEqual(f.read(), b"hello\r\n" * 1000)

    def test_console_mode_runs_the_same_way(self):
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("Windows/exitcode.txt", b"7")])
        status, _ = self.run_installer(exe, mode="console")
        self.assertEqual(status, 7)
        self.assertIn("Running in Console Mode", log_text(self.scratch))

    def test_launcher_choice(self):
        cases = [
            # own file name, payload launchers, expected folder/launcher
            ("install.exe", ["Windows/install.exe", "Windows/a.exe"], "Windows/install.exe"),
            ("setup.exe", ["Windows/install.exe"], "Windows/install.exe"),
            ("setup.exe", ["Windows_Pure_64_Bit/x64.exe", "Windows/install.exe"],
             "Windows_Pure_64_Bit/x64.exe"),
        ]
        for i, (own, launchers, expected) in enumerate(cases):
            with self.subTest(own=own, launchers=launchers):
                before = set(self.work_dirs())
                exe = self.make([(name, launcher_bytes()) for name in launchers], name=own,
                                directory=os.path.join(self.scratch, "case%d" % i))
                status, _ = self.run_installer(exe)
                self.assertEqual(status, 0)
                (work,) = set(self.work_dirs()) - before
                record = read_record(work)
                self.assertTrue(record["program"].endswith(SEP + expected.replace("/", SEP)),
                                record["program"])

    def test_heap_options_are_stripped_and_written_into_the_configuration(self):
        rux = (b"# rux.nl.java.option.java.heap.size.max=1m\n"
               b"rux.nl.java.option.java.heap.size.initial=16m\n"
               b"rux.nl.java.option.java.heap.size.max = 32m\n"
               b"rux.nl.java.option.java.heap.size.max=64m\n"
               b"other=1\n")
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("Windows/install.rux", rux)])
        status, _ = self.run_installer(exe, ["-jvmxmx", "512m", "-keep"])
        self.assertEqual(status, 0)
        (work,) = self.work_dirs()
        with open(os.path.join(work, "Windows", "install.rux"), "rb") as f:
            patched = f.read()
        eol = b"\r\n"  # the rewritten file always has CR LF line ends
        self.assertEqual(patched, eol.join([
            b"# rux.nl.java.option.java.heap.size.max=1m",
            b"rux.nl.java.option.java.heap.size.initial=16m",
            b"rux.nl.java.option.java.heap.size.max = 32m",
            b"rux.nl.java.option.java.heap.size.max=512m",
            b"other=1"]) + eol)
        record = read_record(work)
        self.assertNotIn("-jvmxmx", record["cmdline"])
        self.assertNotIn("512m", record["cmdline"])
        self.assertIn("-keep", record["cmdline"])

    def test_location_file_holds_the_own_path(self):
        exe = self.make([("Windows/install.exe", launcher_bytes())],
                        directory=os.path.join(self.scratch, "Prüfung ñ"))
        status, _ = self.run_installer(exe)
        self.assertEqual(status, 0)
        (work,) = self.work_dirs()
        with open(os.path.join(work, "sea_loc"), "rb") as f:
            data = f.read()
        self.assertEqual(data, host_to_program_path(exe).encode("utf-8") + b"\n\x00")
        self.assertEqual(read_record(work)["sea_loc"], data.hex())

    def test_damaged_payload_fails_with_the_crc_error(self):
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("data.bin", os.urandom(20000))])
        with open(exe, "r+b") as f:
            data = f.read()
            at = data.rfind(b"data.bin", 0, data.rfind(b"PK\x01\x02")) + 8 + 5000
            f.seek(at)
            f.write(bytes([data[at] ^ 0xFF]))
        status, _ = self.run_installer(exe)
        self.assertEqual(status, 255)
        log = log_text(self.scratch)
        self.assertIn("Code -1984 = 'CRC Error'", log)
        self.assertIn("*** FAILURE: Unable to unzip file: Error -1984", log)
        self.assertNotIn("Success. The extracted file execution has begun.", log)

    def test_lzma_and_zstandard_entries_of_other_tools(self):
        """Entries that 7-Zip (LZMA, with and without the end marker),
        Python's zipfile (LZMA, with it) and the zstd program (a frame put
        into the ZIP here as method 93) compressed come out byte for byte,
        beside a deflated launcher, in one run."""
        contents = {"text.txt": b"lorem ipsum dolor sit amet\r\n" * 5000,
                    "random.bin": os.urandom(70000), "empty.txt": b"",
                    "pages.bin": bytes(range(256)) * 64}  # whole 4096-byte buffers
        src = os.path.join(self.scratch, "src")
        os.makedirs(src)
        for name, data in contents.items():
            with open(os.path.join(src, name), "wb") as f:
                f.write(data)
        entries = [("Windows/install.exe", launcher_bytes())]
        for folder, method in (("7z", "LZMA"), ("7z-no-marker", "LZMA:eos=off")):
            path = os.path.join(self.scratch, folder + ".zip")
            subprocess.run(["7z", "a", "-tzip", "-mm=" + method, path] + sorted(contents),
                           cwd=src, check=True, stdout=subprocess.DEVNULL)
            entries += [(folder + "/" + e[0],) + e[1:] for e in foreign_entries(path)]
        path = os.path.join(self.scratch, "zipfile.zip")
        with zipfile.ZipFile(path, "w", zipfile.ZIP_LZMA) as z:
            for name, data in contents.items():
                z.writestr(name, data)
        entries += [("zipfile/" + e[0],) + e[1:] for e in foreign_entries(path)]
        for name, data in contents.items():
            frame = subprocess.run(["zstd", "-q", "-c", "-19"], input=data, check=True,
                                   stdout=subprocess.PIPE).stdout
            entries.append(("zstd/" + name, data, {"method": 93, "packed": frame}))
        # Both LZMA forms are there.
        lzma_flags = {e[2]["flags"] & 2 for e in entries[1:] if e[2]["method"] == 14}
        self.assertEqual(lzma_flags, {0, 2})
        status, _ = self.run_installer(self.make(entries))
        self.assertEqual(status, 0)
        work = self.work_dirs()[-1]
        for name, data, _ in entries[1:]:
            with open(os.path.join(work, *name.split("/")), "rb") as f:
                self.assertTrue(f.read() == data, name)

    def test_entry_needing_more_than_the_decoder_cap_fails_like_a_damaged_one(self):
        data = b"small" * 100
        frame = subprocess.run(["zstd", "-q", "-c", "--no-content-size"], input=data, check=True,
                               stdout=subprocess.PIPE).stdout
        frame = frame[:5] + b"\xA0" + frame[6:]  # Window_Descriptor: 1 GiB
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("big.bin", data, {"method": 93, "packed": frame, "size": 1 << 30})])
        status, _ = self.run_installer(exe)
        self.assertEqual(status, 255)
        log = log_text(self.scratch)
        self.assertIn("Code -1980 = 'Invalid archive'", log)
        self.assertIn("*** FAILURE: Unable to unzip file: Error -1980", log)
        self.assertNotIn("Success. The extracted file execution has begun.", log)
        # Created, as a damaged entry's file is, but nothing decoded into it.
        self.assertEqual([os.path.getsize(p) for p in glob.glob(os.path.join(self.temp, "I*", "big.bin"))],
                         [0])

    def test_no_payload_fails_without_leaving_a_directory(self):
        exe = self.copy_program(name="install.exe")
        status, _ = self.run_installer(exe)
        self.assertEqual(status, 255)
        log = log_text(self.scratch)
        self.assertIn("Code -1980 = 'Invalid archive'", log)
        # The working directory was created (and entered) before the
        # archive was found wanting, and removed again while still empty.
        self.assertIn("Comparing free disk space... ", log)
        self.assertEqual(os.listdir(self.temp), [], "the working directory was left behind")

    def test_whole_log_of_a_successful_run(self):
        """Every line of an ordinary run into an empty base folder, in the
        order of the design, silent and with the progress dialog."""
        exe = self.make([("Windows/install.exe", launcher_bytes()),
                         ("Windows/install.rux", b"key=value\n"),
                         ("InstallerData/data.txt", b"data")])
        for mode in ("silent", "gui"):
            with self.subTest(mode=mode):
                base = os.path.join(self.scratch, "base-" + mode)
                os.makedirs(base)
                log_path = os.path.join(self.scratch, "sea.log")
                if os.path.exists(log_path):
                    os.remove(log_path)
                args = (["-i", "silent"] if mode == "silent" else []) + \
                    ["-tempdir", host_to_program_path(base)]
                result = self.run_sea(args, exe=exe, env={"RUX_DEBUG": "TRUE"})
                self.assertEqual(exit_status(result.returncode), 0, result.stderr)
                # The temporary path as the system reports it ends with a separator.
                temp = host_to_program_path(base) + SEP
                head = ["Self Extractor execution begins."]
                head += ["Running in Silent Mode"] if mode == "silent" else ["Window class registered."]
                head += ["Extracting files.",
                         "Dialog: Preparing to install...",
                         "Using TEMP path from win32 subsystem: " + temp,
                         "Extracting to: " + temp]
                tail = ["Checking free disk space",
                        "New version of Windows detected: GetDiskFreeSpaceEx()",
                        None,  # the free space in kilobytes
                        "Retrieved free disk space... ",
                        "Comparing free disk space... ",
                        "Success. The extracted file execution has begun."]
                tail += ["Dialog initialized."] if mode == "gui" else []
                tail += ["Initiating self-extraction...",
                         "*** The process has terminated with an exit code of 0 ***",
                         ""]  # the last line break
                log = log_text(self.scratch)
                # Wine cannot compare the held own file with the running
                # image, and the log says so once; elsewhere it can.
                unchecked = [l for l in log if l.startswith(OWN_FILE_UNCHECKED)]
                self.assertEqual(len(unchecked), 1 if IS_WINDOWS_BUILD else 0, log)
                log = [l for l in log if l not in unchecked]
                self.assertEqual(log[:len(head)], head)
                # Access control: an elevated administrator gets the protected
                # list (or the default one when it cannot be built), anyone
                # else the default security.
                security = log[len(head):len(log) - len(tail)]
                self.assertIn(security, [["*" * 13, "Attributes set.", "Verified."],
                                         ["*" * 13, "Default.", "Verifying..."],
                                         ["*" * 11, "Verifying..."]])
                rest = log[len(log) - len(tail):]
                self.assertRegex(rest[2], r"^Free disk space: \d+ Kilobytes$")
                rest[2] = None
                self.assertEqual(rest, tail)

    def test_not_enough_space(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small tmpfs needs root")
        small = os.path.join(self.scratch, "small")
        os.makedirs(small)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", small]).returncode:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            exe = self.make([("Windows/install.exe", launcher_bytes())])
            result = self.run_sea(["-i", "silent", "-tempdir", host_to_program_path(small)],
                                  exe=exe, env={"RUX_DEBUG": "TRUE"})
            self.assertEqual(exit_status(result.returncode), 255)
            log = log_text(self.scratch)
            self.assertIn("*** Error 14: 'Not enough room for a complete install.' ***", log)
            size = os.path.getsize(exe) - 2048
            line = ("*** FAILURE: Not enough free disk space available: Required disc space "
                    "is %d KB, available is " % (3 * size // 1024))
            self.assertTrue(any(l.startswith(line) for l in log), log)
            self.assertEqual(os.listdir(small), [], "the working directory was left behind")
        finally:
            subprocess.run(["umount", small])


if __name__ == "__main__":
    unittest.main(verbosity=2)
