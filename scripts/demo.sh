#!/usr/bin/env bash
# Installs what is missing, builds wexmidi and decodes the example MIDI bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
wexmidi="${BUILD_DIR:-build}/wexmidi"
echo "== wexmidi decode < examples/sysex-and-notes.hex"
"$wexmidi" decode < examples/sysex-and-notes.hex
echo "== wexmidi encode 9452644 126,127,6,1"
"$wexmidi" encode 9452644 126,127,6,1
