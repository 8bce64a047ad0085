#!/usr/bin/env bash
# Builds the native, asan, tsan, windows (i686) and windows64 presets and runs
# every test, the Wine ones included, and runs each fuzz target for half a
# minute (the fuzz preset); then makes the release artifacts and tests the
# Debian package (installed and purged only when CI=true). Installs what is
# missing first. Ends with one line per suite: ran and passed, failed, or
# skipped and why.
#
# Whether this machine executes 32-bit x86 programs is found out once here.
# Where it does not (or with QUORVANE_NO_I386=1), the i686 tests that execute
# a Windows program are reported skipped with the reason; the i686 build and
# its static checks still run, and the windows64 suite tests the Win32
# runtime under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs="${QUORVANE_JOBS:-$(nproc)}"
if [ "${QUORVANE_NO_I386:-}" = 1 ]; then
  export QUORVANE_NO_I386_REASON="${QUORVANE_NO_I386_REASON:-QUORVANE_NO_I386=1 forces the path of a machine that cannot execute i386 programs}"
elif reason="$(bash scripts/i386-probe.sh)"; then
  export QUORVANE_NO_I386=0
else
  export QUORVANE_NO_I386=1 QUORVANE_NO_I386_REASON="$reason"
fi
echo "=== i386 programs: $([ "$QUORVANE_NO_I386" = 0 ] && echo "this machine executes them" || echo "not executed: $QUORVANE_NO_I386_REASON")" >&2

results="$(pwd)/build/test-results"
rm -rf "$results"
mkdir -p "$results"
status=0
declare -A built
summary=()

for preset in native asan tsan windows windows64 fuzz; do
  echo "=== $preset: configure and build" >&2
  started=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  built[$preset]=$((SECONDS - started))
done

echo "=== fuzz: run" >&2
started=$SECONDS
if bash scripts/run-fuzz.sh; then
  summary+=("fuzz: ran and passed (each target for ${QUORVANE_FUZZ_SECONDS:-30} s; build ${built[fuzz]} s, run $((SECONDS - started)) s)")
else
  status=1
  summary+=("fuzz: FAILED (see above)")
fi

for preset in native asan tsan windows windows64; do
  echo "=== $preset: tests" >&2
  started=$SECONDS
  rc=0
  ctest --preset "$preset" -j "$jobs" --output-junit "$results/$preset.xml" || rc=$?
  line="$(python3 scripts/ctest-summary.py "$results/$preset.xml")"
  [ $rc -eq 0 ] || { status=1; line="FAILED: $line"; }
  summary+=("$preset: $line (build ${built[$preset]} s, tests $((SECONDS - started)) s)")
done

echo "=== release: artifacts and the Debian package" >&2
started=$SECONDS
if bash scripts/test-release.sh; then
  summary+=("release: ran and passed$([ "${CI:-}" = true ] || echo " (the package not installed: CI is not true)") ($((SECONDS - started)) s)")
else
  status=1
  summary+=("release: FAILED ($((SECONDS - started)) s)")
fi

echo "=== summary" >&2
printf '%s\n' "${summary[@]}" >&2
exit $status
