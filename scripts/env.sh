# Common settings for the scripts: sourced, not run.
#
# The shipped binaries are 32-bit (build/win32). The machines we build and test on
# have kernels that refuse 32-bit Linux programs, so 32-bit Wine cannot start there:
# the tests run a 64-bit build of the same sources (build/win64) under wine64.
# TEST_ARCH=win32 runs them on the 32-bit build instead, where the host allows it.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD32="$ROOT/build/win32"
BUILD64="$ROOT/build/win64"

host_runs_32bit() {
  [ -x /usr/lib/wine/wineserver32 ] && /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

TEST_ARCH="${TEST_ARCH:-win64}"
if [ "$TEST_ARCH" = win32 ] && ! host_runs_32bit; then
  echo "TEST_ARCH=win32: this host cannot run 32-bit programs" >&2
  exit 1
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
