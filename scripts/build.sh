#!/usr/bin/env bash
# Configures and builds both builds: the Windows programs (and their tests)
# with mingw-w64, and the portable code natively with sanitizers.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/setup.sh"
for preset in "$@"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
