#!/usr/bin/env bash
# The OpenVPN engine against the real OpenVPN (the distribution's openvpn),
# all of it inside a network namespace that this script makes and removes:
#
#   - a throw-away CA with a server and a client certificate (openssl);
#   - per case a fresh OpenVPN server on 127.0.0.1 (UDP, tun, 10.235.0.0/24
#     with topology subnet, so the tunnel's gateway is 10.235.0.1) whose
#     auth-user-pass-verify script accepts exactly one user name and password;
#   - the Windows test program under Wine, with a wineserver of its own
#     started inside the namespace: Wine's sockets are made by the wineserver,
#     so a wineserver outside would connect the engine to the machine's own
#     loopback instead of the namespace's;
#   - once the engine has asked the (stand-in) service to start OpenVPN, an
#     OpenVPN client with the management options the service passes.
#
# Usage: run.sh <veltrona_real_openvpn_tests.exe> [wine prefix]
# Needs root (namespace, tun devices). Exits non-zero when anything fails,
# including when the namespace or a tun device cannot be made.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
[ $# -ge 1 ] || { echo "usage: $0 <test program> [wine prefix]" >&2; exit 2; }
test_program="$(realpath -m "$1")"
# Wine wants an absolute prefix path.
export VELTRONA_WINEPREFIX="$(realpath -m "${2:-$root/build/windows/wine-real-openvpn}")"

fail() {
  echo "real_openvpn: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root to make a network namespace and tun devices"
for tool in ip openvpn openssl ping cmp sysctl; do
  command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup.sh installs it"
done
[ -f "$test_program" ] || fail "no test program at $test_program"

# The pair the server accepts: blanks, a double quote and a backslash, which
# the management commands must quote and escape.
user='vpn user'
password='p a"s\s w0rd'

# The management options the service gives OpenVPN on Windows, less
# "--service <exit event> 0", which exists only in OpenVPN for Windows; so
# the exit event that DisconnectTunnel sets ends nothing here, and this
# script stops the client after each case.
management_options=(--management 127.0.0.1 13247 --management-hold --management-query-passwords --tls-exit)

ns="veltrona-ovpn-$$"
work="$(mktemp -d /tmp/veltrona-real-openvpn.XXXXXX)"
pids=()
own_xvfb=0

. "$root/scripts/wine-env.sh"

in_ns() { ip netns exec "$ns" "$@"; }

stop_pid() {
  local pid="$1"
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  # Braces, so that bash's own note about a killed job goes nowhere too.
  { wait "$pid"; } 2>/dev/null || true
}

cleanup() {
  local status=$?
  set +e
  for pid in "${pids[@]}"; do stop_pid "$pid"; done
  # This prefix's wineserver and its processes live in the namespace.
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  [ "$own_xvfb" -eq 1 ] && xvfb_stop
  if ip netns list | grep -qw "$ns"; then
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
    ip netns delete "$ns"
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits, at most `seconds`, until `test` succeeds; gives up early when the
# test program (pid $watched) has ended.
watched=
wait_for() {
  local seconds="$1"
  shift
  local tries=$((seconds * 20))
  while [ "$tries" -gt 0 ]; do
    "$@" && return 0
    if [ -n "$watched" ] && ! kill -0 "$watched" 2>/dev/null; then
      "$@" && return 0
      return 1
    fi
    sleep 0.05
    tries=$((tries - 1))
  done
  return 1
}

# --- the namespace -----------------------------------------------------------
ip netns add "$ns" || fail "cannot make the network namespace $ns"
in_ns ip link set lo up || fail "cannot bring up lo in $ns"
in_ns ip tuntap add dev vtprobe mode tun || fail "cannot make a tun device in $ns (is /dev/net/tun there?)"
in_ns ip link delete vtprobe

# Server and client share the namespace, so each tunnel address is local to
# it, and a ping from the client's address to the gateway would never leave
# the namespace's own stack. These rules send what the two tunnel ends say to
# each other out through the opposite tun device, that is, through OpenVPN.
# No echo replies: the harness pings both ways, a different size each way,
# so that what OpenVPN sends and what it receives differ, and the test can
# tell the engine's two counts apart.
in_ns sysctl -qw net.ipv4.conf.all.accept_local=1 net.ipv4.conf.default.accept_local=1 \
  net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 net.ipv4.icmp_echo_ignore_all=1
in_ns ip rule add pref 10 from 10.235.0.2 to 10.235.0.1 iif lo lookup 101
in_ns ip rule add pref 11 from 10.235.0.1 to 10.235.0.2 iif lo lookup 102
in_ns ip rule add pref 100 lookup local
in_ns ip rule delete pref 0 lookup local

# --- certificates and configuration ------------------------------------------
pki="$work/pki"
mkdir -p "$pki"
openssl_quiet() { openssl "$@" 2>>"$work/openssl.log" || { cat "$work/openssl.log" >&2; fail "openssl $1 failed"; }; }
openssl_quiet req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=veltrona-test-ca \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -keyout "$pki/ca.key" -out "$pki/ca.crt"
for who in server client; do
  usage=serverAuth
  [ "$who" = client ] && usage=clientAuth
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyAgreement\nextendedKeyUsage=%s\n' \
    "$usage" >"$pki/$who.ext"
  openssl_quiet req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=veltrona-test-$who" \
    -keyout "$pki/$who.key" -out "$pki/$who.csr"
  openssl_quiet x509 -req -days 2 -in "$pki/$who.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial \
    -extfile "$pki/$who.ext" -out "$pki/$who.crt"
done

# OpenVPN hands the script a file with the user name and the password, a line
# each; the check is an exact comparison with the one accepted pair.
printf '%s\n%s\n' "$user" "$password" >"$work/accepted"
cat >"$work/check-credentials" <<EOF
#!/bin/sh
exec /usr/bin/cmp -s "\$1" "$work/accepted"
EOF
chmod 755 "$work/check-credentials"

cat >"$work/server.conf" <<EOF
mode server
tls-server
dev vtserver
dev-type tun
proto udp
local 127.0.0.1
port 1194
topology subnet
server 10.235.0.0 255.255.255.0
ca $pki/ca.crt
cert $pki/server.crt
key $pki/server.key
dh none
verify-client-cert require
script-security 2
auth-user-pass-verify $work/check-credentials via-file
keepalive 1 5
explicit-exit-notify 1
disable-dco
verb 3
EOF

# As the product's configuration template has it, with the server's address
# filled in and without the Windows-only route lines.
cat >"$work/client.conf" <<EOF
client
dev vtclient
dev-type tun
proto udp
remote 127.0.0.1 1194
nobind
persist-key
persist-tun
ca $pki/ca.crt
cert $pki/client.crt
key $pki/client.key
remote-cert-tls server
auth-user-pass
disable-dco
verb 3
EOF

# --- Wine inside the namespace ----------------------------------------------
if [ -z "${DISPLAY:-}" ]; then
  xvfb_start
  own_xvfb=1
fi
# A wineserver of this prefix left outside the namespace would be used
# instead of one inside it.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
in_ns bash -c '. "$1/scripts/wine-env.sh" && wine_prefix_ready && wine_server_start' _ "$root" >/dev/null
wineserver_in_ns=0
for pid in $(ip netns pids "$ns"); do
  case "$(cat "/proc/$pid/comm" 2>/dev/null)" in wineserver*) wineserver_in_ns=1 ;; esac
done
[ "$wineserver_in_ns" -eq 1 ] || fail "the wineserver of $WINEPREFIX did not start inside $ns"

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

print_logs() {
  local dir="$1" name
  for name in server.log client.log ping-up.log ping-down.log; do
    [ -f "$dir/$name" ] || continue
    echo "---- $name"
    cat "$dir/$name"
  done
}

# --- one case ---------------------------------------------------------------
# run_case <test name> <how the server ends: keep, TERM or KILL> <ping: yes/no>
#          <line the server's log must show, or ""> <lines the client's log must show>...
failures=0
run_case() {
  local name="$1" server_end="$2" ping="$3" server_line="$4"
  shift 4
  local client_lines=("$@")
  local dir="$work/$name"
  mkdir -p "$dir"
  local problems=()
  # A name without its suite is one of the engine's cases.
  local full="$name"
  [[ "$name" == *.* ]] || full="RealOpenVpn.$name"
  echo "== $full"

  # Started with ip itself, not in_ns, so that $! is OpenVPN's own pid.
  ip netns exec "$ns" openvpn --config "$work/server.conf" >"$dir/server.log" 2>&1 &
  local server_pid=$!
  # Killing it is part of a case, not news: no job report from bash.
  disown "$server_pid"
  pids+=("$server_pid")
  watched="$server_pid"
  if ! wait_for 20 grep -q "Initialization Sequence Completed" "$dir/server.log"; then
    print_logs "$dir"
    fail "the OpenVPN server did not start"
  fi
  in_ns ip route replace 10.235.0.2 dev vtserver table 102

  timeout 300 ip netns exec "$ns" env VELTRONA_REAL_OPENVPN_DIR="$(windows_path "$dir")" \
    VELTRONA_REAL_OPENVPN_USER="$user" VELTRONA_REAL_OPENVPN_PASSWORD="$password" \
    "$root/scripts/wine-run" "$test_program" --gtest_filter="$full" &
  local test_pid=$!
  watched="$test_pid"

  # What the service does on the open event: start OpenVPN with its output
  # in a file.
  local client_pid=
  if wait_for 60 test -e "$dir/start-openvpn"; then
    ip netns exec "$ns" openvpn --config "$work/client.conf" "${management_options[@]}" --status "$dir/client-status.txt" 1 \
      >"$dir/client.log" 2>&1 &
    client_pid=$!
    pids+=("$client_pid")
  else
    problems+=("the engine never asked for OpenVPN to be started")
  fi

  # Traffic through the tunnel: larger packets up (client to gateway) than
  # down. 150 of each at most, five a second.
  local up_pid= down_pid=
  if [ -n "$client_pid" ] && [ "$ping" = yes ]; then
    if wait_for 60 bash -c "ip netns exec '$ns' ip -4 -o addr show dev vtclient 2>/dev/null | grep -q ' 10.235.0.2/'"; then
      in_ns ip route replace 10.235.0.1 dev vtclient table 101
      ip netns exec "$ns" ping -n -q -c 150 -i 0.2 -s 1200 -I 10.235.0.2 10.235.0.1 >"$dir/ping-up.log" 2>&1 &
      up_pid=$!
      pids+=("$up_pid")
      ip netns exec "$ns" ping -n -q -c 150 -i 0.2 -s 300 -I 10.235.0.1 10.235.0.2 >"$dir/ping-down.log" 2>&1 &
      down_pid=$!
      pids+=("$down_pid")
    else
      problems+=("the tunnel never got the client address 10.235.0.2")
    fi
  fi

  if [ -n "$client_pid" ] && [ "$server_end" != keep ]; then
    if wait_for 60 test -e "$dir/connected"; then
      kill "-$server_end" "$server_pid" 2>/dev/null || true
    else
      problems+=("the test never reported the tunnel up")
    fi
  fi

  local status=0
  wait "$test_pid" || status=$?
  watched=
  [ "$status" -eq 0 ] || problems+=("the test program failed (exit status $status)")

  # What came out of each end of the tunnel, counted by the tun devices,
  # before they go with their OpenVPN.
  local through_up=0 through_down=0
  if [ "$ping" = yes ]; then
    through_up=$(in_ns cat /sys/class/net/vtserver/statistics/rx_packets 2>/dev/null || echo 0)
    through_down=$(in_ns cat /sys/class/net/vtclient/statistics/rx_packets 2>/dev/null || echo 0)
  fi
  stop_pid "$up_pid"
  stop_pid "$down_pid"
  stop_pid "$client_pid"
  stop_pid "$server_pid"

  local line
  for line in "${client_lines[@]}"; do
    grep -qF -- "$line" "$dir/client.log" 2>/dev/null || problems+=("the client's log lacks \"$line\"")
  done
  if [ -n "$server_line" ]; then
    grep -qF -- "$server_line" "$dir/server.log" || problems+=("the server's log lacks \"$server_line\"")
  fi
  if [ "$ping" = yes ]; then
    echo "[ measure  ] packets through the tunnel: $through_up up, $through_down down"
    [ "$through_up" -gt 0 ] || problems+=("no packet reached the server's end of the tunnel")
    [ "$through_down" -gt 0 ] || problems+=("no packet reached the client's end of the tunnel")
  fi

  if [ "${#problems[@]}" -gt 0 ]; then
    local problem
    for problem in "${problems[@]}"; do echo "real_openvpn: $name: $problem" >&2; done
    print_logs "$dir"
    failures=$((failures + 1))
  fi
}

started=$(date +%s)
# The client's log also shows the engine's part: the management client it
# let in, and, after DisconnectTunnel, that it went away.
run_case ConnectsAndShowsOpenVpnsOwnGrowingByteCounts keep yes \
  "Username/Password authentication succeeded for username '$user'" \
  "MANAGEMENT: Client connected from" "Initialization Sequence Completed" "MANAGEMENT: Client disconnected"
run_case AWrongPasswordShowsTheLoginFailedDialog keep no "Auth Username/Password verification failed" \
  "AUTH: Received control message: AUTH_FAILED"
run_case AServerShuttingDownIsALostConnection TERM no "" "Initialization Sequence Completed" \
  "server-pushed-connection-reset"
run_case AServerThatDiesIsALostConnection KILL no "" "Initialization Sequence Completed" "ping-restart"
# The real client program, through its window.
run_case RealClientWindow.ConnectsShowsOpenVpnsByteCountsAndDisconnects keep yes \
  "Username/Password authentication succeeded for username '$user'" \
  "MANAGEMENT: Client connected from" "Initialization Sequence Completed" "MANAGEMENT: Client disconnected"
# A case added to the program but not here would never run: say so.
ran=(RealOpenVpn.ConnectsAndShowsOpenVpnsOwnGrowingByteCounts RealOpenVpn.AWrongPasswordShowsTheLoginFailedDialog
  RealOpenVpn.AServerShuttingDownIsALostConnection RealOpenVpn.AServerThatDiesIsALostConnection
  RealClientWindow.ConnectsShowsOpenVpnsByteCountsAndDisconnects)
listed="$(ip netns exec "$ns" "$root/scripts/wine-run" "$test_program" --gtest_list_tests | tr -d '\r' |
  awk '/^[A-Za-z0-9_]+\.$/ {suite = $1; next} /^  [A-Za-z0-9_]/ {print suite $1}')"
[ -n "$listed" ] || { echo "real_openvpn: the test program lists no cases" >&2; failures=$((failures + 1)); }
for case_name in $listed; do
  if ! printf '%s\n' "${ran[@]}" | grep -qxF "$case_name"; then
    echo "real_openvpn: $case_name has no run_case here" >&2
    failures=$((failures + 1))
  fi
done

echo "real_openvpn: ${#ran[@]} cases in $(($(date +%s) - started)) s, $failures failed"
[ "$failures" -eq 0 ]
