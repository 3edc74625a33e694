#!/usr/bin/env python3
"""method_bench.py: the measuring half of bench/run_method_bench.sh (which
builds the programs and the tree, then runs this).

Builds an installer of TREE with each compression method (sea-build -m
deflate|lzma|zstd at its default level) and a 7-Zip archive of the same tree
(7z a -t7z -mx=5), then extracts, into tmpfs: each installer behind the
native stub (start to the launcher's exit), the deflate installer's ZIP data
with bsdtar -xf, and 7-Zip's self-extractor (module + archive). Every run is
timed from outside (wall time; CPU time and peak RSS from GNU time); the
commands take turns, round by round, so that the machine's load falls on all
of them alike, and the medians count. The first extraction round is not
timed: it compares every extracted file with the tree.

Prints one table and each budget with PASS or FAIL; exits 1 when a budget
fails, 2 when a command fails or extracts something else than the tree.
"""
import argparse
import filecmp
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

METHODS = ("deflate", "lzma", "zstd")
MAGIC = b"\x5b\x3e\x4e\x00"
HEADER_SIZE = 4 + 1024
TRAILER = b"\x00\x44\x13\x00" + b"\x00" * 6
LAUNCHER = "Windows\\install.exe"
RECORD = "launch-record.txt"  # written by the test launcher into the working directory
LOCATION = "sea_loc"  # written by the stub into the working directory
RSS_LIMIT_KIB = 24 * 1024
TIME = "/usr/bin/time"  # GNU time


class CommandFailed(Exception):
    pass


class Sample:
    def __init__(self, wall, cpu, rss_kib):
        self.wall, self.cpu, self.rss_kib = wall, cpu, rss_kib


def timed(argv, cwd, log):
    """Runs argv; its wall time, and its CPU time and peak RSS as GNU time
    saw them (rusage of the child and of the children it waited for, such
    as the launcher). A child forked from this Python process would carry
    the interpreter's RSS into its own peak, so GNU time forks it."""
    usage = log + ".rusage"
    with open(log, "wb") as err:
        start = time.monotonic()
        code = subprocess.call([TIME, "-f", "%U %S %M", "-o", usage] + argv, cwd=cwd,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        wall = time.monotonic() - start
    if code != 0:
        with open(log, "rb") as f:
            tail = f.read()[-2000:].decode("utf-8", "replace")
        raise CommandFailed("%s exited with %d\n%s" % (" ".join(argv), code, tail))
    with open(usage) as f:
        user, system, rss_kib = f.read().split()[-3:]
    return Sample(wall, float(user) + float(system), int(rss_kib))


def rounds(commands, count, prepare, check=None):
    """Runs each (name, argv, cwd) once per round, the order turning by one
    every round; a round 0 before them runs `check` after each command and
    is not timed when check is given. Returns name -> [Sample]."""
    samples = {name: [] for name, _, _ in commands}
    first = 0 if check else 1
    for r in range(first, count + 1):
        shift = r % len(commands)
        for name, argv, cwd in commands[shift:] + commands[:shift]:
            prepare(name)
            sample = timed(argv, cwd, os.path.join(args.work, "stderr.txt"))
            if r == 0:
                check(name)
            else:
                samples[name].append(sample)
            print("  %-30s %8.2f s (CPU %.2f s, peak RSS %.1f MiB)" % (
                name, sample.wall, sample.cpu, sample.rss_kib / 1024), flush=True)
        print("round %d of %d done (load %.1f)" % (r, count, os.getloadavg()[0]), flush=True)
    return samples


def median(samples, field):
    return statistics.median(getattr(s, field) for s in samples)


# Building ------------------------------------------------------------------

def build_commands():
    commands = [("7z -mx=5", ["7z", "a", "-t7z", "-mx=5", "-bd", os.path.join(args.work, "tree.7z"),
                              "."], args.tree)]
    for m in METHODS:
        commands.append((m, [args.sea_build, "-q", "-m", m, args.tree, "-o",
                             os.path.join(args.work, m + ".exe"), "--stub", args.stub,
                             "--launcher", LAUNCHER], args.work))
    return commands


def remove_build_output(name):
    out = "tree.7z" if name == "7z -mx=5" else name + ".exe"
    path = os.path.join(args.work, out)
    if os.path.exists(path):
        os.remove(path)


# Extraction ----------------------------------------------------------------

def payload_of(installer):
    """The payload (header, ZIP data, trailer) behind the Windows stub."""
    with open(installer, "rb") as f:
        data = f.read()
    payload = data[os.path.getsize(args.stub):]
    if payload[:4] != MAGIC or payload[HEADER_SIZE:HEADER_SIZE + 4] != b"PK\x03\x04" or \
            payload[-len(TRAILER):] != TRAILER:
        raise CommandFailed("%s: no payload right behind the stub" % installer)
    return payload


def write_executable(path, *parts):
    with open(path, "wb") as f:
        for part in parts:
            f.write(part)
    os.chmod(path, 0o755)


def make_extractors():
    """The native installers (native stub + each payload), the deflate ZIP
    data for bsdtar, and 7-Zip's self-extractor."""
    with open(args.sea, "rb") as f:
        native = f.read()
    for m in METHODS:
        payload = payload_of(os.path.join(args.work, m + ".exe"))
        write_executable(os.path.join(args.work, m + ".native"), native, payload)
        if m == "deflate":
            write_executable(os.path.join(args.work, "deflate.zip"),
                             payload[HEADER_SIZE:-len(TRAILER)])
    with open(args.sfx, "rb") as module, open(os.path.join(args.work, "tree.7z"), "rb") as archive:
        write_executable(os.path.join(args.work, "tree.sfx"), module.read(), archive.read())


def extract_commands(out):
    commands = []
    for m in METHODS:
        commands.append(("sea " + m, [os.path.join(args.work, m + ".native"), "-i", "silent",
                                      "-tempdir", out], args.work))
    if args.baseline_sea:
        with open(args.baseline_sea, "rb") as f:
            native = f.read()
        path = os.path.join(args.work, "deflate.baseline")
        write_executable(path, native, payload_of(os.path.join(args.work, "deflate.exe")))
        commands.append(("sea deflate (baseline stub)", [path, "-i", "silent", "-tempdir", out],
                         args.work))
    commands.append(("bsdtar deflate", ["bsdtar", "-xf", os.path.join(args.work, "deflate.zip"),
                                        "-C", out], args.work))
    commands.append(("7z sfx", [os.path.join(args.work, "tree.sfx"), "-o" + out, "-y"], args.work))
    return commands


def check_extracted(name, out):
    """Every file of the tree, byte for byte, and nothing else (but the
    stub's location file and the launcher's record in the installer's
    working directory)."""
    root = out
    if name.startswith("sea "):
        trees = glob.glob(os.path.join(out, "I*"))
        if len(trees) != 1:
            raise CommandFailed("%s: %d working directories in %s" % (name, len(trees), out))
        root = trees[0]
        if not os.path.isfile(os.path.join(root, RECORD)):
            raise CommandFailed("%s: the launcher did not run" % name)
    found = set()
    for directory, _, files in os.walk(root):
        for f in files:
            found.add(os.path.relpath(os.path.join(directory, f), root))
    if name.startswith("sea "):
        found -= {RECORD, LOCATION}
    expected = set()
    for directory, _, files in os.walk(args.tree):
        for f in files:
            expected.add(os.path.relpath(os.path.join(directory, f), args.tree))
    if found != expected:
        raise CommandFailed("%s: extracted %d files, the tree has %d; e.g. %s" % (
            name, len(found), len(expected), sorted(found ^ expected)[:3]))
    for rel in sorted(expected):
        if not filecmp.cmp(os.path.join(args.tree, rel), os.path.join(root, rel), shallow=False):
            raise CommandFailed("%s: %s differs from the tree" % (name, rel))


# Report --------------------------------------------------------------------

failed = []


def budget(text, value, limit, ok):
    print("%-6s %-52s %14s   limit %s" % ("PASS" if ok else "FAIL", text, value, limit))
    if not ok:
        failed.append(text)


def report(built, extracted):
    size = {m: os.path.getsize(os.path.join(args.work, m + ".exe")) for m in METHODS}
    size["7z -mx=5"] = os.path.getsize(os.path.join(args.work, "tree.sfx"))
    seven = size["7z -mx=5"]
    stub = os.path.getsize(args.stub)
    module = os.path.getsize(args.sfx)
    zip_size = os.path.getsize(os.path.join(args.work, "deflate.zip"))
    rows = [(m, "sea-build -m " + m, "sea " + m) for m in METHODS]
    rows.append(("7z -mx=5", "7z a -t7z -mx=5 + 7zCon.sfx", "7z sfx"))
    if args.baseline_sea:
        rows.append((None, "deflate installer, baseline stub", "sea deflate (baseline stub)"))
    rows.append((None, "bsdtar -xf (deflate ZIP data)", "bsdtar deflate"))

    def cell(samples, field, scale=1.0, fmt="%.2f"):
        return fmt % (median(samples, field) * scale) if samples else "-"

    print()
    print("Stub %d bytes (%s), 7-Zip module %d bytes (%s); medians of %d build and %d "
          "extraction runs; wall s (CPU s)" % (stub, args.stub, module, args.sfx, args.runs,
                                               args.xruns))
    print()
    print("| method | size (bytes) | ratio vs 7z | build s | extract s | peak RSS MiB |")
    print("|---|---:|---:|---:|---:|---:|")
    for key, label, ex in rows:
        b = built.get(key, [])
        x = extracted[ex]
        rss = max(s.rss_kib for s in x) / 1024
        if key in size:
            sz, ratio = "%d" % size[key], "%.3f" % (size[key] / seven)
        elif ex == "bsdtar deflate":
            sz, ratio = "%d" % zip_size, "%.3f" % (zip_size / seven)
        else:
            sz, ratio = "-", "-"
        print("| %s | %s | %s | %s | %s | %.1f |" % (
            label, sz, ratio,
            "%s (%s)" % (cell(b, "wall"), cell(b, "cpu")) if b else "-",
            "%s (%s)" % (cell(x, "wall"), cell(x, "cpu")), rss))
    print()
    print("Payloads alone (installer less stub, archive less module): lzma / 7z %.4f" % (
        (size["lzma"] - stub) / (seven - module)))
    print()

    ratio = size["lzma"] / seven
    budget("size: lzma installer / 7z -mx=5 self-extractor", "%.4f" % ratio, "<= 1.05",
           ratio <= 1.05)
    saving = 1 - size["zstd"] / size["deflate"]
    budget("size: zstd installer smaller than deflate by", "%.1f %%" % (100 * saving), ">= 15 %",
           saving >= 0.15)
    t = {name: median(s, "wall") for name, s in extracted.items()}
    budget("extract: sea zstd / sea deflate", "%.3f" % (t["sea zstd"] / t["sea deflate"]),
           "<= 1", t["sea zstd"] <= t["sea deflate"])
    if args.baseline_sea:
        base = t["sea deflate (baseline stub)"]
        budget("extract: sea zstd / sea deflate (baseline stub)", "%.3f" % (t["sea zstd"] / base),
               "<= 1", t["sea zstd"] <= base)
        print("       (sea deflate, this stub / baseline stub: %.3f)" % (t["sea deflate"] / base))
    budget("extract: sea zstd / bsdtar -xf deflate", "%.3f" % (t["sea zstd"] / t["bsdtar deflate"]),
           "<= 1", t["sea zstd"] <= t["bsdtar deflate"])
    budget("extract: sea lzma / 7z sfx", "%.3f" % (t["sea lzma"] / t["7z sfx"]), "< 1",
           t["sea lzma"] < t["7z sfx"])
    b = {name: median(s, "wall") for name, s in built.items()}
    for m in ("lzma", "zstd"):
        r = b[m] / b["7z -mx=5"]
        budget("build: sea-build -m %s / 7z -mx=5" % m, "%.3f" % r, "<= 1", r <= 1)
    for m in METHODS:
        kib = max(s.rss_kib for s in extracted["sea " + m])
        budget("memory: stub's peak RSS, %s installer" % m, "%.1f MiB" % (kib / 1024),
               "<= 24 MiB", kib <= RSS_LIMIT_KIB)
    print()
    print("FAIL: " + "; ".join(failed) if failed else "PASS: every budget")


def main():
    print("load at start: %.1f %.1f %.1f" % os.getloadavg(), flush=True)
    print("Building (%d rounds)..." % args.runs, flush=True)
    built = rounds(build_commands(), args.runs, remove_build_output)
    make_extractors()
    shm = tempfile.mkdtemp(prefix="sea-method-bench.", dir=args.tmpfs)
    out = os.path.join(shm, "out")
    try:
        def prepare(_):
            shutil.rmtree(out, ignore_errors=True)
            os.mkdir(out)
        print("Extracting into %s (a checked round, then %d timed)..." % (shm, args.xruns),
              flush=True)
        extracted = rounds(extract_commands(out), args.xruns, prepare,
                           lambda name: check_extracted(name, out))
    finally:
        shutil.rmtree(shm, ignore_errors=True)
    print("load at end: %.1f %.1f %.1f" % os.getloadavg())
    report(built, extracted)
    return 1 if failed else 0


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("sea_build", "sea", "stub", "sfx", "tree", "work", "tmpfs"):
        parser.add_argument("--" + name.replace("_", "-"), required=True)
    parser.add_argument("--baseline-sea", help="another native stub for the deflate installer")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--xruns", type=int, default=5)
    args = parser.parse_args()
    for name in ("sea_build", "sea", "stub", "sfx", "tree", "work", "tmpfs", "baseline_sea"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    try:
        sys.exit(main())
    except CommandFailed as e:
        print("error: %s" % e, file=sys.stderr)
        sys.exit(2)
