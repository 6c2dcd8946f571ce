#!/usr/bin/env bash
# Builds everything and runs every test on both builds under Wine on a (virtual) display: first the
# shipped 32-bit build (through the emulator), then the 64-bit one (natively), each with its summary.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$ROOT/scripts/build.sh"
status=0
for arch in win32 win64; do
  echo "=== tests on the $arch build ==="
  build="$BUILD32"; [ "$arch" = win64 ] && build="$BUILD64"
  (cd "$build" && TEST_ARCH=$arch bash "$ROOT/scripts/on-wine-display.sh" ctest -j1 --output-on-failure --timeout 900) || status=1
done
exit $status
