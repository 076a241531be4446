#!/usr/bin/env bash
# The main job on an embedded default, in the build's private Wine prefix:
# install the service with its own command line, have it start OpenVPN (the
# stand-in from tests/peers, installed as openvpn.exe) for a client, talk to
# OpenVPN's management port, disconnect, and remove the service, showing the
# service's log and OpenVPN's output on the way.
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

# What the installer provides: the program folder with openvpn.exe, its
# "Install Path", and the service's folder for its log.
install_dir="$WINEPREFIX/drive_c/Program Files/Veltrona VPN"
service_dir="$WINEPREFIX/drive_c/ProgramData/Veltrona VPN"
mkdir -p "$install_dir" "$service_dir"
cp "$bin/peers/openvpn_standin.exe" "$install_dir/openvpn.exe"
run reg add 'HKLM\Software\VeltronaVPN' /v 'Install Path' /t REG_SZ /d 'C:\Program Files\Veltrona VPN\' /f >/dev/null
# What the client leaves in its data folder before it connects.
data_dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Veltrona VPN"
mkdir -p "$data_dir"
cp "$root"/data/demo-client/* "$data_dir/"

run "$bin/VeltronaVPNsrv.exe" -remove >/dev/null || true

echo "== VeltronaVPNsrv.exe -install"
run "$bin/VeltronaVPNsrv.exe" -install
echo
echo "== service state"
run "$bin/peers/client_probe.exe" status || true
echo
echo "== a client connects and disconnects"
run "$bin/peers/client_probe.exe" connect || true
run "$bin/peers/client_probe.exe" route-check || true
sleep 1
echo
echo "== service.log"
tr -d '\r' < "$service_dir/service.log"
echo
echo "== OpenVPN's output (the client's log.txt)"
tr -d '\r' < "$data_dir/log.txt"
echo
echo "== VeltronaVPNsrv.exe -remove"
run "$bin/VeltronaVPNsrv.exe" -remove
echo
echo "== service.log after removal"
tr -d '\r' < "$service_dir/service.log"
