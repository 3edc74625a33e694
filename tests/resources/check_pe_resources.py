#!/usr/bin/env python3
"""Checks the resource directory that the linker put into sea.exe: the 30
dialog templates, the string tables, the icons, the two manifests and the
version information.

    check_pe_resources.py PATH_TO_SEA_EXE
"""

import os
import sys
import unittest
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
# Run from the source tree: leave no bytecode caches there.
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import pe_resources as pe  # noqa: E402
from check_resources import (CONTROLS, ENGLISH_STRINGS, FIXED_SIZES, ICON_SIZES, PNG_SIGNATURE,  # noqa: E402
                             READ_RIGHT_TO_LEFT, RIGHT_TO_LEFT, STRING_IDS, check_manifest, decode_png)

EXE = None

# Language variant -> language id (primary | sublanguage << 10).
LANGIDS = {
    "ca": 0x0003, "cs": 0x0005, "da": 0x0006, "de": 0x0007, "el": 0x0008, "en": 0x0009,
    "es": 0x000A, "fi": 0x000B, "fr": 0x000C, "hu": 0x000E, "it": 0x0010, "ja": 0x0011,
    "ko": 0x0012, "nl": 0x0013, "no": 0x0014, "pl": 0x0015, "ru": 0x0019, "sv": 0x001D,
    "th": 0x001E, "tr": 0x001F, "id": 0x0021, "sl": 0x0024, "eu": 0x002D,
    "ar-SA": 0x0401, "zh-TW": 0x0404, "he-IL": 0x040D, "pt-BR": 0x0416, "zh-CN": 0x0804,
    "pt-PT": 0x0816, "fr-CA": 0x0C0C,
}
LANG_NEUTRAL = 0x0000
LANG_EN_US = 0x0409

WS_VISIBLE = 0x10000000
WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
DS_MODALFRAME = 0x80
WS_EX_LAYOUTRTL = 0x00400000
WS_EX_RTLREADING = 0x00002000
BS_TYPEMASK = 0xF
BS_OWNERDRAW = 0xB
SS_TYPEMASK = 0x1F
SS_ICON = 0x3
BUTTON_ATOM, STATIC_ATOM = 0x80, 0x82

WINDOW_CLASS_ICON = "QUILLORA SELF EXTRACTOR"  # resource names are stored upper case


def by_type(resources, rtype):
    return [r for r in resources if r.type == rtype]


def check_dialog(code, template):
    problems = []
    width, height = template.rect[2:]
    if code in FIXED_SIZES and (width, height) != FIXED_SIZES[code]:
        problems.append(f"{code}: dialog {width} x {height}, expected {FIXED_SIZES[code]}")
    if bool(template.exstyle & WS_EX_LAYOUTRTL) != (code in RIGHT_TO_LEFT):
        problems.append(f"{code}: right-to-left layout is {bool(template.exstyle & WS_EX_LAYOUTRTL)}")
    for flag in (WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME):
        if not template.style & flag:
            problems.append(f"{code}: dialog style {template.style:#x} lacks {flag:#x}")
    if template.title != "Quillora":
        problems.append(f"{code}: caption {template.title!r}")
    ids = sorted(item.id for item in template.items)
    if ids != sorted(CONTROLS):
        problems.append(f"{code}: control ids {ids}")
    for item in template.items:
        if item.id in READ_RIGHT_TO_LEFT and bool(item.exstyle & WS_EX_RTLREADING) != (code in RIGHT_TO_LEFT):
            problems.append(f"{code}: control {item.id} right-to-left reading is {bool(item.exstyle & WS_EX_RTLREADING)}")
        if item.id not in CONTROLS:
            continue
        kind, detail, hidden = CONTROLS[item.id]
        if bool(item.style & WS_VISIBLE) == hidden:
            problems.append(f"{code}: control {item.id} visibility {bool(item.style & WS_VISIBLE)}")
        if kind == "ICON" and (item.window_class != STATIC_ATOM or item.style & SS_TYPEMASK != SS_ICON
                               or item.text != detail):
            problems.append(f"{code}: control {item.id} is not a static icon showing {detail}")
        if item.id == 1011 and str(item.window_class).lower() != "msctls_progress32":
            problems.append(f"{code}: progress bar class {item.window_class!r}")
        if item.id == 1012 and (str(item.window_class).lower() != "button"
                                or item.style & BS_TYPEMASK != BS_OWNERDRAW):
            problems.append(f"{code}: footer is not an owner-drawn button")
        if kind in ("PUSHBUTTON", "DEFPUSHBUTTON") and item.window_class != BUTTON_ATOM:
            problems.append(f"{code}: control {item.id} is not a button")
    return problems


class ResourceDirectory(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = pe.read_resources(EXE)
        cls.arch = pe.machine(EXE)

    def test_thirty_dialogs_one_per_language(self):
        dialogs = by_type(self.resources, pe.RT_DIALOG)
        self.assertEqual({"PROGRESSINDICATOR"}, {d.name for d in dialogs})
        self.assertEqual(sorted(LANGIDS.values()), sorted(d.lang for d in dialogs))
        code_of = {v: k for k, v in LANGIDS.items()}
        for d in dialogs:
            with self.subTest(language=code_of[d.lang]):
                self.assertEqual([], check_dialog(code_of[d.lang], pe.decode_dialog(d.data)))

    def test_string_tables_in_every_language(self):
        strings = defaultdict(dict)
        for block in by_type(self.resources, pe.RT_STRING):
            strings[block.lang].update(pe.decode_strings(block.name, block.data))
        self.assertEqual(sorted(LANGIDS.values()), sorted(strings))
        for code, lang in LANGIDS.items():
            with self.subTest(language=code):
                self.assertEqual(STRING_IDS, sorted(strings[lang]))
                self.assertTrue(all(text.strip() for text in strings[lang].values()))
        self.assertEqual(ENGLISH_STRINGS, strings[LANGIDS["en"]])

    def test_icons(self):
        icons = {r.name: r.data for r in by_type(self.resources, pe.RT_ICON)}
        groups = {r.name: (r.lang, pe.decode_icon_group(r.data)) for r in by_type(self.resources, pe.RT_GROUP_ICON)}
        self.assertEqual({108, 110, 111, WINDOW_CLASS_ICON}, set(groups))
        for name, (lang, members) in groups.items():
            with self.subTest(icon=name):
                self.assertEqual(LANG_NEUTRAL, lang)
                self.assertEqual([(s, s, 32) for s in ICON_SIZES], [m[:3] for m in members])
                for width, _h, _bits, icon_id in members:
                    self.assertIn(icon_id, icons)
                    image = icons[icon_id]
                    if width == 256:
                        # The large image is a PNG, as the icon file holds it.
                        self.assertEqual(PNG_SIGNATURE, image[:8])
                        self.assertEqual((256, 256), decode_png(image)[:2])
                        continue
                    header = image[:16]
                    self.assertEqual((40, width, 2 * width, 32),
                                     (int.from_bytes(header[:4], "little"), int.from_bytes(header[4:8], "little"),
                                      int.from_bytes(header[8:12], "little"), int.from_bytes(header[14:16], "little")))

        def images(name):
            return [icons[m[3]] for m in groups[name][1]]
        self.assertEqual(images(108), images(WINDOW_CLASS_ICON))
        self.assertNotEqual(images(108), images(110))
        self.assertNotEqual(images(110), images(111))

    def test_two_manifests(self):
        # Both with the DPI settings, everything else as before (check_manifest).
        manifests = {r.lang: r for r in by_type(self.resources, pe.RT_MANIFEST)}
        self.assertEqual({LANG_NEUTRAL, LANG_EN_US}, set(manifests))
        for lang, level in ((LANG_NEUTRAL, "highestAvailable"), (LANG_EN_US, "asInvoker")):
            with self.subTest(level=level):
                self.assertEqual(1, manifests[lang].name)
                self.assertEqual([], check_manifest(manifests[lang].data.decode("utf-8"), level, self.arch))

    def test_version_information(self):
        versions = by_type(self.resources, pe.RT_VERSION)
        self.assertEqual(1, len(versions))
        self.assertIn("Quillora".encode("utf-16-le"), versions[0].data)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=1)
