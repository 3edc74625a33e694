#!/usr/bin/env bash
# The compression methods side by side, in one run, on the extraction
# benchmark's tree (bench/make_extract_payload.py --tree: the same files as
# its payload, plus the test launcher as Windows/install.exe):
#
#   size       installers of sea-build -m deflate|lzma|zstd (default levels,
#              with the Windows stub) against 7-Zip's self-extractor of the
#              tree (7z a -t7z -mx=5, plus the module 7zCon.sfx);
#   building   the same four commands, timed;
#   extraction into tmpfs, start to the launcher's exit: each installer's
#              payload behind the native release stub `sea -i silent`;
#              bsdtar -xf of the deflate installer's ZIP data; 7-Zip's
#              self-extractor (-o DIR -y);
#   memory     the stub's peak RSS extracting each installer.
#
# One table, each budget with PASS or FAIL (bench/method_bench.py); exits
# non-zero when a tool is missing, a command fails, an extraction differs
# from the tree, or a budget fails. The machine's load is printed at the
# start and the end: on a busy machine the times are worth little.
#
#   SEA_BENCH_BUILD     native release build (default build/native-release)
#   SEA_BENCH_STUB      Windows stub inside the installers (default
#                       build/win32/bin/sea.exe, built when missing)
#   SEA_BENCH_BASELINE  another native stub (say, main's) that also extracts
#                       the deflate installer: today's deflate figure
#   SEA_BENCH_WORK      scratch directory (default build/bench-method)
#   SEA_BENCH_TMPFS     tmpfs to extract into (default /dev/shm)
#   SEA_BENCH_RUNS      timed builds of each kind (default 1)
#   SEA_BENCH_XRUNS     timed extractions of each kind (default 5)
#   SEA_BENCH_SFX       7-Zip's self-extractor module (default /usr/lib/p7zip/7zCon.sfx)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${SEA_BENCH_BUILD:-build/native-release}
stub=${SEA_BENCH_STUB:-build/win32/bin/sea.exe}
work=${SEA_BENCH_WORK:-build/bench-method}
tmpfs=${SEA_BENCH_TMPFS:-/dev/shm}
sfx=${SEA_BENCH_SFX:-/usr/lib/p7zip/7zCon.sfx}

fail() { echo "run_method_bench.sh: $*" >&2; exit 1; }
for tool in 7z bsdtar python3 cmake; do
  command -v "$tool" >/dev/null || fail "missing: $tool (scripts/test.sh installs it)"
done
[ -x "$sfx" ] || fail "missing: 7-Zip's self-extractor module $sfx (package p7zip-full)"
[ "$(stat -f -c %T "$tmpfs" 2>/dev/null)" = tmpfs ] || fail "$tmpfs is not a tmpfs"

cmake --preset native-release -B "$build" >/dev/null
nice -n 5 cmake --build "$build" -j 2 --target sea sea-build test_launcher >/dev/null
if [ ! -f "$stub" ]; then
  echo "Building the Windows stub in build/win32..."
  cmake --preset win32 >/dev/null
  nice -n 5 cmake --build build/win32 -j 2 --target sea >/dev/null
fi
[ -f "$stub" ] || fail "missing: the Windows stub $stub"
bin=$root/$build/bin
"$bin/sea-build" --help | grep -q -- '--method' ||
  fail "$bin/sea-build has no -m/--method option: build a version with the LZMA and Zstandard methods"

tree=$root/build/bench/method-tree
if [ ! -f "$tree.ready" ]; then
  echo "Preparing the benchmark tree in $tree..."
  rm -rf "$tree" && mkdir -p "$tree"
  python3 bench/make_extract_payload.py --tree "$tree"
  touch "$tree.ready"
fi
mkdir -p "$tree/Windows"
cp "$bin/test_launcher" "$tree/Windows/install.exe"
echo "Tree: $(du -sm "$tree" | cut -f1) MB, $(find "$tree" -type f | wc -l) files"

mkdir -p "$work"
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
exec python3 bench/method_bench.py --sea-build "$bin/sea-build" --sea "$bin/sea" \
  --stub "$(absolute "$stub")" --sfx "$sfx" --tree "$tree" --work "$(cd "$work" && pwd)" \
  --tmpfs "$tmpfs" --runs "${SEA_BENCH_RUNS:-1}" --xruns "${SEA_BENCH_XRUNS:-5}" \
  ${SEA_BENCH_BASELINE:+--baseline-sea "$(absolute "$SEA_BENCH_BASELINE")"}
