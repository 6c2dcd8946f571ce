# Where the 32-bit Wine root lives and how to reach it: sourced, not run.
WOW_CACHE="${HOOKWIRE_CACHE:-/var/cache/hookwire}"
WOW_ROOT="$WOW_CACHE/wow32-trixie"
WOW_ROOT_VERSION=1
mkdir -p "$WOW_CACHE"

# The Debian mirror the host itself uses, from its apt configuration (one-line and deb822 sources);
# nothing when the host names none.
wow_mirror() {
  grep -rhoE 'https?://[^ ]*/debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null \
    | head -n 1 | tr -d ' ' || true
}

# Every mount made under the root, deepest first.
wow_unmount_all() {
  [ -d "$WOW_ROOT" ] || [ -d "$WOW_ROOT.new" ] || return 0
  awk -v r="$WOW_ROOT" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r | while read -r m; do
    umount -l "$m" 2>/dev/null || true
  done
}
