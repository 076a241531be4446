#!/usr/bin/env bash
# Sets up, builds the three builds and runs every test: the portable tests
# natively under AddressSanitizer and UndefinedBehaviorSanitizer, every Windows
# test program under Wine in the build's private prefix, the release programs
# and their installer (in a Wine prefix of its own), then each fuzz target for
# a bounded time. Exits non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
started=$(date +%s)

"$root/scripts/build.sh" native windows release

. "$root/scripts/wine-env.sh"
wine_prefix_ready
cleanup() {
  wine_server_stop
  xvfb_stop
}
trap cleanup EXIT
wine_server_start
xvfb_start

status=0
log="$root/build/test-results.txt"
: > "$log"
ctest --preset native 2>&1 | tee -a "$log" || status=1
ctest --preset windows 2>&1 | tee -a "$log" || status=1
# The shipped programs and the installer, which makes a Wine prefix of its own.
ctest --preset release 2>&1 | tee -a "$log" || status=1
fuzz_status=0
"$root/scripts/fuzz.sh" || fuzz_status=1

passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$log" || true)
failed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(Failed|Timeout|Exception|Not Run)' "$log" || true)
echo "tests finished in $(( $(date +%s) - started )) s"
echo "$passed passed, $failed failed"
if [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ] || [ "$fuzz_status" -ne 0 ]; then status=1; fi
exit "$status"
