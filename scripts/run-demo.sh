#!/usr/bin/env bash
# The main job: builds the native tool, makes a demo programme of
# our own (quiet speech, a pause, a loud band with kick, bass and hi-hats,
# quiet treble, another pause, a loud bass-heavy end), processes it with the
# default process and prints the loudness summary. Leaves the programme, the
# processed file and the loudness/AGC plot in build/demo/demo/. Installs and
# builds only what the tool needs: no tests, no plug-ins, no Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --tool
jobs="${QUORVANE_JOBS:-$(nproc)}"
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$jobs"

demo=build/demo/demo
mkdir -p "$demo"
# A settings folder of its own that holds no process: the built-in default
# process plays, whatever the user keeps in ~/.config/quorvane.
rm -rf "$demo/settings"
mkdir -p "$demo/settings"
build/demo/quorvane_demo_signal "$demo/programme.wav"
build/demo/quorvane process "$demo/programme.wav" "$demo/processed.wav" \
  --settings-dir "$demo/settings" --plot "$demo/loudness.svg"
echo "demo: input $demo/programme.wav, output $demo/processed.wav, plot $demo/loudness.svg" >&2
