#!/usr/bin/env bash
# Builds everything and runs the main job on a (virtual) display: the window tree, then the menu
# demo's tour of every popup, whose screenshots go to build/screenshots (as .bmp and .png).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$ROOT/scripts/build.sh"
exec bash "$ROOT/scripts/with-display.sh" bash -c '
  set -euo pipefail
  source "'"$ROOT"'/scripts/env.sh"
  bash "$ROOT/scripts/wine-setup.sh"
  status=0
  wine "$TEST_BUILD/bin/WindowTree.exe" || status=$?
  shots="$ROOT/build/screenshots"
  rm -rf "$shots"
  mkdir -p "$shots"
  wine "$TEST_BUILD/bin/GlypharyDemo.exe" /tour "Z:${shots//\//\\}" || status=$?
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null || true
  done
  wineserver -k 2>/dev/null || true
  exit $status'
