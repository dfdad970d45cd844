#!/usr/bin/env bash
# Installs what this project needs from Debian's packages, if anything is
# missing.  Safe to run again; it does nothing when everything is there.
set -euo pipefail

packages=(
  cmake g++ make
  gcc-mingw-w64-i686 g++-mingw-w64-i686
  gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64
  libz-mingw-w64-dev zlib1g-dev googletest
  wine wine64 xvfb xauth x11-utils imagemagick
  zip unzip p7zip-full libarchive-tools python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq </dev/null
$sudo apt-get install -y -qq "${missing[@]}" </dev/null >/dev/null
