#!/usr/bin/env bash
# What ships from the release build: the stripped programs within their size
# budget, importing only Windows' own DLLs, and the programs and the package
# signed with the certificate the build used.
#   programs.sh <release build folder>
set -euo pipefail
build="$1"
bin="$build/bin"
status=0
check_size() {
  local program="$1" budget="$2" size
  size="$(stat -c %s "$bin/$program")"
  if [ "$size" -gt "$budget" ]; then
    echo "$program: $size bytes, over its budget of $budget"
    status=1
  else
    echo "$program: $size bytes (budget $budget)"
  fi
  if x86_64-w64-mingw32-objdump -h "$bin/$program" | grep -qE ' \.debug_'; then
    echo "$program carries debugging information"
    status=1
  fi
}
check_size VeltronaVPNsrv.exe $((400 * 1024))
check_size VeltronaVpn.exe $((1536 * 1024))
bash "$(dirname "${BASH_SOURCE[0]}")/imports.sh" "$bin" || status=1
# The installer's custom actions run inside Windows Installer: its own DLL
# and the system's.
for dll in $(x86_64-w64-mingw32-objdump -p "$bin/VeltronaSetup.dll" | awk '/DLL Name:/ {print tolower($3)}'); do
  case " kernel32.dll user32.dll advapi32.dll msvcrt.dll msi.dll " in
    *" $dll "*) ;;
    *) echo "VeltronaSetup.dll imports $dll, which Windows does not ship"; status=1 ;;
  esac
done

cert="$build/VeltronaVPN-test-signing.crt"
work="$build/VeltronaVPN-work"
for file in "$work/bin/VeltronaVpn.exe" "$work/bin/VeltronaVPNsrv.exe" "$build/VeltronaVPN.msi"; do
  if osslsigncode verify -CAfile "$cert" -in "$file" >/dev/null 2>&1; then
    echo "$(basename "$file"): signed"
  else
    echo "$(basename "$file"): no valid signature"
    status=1
  fi
done
exit "$status"
