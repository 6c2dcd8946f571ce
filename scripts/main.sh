#!/usr/bin/env bash
# Builds everything and runs the main job on a (virtual) display: the window tree, Snoopet spying on
# its own window, then the menu demo's tour of every popup. Screenshots go to build/screenshots.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$ROOT/scripts/build.sh"
exec bash "$ROOT/scripts/on-wine-display.sh" bash -c '
  set -euo pipefail
  source "'"$ROOT"'/scripts/env.sh"
  status=0
  shots="$ROOT/build/screenshots"
  rm -rf "$shots"
  mkdir -p "$shots"
  wine "$TEST_BUILD/bin/WindowTree.exe" || status=$?
  bash "$ROOT/scripts/spy-demo.sh" "$shots/snoopet.png" || status=$?
  bash "$ROOT/scripts/spy-demo.sh" "$shots/snoopet.png" /tools || status=$?
  bash "$ROOT/scripts/spy-demo.sh" "$shots/snoopet.png" /family || status=$?
  wine "$TEST_BUILD/bin/GlypharyDemo.exe" /tour "Z:${shots//\//\\}" || status=$?
  # The same tour DPI-aware with the alpha pictures at 96, 144 and 192 dots per inch.
  for dpi in 96 144 192; do
    dir="$shots/dpi$dpi"
    bash "$ROOT/scripts/at-dpi.sh" $dpi wine "$TEST_BUILD/bin/GlypharyDemo.exe" /dpi /alpha \
      /tour "Z:${dir//\//\\}" || status=$?
  done
  for bmp in "$shots"/*.bmp "$shots"/dpi*/*.bmp; do
    [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null || true
  done
  exit $status'
