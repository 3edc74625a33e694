#!/usr/bin/env bash
# The test command: installs what is missing (Debian 12), builds the Linux
# and Windows programs, and runs every test. Exits non-zero on any failure.
#
#   scripts/test.sh            everything
#   SEA_SKIP_INSTALL=1 ...     do not touch the system's packages
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

step() { printf '\n== %s ==\n' "$*"; }

# --- 1. Packages --------------------------------------------------------------
packages=(
  cmake ninja-build g++ make file python3 zlib1g-dev googletest libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64 wine32:i386
  xvfb xdotool imagemagick x11-utils locales
  fonts-wine fonts-dejavu-core fonts-wqy-microhei fonts-tlwg-loma-ttf
  zip unzip libarchive-tools p7zip-full osslsigncode openssl
  clang libclang-rt-14-dev valgrind hyperfine
  python3-pefile icoutils  # independent readers of the branded installers' resources
  lintian man-db dpkg-dev  # the Debian package: dpkg-shlibdeps for cpack, lintian, man -w sea-build
)
install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "missing packages and no sudo: ${missing[*]}" >&2; return 1; }
    sudo="sudo"
  fi
  step "Installing: ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
# Unix locales from which Wine takes the dialog's language in the GUI tests,
# and the Turkish one in which every suite also runs (its dotted and dotless
# i break locale-dependent case folding).
gui_locales=(en_US de_DE ja_JP ar_SA ru_RU tr_TR)
install_locales() {
  local have sudo=""
  have=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]')
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  for l in "${gui_locales[@]}"; do
    printf '%s\n' "$have" | grep -qx "$(printf '%s.utf8' "$l" | tr '[:upper:]' '[:lower:]')" && continue
    $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8" || echo "cannot generate the locale $l.UTF-8" >&2
  done
}
if [ "${SEA_SKIP_INSTALL:-0}" != 1 ]; then install_missing; install_locales; fi

# --- 2. Linux build and tests ------------------------------------------------
step "Linux build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset native >/dev/null
cmake --build build/native -j "$jobs"
step "Linux tests"
(cd build/native && ctest --output-on-failure -j "$jobs")

# Memcheck needs a build without sanitizers: the program and the test
# launcher only, and the one test that runs valgrind over them.
if command -v valgrind >/dev/null; then
  step "Linux build without sanitizers: memcheck"
  cmake --preset native-release -B build/native-memcheck -DSEA_BENCH=OFF >/dev/null
  cmake --build build/native-memcheck -j "$jobs" --target sea test_launcher
  (cd build/native-memcheck && ctest --output-on-failure -R '^valgrind_')
fi

# --- 3. Windows build (the product) -----------------------------------------
step "Windows build (i686, the product)"
cmake --preset win32 >/dev/null
cmake --build build/win32 -j "$jobs"
info=$(file -b build/win32/bin/sea.exe)
echo "sea.exe: $info"
case "$info" in
  *PE32\ executable*GUI*Intel\ 80386*) ;;
  *) echo "sea.exe is not a 32-bit GUI PE image" >&2; exit 1 ;;
esac
if i686-w64-mingw32-objdump -p build/win32/bin/sea.exe | grep 'DLL Name' |
    grep -v -i -E 'KERNEL32|USER32|GDI32|SHELL32|OLE32|ADVAPI32|msvcrt' ; then
  echo "sea.exe imports a DLL that Windows does not always take from its system folder" >&2; exit 1
fi

# Two clean builds of the product stub in different directories must agree.
step "Reproducible stub: sea.exe built a second time elsewhere"
scripts/stub-reproducible.sh

# --- 3b. Debian package ------------------------------------------------------
# Built from a release build with the 32-bit stub above; the check installs
# and removes it again when run as root.
step "Debian package (quillora-sea)"
cmake --preset package >/dev/null
cmake --build build/package -j "$jobs"
if ! (cd build/package && ctest --output-on-failure -V > package-check.log 2>&1); then
  cat build/package/package-check.log; echo "the package check failed" >&2; exit 1
fi
grep -E '^[0-9]+: (lintian|package size|[EW]:)|tests passed' build/package/package-check.log || true

# --- 4. Windows tests under Wine -------------------------------------------
# The product is 32-bit. Hosts without 32-bit execution (no IA-32 emulation in
# the kernel) cannot start 32-bit Wine; there the same sources are tested as
# a 64-bit Windows build under 64-bit Wine.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  winpreset=win32
else
  winpreset=win64
  step "This host cannot run 32-bit programs: Windows tests use the 64-bit build"
  cmake --preset win64 >/dev/null
  cmake --build build/win64 -j "$jobs"
fi
step "Windows tests under Wine ($winpreset)"
# Under a virtual X display, so that dialogs and controls can be created.
(cd "build/$winpreset" && xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -j "$jobs")

# --- 5. Fuzzing smoke runs ----------------------------------------------------
if [ -x scripts/fuzz.sh ]; then
  step "Fuzzing smoke runs"
  scripts/fuzz.sh smoke
fi

step "All tests passed"
