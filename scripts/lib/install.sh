# Package installation shared by scripts/test.sh and scripts/demo.sh (sourced,
# not run). Debian 12, as root or through sudo; only what is missing is
# installed, with --no-install-recommends, so every package a script runs
# must be named here: a minimal Debian (debootstrap --variant=minbase) has
# nothing beyond the essential set.
#
#   sea_install GROUP...          install the missing packages of these groups
#   sea_install_locales NAME...   generate missing UTF-8 locales (en_US ...)
#   sea_host_runs_32bit           true when this kernel runs 32-bit x86 code
#   sea_fetch_zstd_source [DIR]   Debian's Zstandard sources for the MinGW
#                                 builds, unpacked into DIR/zstd (build/deps)
#
# SEA_SKIP_INSTALL=1 turns sea_install and sea_install_locales into no-ops
# (and keeps sea_fetch_zstd_source from adding a deb-src entry).

# --- Package groups -----------------------------------------------------------
# Tools the scripts themselves run that a minimal system lacks.
sea_group_base=(
  file                    # wine-run.sh and test.sh tell PE32 from PE32+
)
# The Linux build: compilers, CMake, zlib, the codecs (the LZMA SDK's C
# sources, compiled for every build, and Zstandard); GoogleTest and Python
# are needed as soon as a preset with the tests is configured (native,
# win32, win64). dpkg-dev unpacks the Zstandard source package the MinGW
# builds compile (sea_fetch_zstd_source).
sea_group_build=(
  cmake ninja-build g++ make zlib1g-dev googletest python3
  lzma-dev libzstd-dev dpkg-dev
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
# Only the test command, on hosts without 32-bit execution: the product run
# under 32-bit Wine in an i386 chroot through user-mode emulation
# (scripts/win32-emulated.sh; mount, unshare, flock and chroot are in
# every Debian system).
sea_group_emulation=(
  qemu-user-static debootstrap
)
# GUI tests under a virtual X display.
sea_group_gui=(
  xvfb xauth              # xvfb-run refuses to start without xauth
  xdotool x11-utils imagemagick
  fonts-wine fonts-dejavu-core fonts-wqy-microhei fonts-tlwg-loma-ttf
)
# Archive and signing tools the tests compare with or check against (the
# zstd program writes the Zstandard frames of other tools); the PKCS#11
# engine sea-build signs with on tokens, a software token (SoftHSM2) and
# pkcs11-tool (opensc) to make one.
sea_group_reference=(
  zip unzip libarchive-tools p7zip-full zstd osslsigncode openssl
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

# --- Zstandard sources for the MinGW builds -------------------------------------
# MinGW-w64 has no Zstandard library in Debian, so the Windows builds compile
# the Debian source package of the very version libzstd-dev has here (the
# same code as the Linux builds). It is unpacked into DIR/zstd (default
# build/deps, the place CMake looks: SEA_DEPS_DIR) and marked with its
# version; a matching copy is kept. Without a deb-src entry for Debian's
# mirrors, one is added beside the system's lists in a file of our own.
sea_zstd_deb_src=/etc/apt/sources.list.d/quillora-sea-deb-src
sea_add_deb_src() {
  # deb822 stanzas of Debian's mirrors, as deb-src ...
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
    BEGIN { RS = ""; ORS = "\n\n" }
    /(^|\n)Types:[^\n]*deb([ \t]|$|\n)/ && /(^|\n)URIs:[^\n]*debian/ && !/(^|\n)Enabled: *no/ {
      out = ""; n = split($0, line, "\n")
      for (k = 1; k <= n; k++) {
        if (line[k] ~ /^#/) continue
        if (line[k] ~ /^Types:/) line[k] = "Types: deb-src"
        out = out line[k] "\n"
      }
      printf "%s\n", out }' > "$sea_zstd_deb_src.sources.new"
  # ... and one-line entries.
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" && /debian/ { $1 = "deb-src"; print }' > "$sea_zstd_deb_src.list.new"
  local f
  for f in sources list; do
    if [ -s "$sea_zstd_deb_src.$f.new" ]; then mv "$sea_zstd_deb_src.$f.new" "$sea_zstd_deb_src.$f"
    else rm -f "$sea_zstd_deb_src.$f.new"; fi
  done
}

# apt-get source of libzstd VERSION into the current directory.
sea_zstd_apt_source() {
  apt-get source -q "libzstd=$1" >apt-get-source.log 2>&1
}

sea_fetch_zstd_source() {
  local deps=${1:-build/deps} version tmp dir used
  version=$(dpkg-query -W -f='${Version}' libzstd-dev 2>/dev/null) ||
    { echo "libzstd-dev is not installed: no Zstandard version to fetch the sources of" >&2; return 1; }
  if [ "$(head -n 1 "$deps/zstd/.debian-version" 2>/dev/null)" = "$version" ]; then return 0; fi
  if ! apt-cache showsrc libzstd 2>/dev/null | grep -qx "Version: $version"; then
    if [ "${SEA_SKIP_INSTALL:-0}" = 1 ]; then
      echo "apt knows no source package libzstd $version (a deb-src entry is missing; SEA_SKIP_INSTALL=1 adds none)" >&2
      return 1
    fi
    sea_sudo bash -c "$(declare -p sea_zstd_deb_src); $(declare -f sea_add_deb_src); sea_add_deb_src"
    sea_apt_update
  fi
  printf '\n== Fetching the Zstandard sources (libzstd %s) into %s/zstd ==\n' "$version" "$deps"
  mkdir -p "$deps"
  tmp=$(mktemp -d "$deps/.zstd.XXXXXX")
  used=$version
  if ! (cd "$tmp" && sea_zstd_apt_source "$version"); then
    # A mirror without the sources of a security update: the newest source
    # of the same upstream release that can be had, said out loud.
    cat "$tmp/apt-get-source.log" >&2
    used=$(apt-cache showsrc libzstd 2>/dev/null | sed -n 's/^Version: //p' |
      grep -F "${version%-*}-" | grep -vxF "$version" | sort -V -r | head -n 1)
    if [ -z "$used" ] || ! (cd "$tmp" && sea_zstd_apt_source "$used"); then
      rm -rf "$tmp"; echo "apt-get source libzstd=$version failed" >&2; return 1
    fi
    echo "WARNING: the sources of libzstd $version cannot be fetched; the MinGW builds use $used (upstream ${version%-*})" >&2
  fi
  dir=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d -name 'libzstd-*' -print -quit)
  [ -n "$dir" ] && [ -f "$dir/lib/zstd.h" ] ||
    { rm -rf "$tmp"; echo "the libzstd source package holds no lib/zstd.h" >&2; return 1; }
  printf '%s\n%s\n' "$version" "$used" > "$dir/.debian-version"
  rm -rf "$deps/zstd" && mv "$dir" "$deps/zstd" && rm -rf "$tmp"
}
