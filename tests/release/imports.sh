#!/usr/bin/env bash
# Fails when a shipped program imports a DLL that a Windows 10 or 11
# installation does not have (zlib1.dll, libstdc++-6.dll, ...), or when the
# client program's two exports are missing.
set -euo pipefail
bin="$1"
objdump=x86_64-w64-mingw32-objdump
# Every Windows 10/11 installation has these.
allowed=" advapi32.dll comctl32.dll crypt32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll ntdll.dll ole32.dll
 oleaut32.dll rasapi32.dll shell32.dll user32.dll wininet.dll ws2_32.dll wbemuuid.dll "
# One blank between names, so a name at the end of a line matches too.
allowed=" $(echo $allowed) "
status=0
for program in VeltronaVpn.exe VeltronaVPNsrv.exe; do
  dlls="$("$objdump" -p "$bin/$program" | awk '/DLL Name:/ {print tolower($3)}')"
  [ -n "$dlls" ] || { echo "$program: no imports read"; status=1; continue; }
  for dll in $dlls; do
    case "$allowed" in
      *" $dll "*) ;;
      *) echo "$program imports $dll, which Windows does not ship"; status=1 ;;
    esac
  done
  echo "$program imports: $(echo $dlls)"
done
exports="$("$objdump" -p "$bin/VeltronaVpn.exe" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')"
for name in ExtractCredentials test; do
  if ! grep -qE "\] $name\$" <<<"$exports"; then
    echo "VeltronaVpn.exe does not export $name"
    status=1
  fi
done
exit "$status"
