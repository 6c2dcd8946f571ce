# Common settings for the scripts: sourced, not run.
#
# The shipped binaries are 32-bit (build/win32). Tests run them under 32-bit Wine.
# A host whose kernel refuses 32-bit programs cannot start 32-bit Wine at all; there
# the tests run against a 64-bit build of the same sources (build/win64) under wine64.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD32="$ROOT/build/win32"
BUILD64="$ROOT/build/win64"

host_runs_32bit() {
  [ -x /usr/lib/wine/wineserver32 ] && /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

if [ -z "${TEST_ARCH:-}" ]; then
  if host_runs_32bit; then TEST_ARCH=win32; else TEST_ARCH=win64; fi
fi
export TEST_ARCH
if [ "$TEST_ARCH" = win32 ]; then
  TEST_BUILD="$BUILD32"
  WINE_LOADER=/usr/lib/wine/wine
  WINESERVER_BIN=/usr/lib/wine/wineserver32
else
  TEST_BUILD="$BUILD64"
  WINE_LOADER=/usr/lib/wine/wine64
  WINESERVER_BIN=/usr/lib/wine/wineserver64
fi
export TEST_BUILD WINE_LOADER
export WINEPREFIX="${WINEPREFIX:-$TEST_BUILD/wineprefix}"
export WINEARCH="$TEST_ARCH"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINESERVER="$WINESERVER_BIN"
wine() { "$WINE_LOADER" "$@"; }
wineserver() { "$WINESERVER_BIN" "$@"; }
