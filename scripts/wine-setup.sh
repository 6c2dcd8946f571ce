#!/usr/bin/env bash
# Makes sure the 32-bit Wine root is sound, creates the project's 64-bit prefix once (crash dialog
# off), and registers the built COM servers of both builds through their own DllRegisterServer
# (the 32-bit ones with the 32-bit regsvr32: they land under Wow6432Node, as on a 64-bit desktop).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

bash "$ROOT/scripts/wow32-root.sh"
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/.prefix-ready" ]; then
  echo "Creating the Wine prefix in $WINEPREFIX (first run takes a while)"
  TEST_ARCH=win64 wine wineboot --init >/dev/null 2>&1 || true
  # No crash dialog: a crashing test must fail, not wait for a click.
  TEST_ARCH=win64 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  [ -f "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe" ] || { echo "creating the Wine prefix failed" >&2; exit 1; }
  touch "$WINEPREFIX/.prefix-ready"
fi

register() {  # arch regsvr32 dir
  local dll
  for dll in "$3"/*.dll; do
    [ -e "$dll" ] || continue
    if grep -q DllRegisterServer "$dll"; then
      TEST_ARCH=$1 wine "$2" /s "Z:${dll//\//\\}" >/dev/null 2>&1 || { echo "registering $dll failed" >&2; exit 1; }
    fi
  done
}
register win32 'C:\windows\syswow64\regsvr32.exe' "$BUILD32/bin"
register win64 'C:\windows\system32\regsvr32.exe' "$BUILD64/bin"
