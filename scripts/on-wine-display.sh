#!/usr/bin/env bash
# Runs a command with this build's Wine prefix set up, on the current display or a virtual one
# when there is none; stops the Wine server afterwards and exits with the command's status.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
if [ -z "${ON_WINE_DISPLAY:-}" ]; then
  ON_WINE_DISPLAY=1 exec bash "$ROOT/scripts/with-display.sh" bash "$ROOT/scripts/on-wine-display.sh" "$@"
fi
bash "$ROOT/scripts/wine-setup.sh"
status=0
"$@" || status=$?
wineserver -k 2>/dev/null || true
exit $status
