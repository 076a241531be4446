#!/usr/bin/env bash
# Builds the Windows Installer package from the release programs with wixl,
# then signs it.
#
#   build-msi.sh BIN_DIR OPENVPN_DIR SETUP_DLL VERSION OUT.msi
#
# BIN_DIR holds VeltronaVpn.exe, VeltronaVPNsrv.exe and SurfingPrefs.xml;
# OPENVPN_DIR holds openvpn.exe and the DLLs beside it (OpenVPN's official
# Windows build for a release, the project's stand-in for the tests and the
# demo); every .exe and .dll there is installed beside the programs.
#
# Signing: with VELTRONA_SIGN_CERT and VELTRONA_SIGN_KEY (PEM files; the key
# may be protected by VELTRONA_SIGN_PASS) the vendor's certificate signs the
# programs and the package. Without them the build makes a self-signed test
# certificate beside the package (VeltronaVPN-test-signing.crt), good for
# testing only: Windows trusts no signature it makes.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bin="$1" openvpn="$2" setup_dll="$3" version="$4" out="$5"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"
work="${out%.msi}-work"
rm -rf "$work"
mkdir -p "$work/bin" "$work/openvpn"

for file in VeltronaVpn.exe VeltronaVPNsrv.exe SurfingPrefs.xml; do
  [ -f "$bin/$file" ] || { echo "build-msi: $bin/$file is missing" >&2; exit 1; }
  cp "$bin/$file" "$work/bin/"
done
[ -f "$openvpn/openvpn.exe" ] || { echo "build-msi: $openvpn holds no openvpn.exe" >&2; exit 1; }

# The signing certificate: the vendor's, or one made here for testing.
cert="${VELTRONA_SIGN_CERT:-}" key="${VELTRONA_SIGN_KEY:-}"
if [ -z "$cert" ] || [ -z "$key" ]; then
  cert="$work/test-signing.crt" key="$work/test-signing.key"
  openssl req -x509 -newkey rsa:3072 -nodes -days 30 -subj "/CN=Veltrona VPN test signing/O=Veltrona" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$key" -out "$cert" 2>/dev/null
  cp "$cert" "${out%.msi}-test-signing.crt"
fi
sign() {
  local file="$1" signed="$1.signed"
  local pass=()
  [ -n "${VELTRONA_SIGN_PASS:-}" ] && pass=(-pass "$VELTRONA_SIGN_PASS")
  osslsigncode sign -certs "$cert" -key "$key" "${pass[@]}" -h sha256 -n "Veltrona VPN" \
    ${VELTRONA_SIGN_TIMESTAMP_URL:+-ts "$VELTRONA_SIGN_TIMESTAMP_URL"} -in "$file" -out "$signed" >/dev/null
  mv "$signed" "$file"
}
sign "$work/bin/VeltronaVpn.exe"
sign "$work/bin/VeltronaVPNsrv.exe"

# wixl takes the files' paths relative to the source that names them: the
# sources and everything they name are gathered in one folder.
cp "$here/veltrona.wxs" "$work/veltrona.wxs"
cp "$setup_dll" "$work/VeltronaSetup.dll"
cp "$here/../client/resources/images/connected.ico" "$work/VeltronaVpn.ico"

# One component for each file of the OpenVPN folder.
fragment="$work/openvpn.wxs"
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment>'
  echo '  <DirectoryRef Id="INSTALLDIR">'
  refs=""
  n=0
  while IFS= read -r -d '' path; do
    name="$(basename "$path")"
    case "$name" in *'&'*|*'<'*|*'"'*) echo "build-msi: cannot package $name" >&2; exit 1 ;; esac
    n=$((n + 1))
    cp "$path" "$work/openvpn/$name"
    echo "    <Component Id=\"OpenVpn$n\" Guid=\"*\" Win64=\"yes\"><File Id=\"OpenVpnFile$n\" Name=\"$name\" Source=\"openvpn/$name\" KeyPath=\"yes\"/></Component>"
    refs="$refs<ComponentRef Id=\"OpenVpn$n\"/>"
  done < <(find "$openvpn" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
  echo '  </DirectoryRef>'
  echo "  <ComponentGroup Id=\"OpenVpn\">$refs</ComponentGroup>"
  echo '</Fragment></Wix>'
} > "$fragment"

(cd "$work" && wixl -a x64 -o "$out" -D "Version=$version" -D BinDir=bin -D SetupDll=VeltronaSetup.dll \
  -D Icon=VeltronaVpn.ico veltrona.wxs openvpn.wxs)
# wixl writes every deferred action as one that runs forward; the service's
# removal runs only when the installation is rolled back (0x100).
deferred_exe=$((18 + 64 + 0x400 + 0x800))
type="$(msiinfo export "$out" CustomAction | awk -F'\t' '$1 == "InstallServiceRollback" {print $2}')"
[ "$type" = "$deferred_exe" ] || { echo "build-msi: InstallServiceRollback has type '$type'" >&2; exit 1; }
msibuild "$out" -q "UPDATE \`CustomAction\` SET \`Type\` = $((deferred_exe + 0x100)) WHERE \`Action\` = 'InstallServiceRollback'"
sign "$out"
echo "build-msi: $out ($(stat -c %s "$out") bytes), version $version"
