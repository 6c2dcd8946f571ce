#!/usr/bin/env bash
# Builds everything, then runs the benchmark under Wine on a (virtual) display and prints
# each figure as a ratio against its baseline measured in the same run, beside its goal.
# Runs at lower priority: the build machines are shared.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
nice -n 10 bash "$ROOT/scripts/build.sh"
exec bash "$ROOT/scripts/on-wine-display.sh" nice -n 10 bash "$ROOT/scripts/wine-run.sh" "$TEST_BUILD/bin/SnoopetBench.exe" "$@"
