#!/usr/bin/env bash
# Makes (once per machine) the small Debian root that runs 32-bit Windows programs here: Debian's
# 32-bit Wine loader under qemu-i386 user-mode emulation, next to a native 64-bit Wine server.
# The root lives in a cache folder outside the work tree; it is checked on every call and made
# again when it is incomplete or damaged. Prints nothing when the root is already sound.
#   scripts/wow32-root.sh [--check]      (--check: exit 1 when the root is not sound, change nothing)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wow32-env.sh"

# What a sound root must hold (the loader, both Wine halves, the emulator).
root_sound() {
  [ -f "$WOW_ROOT/.ready-$WOW_ROOT_VERSION" ] || return 1
  local f
  for f in usr/lib/wine/wine usr/lib/wine/wine64 usr/lib/wine/wineserver64 usr/bin/qemu-i386 \
           usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll \
           usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll \
           usr/lib/i386-linux-gnu/wine/i386-unix/ntdll.so; do
    [ -s "$WOW_ROOT/$f" ] || { echo "wow32 root: $f is missing" >&2; return 1; }
  done
  chroot "$WOW_ROOT" /usr/bin/qemu-i386 --version >/dev/null 2>&1 || { echo "wow32 root: qemu-i386 does not run" >&2; return 1; }
}

if root_sound; then exit 0; fi
[ "${1:-}" = --check ] && exit 1

command -v debootstrap >/dev/null || { echo "wow32 root: debootstrap is not installed" >&2; exit 1; }
mirror="$(wow_mirror)"
[ -n "$mirror" ] || { echo "wow32 root: the host's apt configuration (/etc/apt/sources.list, /etc/apt/sources.list.d/) names no Debian mirror to make the root from; add the one this machine uses" >&2; exit 1; }
echo "Making the 32-bit Wine root in $WOW_ROOT from $mirror (once per machine: a few minutes, about 2 GB)"
wow_unmount_all
rm -rf --one-file-system "$WOW_ROOT.new"
mkdir -p "$(dirname "$WOW_ROOT")"
started=$SECONDS
try() {  # runs a step up to three times: the mirror can be mid-sync for a moment
  local n
  for n in 1 2 3; do "$@" && return 0; echo "wow32 root: retrying ($n) $*" >&2; sleep $((n * 5)); done
  return 1
}
try debootstrap --variant=minbase trixie "$WOW_ROOT.new" "$mirror" >"$WOW_CACHE/debootstrap.log" 2>&1 \
  || { echo "wow32 root: debootstrap of trixie from $mirror failed (log: $WOW_CACHE/debootstrap.log)" >&2; exit 1; }
cp /etc/hosts "$WOW_ROOT.new/etc/hosts"
cp /etc/resolv.conf "$WOW_ROOT.new/etc/resolv.conf" 2>/dev/null || true
echo 'Acquire::Check-Valid-Until "false";' >"$WOW_ROOT.new/etc/apt/apt.conf.d/90hookwire"
in_new() { chroot "$WOW_ROOT.new" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
mount -t proc proc "$WOW_ROOT.new/proc"
trap 'umount "$WOW_ROOT.new/proc" 2>/dev/null || true' EXIT
in_new dpkg --add-architecture i386
try in_new apt-get update -qq >>"$WOW_CACHE/debootstrap.log" 2>&1 || true
try in_new apt-get install -y -qq --no-install-recommends wine wine64 wine32:i386 qemu-user >>"$WOW_CACHE/debootstrap.log" 2>&1 \
  || { echo "wow32 root: could not install wine wine64 wine32:i386 qemu-user inside the root (log: $WOW_CACHE/debootstrap.log)" >&2; exit 1; }
in_new apt-get clean
umount "$WOW_ROOT.new/proc"
trap - EXIT
# Only qemu-i386 is used; the other emulators are about 455 MB.
find "$WOW_ROOT.new/usr/bin" -name 'qemu-*' ! -name qemu-i386 -delete
rm -rf --one-file-system "$WOW_ROOT"
mv "$WOW_ROOT.new" "$WOW_ROOT"
touch "$WOW_ROOT/.ready-$WOW_ROOT_VERSION"
root_sound || { echo "wow32 root: made, but still not sound" >&2; exit 1; }
echo "32-bit Wine root ready in $((SECONDS - started)) s ($(du -sh "$WOW_ROOT" | cut -f1))"
