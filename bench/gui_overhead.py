#!/usr/bin/env python3
"""Extraction time with the progress dialog against the silent run mode,
for the same payload in the same session, under Wine on a virtual display.

    bench/gui_overhead.py BUILD_DIR [--mb 150 | --payload ZIP] [--runs 5]

BUILD_DIR is a Windows build (win64 on hosts without 32-bit execution).
The modes run alternately; a run's extraction time is the time from the
end of the free-space check to the launch, taken from the moments the two
log lines appear, so the start of Wine and the dialog's creation and
closing do not count. The figure of a mode is its median. The payload: 448
entries like an installer's, half incompressible data, half text, or a
given ZIP (the extraction benchmark's, build/bench/extract_payload.zip) with
the launcher added.

Prints both extraction times and their ratio (GUI / silent)."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import payload  # noqa: E402
from guitest import Display  # noqa: E402

RUNNER = os.path.join(ROOT, "scripts", "wine-run.sh")


def entries(total_mb, launcher):
    with open(launcher, "rb") as f:
        items = [("Windows/install.exe", f.read())]
    count = 447
    each = (total_mb << 20) // count
    text = (b"The quick brown fox jumps over the lazy dog. 0123456789\n" * (each // 56 + 1))[:each]
    for i in range(count):
        data = os.urandom(each) if i % 2 else text
        items.append((f"payload/dir{i // 32:02}/file{i:03}.bin", data))
    return items


def build(stub, path, total_mb, launcher):
    payload.build_installer(stub, path, payload.zip_bytes(entries(total_mb, launcher)))


def build_from_zip(stub, path, archive, launcher):
    """The given ZIP with the launcher added, behind the stub."""
    with_launcher = path + ".zip"
    shutil.copyfile(archive, with_launcher)
    with zipfile.ZipFile(with_launcher, "a", zipfile.ZIP_DEFLATED) as z:
        z.write(launcher, "Windows/install.exe")
    with open(with_launcher, "rb") as f:
        payload.build_installer(stub, path, f.read())
    os.remove(with_launcher)


START_LINE = b"Comparing free disk space... "
END_LINE = b"Success. The extracted file execution has begun."


def timed_run(exe, args, env, cwd):
    """Seconds from the end of the free-space check to the launch, read from
    the moments the two log lines appear (the log is flushed line by line)."""
    log = os.path.join(cwd, "sea.log")
    if os.path.exists(log):
        os.remove(log)
    process = subprocess.Popen([RUNNER, exe] + args, env=dict(env, RUX_DEBUG="TRUE"), cwd=cwd,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = {}
    while True:
        running = process.poll() is None
        now = time.perf_counter()
        try:
            with open(log, "rb") as f:
                text = f.read()
        except OSError:
            text = b""
        for line in (START_LINE, END_LINE):
            if line not in seen and line in text:
                seen[line] = now
        if not running:
            break
        time.sleep(0.002)
    if process.returncode != 0 or len(seen) != 2:
        sys.exit(f"{os.path.basename(exe)} {' '.join(args)}: exit code {process.returncode}, "
                 f"log lines seen: {len(seen)}")
    return seen[END_LINE] - seen[START_LINE]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--mb", type=int, default=150)
    parser.add_argument("--payload", help="a ZIP to extract instead of the generated one")
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    options.build_dir = os.path.abspath(options.build_dir)
    stub = os.path.join(options.build_dir, "bin", "sea.exe")
    launcher = os.path.join(options.build_dir, "bin", "test_launcher.exe")

    scratch = tempfile.mkdtemp(prefix="sea-gui-bench-", dir=options.build_dir)
    display = Display()
    prefix = os.path.join(options.build_dir, "wineprefix-gui")
    try:
        big = os.path.join(scratch, "big.exe")
        if options.payload:
            build_from_zip(stub, big, options.payload, launcher)
        else:
            build(stub, big, options.mb, launcher)
        temp = os.path.join(scratch, "tmp")
        os.makedirs(temp)
        env = {k: v for k, v in os.environ.items() if k not in ("RUX_DEBUG", "TMP", "TEMP", "TMPDIR")}
        env.update(DISPLAY=display.name, SEA_WINEPREFIX=prefix)
        tempdir = ["-tempdir", "Z:" + temp.replace("/", "\\")]
        modes = {"silent": ["-i", "silent"], "gui": []}
        times = {mode: [] for mode in modes}
        timed_run(big, modes["silent"] + tempdir, env, scratch)  # warm the prefix and the file cache
        for _ in range(options.runs):
            for mode, args in modes.items():
                times[mode].append(timed_run(big, args + tempdir, env, scratch))
                shutil.rmtree(temp)
                os.makedirs(temp)
        median = {mode: statistics.median(times[mode]) for mode in modes}
        for mode in modes:
            runs = ", ".join(f"{t:.3f}" for t in times[mode])
            print(f"{mode:6}: extraction {median[mode]:6.3f} s (median; runs: {runs})")
        label = os.path.basename(options.payload) if options.payload else f"{options.mb} MiB"
        print(f"payload {label}; GUI / silent: {median['gui'] / median['silent']:.3f}")
    finally:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        display.close()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
