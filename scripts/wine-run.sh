#!/usr/bin/env bash
# Runs one Windows program of the build under the project's Wine prefix; its exit code is ours.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
exec "$WINE_LOADER" "$@"
