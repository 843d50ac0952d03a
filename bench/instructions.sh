#!/usr/bin/env bash
# Instructions per message of each side-by-side benchmark, counted by
# callgrind, which a busy machine does not disturb: runs
# `wexmidi_bench --instructions` (each pass five times after one warm-up) and
# prints the counts and the ratios of the comparisons that BenchMain.cpp times.
#   bench/instructions.sh [BUILD_DIR [PASS]]   (default build-bench, with
#   -DWEX_BENCH=ON; PASS, e.g. Output, counts only the passes of that name)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
command -v valgrind >/dev/null || { echo "valgrind is needed (scripts/install-deps.sh)" >&2; exit 1; }
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=yes --callgrind-out-file="$out/cg" \
  "$build/bench/wexmidi_bench" "--instructions${2:+=$2}" >"$out/messages" 2>"$out/log"
declare -A ir
for dump in "$out"/cg.*; do
  name=$(sed -n 's/^desc: Trigger: Client Request: //p' "$dump")
  [ -n "$name" ] || continue
  ir[$name]=$(sed -n 's/^summary: //p;s/^totals: //p' "$dump" | head -1)
done
declare -A perMessage
printf '%-24s %14s %10s %10s\n' "pass" "instructions" "messages" "instr/msg"
while read -r name messages; do
  perMessage[$name]=$(awk -v i="${ir[$name]:-0}" -v m="$messages" 'BEGIN{printf "%.1f", i/m}')
  printf '%-24s %14s %10s %10s\n' "$name" "${ir[$name]:-?}" "$messages" "${perMessage[$name]}"
done <"$out/messages"
echo
printf '%-24s %-24s %8s\n' "instructions of" "against" "ratio"
while read -r subject reference; do
  [ -n "${perMessage[$subject]:-}" ] && [ -n "${perMessage[$reference]:-}" ] || continue
  printf '%-24s %-24s %8s\n' "$subject" "$reference" \
    "$(awk -v a="${perMessage[$subject]}" -v b="${perMessage[$reference]}" 'BEGIN{printf "%.2f", a/b}')"
done <<'PAIRS'
Parse/Mixed/Project Parse/Mixed/ALSA
Parse/NoSysex/Project Parse/NoSysex/ALSA
Parse/Sysex/Project Parse/Sysex/ALSA
Parse/Single/Project Parse/Single/ALSA
Parse/Mixed/Project Parse/Mixed/Minimal
Parse/NoSysex/Project Parse/NoSysex/Minimal
Parse/Sysex/Project Parse/Sysex/Minimal
Parse/Single/Project Parse/Single/Minimal
Output/NoSysex/Project Output/NoSysex/ALSA
Decode/Mixed/Project Decode/Mixed/Minimal
PAIRS
