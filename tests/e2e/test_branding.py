"""Branding with sea-build --icon and --version-info: independent readers
(Debian's pefile, icoutils' wrestool, and under Wine the Windows API
through version_probe.exe) read back the version strings, the fixed
version, every icon image byte for byte, the 30 dialog and string-table
languages and both manifests; the image stays valid (sorted resource
directory, alignment, SizeOfImage, checksum, no certificate table); the
branded installer runs silently and in its dialog, which shows the
vendor's icon (screenshot in build/screenshots/); and every bad input is
refused with exit code 1, a message naming the file and the cause, and no
output file."""
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
import zipfile
import zlib

import guitest
from seatest import (IS_WINDOWS_BUILD, LAUNCHER, RUNNER, SEA_EXE, SOURCE_DIR, SeaTestCase,
                     exit_status, launcher_bytes, without_wine_lines)

try:
    import pefile
except ImportError:  # Debian's python3-pefile, when another Python runs the tests
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import pefile
    except ImportError:
        pefile = None

TOOL = os.environ.get("SEA_BUILD_TOOL", "")
PROBE = os.environ.get("SEA_VERSION_PROBE", "")
VENDOR_COLOUR = (230, 20, 200)  # magenta: in none of the stub's icons
CLASS_GROUP = "QUILLORA SELF EXTRACTOR"
SETTINGS = {
    "ProductName": "Acme Wid\u0121et \u65e5\u672c\u8a9e",
    "CompanyName": "Acme \u00c9ditions S.A.",
    "FileDescription": "Acme Widget Setup \u2013 \u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430",
    "FileVersion": "4.2.17.9",
    "ProductVersion": "4.2",
    "LegalCopyright": "\u00a9 2026 Acme",
    "OriginalFilename": "acme-setup.exe",
    "InternalName": "acme-setup",
    "Comments": "Built with sea-build",
}


def stub_path(to_run=False):
    """The stub to brand: the 32-bit product when it has been built, unless
    the installer is to run (this host's Wine may run only the build under
    test); otherwise the Windows build under test."""
    product = os.path.join(SOURCE_DIR, "build", "win32", "bin", "sea.exe")
    if os.path.exists(product) and not to_run:
        return product
    return SEA_EXE if IS_WINDOWS_BUILD else None


def bitmap_image(size, colour):
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes((colour[2], colour[1], colour[0], 255)) * (size * size)
    mask = b"\0" * (((size + 31) // 32) * 4 * size)
    return header + pixels + mask


def png_image(size, colour):
    rows = b"".join(b"\0" + bytes(colour + (255,)) * size for _ in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def icon_file(images):
    """An .ico of (size, data) images: BMPs and a 256-pixel PNG."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        head += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    return head + body


def ico_images(data):
    """(size, image bytes) of each image of an .ico file."""
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        width, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((width or 256, data[offset:offset + size]))
    return images


VENDOR_IMAGES = [(16, bitmap_image(16, VENDOR_COLOUR)), (32, bitmap_image(32, VENDOR_COLOUR)),
                 (48, bitmap_image(48, VENDOR_COLOUR)), (256, png_image(256, VENDOR_COLOUR))]


def resources(pe):
    """{(type, name, language): bytes} of a pefile image; names as str."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(kind.name) if kind.name is not None else kind.id
        for name in kind.directory.entries:
            name_key = str(name.name) if name.name is not None else name.id
            for language in name.directory.entries:
                entry = language.data.struct
                found[(type_key, name_key, language.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def group_members(data):
    count = struct.unpack_from("<H", data, 4)[0]
    return [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]


class BrandingTestCase(SeaTestCase):
    to_run = False  # the installers built are run under Wine

    def setUp(self):
        if not TOOL:
            self.skipTest("SEA_BUILD_TOOL is not set (run through ctest)")
        self.stub = stub_path(self.to_run)
        if not self.stub:
            self.skipTest("no Windows stub built yet (build/win32/bin/sea.exe)")
        super().setUp()
        self.tree = os.path.join(self.scratch, "tree")
        os.makedirs(os.path.join(self.tree, "Windows"))
        with open(os.path.join(self.tree, "Windows", "setup.exe"), "wb") as f:
            f.write(launcher_bytes() if LAUNCHER else b"MZ stand-in")
        with open(os.path.join(self.tree, "readme.txt"), "wb") as f:
            f.write(b"hello\n" * 1000)
        self.icon = os.path.join(self.scratch, "vendor.ico")
        with open(self.icon, "wb") as f:
            f.write(icon_file(VENDOR_IMAGES))
        with open(self.stub, "rb") as f:
            self.wide = pefile.PE(data=f.read(), fast_load=True).OPTIONAL_HEADER.Magic == 0x20B \
                if pefile else IS_WINDOWS_BUILD

    def build_tool(self, args):
        command = ([RUNNER] if RUNNER else []) + [TOOL] + list(args)
        env = dict(os.environ, LANG="C.UTF-8")
        return subprocess.run(command, cwd=self.scratch, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=600)

    def brand(self, out, *extra, stub=None):
        args = [self.tree, "-o", out, "--stub", stub or self.stub, "-q"] + list(extra)
        if self.wide:
            args.append("--allow-pe32plus")
        return self.build_tool(args)

    def branded(self, name="setup.exe"):
        out = os.path.join(self.scratch, name)
        args = ["--icon", self.icon]
        for key, value in SETTINGS.items():
            args += ["--version-info", f"{key}={value}"]
        result = self.brand(out, *args)
        self.assertEqual(result.returncode, 0, result.stderr.decode("utf-8", "replace"))
        return out


@unittest.skipIf(pefile is None, "python3-pefile is not installed (scripts/test.sh installs it)")
class IndependentReaders(BrandingTestCase):

    def test_pefile_and_wrestool_read_back_the_branding(self):
        out = self.branded()
        stub = pefile.PE(self.stub)
        pe = pefile.PE(out)
        # Version strings and the fixed version.
        tables = [t for info in pe.FileInfo[0] if hasattr(info, "StringTable") for t in info.StringTable]
        self.assertEqual(len(tables), 1)
        strings = {k.decode(): v.decode("utf-8") for k, v in tables[0].entries.items()}
        for key, value in SETTINGS.items():
            self.assertEqual(strings[key], value, key)
        fixed = pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00040002, 0x00110009))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00040002, 0))

        # Every other resource keeps its bytes: 30 languages of the dialog
        # and of each string block, both manifests.
        before, after = resources(stub), resources(pe)
        for key, data in before.items():
            if key[0] in (3, 14, 16):
                continue
            self.assertEqual(after.get(key), data, key)
        self.assertEqual(len([k for k in after if k[:2] == (5, "PROGRESSINDICATOR")]), 30)
        for block in {k[1] for k in after if k[0] == 6}:
            self.assertEqual(len([k for k in after if k[:2] == (6, block)]), 30, block)
        self.assertEqual(sorted(k[2] for k in after if k[:2] == (24, 1)), [0, 1033])
        self.assertEqual({k for k in after if k[0] not in (3, 14, 16)},
                         {k for k in before if k[0] not in (3, 14, 16)})

        # Icons: both application groups name images equal to the .ico's;
        # the warning and error groups and their images are unchanged.
        for group in (CLASS_GROUP, 108):
            members = group_members(after[(14, group, 0)])
            self.assertEqual(len(members), len(VENDOR_IMAGES), group)
            for member, (size, data) in zip(members, VENDOR_IMAGES):
                self.assertEqual(member[0], size % 256)
                self.assertEqual(after[(3, member[7], 0)], data, (group, size))
        for group in (110, 111):
            self.assertEqual(after[(14, group, 0)], before[(14, group, 0)])
            for member in group_members(before[(14, group, 0)]):
                self.assertEqual(after[(3, member[7], 0)], before[(3, member[7], 0)])
        # The first group in resource order (Explorer's icon) is the vendor's.
        groups = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == 14][0]
        self.assertEqual(str(groups.directory.entries[0].name), CLASS_GROUP)

        # A valid image: sorted directory, alignment, size, checksum, no
        # certificate table; the payload still reads.
        for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            self.assert_sorted(kind.directory.entries)
        self.assert_sorted(pe.DIRECTORY_ENTRY_RESOURCE.entries)
        header = pe.OPTIONAL_HEADER
        for section in pe.sections:
            self.assertEqual(section.VirtualAddress % header.SectionAlignment, 0)
            self.assertEqual(section.PointerToRawData % header.FileAlignment, 0)
        last = pe.sections[-1]
        end = last.VirtualAddress + max(last.Misc_VirtualSize, last.SizeOfRawData)
        self.assertEqual(header.SizeOfImage, -(-end // header.SectionAlignment) * header.SectionAlignment)
        self.assertEqual(header.CheckSum, pe.generate_checksum())
        security = header.DATA_DIRECTORY[4]
        self.assertEqual((security.VirtualAddress, security.Size), (0, 0))
        with zipfile.ZipFile(out) as z:
            self.assertIsNone(z.testzip())
            self.assertIn("readme.txt", z.namelist())
        self.assertEqual(self.build_tool(["--test", out]).returncode, 0)

        if shutil.which("wrestool"):
            for group in (CLASS_GROUP, "108"):
                icon = subprocess.run(["wrestool", "-x", "--type=14", "--name=" + group, out],
                                      stdout=subprocess.PIPE, check=True).stdout
                self.assertEqual(ico_images(icon), VENDOR_IMAGES, group)
            listing = subprocess.run(["wrestool", "-l", out], stdout=subprocess.PIPE,
                                     check=True).stdout.decode()
            self.assertEqual(listing.count("--type=5 "), 30)
            self.assertEqual(listing.count("--type=24 --name=1 "), 2, listing)
            self.assertEqual(listing.count("--type=6 "), 60, listing)

    def assert_sorted(self, entries):
        named = [str(e.name) for e in entries if e.name is not None]
        numbered = [e.id for e in entries if e.name is None]
        self.assertEqual([e.name is None for e in entries], [False] * len(named) + [True] * len(numbered))
        self.assertEqual(named, sorted(named))
        self.assertEqual(numbered, sorted(numbered))

    def test_unbranded_installer_has_the_stub_resources_and_a_whole_file_checksum(self):
        out = os.path.join(self.scratch, "plain.exe")
        self.assertEqual(self.brand(out).returncode, 0)
        pe = pefile.PE(out)
        self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
        self.assertEqual(resources(pe), resources(pefile.PE(self.stub)))


class BadInput(BrandingTestCase):

    def assert_refused(self, args, *texts, stub=None):
        out = os.path.join(self.scratch, "refused.exe")
        result = self.brand(out, *args, stub=stub)
        error = without_wine_lines(result.stderr.decode("utf-8", "replace"))
        self.assertEqual(result.returncode, 1, error)
        self.assertTrue(error.startswith("sea-build: "), error)
        self.assertEqual(error.count("\n"), 1, error)
        for text in texts:
            self.assertIn(text, error)
        self.assertFalse(os.path.exists(out), error)
        self.assertEqual([n for n in os.listdir(self.scratch) if n.startswith("refused")], [])

    def write(self, name, data):
        path = os.path.join(self.scratch, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_bad_icons(self):
        whole = icon_file(VENDOR_IMAGES)
        cursor = bytearray(whole)
        cursor[2] = 2
        outside = bytearray(whole)
        struct.pack_into("<I", outside, 6 + 12, len(whole) + 10)
        cases = {
            "text.ico": (b"not an icon at all\n", "not an icon file"),
            "empty.ico": (struct.pack("<HHH", 0, 1, 0), "holds no image"),
            "cursor.ico": (bytes(cursor), "a cursor file"),
            "cut.ico": (whole[:40], "runs past the end of the file"),
            "outside.ico": (bytes(outside), "image 1 of 4 lies outside the file"),
            "zero.ico": (b"", "not an icon file"),
        }
        for name, (data, reason) in cases.items():
            with self.subTest(name=name):
                self.assert_refused(["--icon", self.write(name, data)], name + ": ", reason)
        with self.subTest(name="missing"):
            self.assert_refused(["--icon", os.path.join(self.scratch, "none.ico")],
                                "cannot read the icon", "none.ico")

    def test_bad_version_settings(self):
        cases = [
            ("Vendor=Acme", "unknown key Vendor"),
            ("ProductName", "not KEY=VALUE"),
            ("ProductName=", "the value is empty"),
            ("FileVersion=1.2.beta", "FileVersion=1.2.beta: not a version a.b.c.d"),
            ("ProductVersion=1.2.3.4.5", "not a version"),
            ("ProductVersion=70000", "not a version"),
            ("Comments=" + "x" * 1025, "the value is too long (1025"),
        ]
        for setting, reason in cases:
            with self.subTest(setting=setting[:30]):
                self.assert_refused(["--version-info", setting], "--version-info", reason)
        with self.subTest(setting="twice"):
            self.assert_refused(["--version-info", "ProductName=a", "--version-info", "productname=b"],
                                "given twice")

    def test_stubs_that_cannot_be_branded(self):
        installer = self.branded("installer.exe")
        self.assert_refused(["--icon", self.icon], "installer.exe", "bytes after its image",
                            stub=installer)
        with open(self.stub, "rb") as f:
            data = bytearray(f.read())
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        directories = pe + 24 + (112 if self.wide else 96)
        struct.pack_into("<II", data, directories + 4 * 8, len(data), 8)
        signed = self.write("signed.exe", bytes(data) + b"\0" * 8)
        self.assert_refused(["--icon", self.icon], "signed.exe", "already signed", stub=signed)
        # A stub whose resources are followed by a section the program
        # addresses (the relocations marked as not discardable).
        stub = pefile.PE(self.stub) if pefile else None
        if stub:
            reloc = [s for s in stub.sections if s.Name.rstrip(b"\0") == b".reloc"][0]
            data = bytearray(stub.__data__)
            struct.pack_into("<I", data, reloc.get_file_offset() + 36, reloc.Characteristics & ~0x02000000)
            pinned = self.write("pinned.exe", bytes(data))
            self.assert_refused(["--version-info", "ProductName=x"], "pinned.exe",
                                "cannot brand this stub", "section .reloc follows the resources",
                                stub=pinned)


@unittest.skipUnless(IS_WINDOWS_BUILD and PROBE and LAUNCHER,
                     "the Windows build runs the installer and version_probe under Wine")
class UnderWine(BrandingTestCase):
    to_run = True

    def probe(self, path):
        result = self.run_sea([path], exe=PROBE)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.decode("utf-8").replace("\r\n", "\n").splitlines()
        return dict(line.split("=", 1) for line in lines if "=" in line)

    def test_windows_reads_the_version_and_icon_back(self):
        out = self.branded()
        seen = self.probe(out)
        for key, value in SETTINGS.items():
            self.assertEqual(seen.get(key), value, key)
        self.assertEqual(seen["fixed FileVersion"], "4.2.17.9")
        self.assertEqual(seen["fixed ProductVersion"], "4.2.0.0")
        self.assertEqual(seen["icons"], "4")
        given = self.probe(self.icon)
        self.assertEqual(seen["large"], given["large"])
        self.assertEqual(seen["small"], given["small"])
        self.assertNotEqual(self.probe(self.stub)["large"], given["large"])

    def test_branded_installer_runs_silently(self):
        with open(os.path.join(self.tree, "Windows", "exitcode.txt"), "w") as f:
            f.write("7")
        out = self.branded()
        temp = os.path.join(self.scratch, "tmp")
        os.makedirs(temp)
        result = self.run_sea(["-i", "silent", "-tempdir", temp], exe=out)
        self.assertEqual(exit_status(result.returncode), 7, result.stderr)
        work = [n for n in os.listdir(temp) if n.startswith("I")]
        self.assertEqual(len(work), 1)
        with open(os.path.join(temp, work[0], "readme.txt"), "rb") as f:
            self.assertEqual(f.read(), b"hello\n" * 1000)


def setUpModule():
    guitest.start_session()


def tearDownModule():
    guitest.end_session()


class BrandedDialog(guitest.GuiTestCase):
    """The dialog of a branded installer shows the vendor's icon."""

    def test_dialog_shows_the_vendor_icon(self):
        stub = stub_path(to_run=True)
        if not TOOL or not stub:
            self.skipTest("needs sea-build and the Windows stub")
        tree = os.path.join(self.scratch, "tree")
        os.makedirs(os.path.join(tree, "Windows"))
        with open(os.path.join(tree, "Windows", "setup.exe"), "wb") as f:
            f.write(launcher_bytes())
        with open(os.path.join(tree, "Windows", "exitcode.txt"), "w") as f:
            f.write("7")
        # Enough data that the dialog stays up for the screenshot.
        with open(os.path.join(tree, "data.bin"), "wb") as f:
            f.write(os.urandom(2 * guitest.BIG_PAYLOAD_MB << 20))
        icon = os.path.join(self.scratch, "vendor.ico")
        with open(icon, "wb") as f:
            f.write(icon_file(VENDOR_IMAGES))
        out = os.path.join(self.scratch, "setup.exe")
        command = [RUNNER, TOOL, tree, "-o", out, "--stub", stub, "-q", "-1", "--icon", icon,
                   "--version-info", "FileDescription=Acme Setup"]
        if pefile and pefile.PE(stub, fast_load=True).OPTIONAL_HEADER.Magic == 0x20B:
            command.append("--allow-pe32plus")
        built = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
        self.assertEqual(built.returncode, 0, built.stderr)

        # On a loaded machine the run can end before a whole screenshot of
        # its dialog is taken; such a run shows nothing either way and is made
        # again. A shot of the dialog without the icon is a failure.
        for attempt in range(3):
            self.start(out)
            shots, vendor, full, rect = self.shoot_icon(self.wait_for_dialog())
            self.assertEqual(self.wait_for_exit(), 7)
            if vendor or shots:
                break
            print(f"run {attempt + 1} ended before a screenshot of its dialog; once more",
                  file=sys.stderr)
            self.clear_tempdir()
        self.assertGreater(shots, 0, "no run's dialog stayed up for a screenshot")
        self.save_screenshot(full, rect, "branded-en-preparing")
        self.assertGreater(len(vendor), 50, "the vendor's icon is not in the dialog "
                           "(build/screenshots/branded-en-preparing.png)")

    def shoot_icon(self, window):
        """Screenshots of the dialog until one shows the vendor's icon: the
        number of shots taken with the dialog up before and after, the icon's
        pixels in the last of them, that shot and the dialog's place."""
        self.watch_progress(window, until=lambda fill: fill > 0.05)
        full = os.path.join(self.scratch, "full.png")
        shots, vendor, rect = 0, [], None
        deadline = time.time() + 60
        while not vendor and time.time() < deadline and guitest.find_dialog() == window:
            rect = guitest.window_rect(window)
            guitest.screenshot(full)
            if guitest.find_dialog() != window:
                break
            shots += 1
            icon_rect = self.template.rect_on_screen(1002, rect)
            vendor = [p for row in guitest.pixels(full, icon_rect) for p in row
                      if all(abs(a - b) < 40 for a, b in zip(p, VENDOR_COLOUR))]
        return shots, vendor, full, rect


if __name__ == "__main__":
    unittest.main(verbosity=2)
