#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and
# unpacks minizip's sources from Debian's zlib source package into the build
# tree. Safe to run again: it does nothing when all is present.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="$root/build/deps"

packages=(
  cmake ninja-build pkg-config clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  zlib1g-dev libminizip-dev googletest
  # The XML benchmark and the parsers it compares with.
  libbenchmark-dev libpugixml-dev libexpat1-dev
  wine wine64 xvfb xauth dpkg-dev
  # Screenshots of the windows under Xvfb (import).
  imagemagick
  # The TLS host that receives the problem report in the tests.
  python3 openssl
  # The engine's test against the real OpenVPN, in a network namespace.
  openvpn iproute2 iputils-ping procps
  # The Windows Installer package (wixl builds it; msitools' msiinfo and
  # msibuild set its rollback action) and its signature.
  wixl msitools osslsigncode
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^ii'; then
    missing+=("$package")
  fi
done

apt_updated=0
apt_update() {
  if [ "$apt_updated" -eq 0 ]; then
    apt-get update -qq
    apt_updated=1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# minizip is not packaged for mingw-w64: take its sources from Debian's zlib
# source package, once.
if [ ! -f "$deps/minizip/unzip.c" ]; then
  src_list=/etc/apt/sources.list.d/veltrona-deb-src.sources
  if ! apt-get source --print-uris zlib >/dev/null 2>&1; then
    # Source packages come from the same archive the machine already uses.
    uri="$(grep -h -m1 -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{print $2}')"
    if [ -z "$uri" ]; then
      uri="$(grep -h -m1 -E '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')"
    fi
    [ -n "$uri" ] || { echo "setup: no Debian archive configured" >&2; exit 1; }
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uri" > "$src_list"
    apt_updated=0
    apt_update
  fi
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get source -qq zlib >/dev/null 2>&1)
  contrib="$(find "$work" -maxdepth 3 -type d -path '*/contrib/minizip' | head -n1)"
  [ -n "$contrib" ] || { echo "setup: zlib source package has no contrib/minizip" >&2; exit 1; }
  mkdir -p "$deps/minizip"
  cp "$contrib"/{ioapi.c,ioapi.h,unzip.c,unzip.h,iowin32.c,iowin32.h,crypt.h} "$deps/minizip/"
  echo "setup: minizip sources in $deps/minizip"
fi
