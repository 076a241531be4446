#!/usr/bin/env bash
# The product end to end, in the build's private Wine prefix: serve the
# configuration host's content from data/config-host, install the service
# with its own command line, start VeltronaVpn.exe on a virtual screen, and
# let tests/peers/demo_user play the user: fill in the window, press Connect
# (the service starts the OpenVPN stand-in from tests/peers, installed as
# openvpn.exe), read the status and byte counts, save a screenshot,
# disconnect, open the problem report and cancel it, and exit through the
# tray menu; then show the service's log and
# remove the service.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

"$root/scripts/build.sh" windows >/dev/null

. "$root/scripts/wine-env.sh"
wine_prefix_ready
trap 'wine_server_stop; xvfb_stop' EXIT
wine_server_start
# The client's window needs a screen.
xvfb_start

bin="$root/build/windows/bin"
run() { "$WINE64" "$@" 2>/dev/null | tr -d '\r'; }

# What the installer provides: the program folder with openvpn.exe, its
# "Install Path", and the service's folder for its log.
install_dir="$WINEPREFIX/drive_c/Program Files/Veltrona VPN"
service_dir="$WINEPREFIX/drive_c/ProgramData/Veltrona VPN"
mkdir -p "$install_dir" "$service_dir"
cp "$bin/peers/openvpn_standin.exe" "$install_dir/openvpn.exe"
cp "$bin/SurfingPrefs.xml" "$install_dir/SurfingPrefs.xml"
run reg add 'HKLM\Software\VeltronaVPN' /v 'Install Path' /t REG_SZ /d 'C:\Program Files\Veltrona VPN\' /f >/dev/null
# The client's data folder starts empty: the configuration comes from the host.
data_dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Veltrona VPN"
rm -rf "$data_dir"

# The vendor's configuration host, on loopback, and the installer's value
# that points the client at it.
config_port=18980
config_folder="$("$WINE64" winepath -w "$root/data/config-host" 2>/dev/null | tr -d '\r')"
"$WINE64" "$bin/peers/config_host.exe" "$config_port" "$config_folder" >/dev/null 2>&1 &
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$config_port") 2>/dev/null && break
  sleep 0.1
done
run reg add 'HKLM\Software\VeltronaVPN' /v 'Config Host' /t REG_SZ /d "127.0.0.1:$config_port" /f >/dev/null

run "$bin/VeltronaVPNsrv.exe" -remove >/dev/null || true
status=0

echo "== VeltronaVPNsrv.exe -install"
run "$bin/VeltronaVPNsrv.exe" -install
echo
echo "== service state"
run "$bin/peers/client_probe.exe" status || true
echo
echo "== VeltronaVpn.exe, driven through its window"
# The user's own settings start fresh.
run reg delete 'HKCU\SOFTWARE\VeltronaVPN' /f >/dev/null 2>&1 || true
"$WINE64" "$bin/VeltronaVpn.exe" >/dev/null 2>&1 &
client_pid=$!
shot="$root/build/demo-connected.png"
run "$bin/peers/demo_user.exe" demo-id demo-code vpn-demo.example "$shot" || status=1
wait "$client_pid" 2>/dev/null || true
echo
echo "== the client's data folder"
ls "$data_dir"
echo
echo "== Veltrona.ovpn"
tr -d '\r' < "$data_dir/Veltrona.ovpn"
echo
echo "== service.log"
tr -d '\r' < "$service_dir/service.log"
echo
echo "== OpenVPN's output (the client's log.txt)"
tr -d '\r' < "$data_dir/log.txt"
echo
echo "== VeltronaVpn.exe pptp, against Wine's own RAS"
# Windows' dial-up stack instead of OpenVPN; Wine only stubs it, so this
# shows how far the PPTP engine gets and what the user is told.
"$WINE64" "$bin/VeltronaVpn.exe" pptp >/dev/null 2>&1 &
client_pid=$!
run "$bin/peers/demo_user.exe" pptp demo-id demo-code vpn-demo.example "$root/build/demo-pptp.png" || status=1
wait "$client_pid" 2>/dev/null || true
echo
echo "== VeltronaVPNsrv.exe -remove"
run "$bin/VeltronaVPNsrv.exe" -remove
echo
echo "== service.log after removal"
tr -d '\r' < "$service_dir/service.log"
run reg delete 'HKLM\Software\VeltronaVPN' /v 'Config Host' /f >/dev/null || true
exit "$status"
