#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing: Debian's own packages of the host's
# architecture only (32-bit Windows programs run in the root that scripts/wow32-root.sh makes).
# Quiet and idempotent. A broken index of one suite does not stop the install while the packages still
# resolve; after three tries it fails with one line that names what could not be installed.
set -uo pipefail

packages=(cmake make python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev
          xvfb xauth x11-apps x11-utils imagemagick googletest debootstrap util-linux
          wixl msitools)
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing() { local p; for p in "${packages[@]}"; do have "$p" || echo "$p"; done; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# Earlier versions of this script added the i386 architecture to the host. These machines cannot run
# its packages, and its index alone can break every update: it goes again while nothing of it is installed.
if dpkg --print-foreign-architectures | grep -qx i386 && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
  $SUDO dpkg --remove-architecture i386 && echo "install-deps: removed the host's unused i386 architecture"
fi

need=($(missing))
[ ${#need[@]} -eq 0 ] && exit 0
echo "Installing: ${need[*]}"
for try in 1 2 3; do
  # An index that fails to download (a mirror mid-sync) leaves the others usable: go on regardless.
  $SUDO apt-get update -qq >/tmp/hookwire-apt-update.log 2>&1 || echo "apt-get update reported errors (try $try); going on with the indexes that loaded" >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/tmp/hookwire-apt-install.log 2>&1
  need=($(missing))
  [ ${#need[@]} -eq 0 ] && exit 0
  sleep $((try * 10))
done
echo "install-deps: could not install: ${need[*]} (see /tmp/hookwire-apt-install.log)" >&2
exit 1
