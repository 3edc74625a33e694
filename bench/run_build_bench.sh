#!/usr/bin/env bash
# Installer build speed and size, measured against Info-ZIP's zip at the same
# level on the same tree in the same run (hyperfine):
#
#   sea-build -q TREE -o out.exe      versus      zip -q -r -6 out.zip .
#
# The tree is a copy of the JDK trees under /usr/lib/jvm (links resolved,
# broken ones left out) plus 400 small text files, 300 MB or more. Passes
# when sea-build takes at most 1.0 times zip's mean time and its installer
# is at most 1% larger than zip's archive. With the product stub, what
# branding adds (--icon and --version-info) is timed on a one-file tree,
# where the machine's noise does not hide it: less than half a second.
#
#   SEA_BENCH_BUILD   build directory with sea-build (default build/native-release)
#   SEA_BENCH_WORK    scratch directory (default build/bench-build)
#   SEA_BENCH_RUNS    timed runs per command (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${SEA_BENCH_BUILD:-build/native-release}
work=${SEA_BENCH_WORK:-build/bench-build}
runs=${SEA_BENCH_RUNS:-5}

for tool in zip hyperfine python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/test.sh installs it)" >&2; exit 1; }
done

if [ ! -x "$build/bin/sea-build" ]; then
  echo "Building sea-build (Release) in $build..."
  cmake --preset native-release -B "$build" >/dev/null
  cmake --build "$build" -j 2 --target sea-build >/dev/null
fi
tool="$root/$build/bin/sea-build"

mkdir -p "$work"
work=$(cd "$work" && pwd)
tree="$work/tree"
if [ ! -f "$work/.tree-ready" ]; then
  echo "Preparing the benchmark tree in $tree..."
  rm -rf "$tree" && mkdir -p "$tree"
  # Real JDK directories (not the links between them) until 300 MB are in.
  for jdk in /usr/lib/jvm/*/; do
    [ -L "${jdk%/}" ] && continue
    [ "$(du -sm "$tree" | cut -f1)" -ge 300 ] && break
    cp -rL "$jdk" "$tree/$(basename "$jdk")" 2>/dev/null || true
  done
  python3 - "$tree" <<'EOF'
import os, random, sys
random.seed(7)
words = ("installer launcher archive deflate payload runtime java class module "
         "resource config property value string table").split()
for i in range(400):
    d = os.path.join(sys.argv[1], "docs", "part%02d" % (i % 20))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "note%03d.txt" % i), "w") as f:
        for _ in range(random.randint(5, 400)):
            f.write(" ".join(random.choice(words) for _ in range(12)) + "\n")
EOF
  touch "$work/.tree-ready"
fi
tree_mb=$(du -sm "$tree" | cut -f1)
[ "$tree_mb" -ge 300 ] || { echo "the benchmark tree has only $tree_mb MB (need 300)" >&2; exit 1; }

# The stub: the product when it has been built, otherwise the smallest PE32
# image the builder accepts (the stub's size hardly matters at this scale).
stub="$root/build/win32/bin/sea.exe"
if [ ! -f "$stub" ]; then
  stub="$work/stub.exe"
  python3 - "$stub" <<'EOF'
import struct, sys
dos = bytearray(64); dos[0:2] = b"MZ"; struct.pack_into("<I", dos, 0x3C, 64)
fh = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x0102)
opt = bytearray(224); struct.pack_into("<H", opt, 0, 0x10B)
struct.pack_into("<I", opt, 60, 0x200); struct.pack_into("<I", opt, 92, 16)
sec = struct.pack("<8sIIIIIIHHI", b".text", 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
image = (bytes(dos) + b"PE\0\0" + fh + bytes(opt) + sec).ljust(0x200, b"\0") + b"\xc3" * 0x200
open(sys.argv[1], "wb").write(image)
EOF
fi

echo "Tree: $tree_mb MB, $(find "$tree" -type f | wc -l) files"
hyperfine --warmup 1 --runs "$runs" --export-json "$work/times.json" \
  --prepare "rm -f '$work/out.zip' '$work/out.exe'" \
  -n "zip -q -r -6" "cd '$tree' && zip -q -r -6 '$work/out.zip' ." \
  -n "sea-build -6" "'$tool' -q '$tree' -o '$work/out.exe' --stub '$stub' --launcher 'Windows\\setup.exe'"

"$tool" -q "$tree" -o "$work/out.exe" --stub "$stub" --launcher 'Windows\setup.exe'
rm -f "$work/out.zip" && (cd "$tree" && zip -q -r -6 "$work/out.zip" .)
"$tool" --test "$work/out.exe" >/dev/null

if [ "$stub" = "$root/build/win32/bin/sea.exe" ]; then
  mkdir -p "$work/small/Windows" && echo launcher > "$work/small/Windows/setup.exe"
  hyperfine --warmup 3 --runs 20 --export-json "$work/branding.json" \
    -n "plain" "'$tool' -q '$work/small' -o '$work/small.exe' --stub '$stub'" \
    -n "branded" "'$tool' -q '$work/small' -o '$work/small.exe' --stub '$stub' --icon '$root/resources/icons/warning.ico' --version-info 'ProductName=Bench' --version-info FileVersion=1.2.3.4"
fi

python3 - "$work/times.json" "$work/out.exe" "$work/out.zip" "$work/branding.json" <<'EOF'
import json, os, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
zip_time = results["zip -q -r -6"]["mean"]
sea_time = results["sea-build -6"]["mean"]
time_ratio = sea_time / zip_time
size_ratio = os.path.getsize(sys.argv[2]) / os.path.getsize(sys.argv[3])
print("time: sea-build %.2f s, zip %.2f s, ratio %.3f (limit 1.000)" % (sea_time, zip_time, time_ratio))
print("size: installer %d bytes, zip %d bytes, ratio %.4f (limit 1.0100)"
      % (os.path.getsize(sys.argv[2]), os.path.getsize(sys.argv[3]), size_ratio))
ok = time_ratio <= 1.0 and size_ratio <= 1.01
if os.path.exists(sys.argv[4]):
    small = {r["command"]: r["mean"] for r in json.load(open(sys.argv[4]))["results"]}
    added = small["branded"] - small["plain"]
    print("branding: %.3f s added (limit 0.5 s)" % added)
    ok = ok and added < 0.5
print("PASS" if ok else "FAIL")
sys.exit(0 if ok else 1)
EOF
