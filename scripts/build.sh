#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything: the shipped 32-bit binaries in
# build/win32, the 64-bit build of the same sources in build/win64, and from both the installer
# package build/dist/<Product>-<version>.msi.
set -euo pipefail
bash "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh"
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

build_one() {  # dir toolchain
  # Configure every time (a second or two): new component folders are picked up.
  cmake -S "$ROOT" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$1" -j"$(nproc)" -- --no-print-directory 2>&1 \
    | { grep -vE '^\[ *[0-9]+%\] (Building|Linking|Built|Generating)' || true; }
  return "${PIPESTATUS[0]}"
}

build_one "$BUILD32" toolchain-mingw32.cmake
build_one "$BUILD64" toolchain-mingw64.cmake

# Each build's Hookwire.dll watches programs of the other bitness through that bitness's hook DLL
# and companion: both go beside both builds' binaries (what we ship carries all four).
cp -p "$BUILD64/bin/HookwireHook64.dll" "$BUILD64/bin/HookwireAgent64.exe" "$BUILD32/bin/"
cp -p "$BUILD32/bin/HookwireHook32.dll" "$BUILD32/bin/HookwireAgent32.exe" "$BUILD64/bin/"
# The tests of each build also watch a program of their own of the other bitness.
cp -p "$BUILD64/bin/HookTarget.exe" "$BUILD32/bin/HookTarget64.exe"
cp -p "$BUILD32/bin/HookTarget.exe" "$BUILD64/bin/HookTarget32.exe"

# The package holds both builds' files.
cmake --build "$BUILD32" --target package_msi -- --no-print-directory 2>&1 | { grep -vE '^\[ *[0-9]+%\] (Built|Generating)' || true; }
exit "${PIPESTATUS[0]}"
