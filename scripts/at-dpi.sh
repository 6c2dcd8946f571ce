#!/usr/bin/env bash
# at-dpi.sh <dpi> <command...>: runs a command of this build's Wine prefix with the screen at <dpi>
# dots per inch. The platform reads the DPI from the LogPixels value of HKCU\Control Panel\Desktop
# when its server starts, so the value is written, a new server started, the command run, and the
# value put back to 96 (with a new server again) whatever the command did. Run it where
# scripts/on-wine-display.sh has set up the prefix and the display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
dpi="$1"
shift
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true   # the next program starts a new server (scripts/wine-run.sh)
}
trap 'set_dpi 96' EXIT
set_dpi "$dpi"
"$@"
