#!/usr/bin/env bash
# Installs what is missing, builds wexmidi and decodes the example MIDI bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
echo "== wexmidi decode < examples/sysex-and-notes.hex"
build/wexmidi decode < examples/sysex-and-notes.hex
echo "== wexmidi encode 9452644 126,127,6,1"
build/wexmidi encode 9452644 126,127,6,1
