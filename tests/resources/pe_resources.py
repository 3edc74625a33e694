"""Reads the resource directory of a PE image (32- or 64-bit) and decodes
the resource kinds the program uses: extended dialog templates, string
table blocks and icon groups.

    resources = read_resources(path)   # [Resource(type, name, lang, data)]
    machine(path) -> "x86" or "amd64"
    decode_dialog(data)  -> DialogTemplate
    decode_strings(block_id, data) -> {string id: text}
    decode_icon_group(data) -> [(width, height, bit_count, icon id)]

Types and names are ints for numbered entries and str for named ones.
"""

import struct
from dataclasses import dataclass, field

RT_ICON = 3
RT_DIALOG = 5
RT_STRING = 6
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24


class PeError(Exception):
    pass


@dataclass
class Resource:
    type: object
    name: object
    lang: int
    data: bytes


@dataclass
class DialogItem:
    id: int
    style: int
    exstyle: int
    rect: tuple
    window_class: object  # int (predefined class atom) or str
    text: object          # str, or int for an ordinal (an icon id)


@dataclass
class DialogTemplate:
    style: int
    exstyle: int
    rect: tuple
    title: str
    font: tuple
    items: list = field(default_factory=list)


def _u16(data, off):
    return struct.unpack_from("<H", data, off)[0]


def _u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def _coff_header(image):
    if image[:2] != b"MZ":
        raise PeError("not an MZ image")
    pe = _u32(image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    return pe + 4


def machine(path):
    """The image's processor architecture as a manifest names it."""
    with open(path, "rb") as f:
        image = f.read()
    code = _u16(image, _coff_header(image))
    return {0x14C: "x86", 0x8664: "amd64"}.get(code, hex(code))


def read_resources(path):
    with open(path, "rb") as f:
        image = f.read()
    coff = _coff_header(image)
    sections = _u16(image, coff + 2)
    optional_size = _u16(image, coff + 16)
    optional = coff + 20
    magic = _u16(image, optional)
    dirs = optional + (96 if magic == 0x10B else 112 if magic == 0x20B else -1)
    if dirs < optional:
        raise PeError(f"unknown optional header magic {magic:#x}")
    rsrc_rva, rsrc_size = struct.unpack_from("<II", image, dirs + 2 * 8)
    if not rsrc_rva:
        return []
    section_table = optional + optional_size
    mapping = []
    for i in range(sections):
        s = section_table + 40 * i
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", image, s + 8)
        mapping.append((vaddr, max(vsize, raw_size), raw_ptr))

    def offset_of(rva):
        for vaddr, size, raw in mapping:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise PeError(f"RVA {rva:#x} lies in no section")

    base = offset_of(rsrc_rva)
    out = []

    def name_of(entry_name):
        if entry_name & 0x80000000:
            off = base + (entry_name & 0x7FFFFFFF)
            length = _u16(image, off)
            return image[off + 2:off + 2 + 2 * length].decode("utf-16-le")
        return entry_name

    def entries(dir_off):
        named, numbered = struct.unpack_from("<HH", image, dir_off + 12)
        for i in range(named + numbered):
            yield struct.unpack_from("<II", image, dir_off + 16 + 8 * i)

    for type_name, type_off in entries(base):
        rtype = name_of(type_name)
        for res_name, name_off in entries(base + (type_off & 0x7FFFFFFF)):
            rname = name_of(res_name)
            for lang, data_off in entries(base + (name_off & 0x7FFFFFFF)):
                if data_off & 0x80000000:
                    raise PeError("a fourth directory level is not expected")
                data_rva, size = struct.unpack_from("<II", image, base + data_off)
                start = offset_of(data_rva)
                out.append(Resource(rtype, rname, lang, image[start:start + size]))
    return out


def _sz_or_ord(data, off):
    """Returns (value, next offset): None, an int ordinal or a string."""
    first = _u16(data, off)
    if first == 0:
        return None, off + 2
    if first == 0xFFFF:
        return _u16(data, off + 2), off + 4
    end = off
    while _u16(data, end) != 0:
        end += 2
    return data[off:end].decode("utf-16-le"), end + 2


def _string(data, off):
    value, off = _sz_or_ord(data, off)
    return ("" if value is None else value), off


def decode_dialog(data):
    """Decodes a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items."""
    version, signature = struct.unpack_from("<HH", data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise PeError("not an extended dialog template")
    _help, exstyle, style, count = struct.unpack_from("<IIIH", data, 4)
    rect = struct.unpack_from("<hhhh", data, 18)
    off = 26
    _menu, off = _sz_or_ord(data, off)
    _cls, off = _sz_or_ord(data, off)
    title, off = _string(data, off)
    font = ()
    if style & 0x40 or style & 0x48 == 0x48:  # DS_SETFONT / DS_SHELLFONT
        points, weight, italic, charset = struct.unpack_from("<HHBB", data, off)
        face, off = _string(data, off + 6)
        font = (points, face, weight, italic, charset)
    template = DialogTemplate(style, exstyle, rect, title, font)
    for _ in range(count):
        off = (off + 3) & ~3
        _help, item_exstyle, item_style = struct.unpack_from("<III", data, off)
        item_rect = struct.unpack_from("<hhhh", data, off + 12)
        item_id = _u32(data, off + 20)
        window_class, off = _sz_or_ord(data, off + 24)
        text, off = _sz_or_ord(data, off)
        extra = _u16(data, off)
        off += 2 + extra
        template.items.append(DialogItem(item_id, item_style, item_exstyle, item_rect,
                                         window_class, "" if text is None else text))
    return template


def decode_strings(block_id, data):
    """A string block holds strings (block_id - 1) * 16 to block_id * 16 - 1."""
    strings = {}
    off = 0
    for index in range(16):
        length = _u16(data, off)
        text = data[off + 2:off + 2 + 2 * length].decode("utf-16-le")
        off += 2 + 2 * length
        if length:
            strings[(block_id - 1) * 16 + index] = text
    return strings


def decode_icon_group(data):
    _reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise PeError("not an icon group")
    members = []
    for i in range(count):
        w, h, _colors, _res, _planes, bits, _size, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        members.append((w or 256, h or 256, bits, icon_id))
    return members
