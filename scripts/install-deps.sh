#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing. Quiet and idempotent.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  FORCE_UPDATE=1
fi

for p in cmake make python3 g++-mingw-w64-i686 mingw-w64-tools libwine-dev:i386 wine wine32:i386 wine64 g++-mingw-w64-x86-64 \
         xvfb xauth x11-apps x11-utils imagemagick googletest; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ] || [ -n "${FORCE_UPDATE:-}" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${need[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
