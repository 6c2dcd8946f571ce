#!/usr/bin/env bash
# Part of the main job, run on a display with the project's Wine prefix set up:
# Snoopet selects its own main window, presses "Spy" and makes some traffic for it; a
# screenshot of the display goes to the file named as argument (build/screenshots/snoopet.png). Exits 0 only when lines were logged.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
mkdir -p "$ROOT/build/tmp"   # under the project: the program sees the same path
ready="$(mktemp -u "$ROOT/build/tmp/snoopet-ready.XXXXXX")"
shot="${1:-$ROOT/build/screenshots/snoopet.png}"
shift || true  # further arguments go to Snoopet (/tools: the details pane)
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
wine "$TEST_BUILD/bin/Snoopet.exe" /demo "Z:${ready//\//\\}" "$@" &
pid=$!
for _ in $(seq 1 600); do
  [ -s "$ready" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
lines="$(tr -dc 0-9 <"$ready" 2>/dev/null || true)"
lines="${lines:-0}"
if [ -s "$ready" ]; then
  sleep 0.3  # the log's last repaint
  bash "$ROOT/scripts/spy-screenshot.sh" "$shot"
fi
rm -f "$ready"  # tells Snoopet that it may exit
status=0
wait "$pid" || status=$?
echo "Snoopet logged $lines lines while spying on its own window (exit status $status); screenshot: $shot"
[ "$status" -eq 0 ] && [ "$lines" -gt 0 ] && [ -s "$shot" ]
