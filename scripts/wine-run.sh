#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix inside the build
# tree and a virtual display; used as the cross-compiling emulator by CTest.
# A 64-bit program (PE machine type x86-64) runs under /usr/lib/wine/wine64
# and wineserver64, called directly: Debian's /usr/bin/wine picks the 32-bit
# loader whenever wine32 is installed, even where it cannot run. Anything
# else (32-bit programs, Wine's own commands such as reg) runs under wine.
set -euo pipefail
exe="$1"; shift
build_dir="${QUORVANE_WINE_BUILD_DIR:-$(cd "$(dirname "$exe")" && pwd)}"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The machine type: a little-endian 16-bit word after "PE\0\0", whose offset
# is at 0x3c of the file.
pe_machine() {
  [ -f "$1" ] || return 0
  local at
  at="$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')" || return 0
  [ -n "$at" ] && od -An -tx2 -j$((at + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
if [ "$(pe_machine "$exe")" = 8664 ]; then
  wine=(/usr/lib/wine/wine64)
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
  wineserver=/usr/lib/wine/wineserver64
  wineboot=(/usr/lib/wine/wine64 wineboot)
else
  if [ "${QUORVANE_NO_I386:-}" = 1 ]; then
    echo "wine-run.sh: QUORVANE_NO_I386=1, yet a test starts $exe, not a 64-bit program, without scripts/needs-i386.sh" >&2
    exit 1
  fi
  wine=(wine)
  wineserver=wineserver
  wineboot=(wineboot)
fi

# Wine's own fonts (MS Sans Serif with the metrics the dialog templates are
# laid out for, Marlett for the caption buttons) are not put into a new
# prefix by every distribution's wineboot; the prefix gets a copy.
wine_fonts=/usr/share/wine/fonts
prefix_fonts="$WINEPREFIX/drive_c/windows/Fonts"
fonts_missing() { [ -f "$wine_fonts/marlett.ttf" ] && [ ! -f "$prefix_fonts/marlett.ttf" ]; }
if [ ! -f "$WINEPREFIX/.quorvane-ready" ] || fonts_missing; then
  mkdir -p "$WINEPREFIX"
  # Tests run in parallel: one of them creates the prefix, the others wait.
  exec 9>"$WINEPREFIX/.quorvane-lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.quorvane-ready" ]; then
    "${wineboot[@]}" -i >/dev/null 2>&1 || true
    "${wine[@]}" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
    "${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    "$wineserver" -w || true
    touch "$WINEPREFIX/.quorvane-ready"
  fi
  if fonts_missing; then
    mkdir -p "$prefix_fonts"
    cp -n "$wine_fonts"/* "$prefix_fonts"/ 2>/dev/null || true
  fi
  exec 9>&-
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "${wine[@]}" "$exe" "$@"
fi
exec "${wine[@]}" "$exe" "$@"
