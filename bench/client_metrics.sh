#!/usr/bin/env bash
# Measures the real client under Wine (see bench/client_metrics_win.cpp):
# start-up time, then the client's memory and CPU time over a minute
# disconnected and a minute connected, read from its Unix process at the
# program's marks. The memory is the process's private pages, Wine's own
# included. About three minutes.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/build.sh" windows >/dev/null
. "$root/scripts/wine-env.sh"
wine_prefix_ready
trap 'wine_server_stop; xvfb_stop' EXIT
wine_server_start
xvfb_start

ticks_per_second=$(getconf CLK_TCK)
declare -A cpu_ms
sample() {
  # Ended clients linger as zombies with the same name and no command line.
  local pid= candidate
  for candidate in $(pgrep -f 'VeltronaVpn\.exe' || true); do
    # procfs files report no size, so the command line itself is read.
    if [ -n "$(tr -d '\0' < "/proc/$candidate/cmdline" 2>/dev/null)" ]; then pid=$candidate; fi
  done
  if [ -z "$pid" ]; then
    echo "  $1: the client's process is not there"
    return
  fi
  # Fields 14 and 15 of stat: user and system time in clock ticks.
  local stat=($(sed 's/^.*) //' "/proc/$pid/stat"))
  cpu_ms[$1]=$(( (stat[11] + stat[12]) * 1000 / ticks_per_second ))
  local private_kb
  private_kb=$(awk '/^Private_(Clean|Dirty):/ {sum += $2} END {print sum}' "/proc/$pid/smaps_rollup")
  echo "  $1: private memory $((private_kb / 1024)) MB ($private_kb kB), CPU so far ${cpu_ms[$1]} ms"
}

# Each line is handled as it comes: the marks must be sampled while the
# program waits at them.
"$root/scripts/wine-run" "$root/build/windows/bin/client_metrics.exe" | while read -r line; do
  line="${line%$'\r'}"
  case "$line" in
    "sample "*) sample "${line#sample }" ;;
    *) echo "$line" ;;
  esac
  case "$line" in
    "sample idle-end") echo "CPU over 60 s disconnected: $((cpu_ms[idle-end] - cpu_ms[idle-begin])) ms" ;;
    "sample connected-end") echo "CPU over 60 s connected: $((cpu_ms[connected-end] - cpu_ms[connected-begin])) ms" ;;
  esac
done
