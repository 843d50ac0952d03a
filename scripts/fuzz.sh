#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/, or BUILD_DIR, which
# may be a build of the tests configured with -DWEX_FUZZ=ON) and
# runs each for FUZZ_SECONDS (default 60), with at most 10 s per input, from its seed corpus in
# fuzz/corpus/<target>/. Inputs found along the way go to a scratch folder;
# a crash leaves its input in fuzz-artifacts/ and fails the script.
# Usage: scripts/fuzz.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_read_proc fuzz_message_value fuzz_composition_file fuzz_hex_reader
  fuzz_midi_file fuzz_session_command fuzz_osc_packet)

if ! grep -qs '^WEX_FUZZ:BOOL=ON' "$dir/CMakeCache.txt"; then
  launcher=()
  if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEX_WERROR=ON \
    -DWEX_FUZZ=ON -DWEX_TESTS=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p fuzz-artifacts
status=0
for target in "${targets[@]}"; do
  echo "== $target for ${seconds}s"
  mkdir -p "$scratch/$target"
  # Compositions up to 1 MiB, so that deep nesting and slow loading show.
  options=(-timeout=10)
  [ "$target" = fuzz_composition_file ] && options+=(-max_len=1048576)
  if ! "$dir/fuzz/$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="fuzz-artifacts/$target-" "$scratch/$target" "fuzz/corpus/$target"; then
    echo "== $target failed: see fuzz-artifacts/" >&2
    status=1
  fi
done
exit $status
