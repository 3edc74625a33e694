#!/usr/bin/env bash
# The main job: build if needed, then run the self-extractor in silent mode
# under Wine with its log switched on, and show the log and the exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# The 32-bit product runs wherever 32-bit Wine can; elsewhere the 64-bit
# build of the same sources stands in for it.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then preset=win32; else preset=win64; fi
if [ ! -x "build/$preset/bin/sea.exe" ] || [ -n "$(find sea archive platform resources -newer "build/$preset/bin/sea.exe" -print -quit)" ]; then
  echo "Building ($preset)..."
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j "$(nproc)" >/dev/null
fi

work="$root/build/demo"
rm -rf "$work/run" && mkdir -p "$work/run"
cp "build/$preset/bin/sea.exe" "$work/run/setup.exe"
cd "$work/run"
echo "Running: setup.exe -i silent  (RUX_DEBUG=true, under Wine)"
set +e
RUX_DEBUG=true "$root/scripts/wine-run.sh" ./setup.exe -i silent
code=$?
set -e
echo
echo "---- sea.log ----"
if [ -f sea.log ]; then tr -d '\r' < sea.log; else echo "(no log written)"; fi
echo "-----------------"
echo "Exit code: $code"
