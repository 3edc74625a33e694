#!/usr/bin/env bash
# The README's two commands on a fresh machine. Not part of the test command:
# it takes long (each command installs and builds everything from nothing).
#
#   scripts/fresh-machine-check.sh [--cache DIR] [--one-tree] [demo] [test]
#
# Makes a minimal Debian 12 tree once (debootstrap --variant=minbase
# bookworm, kept as DIR/bookworm-minbase.tar; DIR defaults to
# build/fresh-machine), and runs each named command (default: demo, then
# test) as the first command on a fresh copy of it: a git clone of this
# repository's HEAD (committed work only) in /root/sea, entered with chroot
# as root with an empty environment. --one-tree runs the commands one after
# the other on the same copy instead. Prints each command's time and the
# packages it installed; logs and package lists go to DIR. A tree is removed
# when its commands passed, and kept for a look when one failed.
# Needs root (debootstrap, chroot, mount) and Debian's package mirror.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

usage() { sed -n '4p' "$0" | sed 's/^#  *//'; }
cache=build/fresh-machine
one_tree=0
commands=()
while [ $# -gt 0 ]; do
  case $1 in
    --cache) cache=$2; shift 2 ;;
    --one-tree) one_tree=1; shift ;;
    demo|test) commands+=("$1"); shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
[ ${#commands[@]} -gt 0 ] || commands=(demo test)
[ "$(id -u)" -eq 0 ] || { echo "this check needs root (debootstrap, chroot, mount)" >&2; exit 1; }
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
base="$cache/bookworm-minbase.tar"
head=$(git rev-parse HEAD)

# --- Debian's mirror, as this machine's apt uses it ---------------------------
# The first source for SUITE, from one-line lists or deb822 .sources files.
apt_source() {
  local suite=$1 uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk -v s="$suite" '$1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                                     if ($(i + 1) == s) { print $i; exit } }')
  if [ -z "$uri" ]; then
    uri=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v s="$suite" '
      BEGIN { RS = "" }
      { suites = ""; uris = ""; n = split($0, line, "\n")
        for (k = 1; k <= n; k++) {
          if (line[k] ~ /^Suites:/) suites = " " substr(line[k], 8) " "
          if (line[k] ~ /^URIs:/) { uris = substr(line[k], 6); sub(/^[ \t]+/, "", uris); sub(/[ \t].*/, "", uris) }
        }
        gsub(/\t/, " ", suites)
        if (index(suites, " " s " ") && uris != "") { print uris; exit } }')
  fi
  printf '%s\n' "$uri"
}
mirror=${SEA_DEBIAN_MIRROR:-$(apt_source bookworm)}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(apt_source bookworm-security)

# --- Mounts and clean-up ---------------------------------------------------------
trees=()          # trees that may have something mounted or running in them
mounts_under() {  # deepest first
  findmnt -rn -o TARGET | awk -v p="$1" 'index($0, p) == 1 &&
    (length($0) == length(p) || substr($0, length(p) + 1, 1) == "/")' | sort -r
}
release_tree() {  # ends what still runs inside the tree, unmounts everything in it
  local t=$1 pid pids=()
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$t" ] && pids+=("${pid#/proc/}")
  done
  if [ ${#pids[@]} -gt 0 ]; then
    kill "${pids[@]}" 2>/dev/null || true
    sleep 2
    kill -KILL "${pids[@]}" 2>/dev/null || true
  fi
  local m
  for m in $(mounts_under "$t"); do
    umount "$m" 2>/dev/null || umount -l "$m" || echo "cannot unmount $m" >&2
  done
}
bootstrap_pid=
cleanup() {
  local t
  # debootstrap runs in a process group of its own: end all of it.
  [ -z "$bootstrap_pid" ] || kill -- "-$bootstrap_pid" 2>/dev/null || true
  for t in ${trees[@]+"${trees[@]}"}; do release_tree "$t"; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

remove_tree() {
  [ -e "$1" ] || return 0
  release_tree "$1"
  if [ -n "$(mounts_under "$1")" ]; then echo "still mounted under $1" >&2; return 1; fi
  rm -rf --one-file-system "$1"
}

mount_tree() {
  local t=$1
  mount -t proc proc "$t/proc"
  mount -t sysfs sysfs "$t/sys" 2>/dev/null || mount --rbind /sys "$t/sys"
  mount --bind /dev "$t/dev"
  mount --bind /dev/pts "$t/dev/pts"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$t/dev/shm"
}

# --- The minimal Debian 12 tree, made once ---------------------------------------
if [ ! -f "$base" ]; then
  if ! command -v debootstrap >/dev/null; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
  fi
  tmp="$cache/base.tmp"
  trees+=("$tmp")
  remove_tree "$tmp"
  echo "== debootstrap --variant=minbase bookworm ($mirror)"
  setsid debootstrap --variant=minbase bookworm "$tmp" "$mirror" > "$cache/debootstrap.log" 2>&1 &
  bootstrap_pid=$!
  wait "$bootstrap_pid" ||
    { tail -n 20 "$cache/debootstrap.log"; echo "debootstrap failed (log: $cache/debootstrap.log)" >&2; exit 1; }
  bootstrap_pid=
  {
    echo "deb $mirror bookworm main"
    echo "deb $mirror bookworm-updates main"
    [ -z "$security" ] || echo "deb $security bookworm-security main"
  } > "$tmp/etc/apt/sources.list"
  rm -f "$tmp"/var/cache/apt/archives/*.deb
  tar --numeric-owner -C "$tmp" -cf "$base.part" . && mv "$base.part" "$base"
  remove_tree "$tmp"
fi

# --- One fresh tree ----------------------------------------------------------------
new_tree() {
  local t=$1
  remove_tree "$t"
  mkdir -p "$t"
  tar --numeric-owner -xpf "$base" -C "$t"
  cp -L /etc/resolv.conf "$t/etc/resolv.conf"
  git clone -q --no-checkout "$repo" "$t/root/sea"
  git -C "$t/root/sea" checkout -q --detach "$head"
  # The tree shares this machine's network namespace, and with it the
  # abstract sockets of X servers running here, which xvfb-run -a does not
  # see (it looks for lock files in /tmp only): its numbering starts at 99,
  # so the numbers that this machine's own test runs take are marked taken.
  local n
  for n in $(seq 99 199); do echo 0 > "$t/tmp/.X$n-lock"; done
}

installed_packages() {
  chroot "$1" dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 == "ii" { print $2 }' | sort
}

# The tests ctest's last run in each build directory skipped, with reasons:
# a test that skips for want of a tool would hide a missing package.
skipped_tests() {
  local log dir
  for log in "$1"/root/sea/build/*/Testing/Temporary/LastTest.log; do
    [ -f "$log" ] || continue
    dir=${log#"$1"/root/sea/}
    dir=${dir%%/Testing/*}
    awk -v d="$dir" '
      / Skipped$/ { getline reason; next_reason = reason }
      /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ { print d ": " $4 " (" next_reason ")" }
      / \.\.\. skipped / { sub(/^.*\(__main__\./, ""); sub(/\) \.\.\. skipped /, ": "); print d ": " $0 }' "$log"
  done
}

# Runs scripts/NAME.sh in tree $1; records its time, log and new packages.
results=()
run_command() {
  local t=$1 name=$2 start end status
  installed_packages "$t" > "$cache/$name.before"
  echo "== scripts/$name.sh in $t (log: $cache/$name.log)"
  start=$(date +%s)
  # In the background, so that a signal to this script ends it (and the
  # clean-up ends what runs in the tree) without waiting for the command.
  chroot "$t" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root TERM="${TERM:-dumb}" /bin/bash -c "cd /root/sea && scripts/$name.sh" \
    < /dev/null 2>&1 | tee "$cache/$name.log" &
  status=0
  wait $! || status=$?
  end=$(date +%s)
  installed_packages "$t" > "$cache/$name.after"
  comm -13 "$cache/$name.before" "$cache/$name.after" > "$cache/$name.packages"
  skipped_tests "$t" > "$cache/$name.skipped"
  results+=("$name $status $((end - start)) $(wc -l < "$cache/$name.packages")")
  return "$status"
}

failed=0
run_in_fresh_tree() {  # TREE-NAME COMMAND...
  local t="$cache/root-$1" name ok=1
  shift
  trees+=("$t")
  new_tree "$t"
  mount_tree "$t"
  for name in "$@"; do
    run_command "$t" "$name" || { ok=0; failed=1; [ "$one_tree" = 1 ] && break; }
  done
  release_tree "$t"
  if [ "$ok" = 1 ]; then remove_tree "$t"; else echo "kept for a look: $t"; fi
}

echo "== Commit $head, mirror $mirror"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "(uncommitted changes are not part of the check)"
fi
if [ "$one_tree" = 1 ]; then
  run_in_fresh_tree one "${commands[@]}"
else
  for name in "${commands[@]}"; do run_in_fresh_tree "$name" "$name"; done
fi

echo
echo "== Summary (each command the first one on a fresh minimal Debian 12)"
[ "$one_tree" = 1 ] && echo "   (--one-tree: the commands ran one after the other on one tree)"
for r in "${results[@]}"; do
  set -- $r
  verdict=passed; [ "$2" = 0 ] || verdict="FAILED (exit $2)"
  printf '%-5s %-16s %4dm%02ds  %4d packages installed\n' "$1" "$verdict" $(($3 / 60)) $(($3 % 60)) "$4"
done
for r in "${results[@]}"; do
  set -- $r
  echo
  echo "-- packages installed by scripts/$1.sh ($cache/$1.packages):"
  fmt -w 100 < "$cache/$1.packages"
  if [ -s "$cache/$1.skipped" ]; then
    echo "-- tests skipped in its last ctest runs ($cache/$1.skipped):"
    cat "$cache/$1.skipped"
  fi
done
exit "$failed"
