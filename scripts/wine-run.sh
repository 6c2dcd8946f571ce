#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix; its exit code is ours.
#   scripts/wine-run.sh PROGRAM [ARGS...]
# The program runs in the 32-bit Wine root (scripts/wow32-root.sh) inside a user and mount namespace
# of its own: there qemu-i386 is registered in a private binfmt_misc (the host's is never touched),
# and /proc, /dev, the X socket and the project are seen at their usual paths. A 64-bit program
# starts with the 64-bit loader and runs natively; anything else with the 32-bit one, emulated.
# The Wine server is started beforehand by scripts/wine-setup.sh.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
[ $# -gt 0 ] || { echo "usage: wine-run.sh PROGRAM [ARGS...]" >&2; exit 2; }

loader=/usr/lib/wine/wine64
if [ "$TEST_ARCH" = win32 ]; then loader=/usr/lib/wine/wine; fi
if [ -f "$1" ]; then   # an .exe of ours: its PE header says which loader
  case "$(python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read(4096)
off = struct.unpack_from('<I', d, 0x3c)[0]
print(hex(struct.unpack_from('<H', d, off + 4)[0]))
PY
)" in
    0x8664) loader=/usr/lib/wine/wine64 ;;
    0x14c) loader=/usr/lib/wine/wine ;;
  esac
fi

# The prefix's one Wine server must be up before any program: started here, it runs natively and
# outside any user namespace (it exits by itself after 10 idle minutes, or at `wineserver -k`).
if ! wineserver -k0 2>/dev/null; then
  ( wineserver -f -p600 </dev/null >/dev/null 2>&1 & )
  for _ in $(seq 50); do wineserver -k0 2>/dev/null && break; sleep 0.1; done
fi

xauth_file=""
if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
  mkdir -p "$WINEPREFIX"
  xauth_file="$WINEPREFIX/.Xauthority"
  cp "$XAUTHORITY" "$xauth_file"
fi

# Settings of the tests' longer runs (HOOKWIRE_FUZZ_SECONDS=60 and the like) reach the program.
test_settings="$(env | grep -E '^HOOKWIRE_[A-Z_]+=[0-9]+$' | tr '\n' ' ')"

exec unshare --user --map-root-user --mount --fork -- /bin/sh -c '
  set -e
  R="$1" PROJECT="$2" PREFIX="$3" LOADER="$4" HERE="$5" XAUTH="$6" SETTINGS="$7"; shift 7
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  printf ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$R/usr/bin/qemu-i386:FP" \
    >/proc/sys/fs/binfmt_misc/register
  . "$PROJECT/scripts/wow32-mounts.sh"
  wow_bind_all "$R" "$PROJECT" "$PREFIX"
  cd "$R$HERE" 2>/dev/null && HERE_IN="$HERE" || HERE_IN=/
  exec chroot "$R" /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$HERE_IN" \
    env -i HOME=/root PATH=/usr/lib/wine:/usr/bin:/bin USER=root \
      DISPLAY="$DISPLAY" ${XAUTH:+XAUTHORITY="$XAUTH"} WINEPREFIX="$PREFIX" \
      WINESERVER=/usr/lib/wine/wineserver64 WINEDEBUG="$WINEDEBUG" WINEDLLOVERRIDES="$WINEDLLOVERRIDES" \
      QEMU_GUEST_BASE=0 LANG=C.UTF-8 $SETTINGS "$LOADER" "$@"
' wine-run "$WOW_ROOT" "$ROOT" "$WINEPREFIX" "$loader" "$PWD" "$xauth_file" "$test_settings" "$@"
