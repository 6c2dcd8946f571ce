#!/usr/bin/env bash
# Saves a screenshot of the whole (virtual) display as PNG: spy-screenshot.sh <out.png>
set -euo pipefail
out="${1:?usage: spy-screenshot.sh <out.png>}"
mkdir -p "$(dirname "$out")"
xwd -root -silent | convert xwd:- "png:$out"
