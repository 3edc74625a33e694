#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix under build/.
# Used as CMake's cross-compiling emulator and by the end-to-end tests.
#   SEA_WINEPREFIX  prefix directory (default: build/wineprefix-<arch>)
#   SEA_WINE_DPI    display DPI of the prefix (LogPixels: 96 is 100 %, 144
#                   is 150 %); set once, give each DPI a prefix of its own
#   SEA_WINE_UI_FONT  a font family that takes the place of Wine's Tahoma,
#                   the face behind "MS Shell Dlg"; set once, in a prefix of
#                   its own. Wine shapes complex scripts (Thai) with the
#                   glyphs of the selected font alone, without its font
#                   links, so their texts show only in a font that has them.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
exe=$1
arch=win32
if file -b "$exe" 2>/dev/null | grep -q 'x86-64'; then arch=win64; fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${SEA_WINEPREFIX:-$here/build/wineprefix-$arch}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ "$arch" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
  loader=/usr/lib/wine/wine64
else
  loader=wine
fi
# Runs "$@" once for a prefix and a setting, even when tests start in
# parallel: under the prefix's lock, unless $WINEPREFIX/.sea-NAME already
# holds VALUE. Wine's server ends before the marker is written (Wine reads
# the registry's display settings when its server starts); a command that
# fails writes none, so that the next start tries again.
configure_once() {
  local name=$1 value=$2
  shift 2
  local marker="$WINEPREFIX/.sea-$name"
  [ -f "$marker" ] && [ "$(cat "$marker")" = "$value" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$marker" ] || [ "$(cat "$marker")" != "$value" ]; then
      local done=0
      "$@" && done=1
      wineserver -w 2>/dev/null || true
      if [ "$done" = 1 ]; then printf '%s' "$value" >"$marker"; fi
    fi
  ) 9>"$WINEPREFIX.lock"
}

create_prefix() {
  # Seen on a loaded machine: wineboot ended early and left a prefix
  # without system32 ("could not load kernel32.dll"). Such a prefix is made
  # once more from nothing.
  local attempt
  for attempt in 1 2; do
    "$loader" wineboot -i >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && break
    echo "wine-run.sh: wineboot left $WINEPREFIX unfinished (attempt $attempt)" >&2
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    [ "$attempt" = 2 ] && return 1
  done
  # Wine's own fonts, plus fallbacks for Greek, Cyrillic, Arabic, Thai and
  # CJK text, so that every language of the dialog renders.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -n /usr/share/wine/fonts/* "$fonts"/ 2>/dev/null || true
  local reg
  reg="Z:$(printf '%s' "$here/scripts/wine-fonts.reg" | tr / '\\')"
  "$loader" regedit /S "$reg" >/dev/null 2>&1 || true
}

set_dpi() {
  local key
  for key in 'HKCU\Control Panel\Desktop' \
             'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    "$loader" reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 || true
  done
}

replace_ui_font() {
  # A replacement applies only to a family that is not installed.
  rm -f "$WINEPREFIX/drive_c/windows/Fonts/tahoma.ttf" "$WINEPREFIX/drive_c/windows/Fonts/tahomabd.ttf"
  "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /t REG_SZ /d "$1" /f \
    >/dev/null 2>&1 || true
}

# A created prefix has an empty marker.
configure_once ready "" create_prefix
if [ -n "${SEA_WINE_DPI:-}" ]; then configure_once dpi "$SEA_WINE_DPI" set_dpi "$SEA_WINE_DPI"; fi
if [ -n "${SEA_WINE_UI_FONT:-}" ]; then
  configure_once ui-font "$SEA_WINE_UI_FONT" replace_ui_font "$SEA_WINE_UI_FONT"
fi
exec "$loader" "$@"
