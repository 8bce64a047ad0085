#!/usr/bin/env bash
# Builds the native, asan, tsan and windows presets and runs every test, the
# Wine ones included, and runs each fuzz target for half a minute (the fuzz
# preset); then makes the release artifacts and tests the Debian package
# (installed and purged only when CI=true). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs="${QUORVANE_JOBS:-$(nproc)}"
status=0
for preset in native asan tsan windows; do
  echo "=== $preset: configure and build" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
echo "=== fuzz: build and run" >&2
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/run-fuzz.sh || status=1
for preset in native asan tsan windows; do
  echo "=== $preset: tests" >&2
  ctest --preset "$preset" -j "$jobs" || status=1
done
echo "=== release: artifacts and the Debian package" >&2
bash scripts/test-release.sh || status=1
exit $status
