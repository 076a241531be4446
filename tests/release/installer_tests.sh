#!/usr/bin/env bash
# Runs the installer's tests in a Wine prefix made fresh for them, so that
# nothing another test left behind counts, and nothing of theirs stays.
#   installer_tests.sh <test program> <prefix folder> <package> <newer package>
set -euo pipefail
program="$1" prefix="$2" msi="$3" next_msi="$4"
prefix="$(mkdir -p "$prefix" && cd "$prefix" && pwd)"
rm -rf "$prefix"
export VELTRONA_WINEPREFIX="$prefix"
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
wine_prefix_ready
trap wine_server_stop EXIT
wine_server_start
VELTRONA_MSI="$("$WINE64" winepath -w "$msi" 2>/dev/null | tr -d '\r')"
VELTRONA_NEXT_MSI="$("$WINE64" winepath -w "$next_msi" 2>/dev/null | tr -d '\r')"
export VELTRONA_MSI VELTRONA_NEXT_MSI WINEDLLOVERRIDES="$WINEDLLOVERRIDES"
"$WINE64" "$program"
