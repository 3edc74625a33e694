#!/usr/bin/env bash
# Checks that the product stub is reproducible: builds sea.exe (preset
# win32) from a copy of the sources in another directory, with another build
# directory and at another time, and compares it byte for byte with
# build/win32/bin/sea.exe. Prints the size and the SHA-256 of both.
# Exits non-zero when they differ or when the image carries debug sections
# or a link time stamp.
#
#   scripts/stub-reproducible.sh     (build/win32 is built first when needed)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
. scripts/lib/install.sh
sea_fetch_zstd_source  # the Zstandard sources the stub compiles

cmake --preset win32 >/dev/null
cmake --build build/win32 -j "$jobs" --target sea >/dev/null
first=build/win32/bin/sea.exe

# A clean copy of the sources (no build output, no version control) under a
# different path, built in its own build directory, with the same
# third-party sources (their path is mapped away like the sources' own).
copy="$root/build/repro-stub/src"
rm -rf "$root/build/repro-stub"
mkdir -p "$copy"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
(cd "$copy" && cmake --preset win32 -DSEA_TESTS=OFF -DSEA_DEPS_DIR="$root/build/deps" >/dev/null &&
  cmake --build build/win32 -j "$jobs" --target sea >/dev/null)
second="$copy/build/win32/bin/sea.exe"

status=0
for f in "$first" "$second"; do
  printf '%s  %s bytes  %s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "$(stat -c %s "$f")" "$f"
done
if ! cmp -s "$first" "$second"; then
  echo "the two builds of sea.exe differ:" >&2
  cmp -l "$first" "$second" | head -20 >&2 || true
  status=1
fi
headers=$(i686-w64-mingw32-objdump -h -p "$first")
if printf '%s\n' "$headers" | grep -E '^ +[0-9]+ +\.debug'; then
  echo "sea.exe carries debug sections" >&2
  status=1
fi
# The COFF header's TimeDateStamp: 4 bytes at 8 past the "PE\0\0" signature.
u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
pe=$(u32 "$first" 60)
if [ "$(u32 "$first" $((pe + 8)))" != 0 ]; then
  echo "sea.exe carries a link time stamp ($(u32 "$first" $((pe + 8))))" >&2
  status=1
fi
[ $status -eq 0 ] && rm -rf "$root/build/repro-stub" && echo "sea.exe is reproducible"
exit $status
