#!/usr/bin/env bash
# Installs what is missing, builds wexmidi, then plays the example MIDI file
# into the example composition (a receiver feeding the CC and the note
# distributor) and prints the distributors' outputs as they change.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
wexmidi="${BUILD_DIR:-build}/wexmidi"
echo "== wexmidi run examples/distributors.wexcomp.json --play examples/distributors-demo.mid"
"$wexmidi" --midi embedded run examples/distributors.wexcomp.json \
  --play examples/distributors-demo.mid --watch "cc.*" --watch "notes.*"
echo "== wexmidi decode < examples/sysex-and-notes.hex"
"$wexmidi" decode < examples/sysex-and-notes.hex
echo "== wexmidi encode 9452644 126,127,6,1"
"$wexmidi" encode 9452644 126,127,6,1
