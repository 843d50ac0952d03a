#!/usr/bin/env bash
# The MIDI round trip through `wexmidi run examples/thru.wexcomp.json` beside
# the round trip through wexmidi_thru_reference, the least a JACK MIDI thru can
# do, and through wexmidi_thru_handover, the least one can do that hands each
# message through a reader and an evaluation thread as wexmidi does, measured
# by jack_midi_latency_test (Debian package jackd2) on JACK servers of our own:
# dummy driver, synchronous mode, 48000 Hz, one server per period size. Prints
# the test's figures for the three loops, the messages lost and the
# differences.
#
#   bash bench/jack-latency.sh [BUILD_DIR]      (default: build-bench)
#
# The build directory needs the targets wexmidi, wexmidi_thru_reference and
# wexmidi_thru_handover (-DWEX_BENCH=ON -DWEX_JACK=ON). Settings from the
# environment:
#   PERIODS="128 64"     period sizes in frames, one server each
#   MESSAGES=1024        messages per loop
#   SERVER_PREFIX=...    servers are named PREFIX<period> (default wexmidi-latency-<pid>-)
#   REALTIME=auto|yes|no realtime scheduling for the server (auto: when the
#                        machine grants it)
#   BUSY=N               N busy processes (endless shell loops, ordinary
#                        scheduling) run beside both loops while they are
#                        measured (default 0)
#   WEXMIDI_RT_PRIORITY=N  run the whole of wexmidi under `chrt -f N` (not
#                        needed on a realtime server: wexmidi then raises its
#                        reader and evaluation threads by itself)
#   WEXMIDI_CPUS=LIST    run wexmidi under `taskset -c LIST`, all its threads
#                        on those CPUs (e.g. 1)
#   HANDOVER_ANY_CPU=1   let wexmidi_thru_handover's threads run on any CPU
#   KEEP_LOGS=1          keep the directory of logs and print where it is
#   FORCE=1              run even though another JACK server of yours runs
#
# Everything the script starts is stopped by its process id when it ends,
# whatever ends it.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
[[ "$build" = /* ]] || build="$PWD/$build"
periods="${PERIODS:-128 64}"
messages="${MESSAGES:-1024}"
prefix="${SERVER_PREFIX:-wexmidi-latency-$$-}"
realtime="${REALTIME:-auto}"
busy="${BUSY:-0}"
rate=48000
composition="$root/examples/thru.wexcomp.json"
wexmidi="$build/wexmidi"
reference="$build/bench/wexmidi_thru_reference"
handover="$build/bench/wexmidi_thru_handover"
# Its JACK client is named after the command as typed: run it by this name.
latency_test=jack_midi_latency_test

fail() {
  echo "jack-latency: $*" >&2
  exit 1
}
[[ -x "$wexmidi" ]] || fail "no $wexmidi (build the target wexmidi in $build)"
[[ -x "$reference" ]] || fail "no $reference (configure with -DWEX_BENCH=ON -DWEX_JACK=ON)"
[[ -x "$handover" ]] || fail "no $handover (configure with -DWEX_BENCH=ON -DWEX_JACK=ON)"
command -v "$latency_test" >/dev/null || fail "jack_midi_latency_test is missing (apt-get install jackd2)"
command -v jackd >/dev/null || fail "jackd is missing (apt-get install jackd2)"
# Every JACK server of a user shares one metadata database, and a server that
# starts resets it under the clients of any other: do not disturb a session.
if pgrep -u "$(id -u)" -x jackd >/dev/null && [[ "${FORCE:-0}" != 1 ]]; then
  fail "another JACK server of yours runs; stop it first (or set FORCE=1 to go on anyway)"
fi

logs="$(mktemp -d "${TMPDIR:-/tmp}/wexmidi-latency.XXXXXX")"
started=()  # process ids, in the order started

# Stops one process we started: politely, then for good.
stop_pid() {
  local pid="$1"
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  # Generous: a JACK client killed outright may leave the server's metadata
  # database locked for every later client.
  for _ in $(seq 150); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

# Clients before their server: the newest first.
stop_all() {
  local i
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do stop_pid "${started[i]}"; done
  started=()
}

cleanup() {
  stop_all
  if [[ "${KEEP_LOGS:-0}" = 1 ]]; then
    echo "logs: $logs"
  else
    rm -rf "$logs"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a command in the background and records its process id in $last_pid.
start() {
  local log="$1"
  shift
  "$@" >"$log" 2>&1 &
  last_pid=$!
  started+=("$last_pid")
}

jack_ok() { timeout 5 jack_lsp "$@" 2>/dev/null; }

# Waits until a port exists.
wait_port() {
  local port="$1"
  for _ in $(seq 100); do
    grep -qxF "$port" <<<"$(jack_ok)" && return 0
    sleep 0.1
  done
  return 1
}

# True when the port has at least one connection.
connected() {
  grep -q '^ ' <<<"$(jack_ok -c "$1")"
}

wait_connected() {
  for _ in $(seq 100); do
    connected "$1" && return 0
    sleep 0.1
  done
  return 1
}

use_realtime() {
  case "$realtime" in
    yes) return 0 ;;
    no) return 1 ;;
    *) chrt -f 1 true 2>/dev/null ;;
  esac
}

# A figure of the test's report, "2.86 ms (128.00 frames)" from the line
# "Average latency: 2.86 ms (128.00 frames)".
figure() {
  local label="$1" file="$2"
  sed -n "s/^$label: //p" "$file" | head -n1
}

number() {
  local label="$1" file="$2"
  sed -n "s/^$label: \([0-9][0-9]*\).*/\1/p" "$file" | head -n1
}

# Messages of a report later than `limit` ms, from the test's latency plot
# (lines "5.4 - 5.5 ms: 17" in 0.1 ms steps): only steps wholly above the
# limit count, so a message up to 0.1 ms past it may go uncounted.
late_count() {
  local file="$1" limit="$2"
  awk -v limit="$limit" '/^Latency Plot:/ { plot = 1; next }
    plot && /^[0-9.]+ - [0-9.]+ ms: [0-9]+$/ { if ($1 + 0 >= limit) late += $5; next }
    plot { plot = 0 }
    END { print late + 0 }' "$file"
}

frames_of() {
  sed -n 's/.*(\([0-9.]*\) frames).*/\1/p' <<<"$1"
}

# Runs the latency test to completion; its client must get both ports
# connected (by its arguments or by others) within its timeout.
run_latency_test() {
  local log="$1"
  shift
  start "$log" timeout 600 stdbuf -oL "$latency_test" -s "$messages" "$@"
  local pid=$last_pid
  wait "$pid" 2>/dev/null
}

# The loop through the reference: the test connects to it by its arguments.
measure_reference() {
  local out="$1"
  start "$logs/reference-$period.log" "$reference" wexmidi_thru_reference
  local pid=$last_pid
  wait_port wexmidi_thru_reference:out || fail "the reference client did not start"
  run_latency_test "$out" wexmidi_thru_reference:in wexmidi_thru_reference:out
  stop_pid "$pid"
}

measure_handover() {
  local out="$1" options=()
  [[ "${HANDOVER_ANY_CPU:-0}" = 1 ]] && options=(--any-cpu)
  start "$logs/handover-$period.log" "$handover" "${options[@]}" wexmidi_thru_handover
  local pid=$last_pid
  wait_port wexmidi_thru_handover:out || fail "the hand-over client did not start"
  run_latency_test "$out" wexmidi_thru_handover:in wexmidi_thru_handover:out
  stop_pid "$pid"
}

# The loop through wexmidi. Its receiver connects to every source present
# when the composition loads and its sender to every destination, the sender
# only when it first sends, and both connect again by themselves to an
# endpoint that comes back under the same name. So: a first, short test
# opens the way (its input fed by a silent stand-in until wexmidi's sender
# has sent once), then the measured test finds both connections made for it,
# with no first send paying for the connection.
measure_wexmidi() {
  local out="$1"
  start "$logs/warmup-test-$period.log" timeout 120 "$latency_test" -s 16
  local warmup=$last_pid
  wait_port jack_midi_latency_test:out || fail "the latency test did not start"

  local wrapper=()
  [[ -n "${WEXMIDI_RT_PRIORITY:-}" ]] && wrapper=(chrt -f "$WEXMIDI_RT_PRIORITY")
  [[ -n "${WEXMIDI_CPUS:-}" ]] && wrapper=(taskset -c "$WEXMIDI_CPUS" "${wrapper[@]}")
  start "$logs/wexmidi-$period.log" "${wrapper[@]}" "$wexmidi" --midi jack run "$composition"
  local wexmidi_pid=$last_pid
  wait_connected jack_midi_latency_test:out || fail "wexmidi did not connect to the test"

  # Silent: its input is connected to nothing. Started after wexmidi, whose
  # sender therefore does not know it.
  start "$logs/standin-$period.log" "$reference" wexmidi_latency_standin
  local standin=$last_pid
  wait_port wexmidi_latency_standin:out || fail "the stand-in did not start"
  timeout 5 jack_connect wexmidi_latency_standin:out jack_midi_latency_test:in \
    >>"$logs/standin-$period.log" 2>&1 ||
    fail "cannot connect the stand-in"
  wait "$warmup" 2>/dev/null
  stop_pid "$standin"

  run_latency_test "$out"
  stop_pid "$wexmidi_pid"
  grep -v '^$' "$logs/wexmidi-$period.log" | sed 's/^/  wexmidi: /' >&2
}

busy_pids=()
start_busy() {
  local i
  for ((i = 0; i < busy; i++)); do
    start "$logs/busy-$i.log" bash -c 'while :; do :; done'
    busy_pids+=("$last_pid")
  done
}
stop_busy() {
  local pid
  for pid in "${busy_pids[@]}"; do stop_pid "$pid"; done
  busy_pids=()
}

summary=()

for period in $periods; do
  server="$prefix$period"
  export JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1
  rt_option=--no-realtime
  use_realtime && rt_option=--realtime
  echo "== period $period frames ($(awk "BEGIN{printf \"%.3f\", $period*1000/$rate}") ms)," \
    "server $server, $rt_option, $busy busy processes"
  jack_ok >/dev/null && fail "a JACK server named $server runs already"
  start "$logs/jackd-$period.log" jackd -n "$server" "$rt_option" -S -d dummy -r "$rate" -p "$period"
  jackd_pid=$last_pid
  for _ in $(seq 50); do
    jack_ok >/dev/null && break
    sleep 0.2
  done
  if ! kill -0 "$jackd_pid" 2>/dev/null || ! jack_ok >/dev/null; then
    cat "$logs/jackd-$period.log" >&2
    fail "jackd did not start"
  fi

  start_busy
  measure_reference "$logs/latency-reference-$period.txt"
  measure_handover "$logs/latency-handover-$period.txt"
  measure_wexmidi "$logs/latency-wexmidi-$period.txt"
  stop_busy
  stop_pid "$jackd_pid"
  started=()

  for loop in reference handover wexmidi; do
    report="$logs/latency-$loop-$period.txt"
    sent="$(number 'Messages sent' "$report")"
    received="$(number 'Messages received' "$report")"
    unexpected="$(number 'Unexpected messages received' "$report")"
    echo "-- $loop"
    for label in 'Average latency' 'Lowest latency' 'Highest latency' 'Peak MIDI jitter' \
      'Average MIDI jitter'; do
      printf '  %-20s %s\n' "$label:" "$(figure "$label" "$report")"
    done
    printf '  %-20s %s of %s sent (%s lost)' "Messages received:" "${received:-?}" \
      "${sent:-?}" "$((messages - ${received:-0}))"
    [[ -n "$unexpected" ]] && printf ', %s unexpected' "$unexpected"
    xruns="$(number 'Xruns' "$report")"
    printf ', xruns %s\n' "${xruns:-0}"
    declare "avg_$loop=$(frames_of "$(figure 'Average latency' "$report")")"
    declare "max_$loop=$(frames_of "$(figure 'Highest latency' "$report")")"
    declare "min_$loop=$(frames_of "$(figure 'Lowest latency' "$report")")"
    declare "lost_$loop=$((messages - ${received:-0}))"
  done
  # Later than the reference's highest latency plus one period.
  late_limit="$(awk -v m="${max_reference:-0}" -v p="$period" -v r="$rate" \
    'BEGIN { printf "%.4f", (m + p) * 1000 / r }')"
  late_handover="$(late_count "$logs/latency-handover-$period.txt" "$late_limit")"
  late_wexmidi="$(late_count "$logs/latency-wexmidi-$period.txt" "$late_limit")"
  echo "  messages more than one period later than the reference's highest" \
    "(over $late_limit ms): hand-over $late_handover, wexmidi $late_wexmidi of $messages"
  verdict="$(awk -v p="$period" -v a="${avg_wexmidi:-inf}" -v b="${avg_reference:-0}" \
    -v c="${max_wexmidi:-inf}" -v d="${max_reference:-0}" -v lost="$lost_wexmidi" 'BEGIN {
      da = a - b; dm = c - d;
      printf "difference wexmidi - reference: average %+.2f frames (%+.3f ms), highest %+d frames (%+.3f ms); ",
        da, da * 1000 / 48000, dm, dm * 1000 / 48000;
      ok = (da <= p && dm <= p && lost == 0);
      printf "%s (at most one period, %d frames, longer and nothing lost)", ok ? "MET" : "MISSED", p }')"
  echo "  $verdict"
  summary+=("period $period, $busy busy: reference avg ${avg_reference:-?} min ${min_reference:-?} max ${max_reference:-?} frames, lost ${lost_reference}; hand-over avg ${avg_handover:-?} max ${max_handover:-?} frames, lost ${lost_handover}, more than a period late ${late_handover}; wexmidi avg ${avg_wexmidi:-?} min ${min_wexmidi:-?} max ${max_wexmidi:-?} frames, lost ${lost_wexmidi}, more than a period late ${late_wexmidi}")
done

echo "== summary"
printf '  %s\n' "${summary[@]}"
