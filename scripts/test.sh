#!/usr/bin/env bash
# Installs what is missing, builds wexmidi and runs every test; the JACK tests
# last, where they can run safely, on jackd and then on PipeWire's JACK
# (scripts/jack-tests.sh and scripts/pipewire-tests.sh say which ran).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j2 -E 'Jack'
bash scripts/jack-tests.sh build
bash scripts/pipewire-tests.sh build
