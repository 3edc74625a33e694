#!/usr/bin/env bash
# The extraction benchmark: one payload (>= 300 MB, >= 450 entries, deflated
# at level 6; built once into build/bench/ and kept), extracted into tmpfs by
# the library (tools/al-extract), unzip, bsdtar, 7z and the zlib-only
# baseline, timed together by hyperfine; then the library's peak RSS.
#
#   bench/run_extract_bench.sh            release build in build/native-release
#   SEA_BENCH_BUILD=build/x-release ...   another build directory
#   SEA_BENCH_RUNS=10 ...                 runs per command (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${SEA_BENCH_BUILD:-build/native-release}
runs=${SEA_BENCH_RUNS:-5}

cmake --preset native-release -B "$build" >/dev/null
cmake --build "$build" -j 2 --target al-extract zlib_baseline >/dev/null

mkdir -p build/bench
payload=$root/build/bench/extract_payload.zip
if [ ! -f "$payload" ]; then
  python3 bench/make_extract_payload.py "$payload"
fi
python3 - "$payload" <<'PY'
import sys, zipfile
infos = zipfile.ZipFile(sys.argv[1]).infolist()
print("payload: %d entries, %.1f MB uncompressed, %.1f MB compressed" % (
    len(infos), sum(i.file_size for i in infos) / 1e6, sum(i.compress_size for i in infos) / 1e6))
PY

shm=$(mktemp -d /dev/shm/al-extract-bench.XXXXXX)
trap 'rm -rf "$shm"' EXIT
lib=$root/$build/bin/al-extract
base=$root/$build/bin/zlib_baseline

hyperfine --warmup 1 --runs "$runs" --style basic \
  --export-json "$shm/times.json" --export-markdown build/bench/extract_times.md \
  --prepare "rm -rf $shm/out && mkdir $shm/out" \
  -n library "$lib $payload $shm/out/x" \
  -n zlib-baseline "$base $payload $shm/out/x" \
  -n unzip "unzip -q -o $payload -d $shm/out/x" \
  -n bsdtar "bsdtar -xf $payload -C $shm/out" \
  -n 7z "7z x -y -bd -o$shm/out/x $payload >/dev/null"

rm -rf "$shm/out" && mkdir "$shm/out"
/usr/bin/time -v "$lib" "$payload" "$shm/out/x" 2>"$shm/rss.txt" >/dev/null
rss_kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$shm/rss.txt")

python3 - "$shm/times.json" "$rss_kb" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
rss_mb = int(sys.argv[2]) / 1024
# Wall time, and CPU time (user + system), which a busy machine disturbs less.
cpu = {n: r["user"] + r["system"] for n, r in results.items()}
lib, lib_cpu = results["library"]["mean"], cpu["library"]
print()
print("| command | wall s (mean +- sd) | CPU s | library/command wall | library/command CPU |")
print("|---|---|---|---|---|")
for name, r in results.items():
    print("| %s | %.2f +- %.2f | %.2f | %.2f | %.2f |" % (
        name, r["mean"], r["stddev"], cpu[name], lib / r["mean"], lib_cpu / cpu[name]))
tools = ("unzip", "bsdtar", "7z")
fastest = min(tools, key=lambda n: results[n]["mean"])
fastest_cpu = min(tools, key=lambda n: cpu[n])
print()
print("library / fastest tool: wall %.2f (%s), CPU %.2f (%s); target <= 1.00" % (
    lib / results[fastest]["mean"], fastest, lib_cpu / cpu[fastest_cpu], fastest_cpu))
print("library / zlib baseline: wall %.2f, CPU %.2f; target <= 1.10" % (
    lib / results["zlib-baseline"]["mean"], lib_cpu / cpu["zlib-baseline"]))
print("library peak RSS: %.1f MB (target < 16 MB)" % rss_mb)
PY
