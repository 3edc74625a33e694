#!/usr/bin/env bash
# Runs one command where 32-bit Windows programs run, on hosts whose kernel
# does not execute 32-bit x86 code: an i386 Debian 12 chroot with 32-bit
# Wine, its i386 programs executed by qemu-user-static.
#
#   scripts/win32-emulated.sh COMMAND [ARGS...]   run COMMAND there
#   scripts/win32-emulated.sh --prepare           only build the cache
#
# Inside, `wine` is 32-bit Wine with a ready prefix (a copy of the cached one,
# thrown away afterwards), the clone and /tmp are at the same paths as on the
# host, and the working directory is the caller's when it lies in either.
# The exit code is COMMAND's. 75 means the emulation could not be prepared on
# this host; the one line before it on stderr says why.
#
# The chroot and its prefix are built once per machine (about 25 minutes of
# CPU under emulation) in $SEA_EMULATION_CACHE, by default
# /var/cache/quillora-sea/win32-emulated: into a temporary directory that is
# renamed when complete, under a lock. The emulation is registered only in a
# user namespace of this script's own (binfmt_misc per namespace, Linux 6.7
# on); where that is refused it is registered machine-wide for the run alone
# and removed again on every exit. The host's own programs never change.
#
#   SEA_EMULATION_CACHE         where the chroot is kept (see above)
#   SEA_EMULATION_MIRROR        the Debian mirror of the chroot (default: the
#                               one the host's apt lists name for bookworm)
#   SEA_EMULATION_REGISTRATION=machine   register machine-wide even where a
#                               namespace could have its own (to test that way)
set -euo pipefail

self=$(readlink -f "$0")
clone=$(cd "$(dirname "$self")/.." && pwd)
cache=${SEA_EMULATION_CACHE:-/var/cache/quillora-sea/win32-emulated}
# The mirror the host's own Debian lists name for bookworm.
host_mirror() {
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
    BEGIN { RS = "" }
    /(^|\n)Suites:[^\n]*[ \t]bookworm([ \t]|\n|$)/ && !/(^|\n)Enabled: *no/ {
      if (match($0, /(^|\n)URIs:[ \t]*[^ \t\n]+/)) {
        u = substr($0, RSTART, RLENGTH); sub(/^\n?URIs:[ \t]*/, "", u); print u; exit } }'
  cat /etc/apt/sources.list 2>/dev/null | awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }'
}
mirror=${SEA_EMULATION_MIRROR:-$(host_mirror | head -n 1 || true)}
mirror=${mirror:-http://deb.debian.org/debian}
qemu=/usr/bin/qemu-i386-static
prefix_in_root=/var/lib/sea-wine/prefix
unavailable=75
binfmt_dir=/proc/sys/fs/binfmt_misc
# One name per run: concurrent runs registering machine-wide never take
# each other's entry away.
binfmt_name=sea-i386-$$
# Magic and mask of an i386 ELF executable, as in qemu's qemu-binfmt-conf.sh.
binfmt_rule=":$binfmt_name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F"

say() { printf 'win32-emulated: %s\n' "$*" >&2; }
cannot() { say "cannot prepare the 32-bit emulation: $*"; exit "$unavailable"; }

# --- Inside the namespace ----------------------------------------------------
# Mounts made here vanish with the namespace, whatever way the script ends;
# every process started in it dies with its first process.

register_emulation() {
  mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || return 1
  echo "$binfmt_rule" > "$binfmt_dir/register" 2>/dev/null
}

# Mounts what programs in the chroot need: /proc of this namespace, the
# host's devices, and the clone, /tmp and EXTRA at their host paths.
enter_mounts() {
  local root=$1 dir; shift
  mount -t proc proc "$root/proc"
  mkdir -p "$root/dev" && mount --rbind /dev "$root/dev"
  for dir in /tmp "$@"; do
    mkdir -p "$root$dir" && mount --rbind "$dir" "$root$dir"
  done
  cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
}

in_root() {
  local root=$1; shift
  chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \
    HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

# Makes the prefix in ROOT. wineboot has been seen to end early and leave a
# prefix without system32 ("could not load kernel32.dll"): such a prefix is
# made once more from nothing. Wine's errors go to the log.
create_prefix() {
  local root=$1 attempt
  for attempt in 1 2; do
    rm -rf "$root$prefix_in_root"
    mkdir -p "$(dirname "$root$prefix_in_root")"
    echo "wineboot, attempt $attempt"
    in_root "$root" WINEPREFIX="$prefix_in_root" WINEDEBUG=fixme-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      sh -c 'wineboot -i; status=$?; wineserver -w; exit $status' || true
    if [ -f "$root$prefix_in_root/drive_c/windows/system32/kernel32.dll" ] &&
       in_root "$root" WINEPREFIX="$prefix_in_root" WINEDEBUG=fixme-all wine cmd /c ver; then
      return 0
    fi
  done
  return 1
}

# Completes the chroot in DIR/root, whose first stage debootstrap made on
# the host; each finished step leaves a mark in DIR, so that a preparation
# that was cut off goes on where it stopped.
prepare_inside() {
  local dir=$1 root=$1/root
  if [ ! -e "$dir/second-stage" ]; then
    # A user namespace may not make device nodes, which debootstrap tests
    # unless it runs in a container; the first stage on the host made the
    # nodes the chroot needs. Its second stage mounts sysfs when /sys
    # exists, which a user namespace may not; nothing here needs it.
    rmdir "$root/sys"
    in_root "$root" container=lxc /debootstrap/debootstrap --second-stage || return 1
    mkdir -p "$root/sys"
    : > "$dir/second-stage"
  fi
  enter_mounts "$root"
  if [ ! -e "$dir/wine" ]; then
    in_root "$root" apt-get -qq update || return 1
    in_root "$root" apt-get -y -qq install --no-install-recommends wine >/dev/null || return 1
    in_root "$root" apt-get clean
    : > "$dir/wine"
  fi
  # wineboot under emulation takes most of the time; qemu may report a
  # segmentation fault on the way, which Wine recovers from.
  create_prefix "$root" || return 1
  rm -f "$root/etc/resolv.conf"
}

run_inside() {
  local root=$cache/root work=$1 cwd=$2; shift 2
  enter_mounts "$root" "$clone"
  cp -a "$root$prefix_in_root" "$work/prefix"
  case "$cwd/" in "$clone"/*|/tmp/*) ;; *) cwd=/tmp ;; esac
  local status=0
  # An X display of the host reaches Wine through /tmp/.X11-unix.
  in_root "$root" WINEPREFIX="$work/prefix" WINEDEBUG="${WINEDEBUG:--all}" \
    WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" SEA_EMULATED=1 TMPDIR=/tmp \
    DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-}" \
    sh -c 'cd "$1" && shift && exec "$@"' sh "$cwd" "$@" || status=$?
  return "$status"
}

if [ "${1:-}" = --inside ]; then
  shift
  mode=$1; shift
  if [ "${SEA_EMULATION_MACHINE_WIDE:-}" != 1 ] && ! register_emulation; then
    : > "$SEA_EMULATION_REFUSED"
    exit "$unavailable"
  fi
  case "$mode" in
    prepare) prepare_inside "$1" || exit 1 ;;
    run) run_inside "$@" ;;
  esac
  exit
fi

# --- On the host -------------------------------------------------------------

[ $# -gt 0 ] || { echo "usage: $0 --prepare | COMMAND [ARGS...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || cannot "needs root (chroot, mounts)"
[ -x "$qemu" ] || cannot "$qemu is missing (package qemu-user-static)"
command -v unshare >/dev/null || cannot "unshare is missing"

# unshare writes the id maps through newuidmap/newgidmap; root needs no
# setuid helper for that, a shim that writes the map file does.
machine_wide="" child="" work=""
shims=$(mktemp -d /tmp/sea-emu-shims.XXXXXX)
# unshare --fork ignores INT and TERM while it waits; killed, it takes the
# namespace's processes with it (--kill-child). A second signal must not cut
# the cleanup short.
cleanup() {
  trap '' INT TERM
  if [ -n "$child" ]; then kill -KILL "$child" 2>/dev/null; wait "$child" 2>/dev/null || true; fi
  rm -rf "$shims" ${work:+"$work"}
  unregister_machine_wide
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
for map in uid gid; do
  printf '#!/bin/sh\npid=$1; shift\necho "$*" > /proc/$pid/%s_map\n' "$map" > "$shims/new${map}map"
  chmod +x "$shims/new${map}map"
done

# In the background so that INT and TERM reach the traps at once; the
# namespace's processes die with unshare.
in_namespace() {
  SEA_EMULATION_REFUSED="$shims/refused" PATH="$shims:$PATH" \
    unshare --user --map-users=0,0,65536 --map-groups=0,0,65536 --mount \
    --propagation private --pid --fork --kill-child --mount-proc "$self" --inside "$@" &
  child=$!
  local status=0
  wait "$child" || status=$?
  child=""
  return "$status"
}

# Registers the emulation machine-wide when the namespace may not have its
# own binfmt_misc; cleanup takes it away again.
register_machine_wide() {
  if [ ! -e "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || return 1
    machine_wide=mounted
  fi
  [ -n "$machine_wide" ] || machine_wide=registered
  echo "$binfmt_rule" > "$binfmt_dir/register" 2>/dev/null
}

# Takes the entry away again, through a mount of its own when another run
# unmounted binfmt_misc meanwhile (its entries outlive the mount). The
# mount goes when this script made it and no other run's entry is left.
unregister_machine_wide() {
  [ -n "$machine_wide" ] || return 0
  local mounted=$machine_wide
  if [ ! -e "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || return 0
    mounted=mounted
  fi
  if [ -e "$binfmt_dir/$binfmt_name" ]; then echo -1 > "$binfmt_dir/$binfmt_name" || true; fi
  if [ "$mounted" = mounted ] && ! ls "$binfmt_dir" | grep -q '^sea-i386-'; then
    umount "$binfmt_dir" 2>/dev/null || true
  fi
  machine_wide=""
}

# Runs the namespace's script; when the namespace cannot have binfmt_misc of
# its own, once more with the emulation registered machine-wide.
with_emulation() {
  if [ "${SEA_EMULATION_REGISTRATION:-}" = machine ]; then
    register_machine_wide || cannot "binfmt_misc is not available"
    SEA_EMULATION_MACHINE_WIDE=1 in_namespace "$@"
    return
  fi
  local status=0
  in_namespace "$@" || status=$?
  [ -e "$shims/refused" ] || return "$status"
  [ -z "$machine_wide" ] || return "$status"
  register_machine_wide || cannot "binfmt_misc is not available"
  SEA_EMULATION_MACHINE_WIDE=1 in_namespace "$@"
}

prepare() {
  [ -e "$cache/ready" ] && return 0
  command -v debootstrap >/dev/null || cannot "debootstrap is missing"
  mkdir -p "$(dirname "$cache")"
  local partial="$cache.partial" started=$SECONDS
  mkdir -p "$partial"
  say "preparing the i386 chroot with 32-bit Wine in $cache (once; about 25 minutes)"
  if [ ! -e "$partial/first-stage" ]; then
    rm -rf "$partial/root" "$partial/second-stage" "$partial/wine"
    debootstrap --foreign --arch=i386 --variant=minbase bookworm "$partial/root" "$mirror" \
      > "$partial/debootstrap.log" 2>&1 || cannot "debootstrap failed (see $partial/debootstrap.log)"
    : > "$partial/first-stage"
  fi
  local status=0
  with_emulation prepare "$partial" >> "$partial/prepare.log" 2>&1 || status=$?
  [ "$status" = 0 ] || cannot "the chroot could not be completed (see $partial/prepare.log)"
  echo "$((SECONDS - started)) s" > "$partial/ready"
  rm -rf "$cache"
  mv "$partial" "$cache"
  say "prepared in $((SECONDS - started)) s"
}

# Takes the cache's lock (flock MODE) on descriptor 9, which a child
# shares: waited for with `wait`, which a signal interrupts where flock
# itself would keep the traps waiting until another run ends.
lock_cache() {
  flock "$1" 9 &
  child=$!
  local status=0
  wait "$child" || status=$?
  child=""
  return "$status"
}

# One preparation at a time; runs share the finished cache.
mkdir -p "$(dirname "$cache")"
exec 9> "$cache.lock"
lock_cache -x
prepare
[ "$1" = --prepare ] && exit 0
lock_cache -s

work=$(mktemp -d /tmp/sea-emu-run.XXXXXX)
with_emulation run "$work" "$(pwd)" "$@"
