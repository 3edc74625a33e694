"""Builds self-extractor files for the tests: the program image, the payload
header (magic 5B 3E 4E 00 and the 1024-byte launcher name field), a ZIP
archive written the way installer payloads are (every entry with a data
descriptor and a UTF-8 name, flag word 0x0808), and the 10-byte trailer."""
import os
import struct
import zlib

MAGIC = b"\x5b\x3e\x4e\x00"
TRAILER = b"\x00\x44\x13\x00" + b"\x00" * 6


def _dos_time(date_time):
    year, month, day, hour, minute, second = date_time
    return ((hour << 11) | (minute << 5) | (second // 2),
            ((year - 1980) << 9) | (month << 5) | day)


def zip_bytes(entries, level=6, flags=0x0808):
    """A ZIP archive written like an installer payload. entries: a list of
    (name, bytes or None for a directory, optional dict of overrides:
    method (0 or 8; any other with packed), packed (the entry's data as
    another tool compressed them), size (the size recorded instead of the
    data's), date_time, external_attr, flags)."""
    out = bytearray()
    central = bytearray()
    for item in entries:
        name, data = item[0], item[1]
        extra = item[2] if len(item) > 2 else {}
        raw_name = name.encode("utf-8") if isinstance(name, str) else name
        body = data or b""
        method = extra.get("method", 0 if data is None or level == 0 else 8)
        if "packed" in extra:
            packed = extra["packed"]
        elif method == 8:
            c = zlib.compressobj(level, zlib.DEFLATED, -15)
            packed = c.compress(body) + c.flush()
        else:
            packed = body
        crc = zlib.crc32(body) & 0xFFFFFFFF
        size = extra.get("size", len(body))
        flag = extra.get("flags", flags)
        time, date = _dos_time(extra.get("date_time", (2025, 1, 1, 12, 0, 0)))
        attr = extra.get("external_attr", 0x10 if data is None else 0x20)
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flag, method, time, date,
                           0 if flag & 8 else crc, 0 if flag & 8 else len(packed),
                           0 if flag & 8 else size, len(raw_name), 0)
        out += raw_name + packed
        if flag & 8:
            out += struct.pack("<IIII", 0x08074B50, crc, len(packed), size)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flag, method, time,
                               date, crc, len(packed), size, len(raw_name), 0, 0, 0, 0,
                               attr, offset)
        central += raw_name
    start = len(out)
    out += central
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries),
                       len(central), start, 0)
    return bytes(out)


def foreign_entries(zip_path, flags=0x0808):
    """The entries of a ZIP archive another tool wrote, as zip_bytes entries
    that carry each entry's data as that tool compressed them (method,
    packed bytes, and the tool's flag bits 1-2 on top of flags)."""
    import zipfile
    entries = []
    with open(zip_path, "rb") as f:
        raw = f.read()
    with zipfile.ZipFile(zip_path) as z:
        for info in z.infolist():
            name_length, extra_length = struct.unpack_from("<HH", raw, info.header_offset + 26)
            start = info.header_offset + 30 + name_length + extra_length
            entries.append((info.filename, z.read(info), {
                "method": info.compress_type, "packed": raw[start:start + info.compress_size],
                "flags": flags | (info.flag_bits & 6)}))
    return entries


def tree_entries(root):
    """Entries for every file and empty directory below root, '/' separated."""
    entries = []
    for directory, dirs, files in os.walk(root):
        dirs.sort()
        rel = os.path.relpath(directory, root).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        if prefix and not dirs and not files:
            entries.append((prefix, None))
        for name in sorted(files):
            with open(os.path.join(directory, name), "rb") as f:
                entries.append((prefix + name, f.read()))
    return entries


def build_installer(stub_path, out_path, archive, launcher_name=b"Windows\\install.exe",
                    magic=MAGIC, trailer=TRAILER):
    """Writes stub + payload header + archive + trailer to out_path."""
    with open(stub_path, "rb") as f:
        image = f.read()
    field = launcher_name[:1023].ljust(1024, b"\x00")
    with open(out_path, "wb") as f:
        f.write(image + magic + field + archive + trailer)
    os.chmod(out_path, 0o755)
    return len(image) + len(magic) + len(field)
