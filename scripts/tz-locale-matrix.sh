#!/usr/bin/env bash
# The time-zone and locale matrix: every native suite under each zone and
# each locale below, and the Windows suites under Wine in one zone west and
# one east of UTC and in the Turkish locale. Takes a while; scripts/test.sh
# runs a part of it on every run (New York, Chatham, Turkish). Expects the
# builds of scripts/test.sh (build/native, and build/win64 or build/win32).
#
#   scripts/tz-locale-matrix.sh            everything
#   scripts/tz-locale-matrix.sh native     the native suites only
#   scripts/tz-locale-matrix.sh wine       the Windows suites only
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
what=${1:-all}

zones=(UTC Europe/Berlin America/New_York Australia/Sydney Asia/Kolkata Pacific/Chatham)
locales=(C C.UTF-8 de_DE.UTF-8 tr_TR.UTF-8)
wine_runs=("TZ=America/New_York" "TZ=Asia/Kolkata" "LANG=tr_TR.UTF-8 LC_ALL=tr_TR.UTF-8")
# The rows that already fix their own zone or locale.
fixed_rows='_tz_|_tr_TR$'

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
for l in de_DE tr_TR; do
  locale -a 2>/dev/null | grep -qix "$l.utf8" ||
    $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8" || echo "cannot generate the locale $l.UTF-8" >&2
done

results=()
failed=0
wrapper=()  # what ctest runs under (a virtual display for Wine)
run() {  # label, build directory, environment assignments..., -- ctest arguments
  local label=$1 dir=$2; shift 2
  local env=()
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  local start=$SECONDS
  if (cd "$dir" && env "${env[@]}" "${wrapper[@]}" ctest -j "$jobs" -E "$fixed_rows" "$@" >"$root/build/matrix-${label//[^A-Za-z0-9_.-]/_}.log" 2>&1); then
    results+=("PASS  $label  ($((SECONDS - start)) s)")
  else
    results+=("FAIL  $label  ($((SECONDS - start)) s, build/matrix-${label//[^A-Za-z0-9_.-]/_}.log)")
    failed=1
  fi
  echo "${results[-1]}"
}

if [ "$what" != wine ]; then
  for zone in "${zones[@]}"; do
    run "native TZ=$zone" build/native "TZ=$zone" LANG=C.UTF-8 LC_ALL= -- --output-on-failure
  done
  for l in "${locales[@]}"; do
    run "native LANG=$l" build/native "LANG=$l" "LC_ALL=$l" -- --output-on-failure
  done
fi

if [ "$what" != native ]; then
  # The build whose tests scripts/test.sh ran: the 64-bit one on hosts
  # that cannot run 32-bit programs.
  winbuild=${SEA_MATRIX_WINBUILD:-build/win64}
  [ -f "$winbuild/CTestTestfile.cmake" ] || winbuild=build/win32
  wrapper=(xvfb-run -a -s "-screen 0 1024x768x24")
  for assignments in "${wine_runs[@]}"; do
    # A prefix of its own for each run, so that no Wine state carries over.
    tag=$(printf '%s' "$assignments" | tr -c 'A-Za-z0-9' '_')
    read -r -a env_list <<<"$assignments"
    run "wine $assignments" "$winbuild" "${env_list[@]}" \
        "SEA_WINEPREFIX=$root/build/wineprefix-matrix-$tag" -- --output-on-failure
  done
fi

printf '\n== Matrix ==\n'
printf '%s\n' "${results[@]}"
exit $failed
