#!/usr/bin/env bash
# Fails when a source folder includes a header of a folder that is not below
# it (or itself). The floors, lowest first: dsp/ and platform/, settings/,
# chain/, engine/; above the engine panel/ (and host/ above it, the player's
# module and the only front end that includes panel/), control/ (the browser
# control), and the front ends cli/ and plugins/, which stand on the engine
# and the control, never on panel/ or host/.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [dsp]="dsp"
  [platform]="platform"
  [settings]="settings dsp platform"
  [chain]="chain settings dsp platform"
  [engine]="engine chain settings dsp platform"
  [panel]="panel engine chain settings dsp platform"
  [host]="host panel engine chain settings dsp platform"
  [control]="control engine chain settings dsp platform"
  [cli]="cli control engine chain settings dsp platform"
  [plugins]="plugins control engine chain settings dsp platform"
)

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  pattern="$(tr ' ' '|' <<<"${allowed[$folder]}")"
  # Project headers are included by their path from the root: "folder/name.h".
  if bad="$(grep -rnE --include='*.h' --include='*.cpp' --include='*.c' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_0-9]+/' "$folder" |
            grep -vE "#[[:space:]]*include[[:space:]]*\"(${pattern})/")"; then
    echo "$folder/ may include only ${allowed[$folder]}:" >&2
    echo "$bad" >&2
    status=1
  fi
done
# Inside the tool the commands stand on the rooms (audio, report, presets),
# never the other way round.
if bad="$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"cli/[a-z_0-9]+\.h"' cli/*/)"; then
  echo "the rooms of cli/ may not include the commands above them:" >&2
  echo "$bad" >&2
  status=1
fi
[ $status -eq 0 ] && echo "every include points down"
exit $status
