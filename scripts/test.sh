#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a (virtual) display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$ROOT/scripts/build.sh"
cd "$TEST_BUILD"
exec bash "$ROOT/scripts/on-wine-display.sh" ctest -j1 --output-on-failure --timeout 900
