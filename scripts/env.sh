# Common settings for the scripts: sourced, not run.
#
# The shipped binaries are 32-bit (build/win32); beside them a 64-bit build of the same sources
# (build/win64) stands for the desktop's other bitness. Both run under one 64-bit Wine prefix
# (build/wineprefix) in the small Debian root of scripts/wow32-root.sh: 64-bit programs natively,
# 32-bit ones through qemu-i386 user-mode emulation (these machines fault on any 32-bit code).
# TEST_ARCH picks the build the tests and the main job run: win32 (the default, what we ship) or win64.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD32="$ROOT/build/win32"
BUILD64="$ROOT/build/win64"
source "$ROOT/scripts/wow32-env.sh"

TEST_ARCH="${TEST_ARCH:-win32}"
case "$TEST_ARCH" in
  win32) TEST_BUILD="$BUILD32" ;;
  win64) TEST_BUILD="$BUILD64" ;;
  *) echo "TEST_ARCH must be win32 or win64, not '$TEST_ARCH'" >&2; exit 2 ;;
esac
export TEST_ARCH TEST_BUILD
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG="${WINEDEBUG:--all}"

# wine PROGRAM [ARGS]: runs a Windows program (either bitness) of this prefix; its exit code is ours.
wine() { bash "$ROOT/scripts/wine-run.sh" "$@"; }
# wineserver ARGS: the prefix's one Wine server (native, 64-bit), run in the root from a mount
# namespace of its own that sees the same paths as the programs, outside any user namespace.
wineserver() {
  unshare --mount --propagation private --fork -- /bin/sh -c '
    . "$2/scripts/wow32-mounts.sh"
    wow_bind_all "$1" "$2" "$3"
    R="$1" P="$3"; shift 3
    exec chroot "$R" env -i HOME=/root WINEPREFIX="$P" /usr/lib/wine/wineserver64 "$@"
  ' wineserver "$WOW_ROOT" "$ROOT" "$WINEPREFIX" "$@"
}
