#!/usr/bin/env bash
# Installs what building and testing Quorvane needs on Debian 12, only when
# something is missing, so repeated runs cost a second.
#   install-deps.sh         everything: the tests, both Windows targets with
#                           Wine, the plug-ins' hosts, the browser, packaging
#   install-deps.sh --tool  only what the command-line tool needs to build
#                           (scripts/run-demo.sh)
set -euo pipefail

tool=(cmake ninja-build g++ pkg-config libsndfile1-dev libsoxr-dev libebur128-dev libcli11-dev
      libcpp-httplib-dev nlohmann-json3-dev)
all=(libgtest-dev libbenchmark-dev help2man libmpfr-dev python3
     g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
     clang-format clang-tidy xvfb imagemagick fonts-wine wine wine64 clang libclang-rt-14-dev ffmpeg chromium
     lv2-dev liblilv-dev ladspa-sdk lilv-utils serdi sox liquidsoap icecast2 nsis lintian dpkg-dev
     pipewire pipewire-bin pipewire-jack jalv python3-jack-client dbus systemd)

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
want=("${tool[@]}")
i386=0
if [ "${1:-}" != --tool ]; then
  want+=("${all[@]}")
  # wine32 is installed on every machine, also where the kernel cannot
  # execute it: the i686 tests then report themselves skipped.
  dpkg --print-foreign-architectures | grep -qx i386 || i386=1
  have_pkg wine32:i386 || need+=(wine32:i386)
fi
for p in "${want[@]}"; do
  have_pkg "$p" || need+=("$p")
done

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
