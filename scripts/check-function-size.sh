#!/usr/bin/env bash
# Fails when a function of cli/, control/ or plugins/ is longer than 80
# lines: Debian's clang-tidy 14 with the one check of .clang-tidy
# (readability-function-size), over those folders' sources as the native
# build compiles them (BUILD/compile_commands.json; default build/native).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${1:-build/native}"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "no $build/compile_commands.json: configure the native preset first" >&2
  exit 1
fi
folders="^$root/(cli|control|plugins)/"
# GCC's link-time optimisation flags mean nothing to clang.
status=0
out="$(run-clang-tidy -p "$build" -quiet -j "$(nproc)" -extra-arg=-Wno-ignored-optimization-argument \
         -header-filter="$folders" "$folders.*\.cpp\$" 2>&1)" || status=$?
# run-clang-tidy asks for colours; the log keeps plain text.
out="$(sed 's/\x1b\[[0-9;]*m//g' <<<"$out")"
grep -E '(error|warning|note): ' <<<"$out" || true
if [ $status -ne 0 ]; then
  echo "a function of cli/, control/ or plugins/ is longer than 80 lines (or clang-tidy failed; see above)" >&2
  exit 1
fi
echo "$(grep -c '^clang-tidy' <<<"$out") files: every function of cli/, control/ and plugins/ within 80 lines"
