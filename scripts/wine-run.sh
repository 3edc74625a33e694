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
if [ ! -f "$WINEPREFIX/.sea-ready" ]; then
  # First use: create the prefix once, even when tests start in parallel.
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.sea-ready" ]; then
      "$loader" wineboot -i >/dev/null 2>&1 || true
      wineserver -w 2>/dev/null || true
      # Wine's own fonts, plus fallbacks for Greek, Cyrillic, Arabic, Thai
      # and CJK text, so that every language of the dialog renders.
      fonts="$WINEPREFIX/drive_c/windows/Fonts"
      mkdir -p "$fonts"
      cp -n /usr/share/wine/fonts/* "$fonts"/ 2>/dev/null || true
      reg="Z:$(printf '%s' "$here/scripts/wine-fonts.reg" | tr / '\\')"
      "$loader" regedit /S "$reg" >/dev/null 2>&1 || true
      wineserver -w 2>/dev/null || true
      touch "$WINEPREFIX/.sea-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
dpi=${SEA_WINE_DPI:-}
if [ -n "$dpi" ] && [ "$(cat "$WINEPREFIX/.sea-dpi" 2>/dev/null)" != "$dpi" ]; then
  (
    flock 9
    if [ "$(cat "$WINEPREFIX/.sea-dpi" 2>/dev/null)" != "$dpi" ]; then
      for key in 'HKCU\Control Panel\Desktop' \
                 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        "$loader" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || true
      done
      # Wine reads the DPI when its server starts.
      wineserver -w 2>/dev/null || true
      printf '%s' "$dpi" >"$WINEPREFIX/.sea-dpi"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
font=${SEA_WINE_UI_FONT:-}
if [ -n "$font" ] && [ "$(cat "$WINEPREFIX/.sea-ui-font" 2>/dev/null)" != "$font" ]; then
  (
    flock 9
    if [ "$(cat "$WINEPREFIX/.sea-ui-font" 2>/dev/null)" != "$font" ]; then
      # A replacement applies only to a family that is not installed.
      rm -f "$WINEPREFIX/drive_c/windows/Fonts/tahoma.ttf" "$WINEPREFIX/drive_c/windows/Fonts/tahomabd.ttf"
      "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /t REG_SZ /d "$font" /f \
        >/dev/null 2>&1 || true
      wineserver -w 2>/dev/null || true
      printf '%s' "$font" >"$WINEPREFIX/.sea-ui-font"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$loader" "$@"
