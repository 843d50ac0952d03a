#!/usr/bin/env bash
# MIDI across machines over netJACK2, on one machine: a master JACK server
# with the netmanager and a slave JACK server with the net backend, each in a
# mount namespace of its own (own /dev/shm), both in a private network
# namespace with only the loopback interface up, so no packet leaves the
# machine. wexmidi runs a thru composition on the slave, between the net
# backend's MIDI capture and playback ports; on the master jack_midiseq feeds
# it and jack_midi_dump receives it. Then jack_midi_latency_test on the master
# measures the MIDI round trip: through the network and wexmidi on the slave,
# through the network and a plain connection on the slave, and on the master
# alone through wexmidi (and through wexmidi_thru_reference, when the build
# has it: -DWEX_BENCH=ON). Every loop must bring all its messages back; the
# figures end the output.
#
#   BUILD_DIR=build bash scripts/netjack-test.sh     (as root; run it alone)
#
# NETJACK_PERIOD (frames, default 1024) and NETJACK_MESSAGES (per loop,
# default 200) change the settings. A netJACK2 link loses what a missed cycle
# carried, and jack_midi_latency_test stops at the first message lost: on a
# machine busy with other work, short periods lose messages (at 128 frames,
# thousands of xruns without realtime scheduling and a few dozen with it).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(cd "${BUILD_DIR:-build}" && pwd)"
WORK="${NETJACK_WORK_DIR:-$BUILD_DIR/netjack}"
PORT=19111
PERIOD="${NETJACK_PERIOD:-1024}"
MESSAGES="${NETJACK_MESSAGES:-200}"
REFERENCE="$BUILD_DIR/bench/wexmidi_thru_reference"
export JACK_NO_START_SERVER=1
# Realtime scheduling where the machine grants it: on a busy machine the
# servers and their clients then still finish their cycles in time.
if chrt -f 10 true 2>/dev/null; then REALTIME=(--realtime); else REALTIME=(--no-realtime); fi

fail() {
  echo "netJACK2 test: $*" >&2
  exit 1
}
ports() { timeout 5 jack_lsp "$@" 2>/dev/null; }
# Waits until the command succeeds, for at most $2 seconds (default 30).
wait_for() {
  for _ in $(seq $((${2:-30} * 5))); do
    eval "$1" && return 0
    sleep 0.2
  done
  return 1
}
private_shm() { mount -t tmpfs tmpfs /dev/shm; }
stop_pid() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

# One loop measured: the test's output goes to the port $2 and its input
# comes from $3; without them, others connect it.
measure() {
  local name="$1"
  shift
  timeout 600 jack_midi_latency_test -t 10 -s "$MESSAGES" "$@" >"$WORK/latency-$name.txt" 2>&1 || true
}

# The loop on the master alone through wexmidi. Its receiver connects to the
# sources present when the composition loads, its sender to a destination
# when it first sends, and both again to an endpoint that comes back under
# the same name. So jack_midiseq's notes make the sender connect to a first
# latency test, which is then replaced by the measured one.
measure_wexmidi_on_master() {
  jack_midi_latency_test -t 10 -s 16 >"$WORK/warmup.txt" 2>&1 &
  local warmup=$!
  jack_midiseq seq 4800 0 62 1000 >/dev/null 2>&1 &
  local seq=$!
  wait_for 'ports | grep -qx jack_midi_latency_test:out && ports | grep -qx seq:out' ||
    fail "the latency test or jack_midiseq did not start"
  "$BUILD_DIR/wexmidi" --midi jack run examples/thru.wexcomp.json >"$WORK/wexmidi-master.log" 2>&1 &
  local wexmidi=$!
  wait_for 'ports -c jack_midi_latency_test:in | grep -q "^ "' || fail "wexmidi did not connect"
  stop_pid "$seq"
  stop_pid "$warmup"
  measure one-server-wexmidi
  stop_pid "$wexmidi"
}

# "name: average, lowest and highest round trip, messages back"
summary() {
  local file="$WORK/latency-$1.txt"
  awk -v name="$1" '
    /^Average latency:/ { average = $3 " ms (" substr($5, 2) " frames)" }
    /^Lowest latency:/ { lowest = $3 }
    /^Highest latency:/ { highest = $3 }
    /^Messages sent:/ { sent = $3 }
    /^Messages received:/ { received = $3 }
    /^Xruns:/ { xruns = ", " $2 " xruns" }
    END {
      printf "%-22s average %s, lowest %s ms, highest %s ms, %d of %d back%s\n",
        name, average, lowest, highest, received, sent, xruns
    }' "$file"
}

master() {
  private_shm
  jackd -n default "${REALTIME[@]}" -d dummy -r 48000 -p "$PERIOD" >"$WORK/master-jackd.log" 2>&1 &
  local jackd=$!
  trap "kill $jackd 2>/dev/null || true" EXIT
  wait_for 'ports >/dev/null' || fail "the master did not start"
  # Unicast on loopback; the multicast join fails harmlessly here.
  jack_load netmanager -i "-a 127.0.0.1 -p $PORT" >"$WORK/netmanager.log" 2>&1
  touch "$WORK/master.ready"
  wait_for '[ -e "$WORK/thru.ready" ]' 60 || fail "the slave and wexmidi did not come up"
  wait_for 'ports | grep -qx peer:midi_from_slave_1' || fail "no slave on the master"

  jack_midi_dump dump >"$WORK/dump.txt" 2>&1 &
  local dump=$!
  jack_midiseq seq 4800 0 62 1000 >"$WORK/seq.log" 2>&1 &
  local seq=$!
  wait_for 'ports | grep -qx dump:input && ports | grep -qx seq:out' || fail "no seq or dump"
  jack_connect peer:midi_from_slave_1 dump:input
  jack_connect seq:out peer:midi_to_slave_1
  wait_for 'grep -qiE "90 3e 40" "$WORK/dump.txt"' || true
  stop_pid "$seq"
  sleep 0.5
  stop_pid "$dump"
  grep -qiE "90 3e 40" "$WORK/dump.txt" || { touch "$WORK/master.done"; fail "nothing came back through wexmidi"; }
  echo "netJACK2: jack_midiseq's notes came back through the slave and wexmidi"

  measure netjack-wexmidi peer:midi_to_slave_1 peer:midi_from_slave_1
  touch "$WORK/direct.wanted"
  wait_for '[ -e "$WORK/direct.ready" ]' || { touch "$WORK/master.done"; fail "the slave did not connect its ports"; }
  measure netjack-direct peer:midi_to_slave_1 peer:midi_from_slave_1
  touch "$WORK/master.done"
  wait_for '! ports | grep -q "^peer:"' || true

  # The same loop on one server through wexmidi, and through the least a
  # JACK MIDI thru can do (bench/thru/ThruReference.cpp) when it was built.
  local loops=(netjack-wexmidi netjack-direct one-server-wexmidi)
  measure_wexmidi_on_master
  if [ -x "$REFERENCE" ]; then
    "$REFERENCE" wexmidi_thru_reference >"$WORK/reference.log" 2>&1 &
    local reference=$!
    wait_for 'ports | grep -qx wexmidi_thru_reference:out' || fail "the reference did not start"
    measure one-server-reference wexmidi_thru_reference:in wexmidi_thru_reference:out
    stop_pid "$reference"
    loops+=(one-server-reference)
  fi
  stop_pid "$jackd"

  echo "== MIDI round trips measured by jack_midi_latency_test, $MESSAGES messages each," \
    "periods of $PERIOD frames at 48000 Hz, ${REALTIME[0]#--}, netJACK2 latency -l 2"
  local status=0
  for loop in "${loops[@]}"; do
    summary "$loop"
    grep -q "^Messages received: *$MESSAGES\$" "$WORK/latency-$loop.txt" || status=1
  done
  [ "$status" = 0 ] || fail "a loop did not get all its messages back (logs in $WORK)"
}

slave() {
  private_shm
  wait_for '[ -e "$WORK/master.ready" ]' || fail "no master"
  jackd -n default "${REALTIME[@]}" -d net -a 127.0.0.1 -p "$PORT" -n peer -C 0 -P 0 -i 1 -o 1 -l 2 \
    >"$WORK/slave-jackd.log" 2>&1 &
  local jackd=$!
  trap "kill $jackd 2>/dev/null || true" EXIT
  wait_for 'ports | grep -qx system:midi_playback_1' || fail "the slave did not start"
  "$BUILD_DIR/wexmidi" --midi jack run examples/thru.wexcomp.json >"$WORK/wexmidi.log" 2>&1 &
  local wexmidi=$!
  trap "kill $wexmidi $jackd 2>/dev/null || true" EXIT
  wait_for 'ports -c system:midi_capture_1 | grep -q "^ "' || fail "wexmidi did not connect"
  touch "$WORK/thru.ready"
  # The second loop leaves wexmidi out: the net ports connected directly.
  wait_for '[ -e "$WORK/direct.wanted" ] || [ -e "$WORK/master.done" ]' 900 || true
  stop_pid "$wexmidi"
  if [ -e "$WORK/direct.wanted" ]; then
    jack_connect system:midi_capture_1 system:midi_playback_1 && touch "$WORK/direct.ready"
  fi
  wait_for '[ -e "$WORK/master.done" ]' 900 || true
  stop_pid "$jackd"
}

case "${1:-}" in
  master | slave)
    "$1"
    exit
    ;;
  inside)
    ip link set lo up
    [ "$(ip -o link show up | wc -l)" = 1 ] || fail "more than loopback is up"
    [ -z "$(ip route show)" ] || fail "a route leads beyond loopback"
    [ -z "$(ip -6 route show | grep -v '^::1 \|^fe80::/64 ')" ] || fail "an IPv6 route leads out"
    unshare --mount --propagation private bash "$0" slave &
    slave_pid=$!
    status=0
    unshare --mount --propagation private bash "$0" master || status=$?
    wait "$slave_pid" || true
    exit "$status"
    ;;
esac

[ "$(id -u)" = 0 ] || fail "needs root (namespaces)"
[ -x "$BUILD_DIR/wexmidi" ] || fail "no $BUILD_DIR/wexmidi"
rm -rf "$WORK" && mkdir -p "$WORK"
export WORK BUILD_DIR
timeout 1500 unshare --net bash "$0" inside
