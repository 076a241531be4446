#!/usr/bin/env bash
# Runs every libFuzzer target of the native build for a bounded time
# (FUZZ_SECONDS each, 30 by default), starting from the seed corpus in
# data/<first word of the target>-seeds when there is one. Exits non-zero
# when a target finds anything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${FUZZ_SECONDS:-30}"
work="$root/build/fuzz"
mkdir -p "$work"
status=0
for target in "$root"/build/native/bin/*_fuzz; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  corpus="$work/$name-corpus"
  mkdir -p "$corpus"
  seeds="$root/data/${name%%_*}-seeds"
  [ -d "$seeds" ] || seeds=
  if (cd "$work" && "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" ${seeds:+"$seeds"} \
        > "$work/$name.log" 2>&1); then
    runs=$(grep -m1 -oE 'stat::number_of_executed_units: *[0-9]+' "$work/$name.log" | grep -oE '[0-9]+$' || echo "?")
    echo "fuzz: $name ran $runs inputs in ${seconds} s, found nothing"
  else
    echo "fuzz: $name FAILED"
    tail -n 40 "$work/$name.log"
    status=1
  fi
done
exit "$status"
