#!/usr/bin/env python3
"""Checks the resource scripts in resources/: every language variant of the
progress dialog and the string table, the ids header, the icons and the
manifest templates.

    check_resources.py [SOURCE_DIR]

SOURCE_DIR is the repository root (default: two levels above this file).
"""

import os
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
# Run from the source tree: leave no bytecode caches there.
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import rc_source  # noqa: E402

ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))


def resources_dir():
    return os.path.join(ROOT, "resources")


# File (without .rc) -> the LANGUAGE statement it must carry.
LANGUAGES = {
    "ca": ("LANG_CATALAN", "SUBLANG_NEUTRAL"),
    "cs": ("LANG_CZECH", "SUBLANG_NEUTRAL"),
    "da": ("LANG_DANISH", "SUBLANG_NEUTRAL"),
    "de": ("LANG_GERMAN", "SUBLANG_NEUTRAL"),
    "el": ("LANG_GREEK", "SUBLANG_NEUTRAL"),
    "en": ("LANG_ENGLISH", "SUBLANG_NEUTRAL"),
    "es": ("LANG_SPANISH", "SUBLANG_NEUTRAL"),
    "fi": ("LANG_FINNISH", "SUBLANG_NEUTRAL"),
    "fr": ("LANG_FRENCH", "SUBLANG_NEUTRAL"),
    "hu": ("LANG_HUNGARIAN", "SUBLANG_NEUTRAL"),
    "it": ("LANG_ITALIAN", "SUBLANG_NEUTRAL"),
    "ja": ("LANG_JAPANESE", "SUBLANG_NEUTRAL"),
    "ko": ("LANG_KOREAN", "SUBLANG_NEUTRAL"),
    "nl": ("LANG_DUTCH", "SUBLANG_NEUTRAL"),
    "no": ("LANG_NORWEGIAN", "SUBLANG_NEUTRAL"),
    "pl": ("LANG_POLISH", "SUBLANG_NEUTRAL"),
    "ru": ("LANG_RUSSIAN", "SUBLANG_NEUTRAL"),
    "sv": ("LANG_SWEDISH", "SUBLANG_NEUTRAL"),
    "th": ("LANG_THAI", "SUBLANG_NEUTRAL"),
    "tr": ("LANG_TURKISH", "SUBLANG_NEUTRAL"),
    "id": ("LANG_INDONESIAN", "SUBLANG_NEUTRAL"),
    "sl": ("LANG_SLOVENIAN", "SUBLANG_NEUTRAL"),
    "eu": ("LANG_BASQUE", "SUBLANG_NEUTRAL"),
    "ar-SA": ("LANG_ARABIC", "SUBLANG_ARABIC_SAUDI_ARABIA"),
    "zh-TW": ("LANG_CHINESE", "SUBLANG_CHINESE_TRADITIONAL"),
    "he-IL": ("LANG_HEBREW", "SUBLANG_HEBREW_ISRAEL"),
    "pt-BR": ("LANG_PORTUGUESE", "SUBLANG_PORTUGUESE_BRAZILIAN"),
    "zh-CN": ("LANG_CHINESE", "SUBLANG_CHINESE_SIMPLIFIED"),
    "pt-PT": ("LANG_PORTUGUESE", "SUBLANG_PORTUGUESE"),
    "fr-CA": ("LANG_FRENCH", "SUBLANG_FRENCH_CANADIAN"),
}
RIGHT_TO_LEFT = {"ar-SA", "he-IL"}
# The controls whose translated texts read right to left in those variants.
READ_RIGHT_TO_LEFT = {2, 1005, 1007, 10001, 1010}
FIXED_SIZES = {"en": (293, 106), "ja": (333, 116)}

STRING_IDS = [1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21]
ENGLISH_STRINGS = {
    1: "Please get another copy of the installer and try again.",
    2: "There is not enough free disk space in the temporary folder.",
    3: "Please select a temporary location to extract the installer to:",
    4: "Please select another location to extract the installer to:",
    5: "Quillora is preparing to install...",
    6: "Quillora Self Installer",
    9: "Unable to extract the compressed file.",
    10: "There was no compressed file in this executable.",
    11: "The magic number did not match.",
    12: "There is no EXE name buffer to be found.",
    13: "Unable check free space.",
    14: "Not enough room for a complete install.",
    15: "Unable to create the compressed file.",
    16: "There is no compressed file found.",
    17: "We ran out of space while creating the compressed file.",
    18: "Unable to execute the desired program.",
    20: "Select a temporary folder for this installation",
    21: "Unable to create the path pointer file (sea_loc).",
}
# The product name is not translated.
PRODUCT = "Quillora"
NAMES_THE_PRODUCT = (5, 6)

# id -> (statement, window class or icon, hidden in the template)
CONTROLS = {
    1: ("DEFPUSHBUTTON", None, True),
    2: ("PUSHBUTTON", None, False),
    1005: ("LTEXT", None, False),
    1007: ("LTEXT", None, False),
    10001: ("LTEXT", None, False),
    1011: ("CONTROL", "msctls_progress32", False),
    1009: ("CTEXT", None, False),
    1008: ("LTEXT", None, False),
    1010: ("PUSHBUTTON", None, True),
    1002: ("ICON", 108, False),
    1003: ("ICON", 111, False),
    1006: ("ICON", 110, False),
    1012: ("CONTROL", "Button", False),
}
# The English template, as the product defines it: text and rectangle.
ENGLISH_CONTROLS = {
    1: ("OK", (239, 7, 50, 14)),
    2: ("Cancel", (239, 71, 50, 15)),
    1005: ("Quillora is preparing to install...", (55, 7, 196, 19)),
    1007: ("Extracting...", (55, 17, 196, 8)),
    10001: ("", (57, 26, 196, 8)),
    1011: ("", (59, 39, 200, 13)),
    1009: ("0%", (63, 55, 196, 8)),
    1008: (" ", (15, 68, 181, 8)),
    1010: ("&Choose...", (239, 37, 50, 15)),
    1002: (108, (19, 9, 20, 20)),
    1003: (111, (19, 9, 20, 20)),
    1006: (110, (19, 9, 20, 20)),
    1012: ("Button1", (4, 92, 285, 10)),
}
# Controls that may share space: the main text keeps its second line for
# the activity label; the three icons are stacked (one shows at a time);
# the OK button is never shown; Choose... takes the progress bar's place
# (no state shows both).
MAY_OVERLAP = {frozenset(p) for p in [(1005, 1007), (1002, 1003), (1002, 1006), (1003, 1006),
                                      (1011, 1010)]}
NEVER_SHOWN = {1}

PLACEHOLDER = re.compile(r"%(?:%|[-+ #0]*(?:\d+|\*)?(?:\.(?:\d+|\*))?(?:hh|h|ll|l|L|z|j|t|I64|I32|I)?[diouxXeEfgGaAcCsSpn])")


def placeholders(text):
    return PLACEHOLDER.findall(text)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def load_macros():
    return rc_source.parse_header(read(os.path.join(resources_dir(), "resource_ids.h")))


def load_language(code, macros, text=None):
    if text is None:
        text = read(os.path.join(resources_dir(), "lang", code + ".rc"))
    return rc_source.parse_script(text, macros)


def overlap(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def check_language(code, script, english, macros):
    """Returns the problems of one language variant (empty when sound)."""
    problems = []
    want = LANGUAGES[code]
    if script.languages != [want]:
        problems.append(f"LANGUAGE statements {script.languages}, expected exactly {[want]}")
    if not any("code_page(65001)" in text for _, text in script.pragmas):
        problems.append("no #pragma code_page(65001)")
    elif script.first_string_line and min(line for line, _ in script.pragmas) > script.first_string_line:
        problems.append("#pragma code_page(65001) comes after the first string")

    dialogs = [d for d in script.dialogs if d.name == macros.get("IDD_PROGRESSINDICATOR")]
    if len(script.dialogs) != 1 or len(dialogs) != 1:
        problems.append(f"expected one dialog PROGRESSINDICATOR, found {[d.name for d in script.dialogs]}")
        return problems
    dialog = dialogs[0]
    problems += _check_dialog(code, dialog)
    problems += _check_strings(code, script, english)
    return problems


def _check_dialog(code, dialog):
    problems = []
    x, y, width, height = dialog.rect
    if code in FIXED_SIZES and (width, height) != FIXED_SIZES[code]:
        problems.append(f"dialog is {width} x {height}, expected {FIXED_SIZES[code]}")
    rtl = "WS_EX_LAYOUTRTL" in dialog.exstyle.set
    if rtl != (code in RIGHT_TO_LEFT):
        problems.append("right-to-left layout " + ("present" if rtl else "missing"))
    for needed in ("WS_POPUP", "WS_CAPTION", "WS_SYSMENU", "DS_MODALFRAME", "DS_SETFONT"):
        if needed not in dialog.style.set:
            problems.append(f"dialog style lacks {needed}")
    if dialog.caption != PRODUCT:
        problems.append(f"caption {dialog.caption!r}, expected {PRODUCT!r}")
    if not dialog.font:
        problems.append("no FONT statement")

    ids = [c.id for c in dialog.controls]
    if sorted(ids) != sorted(CONTROLS):
        problems.append(f"control ids {sorted(ids)}, expected {sorted(CONTROLS)}")
    for c in dialog.controls:
        if c.id not in CONTROLS:
            continue
        kind, detail, hidden = CONTROLS[c.id]
        if c.kind != kind:
            problems.append(f"control {c.id} is {c.kind}, expected {kind}")
        if kind == "ICON" and c.text != detail:
            problems.append(f"icon control {c.id} shows icon {c.text!r}, expected {detail}")
        if kind == "CONTROL" and c.window_class != detail:
            problems.append(f"control {c.id} has class {c.window_class!r}, expected {detail!r}")
        if c.id == 1012 and "BS_OWNERDRAW" not in c.style.set:
            problems.append("footer 1012 is not owner-drawn")
        if c.id in READ_RIGHT_TO_LEFT and ("WS_EX_RTLREADING" in c.exstyle.set) != (code in RIGHT_TO_LEFT):
            problems.append(f"control {c.id} right-to-left reading " + ("present" if code not in RIGHT_TO_LEFT
                                                                        else "missing"))
        if c.hidden != hidden:
            problems.append(f"control {c.id} is {'hidden' if c.hidden else 'visible'} in the template")
        cx, cy, cw, ch = c.rect
        if cx < 0 or cy < 0 or cw <= 0 or ch <= 0 or cx + cw > width or cy + ch > height:
            problems.append(f"control {c.id} {c.rect} lies outside the dialog ({width} x {height})")
        if c.id == 1010 and (c.text.count("&") - 2 * c.text.count("&&")) != 1:
            problems.append(f"Choose button text {c.text!r} needs exactly one access key")
    shown = [c for c in dialog.controls if c.id not in NEVER_SHOWN]
    for i, a in enumerate(shown):
        for b in shown[i + 1:]:
            if frozenset((a.id, b.id)) not in MAY_OVERLAP and overlap(a.rect, b.rect):
                problems.append(f"controls {a.id} {a.rect} and {b.id} {b.rect} overlap")
    return problems


def _check_strings(code, script, english):
    problems = []
    if script.duplicate_strings:
        problems.append(f"string ids defined twice: {script.duplicate_strings}")
    if sorted(script.strings) != STRING_IDS:
        problems.append(f"string ids {sorted(script.strings)}, expected {STRING_IDS}")
    for sid, text in script.strings.items():
        if not text.strip():
            problems.append(f"string {sid} is empty")
        if sid in english and placeholders(text) != placeholders(english[sid]):
            problems.append(f"string {sid} has placeholders {placeholders(text)}, "
                            f"English has {placeholders(english[sid])}")
        if code != "en" and sid in english and text == english[sid]:
            problems.append(f"string {sid} is not translated")
        if "\n" in text:
            problems.append(f"string {sid} contains a line break")
    for sid in NAMES_THE_PRODUCT:
        if sid in script.strings and PRODUCT not in script.strings[sid]:
            problems.append(f"string {sid} lacks the product name {PRODUCT}")
    return problems


class LanguageVariants(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.macros = load_macros()
        cls.english = load_language("en", cls.macros)

    def test_every_variant_is_sound(self):
        for code in LANGUAGES:
            with self.subTest(language=code):
                script = load_language(code, self.macros)
                self.assertEqual([], check_language(code, script, self.english.strings, self.macros))

    def test_lang_directory_matches_the_included_files(self):
        on_disk = {f[:-3] for f in os.listdir(os.path.join(resources_dir(), "lang")) if f.endswith(".rc")}
        main = read(os.path.join(resources_dir(), "sea.rc"))
        included = re.findall(r'^#include\s+"lang/([^"]+)\.rc"', main, re.M)
        self.assertEqual(len(included), len(set(included)), "a language file is included twice")
        self.assertEqual(set(LANGUAGES), on_disk)
        self.assertEqual(set(LANGUAGES), set(included))

    def test_language_pairs_are_distinct(self):
        self.assertEqual(len(LANGUAGES), len(set(LANGUAGES.values())))
        self.assertEqual(30, len(LANGUAGES))

    def test_english_is_the_reference(self):
        self.assertEqual(ENGLISH_STRINGS, self.english.strings)
        dialog = self.english.dialogs[0]
        self.assertEqual((50, 50, 293, 106), dialog.rect)
        self.assertEqual((8, "MS Sans Serif"), dialog.font)
        self.assertEqual(PRODUCT, dialog.caption)
        got = {c.id: (c.text, c.rect) for c in dialog.controls}
        self.assertEqual(ENGLISH_CONTROLS, got)

    def test_placeholders_are_recognised(self):
        # The placeholder comparison is only as good as this pattern.
        cases = [("none here", []), ("%s of %d", ["%s", "%d"]), ("%ld KB, %08lx", ["%ld", "%08lx"]),
                 ("100%%", ["%%"]), ("%-5.2f%S", ["%-5.2f", "%S"])]
        for text, want in cases:
            with self.subTest(text=text):
                self.assertEqual(want, placeholders(text))


class HeaderIds(unittest.TestCase):
    def test_ids_have_the_fixed_values(self):
        macros = load_macros()
        controls = {v for k, v in macros.items() if k.startswith("IDC_")}
        strings = sorted(v for k, v in macros.items() if k.startswith("IDS_"))
        icons = {v for k, v in macros.items() if k.startswith("IDI_")}
        self.assertEqual(set(CONTROLS), controls)
        self.assertEqual(STRING_IDS, strings)
        self.assertEqual({108, 110, 111, "Quillora Self Extractor"}, icons)
        self.assertEqual("PROGRESSINDICATOR", macros["IDD_PROGRESSINDICATOR"])
        self.assertEqual(1, macros["IDC_OK"])
        self.assertEqual(2, macros["IDC_CANCEL"])


class CheckerCatchesFaults(unittest.TestCase):
    """The checks above must fail on broken variants: each case breaks a
    copy of the German script and expects a matching complaint."""

    MUTATIONS = [
        ("control removed", lambda s: re.sub(r"\n\s*LTEXT\s+\"\", IDC_SECOND_TEXT[^\n]*", "", s), "control ids"),
        ("string removed", lambda s: re.sub(r"\n\s*IDS_CANNOT_EXECUTE[^\n]*", "", s), "string ids"),
        ("placeholder added", lambda s: s.replace("versuchen Sie es erneut.", "versuchen Sie es %d-mal."),
         "placeholders"),
        ("wrong sublanguage", lambda s: s.replace("SUBLANG_NEUTRAL", "SUBLANG_GERMAN"), "LANGUAGE"),
        ("right-to-left", lambda s: s.replace('CAPTION "Quillora"', 'EXSTYLE WS_EX_LAYOUTRTL\nCAPTION "Quillora"'),
         "right-to-left"),
        ("control outside", lambda s: re.sub(r"(IDC_FOOTER, \"Button\", [^,]+, )4,", r"\g<1>40,", s), "outside"),
        ("untranslated", lambda s: s.replace("Die magische Zahl stimmt nicht überein.",
                                             "The magic number did not match."), "not translated"),
        ("Choose overlaps second text", lambda s: re.sub(r"(IDC_CHOOSE, \d+, )\d+", r"\g<1>30", s), "overlap"),
        ("no code page", lambda s: s.replace("#pragma code_page(65001)", ""), "code_page"),
        ("right-to-left reading", lambda s: s.replace("IDC_SECOND_TEXT, 57, 26, 216, 16",
                                                       "IDC_SECOND_TEXT, 57, 26, 216, 16, 0, WS_EX_RTLREADING"),
         "right-to-left reading"),
        ("product name translated", lambda s: s.replace("Quillora bereitet", "Das Programm bereitet"),
         "product name"),
    ]

    def test_each_fault_is_reported(self):
        macros = load_macros()
        english = load_language("en", macros).strings
        original = read(os.path.join(resources_dir(), "lang", "de.rc"))
        self.assertEqual([], check_language("de", load_language("de", macros, original), english, macros))
        for name, mutate, keyword in self.MUTATIONS:
            with self.subTest(fault=name):
                broken = mutate(original)
                self.assertNotEqual(original, broken, "mutation did not apply")
                problems = check_language("de", load_language("de", macros, broken), english, macros)
                self.assertTrue(any(keyword in p for p in problems), problems)

    def test_japanese_size_is_enforced(self):
        macros = load_macros()
        english = load_language("en", macros).strings
        text = read(os.path.join(resources_dir(), "lang", "ja.rc")).replace("333, 116", "333, 114", 1)
        problems = check_language("ja", load_language("ja", macros, text), english, macros)
        self.assertTrue(any("expected (333, 116)" in p for p in problems), problems)


# --- icons -------------------------------------------------------------------

ICON_FILES = {"app.ico": 108, "warning.ico": 110, "error.ico": 111}


ICON_SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def decode_png(data):
    """(width, height, RGBA bytes top row first) of an 8-bit RGBA PNG whose
    rows use filter 0, as make_icons.py writes them; ValueError otherwise."""
    import zlib
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError("not a PNG image")
    pos, header, idat = 8, None, b""
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        if zlib.crc32(kind + body) != struct.unpack_from(">I", data, pos + 8 + length)[0]:
            raise ValueError(f"PNG chunk {kind!r} fails its CRC")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if header is None or header[2:] != (8, 6, 0, 0, 0):
        raise ValueError(f"PNG header {header}: expected 8-bit RGBA, not interlaced")
    w, h = header[:2]
    raw = zlib.decompress(idat)
    if len(raw) != h * (1 + 4 * w) or any(raw[r * (1 + 4 * w)] for r in range(h)):
        raise ValueError("PNG rows are not unfiltered RGBA rows")
    rgba = b"".join(raw[r * (1 + 4 * w) + 1:(r + 1) * (1 + 4 * w)] for r in range(h))
    return w, h, rgba


def read_ico(path):
    """Returns [(width, height, bit_count, BGRA bytes top row first, format)]
    with format "dib" or "png"."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon file")
    images = []
    for i in range(count):
        w, h, _colors, _res, _planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        if offset + size > len(data):
            raise ValueError(f"image {i} runs past the end of the file")
        if data[offset:offset + 8] == PNG_SIGNATURE:
            pw, ph, rgba = decode_png(data[offset:offset + size])
            if (pw, ph) != (w, h):
                raise ValueError(f"image {i}: PNG is {pw} x {ph}, directory says {w} x {h}")
            bgra = bytearray(rgba)
            bgra[0::4], bgra[2::4] = rgba[2::4], rgba[0::4]
            images.append((w, h, bits, bytes(bgra), "png"))
            continue
        header = struct.unpack_from("<IiiHHI", data, offset)
        if header[0] != 40 or header[1] != w or header[2] != 2 * h or header[4] != bits or header[5] != 0:
            raise ValueError(f"image {i}: DIB header {header} does not match {w} x {h} x {bits}")
        stride = w * 4
        mask_stride = ((w + 31) // 32) * 4
        if size != 40 + stride * h + mask_stride * h:
            raise ValueError(f"image {i}: {size} bytes, expected {40 + stride * h + mask_stride * h}")
        rows = [data[offset + 40 + r * stride: offset + 40 + (r + 1) * stride] for r in range(h)]
        images.append((w, h, bits, b"".join(reversed(rows)), "dib"))
    return images


class Icons(unittest.TestCase):
    def test_eight_sizes_with_alpha(self):
        for name in ICON_FILES:
            with self.subTest(icon=name):
                images = read_ico(os.path.join(resources_dir(), "icons", name))
                self.assertEqual([(s, s, 32) for s in ICON_SIZES], [i[:3] for i in images])
                self.assertEqual(["dib"] * 7 + ["png"], [i[4] for i in images])
                for w, _h, _bits, pixels, _format in images:
                    alpha = pixels[3::4]
                    self.assertIn(0, alpha, f"{w} px image has no transparent pixel")
                    self.assertIn(255, alpha, f"{w} px image has no opaque pixel")

    def test_each_size_is_drawn_for_itself(self):
        # Every image is rendered at its own size, not a copy of a smaller
        # one scaled up: the opaque share stays about the same while the
        # anti-aliased edge (partly transparent pixels) gets relatively
        # thinner as the size grows.
        for name in ICON_FILES:
            with self.subTest(icon=name):
                images = read_ico(os.path.join(resources_dir(), "icons", name))
                edges = []
                for w, _h, _bits, pixels, _format in images:
                    alpha = pixels[3::4]
                    edges.append(sum(1 for a in alpha if 0 < a < 255) / (w * w))
                for smaller, larger in zip(edges, edges[1:]):
                    self.assertLess(larger, smaller, f"edge shares {edges}")

    def test_icons_are_what_the_script_draws(self):
        sys.path.insert(0, os.path.join(ROOT, "scripts"))
        import make_icons
        import tempfile
        with tempfile.TemporaryDirectory() as out:
            self.assertEqual(0, make_icons.main(["--out", out]))
            for name in ICON_FILES:
                with self.subTest(icon=name):
                    fresh = read_ico(os.path.join(out, name))
                    committed = read_ico(os.path.join(resources_dir(), "icons", name))
                    self.assertEqual([i[:3] for i in fresh], [i[:3] for i in committed])
                    for (w, _h, _b, a, _f), (_w, _h2, _b2, b, _f2) in zip(fresh, committed):
                        # Floating point may differ in the last bit between
                        # Python builds: allow one step per channel.
                        worst = max(abs(x - y) for x, y in zip(a, b))
                        self.assertLessEqual(worst, 1, f"{w} px image differs; rerun scripts/make_icons.py")

    def test_script_uses_every_icon(self):
        main = read(os.path.join(resources_dir(), "sea.rc"))
        for name in ICON_FILES:
            self.assertIn(f'"icons/{name}"', main)


# --- manifests ---------------------------------------------------------------

ASM = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10
}


WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
MANIFEST_ELEMENTS = [ASM + "assemblyIdentity", ASM + "description", ASM + "dependency",
                     ASM3 + "trustInfo", COMPAT + "compatibility", ASM3 + "application"]


def check_dpi_awareness(root):
    """Per-monitor v2 where Windows knows it (dpiAwareness, Windows 10 1607
    and later, first value it knows wins), system-aware before (dpiAware)."""
    problems = []
    settings = root.findall(f"{ASM3}application/{ASM3}windowsSettings")
    if len(settings) != 1:
        return [f"{len(settings)} windowsSettings elements, expected 1"]
    names = sorted(child.tag for child in settings[0])
    if names != sorted([WINDOWS_SETTINGS_2005 + "dpiAware", WINDOWS_SETTINGS_2016 + "dpiAwareness"]):
        problems.append(f"windows settings {names}")
    aware = settings[0].find(WINDOWS_SETTINGS_2005 + "dpiAware")
    if aware is None or (aware.text or "").strip().lower() != "true":
        problems.append(f"dpiAware {None if aware is None else aware.text!r}, expected 'true' (system aware)")
    awareness = settings[0].find(WINDOWS_SETTINGS_2016 + "dpiAwareness")
    values = [] if awareness is None else [v.strip().lower() for v in (awareness.text or "").split(",")]
    if values != ["permonitorv2", "system"]:
        problems.append(f"dpiAwareness {values}, expected per-monitor v2 with the system-aware fallback")
    return problems


def check_manifest(xml_text, level, arch):
    problems = []
    root = ET.fromstring(xml_text)
    if [child.tag for child in root] != MANIFEST_ELEMENTS:
        problems.append(f"manifest elements {[child.tag for child in root]}")
    description = root.find(ASM + "description")
    if description is None or description.text != "Quillora Self Installer":
        problems.append(f"description {None if description is None else description.text!r}")
    problems += check_dpi_awareness(root)
    identity = root.find(ASM + "assemblyIdentity")
    want = {"type": "win32", "name": "Quillora.Setup", "processorArchitecture": arch, "version": "1.0.0.0"}
    if identity is None or any(identity.get(k) != v for k, v in want.items()):
        problems.append(f"assembly identity {None if identity is None else identity.attrib}")
    dep = root.find(f"{ASM}dependency/{ASM}dependentAssembly/{ASM}assemblyIdentity")
    want_dep = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                "processorArchitecture": arch, "publicKeyToken": "6595b64144ccf1df", "language": "*"}
    if dep is None or any(dep.get(k) != v for k, v in want_dep.items()):
        problems.append(f"common controls dependency {None if dep is None else dep.attrib}")
    request = root.find(f"{ASM3}trustInfo/{ASM3}security/{ASM3}requestedPrivileges/{ASM3}requestedExecutionLevel")
    if request is None or request.get("level") != level or request.get("uiAccess") != "false":
        problems.append(f"execution level {None if request is None else request.attrib}, expected {level}")
    oses = {e.get("Id") for e in root.iter(COMPAT + "supportedOS")}
    if oses != SUPPORTED_OS:
        problems.append(f"supported systems {sorted(oses)}")
    return problems


MANIFESTS = {"highest_available.manifest.in": "highestAvailable", "as_invoker.manifest.in": "asInvoker"}


class Manifests(unittest.TestCase):
    def test_templates(self):
        for name, level in MANIFESTS.items():
            text = read(os.path.join(resources_dir(), "manifests", name))
            for arch in ("x86", "amd64"):
                with self.subTest(manifest=name, arch=arch):
                    filled = text.replace("@SEA_MANIFEST_ARCH@", arch)
                    self.assertEqual([], check_manifest(filled, level, arch))

    def test_checker_rejects_a_wrong_level(self):
        text = read(os.path.join(resources_dir(), "manifests", "as_invoker.manifest.in"))
        filled = text.replace("@SEA_MANIFEST_ARCH@", "x86")
        self.assertNotEqual([], check_manifest(filled, "highestAvailable", "x86"))
        no_8_1 = filled.replace('<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>', "")
        self.assertNotEqual(filled, no_8_1)
        self.assertNotEqual([], check_manifest(no_8_1, "asInvoker", "x86"))
        self.assertNotEqual([], check_manifest(filled, "asInvoker", "amd64"))

    def test_checker_rejects_wrong_dpi_settings(self):
        text = read(os.path.join(resources_dir(), "manifests", "highest_available.manifest.in"))
        filled = text.replace("@SEA_MANIFEST_ARCH@", "x86")
        broken = {
            "no fallback": filled.replace("PerMonitorV2, System", "PerMonitorV2"),
            "version 1 only": filled.replace("PerMonitorV2, System", "PerMonitor, System"),
            "unaware before 1607": filled.replace(">true</dpiAware>", ">false</dpiAware>"),
            "no dpiAwareness": re.sub(r"\s*<dpiAwareness [^\n]*", "", filled),
            "settings gone": re.sub(r"(?s)\s*<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">.*?</application>",
                                    "", filled),
        }
        for name, variant in broken.items():
            with self.subTest(fault=name):
                self.assertNotEqual(filled, variant, "mutation did not apply")
                self.assertNotEqual([], check_manifest(variant, "highestAvailable", "x86"))


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        ROOT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
