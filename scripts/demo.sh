#!/usr/bin/env bash
# The main job on an embedded default, in the build's private Wine prefix:
# install the service with its own command line, show it running, send the
# client's pipe messages, show the service's log, remove the service.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

"$root/scripts/build.sh" windows >/dev/null

. "$root/scripts/wine-env.sh"
wine_prefix_ready
trap wine_server_stop EXIT
wine_server_start

bin="$root/build/windows/bin"
run() { "$WINE64" "$@" 2>/dev/null | tr -d '\r'; }

# What the installer provides: the service's folder for its log.
log_folder="$WINEPREFIX/drive_c/ProgramData/Veltrona VPN"
mkdir -p "$log_folder"
run "$bin/VeltronaVPNsrv.exe" -remove >/dev/null || true

echo "== VeltronaVPNsrv.exe -install"
run "$bin/VeltronaVPNsrv.exe" -install
echo
echo "== service state"
run "$bin/peers/client_probe.exe" status || true
echo
echo "== client messages"
run "$bin/peers/client_probe.exe" start-request || true
run "$bin/peers/client_probe.exe" route-check || true
echo
echo "== service.log"
tr -d '\r' < "$log_folder/service.log"
echo
echo "== VeltronaVPNsrv.exe -remove"
run "$bin/VeltronaVPNsrv.exe" -remove
echo
echo "== service.log after removal"
tr -d '\r' < "$log_folder/service.log"
