#!/usr/bin/env bash
# The main job: builds the native tool, makes a demo programme of
# our own (quiet speech, a pause, a loud band with kick, bass and hi-hats,
# quiet treble, another pause, a loud bass-heavy end), processes it with the
# default process and prints the loudness summary. Leaves the programme, the
# processed file and the loudness/AGC plot in build/native/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs="${QUORVANE_JOBS:-$(nproc)}"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target quorvane quorvane_demo_signal

demo=build/native/demo
mkdir -p "$demo"
# A settings folder of its own that holds no process: the built-in default
# process plays, whatever the user keeps in ~/.config/quorvane.
rm -rf "$demo/settings"
mkdir -p "$demo/settings"
build/native/quorvane_demo_signal "$demo/programme.wav"
build/native/quorvane process "$demo/programme.wav" "$demo/processed.wav" \
  --settings-dir "$demo/settings" --plot "$demo/loudness.svg"
echo "demo: input $demo/programme.wav, output $demo/processed.wav, plot $demo/loudness.svg" >&2
