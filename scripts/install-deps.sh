#!/usr/bin/env bash
# Installs what building and testing Quorvane needs on Debian 12, only when
# something is missing, so repeated runs cost a second.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for p in cmake ninja-build g++ libgtest-dev libbenchmark-dev \
         libsndfile1-dev libsoxr-dev libebur128-dev libcli11-dev help2man libmpfr-dev \
         g++-mingw-w64-i686 binutils-mingw-w64-i686 xvfb imagemagick python3 \
         fonts-wine clang libclang-rt-14-dev libcpp-httplib-dev nlohmann-json3-dev ffmpeg chromium \
         lv2-dev liblilv-dev ladspa-sdk lilv-utils serdi sox liquidsoap nsis lintian dpkg-dev; do
  have_pkg "$p" || need+=("$p")
done
i386=0
dpkg --print-foreign-architectures | grep -qx i386 || i386=1
have_pkg wine || need+=(wine)
have_pkg wine32:i386 || need+=(wine32:i386)

if [ ${#need[@]} -eq 0 ] && [ $i386 -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "install-deps: installing ${need[*]}" >&2
if [ $i386 -eq 1 ]; then $SUDO dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
