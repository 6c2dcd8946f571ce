#!/usr/bin/env bash
# Builds everything, then runs the benchmark's menu rows (3 and 6, or the rows given as --rows=...)
# DPI-aware with pictures that carry an alpha channel, at 144 and at 192 dots per inch.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
nice -n 10 bash "$ROOT/scripts/build.sh"
rows="--rows=36"
for a in "$@"; do case "$a" in --rows=*) rows="$a" ;; esac; done
exec bash "$ROOT/scripts/on-wine-display.sh" bash -c '
  status=0
  for dpi in 144 192; do
    echo "== $dpi DPI, alpha pictures"
    bash "'"$ROOT"'/scripts/at-dpi.sh" $dpi nice -n 10 bash "'"$ROOT"'/scripts/wine-run.sh" "$TEST_BUILD/bin/SnoopetBench.exe" '"$rows"' --dpi --alpha \
      || status=$?
  done
  exit $status'
