# Package installation shared by scripts/test.sh and scripts/demo.sh (sourced,
# not run). Debian 12, as root or through sudo; only what is missing is
# installed, with --no-install-recommends, so every package a script runs
# must be named here: a minimal Debian (debootstrap --variant=minbase) has
# nothing beyond the essential set.
#
#   sea_install GROUP...          install the missing packages of these groups
#   sea_install_locales NAME...   generate missing UTF-8 locales (en_US ...)
#   sea_host_runs_32bit           true when this kernel runs 32-bit x86 code
#
# SEA_SKIP_INSTALL=1 turns sea_install and sea_install_locales into no-ops.

# --- Package groups -----------------------------------------------------------
# Tools the scripts themselves run that a minimal system lacks.
sea_group_base=(
  file                    # wine-run.sh and test.sh tell PE32 from PE32+
)
# The Linux build: compilers, CMake, zlib; GoogleTest and Python are needed
# as soon as a preset with the tests is configured (native, win32, win64).
sea_group_build=(
  cmake ninja-build g++ make zlib1g-dev googletest python3
)
# The Windows builds and Wine, common to both architectures.
sea_group_windows=(
  libz-mingw-w64-dev wine
)
# The 32-bit product (preset win32) and the Wine that runs it.
sea_group_win32_toolchain=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
)
sea_group_win32=(
  "${sea_group_win32_toolchain[@]}" wine32:i386
)
# The 64-bit build of the same sources (preset win64) and 64-bit Wine.
sea_group_win64=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
)
# GUI tests under a virtual X display.
sea_group_gui=(
  xvfb xauth              # xvfb-run refuses to start without xauth
  xdotool x11-utils imagemagick
  fonts-wine fonts-dejavu-core fonts-wqy-microhei fonts-tlwg-loma-ttf
)
# Archive and signing tools the tests compare with or check against; the
# PKCS#11 engine sea-build signs with on tokens, a software token
# (SoftHSM2) and pkcs11-tool (opensc) to make one.
sea_group_reference=(
  zip unzip libarchive-tools p7zip-full osslsigncode openssl
  libengine-pkcs11-openssl softhsm2 opensc
)
# Only the test command: fuzzing, memcheck, benchmarks, locales, time zones.
sea_group_test_extras=(
  clang libclang-rt-14-dev valgrind hyperfine libbenchmark-dev
  locales                 # the definitions localedef builds locales from
  tzdata                  # the zones the time-zone rows run in
)
# Only the test command: independent readers of the branded installers'
# resources.
sea_group_branding=(
  python3-pefile icoutils
)
# Only the test command: the Debian package (dpkg-shlibdeps for cpack, its
# check with lintian, man -w sea-build).
sea_group_package=(
  lintian man-db dpkg-dev
)

# --- Installation ---------------------------------------------------------------
sea_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else echo "not root and no sudo: cannot run $*" >&2; return 1
  fi
}

sea_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# A mirror caught in the middle of a sync answers with index files of the
# wrong size for a while. Try the update again; if one index still fails,
# go on with the lists apt has: the installation then either finds every
# package or says which one it cannot.
sea_apt_update() {
  local try
  for try in 1 2 3; do
    sea_sudo apt-get update -q && return 0
    [ "$try" -lt 3 ] && { echo "apt-get update failed (try $try of 3); again in $((try * 10)) s" >&2; sleep $((try * 10)); }
  done
  echo "apt-get update failed three times; installing from the package lists apt has" >&2
}

sea_install() {
  [ "${SEA_SKIP_INSTALL:-0}" = 1 ] && return 0
  local group p missing=()
  for group in "$@"; do
    declare -p "sea_group_${group//-/_}" >/dev/null 2>&1 ||
      { echo "no package group $group" >&2; return 1; }
    local -n list="sea_group_${group//-/_}"
    for p in "${list[@]}"; do
      sea_installed "$p" || missing+=("$p")
    done
    unset -n list
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  printf '\n== Installing: %s ==\n' "${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    sea_sudo dpkg --add-architecture i386
  fi
  sea_apt_update
  sea_sudo env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

sea_install_locales() {
  [ "${SEA_SKIP_INSTALL:-0}" = 1 ] && return 0
  local have l
  have=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]')
  for l in "$@"; do
    printf '%s\n' "$have" | grep -qx "$(printf '%s.utf8' "$l" | tr '[:upper:]' '[:lower:]')" && continue
    sea_sudo localedef -i "$l" -f UTF-8 "$l.UTF-8" || echo "cannot generate the locale $l.UTF-8" >&2
  done
}

# A kernel without IA-32 emulation refuses 32-bit programs, and 32-bit Wine
# with them. Asked before anything 32-bit is installed: runs a hand-made
# 96-byte i386 ELF program that only exits with status 42.
sea_host_runs_32bit() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/sea-run32.XXXXXX") || return 1
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' > "$probe"
  chmod +x "$probe"
  status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}
