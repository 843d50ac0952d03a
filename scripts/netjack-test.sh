#!/usr/bin/env bash
# MIDI across machines over netJACK2, on one machine: a master JACK server
# with the netmanager and a slave JACK server with the net backend, each in a
# mount namespace of its own (own /dev/shm), both in a private network
# namespace with only the loopback interface up, so no packet leaves the
# machine. wexmidi runs a thru composition on the slave, between the net
# backend's MIDI capture and playback ports; on the master jack_midiseq feeds
# it and jack_midi_dump receives it, then jack_midi_latency_test measures the
# round trip through the network and wexmidi.
#
#   BUILD_DIR=build bash scripts/netjack-test.sh     (as root; run it alone)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(cd "${BUILD_DIR:-build}" && pwd)"
WORK="${NETJACK_WORK_DIR:-$BUILD_DIR/netjack}"
PORT=19111
PERIOD=128
MESSAGES="${NETJACK_MESSAGES:-512}"
export JACK_NO_START_SERVER=1

fail() {
  echo "netJACK2 test: $*" >&2
  exit 1
}
ports() { timeout 5 jack_lsp "$@" 2>/dev/null; }
wait_for() {
  for _ in $(seq 150); do
    eval "$1" && return 0
    sleep 0.2
  done
  return 1
}
private_shm() { mount -t tmpfs tmpfs /dev/shm; }
stop_pid() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

master() {
  private_shm
  jackd -n default --no-realtime -d dummy -r 48000 -p "$PERIOD" >"$WORK/master-jackd.log" 2>&1 &
  local jackd=$!
  trap "kill $jackd 2>/dev/null" EXIT
  wait_for 'ports >/dev/null' || fail "the master did not start"
  # Unicast on loopback; the multicast join fails harmlessly here.
  jack_load netmanager -i "-a 127.0.0.1 -p $PORT" >"$WORK/netmanager.log" 2>&1
  touch "$WORK/master.ready"
  wait_for '[ -e "$WORK/thru.ready" ]' || fail "the slave and wexmidi did not come up"
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

  ports -c >"$WORK/ports-before-latency.txt" || true
  sleep 1
  timeout 120 jack_midi_latency_test -t 10 -s "$MESSAGES" peer:midi_to_slave_1 peer:midi_from_slave_1 \
    >"$WORK/latency.txt" 2>&1 || true
  touch "$WORK/master.done"
  sleep 1
  stop_pid "$jackd"
  cat "$WORK/latency.txt"
  grep -q "^Messages received: *$MESSAGES\$" "$WORK/latency.txt" ||
    fail "the latency test did not get all its messages back"
}

slave() {
  private_shm
  wait_for '[ -e "$WORK/master.ready" ]' || fail "no master"
  jackd -n default --no-realtime -d net -a 127.0.0.1 -p "$PORT" -n peer -C 0 -P 0 -i 1 -o 1 -l 2 \
    >"$WORK/slave-jackd.log" 2>&1 &
  local jackd=$!
  trap "kill $jackd 2>/dev/null" EXIT
  wait_for 'ports | grep -qx system:midi_playback_1' || fail "the slave did not start"
  "$BUILD_DIR/wexmidi" --midi jack run examples/thru.wexcomp.json >"$WORK/wexmidi.log" 2>&1 &
  local wexmidi=$!
  trap "kill $wexmidi $jackd 2>/dev/null" EXIT
  wait_for 'ports -c system:midi_capture_1 | grep -q "^ "' || fail "wexmidi did not connect"
  touch "$WORK/thru.ready"
  wait_for '[ -e "$WORK/master.done" ]' || true
  stop_pid "$wexmidi"
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
timeout 300 unshare --net bash "$0" inside
