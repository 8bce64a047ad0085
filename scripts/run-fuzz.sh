#!/usr/bin/env bash
# Runs each libFuzzer target of the `fuzz` preset for a bounded time
# (QUORVANE_FUZZ_SECONDS each, default 30) from its corpus in the tree,
# and fails when any of them finds a crash, a leak or a hang. Inputs it
# finds go to build/fuzz/corpus/<name>, never into the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${QUORVANE_FUZZ_SECONDS:-30}"
status=0
for name in wav_stream startup; do
  exe="build/fuzz/fuzz/quorvane_fuzz_$name"
  found="build/fuzz/corpus/$name"
  artifacts="build/fuzz/artifacts/$name/"
  mkdir -p "$found" "$artifacts"
  echo "=== fuzz $name: $seconds s" >&2
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts" "$found" "fuzz/corpus/$name" 2>"build/fuzz/$name.log"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzz/$name.log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "build/fuzz/$name.log")
    corpus=$(ls "$found" "fuzz/corpus/$name" | grep -vc ':$\|^$' || true)
    echo "fuzz $name: ok, $runs runs, $speed exec/s, corpus $corpus inputs" >&2
  else
    echo "fuzz $name: FAILED (see build/fuzz/$name.log and $artifacts)" >&2
    tail -40 "build/fuzz/$name.log" >&2
    status=1
  fi
done
exit $status
