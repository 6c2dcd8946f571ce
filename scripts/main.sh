#!/usr/bin/env bash
# Builds everything and runs the main job on a (virtual) display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$ROOT/scripts/build.sh"
exec bash "$ROOT/scripts/with-display.sh" bash -c '
  set -euo pipefail
  source "'"$ROOT"'/scripts/env.sh"
  bash "$ROOT/scripts/wine-setup.sh"
  status=0
  wine "$TEST_BUILD/bin/WindowTree.exe" || status=$?
  bash "$ROOT/scripts/spy-demo.sh" || status=$?
  wineserver -k 2>/dev/null || true
  exit $status'
