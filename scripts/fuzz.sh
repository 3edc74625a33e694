#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz) and runs them.
#   scripts/fuzz.sh smoke            every target briefly (the test command's run)
#   scripts/fuzz.sh run NAME SECONDS one target for a given time
# Seeds come from fuzz/corpus/<name>/; new inputs go to build/fuzz/corpus/<name>/
# so the repository's corpora stay as committed. Crashes land in build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/lib/install.sh
sea_fetch_zstd_source  # the fuzz targets compile Zstandard from its sources
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "$(nproc)" >/dev/null

run_one() {
  local name=$1 seconds=$2
  local exe="$root/build/fuzz/bin/${name}_fuzzer"
  local corpus="$root/build/fuzz/corpus/$name"
  local work="$root/build/fuzz/work/$name"
  mkdir -p "$corpus" "$work" "$root/build/fuzz/crashes"
  if [ -d "fuzz/corpus/$name" ]; then cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true; fi
  local args=("$corpus" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048
              -artifact_prefix="$root/build/fuzz/crashes/${name}-")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="$root/fuzz/$name.dict")
  echo "-- $name: ${seconds}s"
  if ! (cd "$work" && "$exe" "${args[@]}") >"$work/log.txt" 2>&1; then
    tail -n 60 "$work/log.txt"
    echo "fuzz target $name failed (log: $work/log.txt)" >&2
    return 1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+ +DONE' "$work/log.txt" || true
}

case "${1:-smoke}" in
  smoke)
    for exe in build/fuzz/bin/*_fuzzer; do
      [ -x "$exe" ] || continue
      name=$(basename "$exe" _fuzzer)
      seconds=${SEA_FUZZ_SECONDS:-20}
      [ "$name" = archive ] && seconds=${SEA_FUZZ_ARCHIVE_SECONDS:-60}
      run_one "$name" "$seconds"
    done ;;
  run) run_one "$2" "$3" ;;
  *) echo "usage: $0 smoke | run NAME SECONDS" >&2; exit 2 ;;
esac
