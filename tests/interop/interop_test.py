#!/usr/bin/env python3
"""Archives made by other tools, extracted by al-extract, compared with unzip.

usage: interop_test.py AL_EXTRACT [--keep DIR]

Builds one source tree, packs it with Python's zipfile (stored, deflated,
streamed with data descriptors, UTF-8 names, comments), Info-ZIP zip (-0, -1,
-6, -9), bsdtar --format zip and 7z a -tzip, and extracts every archive
plainly and appended after prefixes (random bytes, a self-extractor's
1028-byte payload header). Each tree must equal the one Info-ZIP unzip makes
from the plain archive: the same files and directories, the same bytes, and
modification times within 2 seconds.
"""
import io
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

# Both tools convert DOS times from local time: give them the same zone and a
# UTF-8 locale for the non-ASCII names.
os.environ["TZ"] = "UTC"
os.environ["LC_ALL"] = "C.UTF-8"
time.tzset()

RNG = random.Random(20250101)


def text_bytes(n):
    words = [b"alpha", b"beta", b"gamma", b"delta", b"installer", b"launcher", b"\n"]
    out = bytearray()
    while len(out) < n:
        out += RNG.choice(words) + b" "
    return bytes(out[:n])


def noise(n):
    return bytes(RNG.getrandbits(8) for _ in range(n))


SOURCE_FILES = {
    "empty.txt": b"",
    "one.txt": b"1",
    "text/readme.txt": text_bytes(5000),
    "text/exact-4096.txt": text_bytes(4096),
    "text/4095.bin": noise(4095),
    "text/4097.bin": noise(4097),
    "bin/noise-100k.bin": noise(100000),
    "bin/mixed-1m.bin": text_bytes(600000) + noise(448576),
    "deep/a/b/c/d/e/leaf.txt": b"deep leaf\n",
    "with space/file name.txt": b"spaces\n",
    "unicode/caf\u00e9.txt": "caf\u00e9\n".encode(),
    "unicode/\u03b1\u03b2\u03b3/\u65e5\u672c.txt": "\u65e5\u672c\n".encode(),
}
EMPTY_DIRS = ["empty-dir", "deep/a/empty"]


def make_source(root):
    for name, data in SOURCE_FILES.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for d in EMPTY_DIRS:
        os.makedirs(os.path.join(root, d), exist_ok=True)
    # Distinct, old, odd-second time stamps: the DOS format keeps even seconds.
    stamp = 1600000001
    for dirpath, dirnames, filenames in os.walk(root):
        for n in sorted(filenames):
            stamp += 3607
            os.utime(os.path.join(dirpath, n), (stamp, stamp))


def source_entries(root):
    """(archive name, path) in a fixed order, directories with a trailing '/'."""
    entries = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames.sort()
        rel = os.path.relpath(dirpath, root)
        if rel != ".":
            entries.append((rel.replace(os.sep, "/") + "/", dirpath))
        for n in sorted(filenames):
            p = os.path.join(dirpath, n)
            entries.append((os.path.relpath(p, root).replace(os.sep, "/"), p))
    return entries


def zipfile_archive(src, out, compression, level=None, comments=False):
    with zipfile.ZipFile(out, "w", compression=compression, compresslevel=level) as z:
        for name, path in source_entries(src):
            z.write(path, name)
            if comments and not name.endswith("/"):
                z.getinfo(name).comment = ("comment of " + name).encode()
        if comments:
            z.comment = b"archive comment written by zipfile"


class Unseekable(io.RawIOBase):
    """An output stream without tell/seek: zipfile then streams every member
    with a data descriptor after its data."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


def zipfile_streamed(src, out):
    with open(out, "wb") as f:
        with zipfile.ZipFile(Unseekable(f), "w", compression=zipfile.ZIP_DEFLATED) as z:
            for name, path in source_entries(src):
                if name.endswith("/"):
                    z.writestr(zipfile.ZipInfo(name), b"")
                    continue
                info = zipfile.ZipInfo.from_file(path, name)
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as data, z.open(info, "w") as member:
                    shutil.copyfileobj(data, member)


def run(cmd, cwd=None, ok=(0,)):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode not in ok:
        raise RuntimeError("%s failed (%d):\n%s" % (" ".join(cmd), r.returncode,
                                                   r.stdout.decode(errors="replace")))
    return r


def infozip(src, out, level):
    run(["zip", "-q", "-r", "-" + level, out, "."], cwd=src)


def bsdtar(src, out):
    run(["bsdtar", "--format", "zip", "-cf", out, "."], cwd=src)


def sevenzip(src, out):
    run(["7z", "a", "-tzip", "-bd", out, "."], cwd=src)


def payload_header():
    field = b"installer.exe".ljust(1024, b"\0")
    return bytes([0x5B, 0x3E, 0x4E, 0x00]) + field


def tree(root):
    """{relative path: (kind, bytes or None, mtime)}"""
    result = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for d in dirnames:
            p = os.path.join(dirpath, d)
            result[os.path.relpath(p, root)] = ("dir", None, None)
        for n in filenames:
            p = os.path.join(dirpath, n)
            with open(p, "rb") as f:
                result[os.path.relpath(p, root)] = ("file", f.read(), os.stat(p).st_mtime)
    return result


def compare(expected, actual):
    problems = []
    for path in sorted(set(expected) | set(actual)):
        if path not in actual:
            problems.append("missing: " + path)
        elif path not in expected:
            problems.append("unexpected: " + path)
        else:
            ek, eb, et = expected[path]
            ak, ab, at = actual[path]
            if ek != ak:
                problems.append("%s: %s instead of %s" % (path, ak, ek))
            elif ek == "file":
                if eb != ab:
                    problems.append("%s: content differs (%d vs %d bytes)" % (path, len(ab), len(eb)))
                if abs(et - at) > 2:
                    problems.append("%s: time %s vs %s" % (path, at, et))
    return problems


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    al_extract = os.path.abspath(sys.argv[1])
    keep = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--keep" else None
    work = keep or tempfile.mkdtemp(prefix="al_interop_")
    os.makedirs(work, exist_ok=True)
    try:
        src = os.path.join(work, "src")
        make_source(src)
        makers = {
            "zipfile-stored": lambda o: zipfile_archive(src, o, zipfile.ZIP_STORED, comments=True),
            "zipfile-deflated": lambda o: zipfile_archive(src, o, zipfile.ZIP_DEFLATED, 6),
            "zipfile-deflated-9": lambda o: zipfile_archive(src, o, zipfile.ZIP_DEFLATED, 9, True),
            "zipfile-streamed": lambda o: zipfile_streamed(src, o),
            "infozip-0": lambda o: infozip(src, o, "0"),
            "infozip-1": lambda o: infozip(src, o, "1"),
            "infozip-6": lambda o: infozip(src, o, "6"),
            "infozip-9": lambda o: infozip(src, o, "9"),
            "bsdtar": lambda o: bsdtar(src, o),
            "7z": lambda o: sevenzip(src, o),
        }
        prefixes = {
            "plain": b"",
            "payload-header": payload_header(),
            "random-4099": noise(4099),
            "random-70001": noise(70001),
        }
        failures = 0
        for label, make in makers.items():
            archive = os.path.join(work, label + ".zip")
            make(archive)
            reference = os.path.join(work, label + "-unzip")
            # unzip exits 1 on warnings only; anything else is a failure.
            run(["unzip", "-q", "-o", archive, "-d", reference], ok=(0, 1))
            expected = tree(reference)
            with open(archive, "rb") as f:
                zip_bytes = f.read()
            for prefix_label, prefix in prefixes.items():
                target = os.path.join(work, "%s-%s" % (label, prefix_label))
                variant = target + ".bin"
                with open(variant, "wb") as f:
                    f.write(prefix + zip_bytes)
                r = subprocess.run([al_extract, variant, target], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
                output = r.stdout.decode(errors="replace").strip()
                problems = compare(expected, tree(target)) if r.returncode == 0 else [output]
                status = "ok" if not problems else "FAILED"
                print("%-20s %-15s %s  (%s)" % (label, prefix_label, status, output))
                for p in problems[:20]:
                    print("    " + p)
                if problems:
                    failures += 1
                else:
                    shutil.rmtree(target)
                    os.remove(variant)
        print("%d failure(s)" % failures)
        return 1 if failures else 0
    finally:
        if not keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
