#!/usr/bin/env bash
# A station's weeks in minutes: plays programme-like material through
# `quorvane stream --control` as fast as the machine allows for HOURS of
# simulated time (default 24), with a page's meter stream open, a SIGHUP
# reload every simulated hour and a Save every simulated day, and prints one
# line per simulated hour: output in range, level, the stream's resident
# memory, open file descriptors and threads. Not part of CI; needs the native
# build (scripts/test-all.sh or cmake --build --preset native).
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tests/soak/soak.py --hours "${1:-24}" --tool build/native/quorvane \
  --programme-tool build/native/quorvane_demo_signal "${@:2}"
