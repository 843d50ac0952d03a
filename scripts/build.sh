#!/usr/bin/env bash
# Builds wexmidi in build/ (or in the folder given as BUILD_DIR), with extra
# CMake arguments passed through.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DWEX_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
