#!/usr/bin/env bash
# Runs a test command that executes 32-bit x86 programs (the i686 DLL's
# hosts under Wine, the installer), or reports the test skipped with the
# reason and exit status 77, CTest's SKIP_RETURN_CODE for these tests.
# QUORVANE_NO_I386=1 takes the skipping path on any machine (with
# QUORVANE_NO_I386_REASON, if set, as the reason); QUORVANE_NO_I386=0 runs
# the command; unset, scripts/i386-probe.sh decides.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
case "${QUORVANE_NO_I386:-}" in
  1) echo "SKIPPED: ${QUORVANE_NO_I386_REASON:-QUORVANE_NO_I386=1 forces the path of a machine that cannot execute i386 programs}"
     exit 77 ;;
  0) ;;
  *) if ! reason="$(bash "$here/i386-probe.sh")"; then
       echo "SKIPPED: $reason"
       exit 77
     fi ;;
esac
exec "$@"
