#!/usr/bin/env bash
# Builds wexmidi in build/ (or in the folder given as BUILD_DIR), with extra
# CMake arguments passed through. Compilations go through ccache where it is
# installed, keyed on paths relative to the checkout, so that a second clone
# on the same machine reuses what the first compiled.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DWEX_WERROR=ON \
  "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
