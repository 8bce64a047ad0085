#!/usr/bin/env bash
# Builds the release into build/release: the Windows installer
# quorvane-VERSION-setup.exe and the Debian package quorvane_VERSION-1_ARCH.deb,
# both from this tree and with the version in VERSION. Builds only what they
# ship (the native tool, plug-ins, manual page and factory processes; the DLL).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs="${QUORVANE_JOBS:-$(nproc)}"
version="$(head -n 1 VERSION)"

cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target quorvane quorvane_man quorvane_factory_files quorvane_ladspa quorvane_lv2
tool_version="$(build/native/quorvane --version)"
if [ "$tool_version" != "quorvane $version" ]; then
  echo "release: the tool says \"$tool_version\", VERSION says $version" >&2
  exit 1
fi
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target quorvane_installer

mkdir -p build/release
installer="build/release/quorvane-$version-setup.exe"
cp "build/windows/quorvane-$version-setup.exe" "$installer"
deb="$(bash scripts/make-deb.sh build/native build/release)"
ls -l "$installer" "$deb" | awk '{print $5, $NF}'
