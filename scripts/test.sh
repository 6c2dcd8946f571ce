#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a (virtual) display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$ROOT/scripts/build.sh"
exec bash "$ROOT/scripts/with-display.sh" bash -c '
  set -euo pipefail
  source "'"$ROOT"'/scripts/env.sh"
  bash "$ROOT/scripts/wine-setup.sh"
  status=0
  (cd "$TEST_BUILD" && ctest -j1 --output-on-failure --timeout 900) || status=$?
  wineserver -k 2>/dev/null || true
  exit $status'
