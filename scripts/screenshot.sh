#!/usr/bin/env bash
# Saves a PNG of the whole (virtual) X display: scripts/screenshot.sh <file.png> [display]
# The display defaults to $DISPLAY; the picture is taken with xwd and turned into PNG by convert.
set -euo pipefail
out="${1:?usage: screenshot.sh <file.png> [display]}"
display="${2:-${DISPLAY:-}}"
if [ -z "$display" ]; then
  echo "screenshot.sh: no display (set DISPLAY or pass one)" >&2
  exit 2
fi
mkdir -p "$(dirname "$out")"
tmp="$(mktemp --suffix=.xwd)"
trap 'rm -f "$tmp"' EXIT
xwd -root -silent -display "$display" -out "$tmp"
convert "xwd:$tmp" "png:$out"
