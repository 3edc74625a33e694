#!/usr/bin/env bash
# The main job: build what is needed, pack the sample installer tree demo/
# into build/demo/setup.exe with sea-build, run it under Wine in silent mode
# with its log switched on, and show what happened: the installer's
# contents, the log, what the launcher was started with, and the exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# What the main job needs (scripts/lib/install.sh; SEA_SKIP_INSTALL=1 skips
# this): the Linux build for sea-build, and MinGW-w64 with Wine for the
# Windows programs. The 32-bit product runs wherever 32-bit Wine can;
# elsewhere the 64-bit build of the same sources stands in for it.
. scripts/lib/install.sh
if sea_host_runs_32bit; then arch=win32; else arch=win64; fi
sea_install base build windows "$arch"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then preset=win32; else preset=win64; fi
[ "$preset" = "$arch" ] || sea_install "$preset"
# The Zstandard sources the Windows programs compile.
sea_fetch_zstd_source
# Build directories (overridable, e.g. to keep a separate build apart).
win_build=${SEA_DEMO_WIN_BUILD:-build/$preset}
native_build=${SEA_DEMO_NATIVE_BUILD:-build/native}
stale() {  # true when $1 is missing or older than any source
  [ ! -e "$1" ] || [ -n "$(find sea archive pe platform resources tools -newer "$1" -print -quit)" ]
}
if stale "$win_build/bin/sea.exe" || stale "$win_build/bin/demo_launcher.exe"; then
  echo "Building the Windows programs ($preset)..."
  cmake --preset "$preset" -B "$win_build" >/dev/null
  cmake --build "$win_build" -j "$(nproc)" --target sea demo_launcher >/dev/null
fi
if stale "$native_build/bin/sea-build"; then
  echo "Building sea-build (native)..."
  cmake --preset native -B "$native_build" >/dev/null
  cmake --build "$native_build" -j "$(nproc)" --target sea-build >/dev/null
fi
builder="$root/$native_build/bin/sea-build"
stub_options=(--stub "$win_build/bin/sea.exe")
[ "$preset" = win64 ] && stub_options+=(--allow-pe32plus)

# The installer tree: demo/ plus the launcher program.
work="$root/build/demo"
rm -rf "$work" && mkdir -p "$work"
cp -r demo "$work/tree"
cp "$win_build/bin/demo_launcher.exe" "$work/tree/Windows/install.exe"

echo "== Packing demo/ into build/demo/setup.exe"
echo "\$ sea-build build/demo/tree -o build/demo/setup.exe --launcher 'Windows\\install.exe'"
"$builder" "$work/tree" -o "$work/setup.exe" --launcher 'Windows\install.exe' "${stub_options[@]}"
"$builder" --list "$work/setup.exe"
"$builder" --test "$work/setup.exe"

echo
echo "== Running: setup.exe -i silent -tempdir run/tmp  (RUX_DEBUG=true, under Wine)"
mkdir -p "$work/run/tmp"
cd "$work/run"
set +e
RUX_DEBUG=true "$root/scripts/wine-run.sh" ../setup.exe -i silent -tempdir "$work/run/tmp" \
  > launcher-stdout.txt 2>&1
code=$?
set -e
echo
echo "---- sea.log ----"
if [ -f sea.log ]; then tr -d '\r' < sea.log; else echo "(no log written)"; fi
echo "---- the launcher's report (Windows\\install.exe) ----"
report=$(find tmp -name demo-launcher.txt -print -quit)
if [ -n "$report" ]; then tr -d '\r' < "$report"; else echo "(the launcher did not run)"; fi
if [ -s launcher-stdout.txt ]; then
  echo "---- standard output under Wine ----"
  tr -d '\r' < launcher-stdout.txt
fi
echo "---- extracted working directory ----"
(cd tmp && find . -mindepth 1 | sort)
echo "-----------------"
echo "Exit code: $code"
# A run that failed fails the main job too.
exit "$code"
