#!/usr/bin/env bash
# Creates the project's own 32-bit Wine prefix (once), keeps one wineserver alive,
# and registers the built COM servers through their own DllRegisterServer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  echo "Creating the Wine prefix in $WINEPREFIX (first run takes a while)"
  wine wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  # No crash dialog: a crashing test must fail, not wait for a click.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi
# One server for the whole run: later wine starts take a fraction of a second.
wineserver -p 120 >/dev/null 2>&1 || true

for dll in "$TEST_BUILD"/bin/*.dll; do
  [ -e "$dll" ] || continue
  if grep -q DllRegisterServer "$dll"; then
    wine regsvr32 /s "Z:${dll//\//\\}" || { echo "registering $(basename "$dll") failed" >&2; exit 1; }
  fi
done
