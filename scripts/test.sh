#!/usr/bin/env bash
# Installs what is missing, builds wexmidi and runs every test; the JACK tests
# last, where they can run safely (scripts/jack-tests.sh says which ran).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j2 -E 'Jack'
bash scripts/jack-tests.sh build
