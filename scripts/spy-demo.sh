#!/usr/bin/env bash
# Part of the main job, run on a display with the project's Wine prefix set up: Snoopet selects
# its own main window, presses "Spy" and makes some traffic for it; screenshots of the display are
# saved as PNG. spy-demo.sh <out.png> takes the log into <out.png>; spy-demo.sh <out.png> /tools
# takes the tools' views, each into <out>-<view>.png (details, menu, window, ...); /family takes a
# small dialog's family watched (family, scope, windowfilter). Exits 0 only when
# lines were logged and every view announced was saved.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
mkdir -p "$ROOT/build/tmp"   # under the project: the program sees the same path
ready="$(mktemp -u "$ROOT/build/tmp/snoopet-ready.XXXXXX")"
shot="${1:-$ROOT/build/screenshots/snoopet.png}"
shift || true  # further arguments go to Snoopet (/tools: the tools' views)
mkdir -p "$(dirname "$shot")"
wine "$TEST_BUILD/bin/Snoopet.exe" /demo "Z:${ready//\//\\}" "$@" &
pid=$!
saved=()
lines=0
missed=0
# Snoopet announces each view as "<lines> <view>" in the ready file and goes on once it is gone.
while kill -0 "$pid" 2>/dev/null; do
  if [ -s "$ready" ] && [ -n "$(tail -c 1 "$ready" | tr -d '\n')" ]; then sleep 0.05; continue; fi  # half written
  if [ -s "$ready" ]; then
    read -r count view <"$ready" || true
    view="${view//[^a-z]/}"
    count="${count//[!0-9]/}"
    [ "${count:-0}" -gt "$lines" ] && lines="$count"  # the most any view showed
    out="$shot"
    [ "$view" = "log" ] || out="${shot%.png}-$view.png"
    rm -f "$out"
    sleep 0.3  # the last repaint
    if [ -s "$ready.bmp" ]; then  # taken by Snoopet itself
      convert "$ready.bmp" "$out" || missed=1
      rm -f "$ready.bmp"
    else
      bash "$ROOT/scripts/spy-screenshot.sh" "$out" || missed=1
    fi
    [ -s "$out" ] && saved+=("$out") || missed=1
    rm -f "$ready"  # tells Snoopet to go on
  fi
  sleep 0.1
done
status=0
wait "$pid" || status=$?
rm -f "$ready" "$ready.bmp"
echo "Snoopet logged up to $lines lines while spying on its own window (exit status $status); screenshots: ${saved[*]:-none}"
[ "$status" -eq 0 ] && [ "${#saved[@]}" -gt 0 ] && [ "$missed" -eq 0 ]
