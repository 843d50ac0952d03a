#!/usr/bin/env bash
# Runs the JACK tests of one build (default: build) where that is safe, and
# ends with one line saying how many ran, how many were skipped, and why.
#
# JACK servers of one user share their state in /dev/shm, so the tests run
# with a /dev/shm of their own in a private mount namespace when the system
# allows one: there they start their own jackd (and kill and restart servers
# of their own), disturbing no server of the user's. Where no private
# namespace can be made, they run one at a time against the user's running
# server (the tests that kill servers are skipped), or are all skipped.
set -uo pipefail
cd "$(dirname "$0")/.."

failure='Test +#[0-9]+: .*(\*\*\*Failed|Exception|\*\*\*Timeout)'

summary() {  # log, reason of the skips
  local ran skipped failed retried
  ran=$(grep -cE 'Test +#[0-9]+: .* (Passed|Failed|\*\*\*Failed|Exception|\*\*\*Timeout)' "$1")
  skipped=$(grep -cE 'Test +#[0-9]+: .*Skipped' "$1")
  failed=$(grep -cE "$failure" "$1")
  retried=$(sed -n 's/^retried: \([0-9]*\) .*/\1/p' "$1")
  echo "JACK tests: $ran ran ($failed failed${retried:+, $retried passed on a second try}), \
$skipped skipped${2:+ ($2)}"
  [ "$failed" -eq 0 ]
}

# Inside the private namespace: a fresh /dev/shm, then our own server.
if [ "${1:-}" = "--inside" ]; then
  dir="$2" log="$3"
  mount -t tmpfs tmpfs /dev/shm || exit 1
  server="wexmidi-tests-$$"
  jack_pid=""
  stop_jack() {
    [ -n "$jack_pid" ] || return 0
    kill "$jack_pid" 2>/dev/null
    wait "$jack_pid" 2>/dev/null
    jack_pid=""
  }
  trap stop_jack EXIT
  status=0
  # First the tests that start, kill and restart servers of their own, with
  # no other server up. They race the server's comeback against clients that
  # start beside it, and on a loaded machine one has missed its wait: each gets
  # a second try, and the last line says how many needed it.
  WEX_JACK_OWN_SERVERS=1 JACK_NO_START_SERVER=1 \
    ctest --test-dir "$dir" --output-on-failure -j1 --timeout 180 -R 'ServerRestart|OwnServer' \
    --repeat until-pass:2 >"$log.restart" 2>&1 || status=1
  if [ "$status" -eq 0 ]; then
    retried=$(grep -cE "$failure" "$log.restart")
    grep -vE "$failure" "$log.restart" >>"$log"
    [ "$retried" -eq 0 ] || echo "retried: $retried restart tests passed only on a second try" >>"$log"
  else
    cat "$log.restart" >>"$log"
  fi
  rm -f "$log.restart"
  jackd -n "$server" --no-realtime -S -d dummy -r 48000 -p 128 >>"$dir/jackd-tests.log" 2>&1 &
  jack_pid=$!
  for _ in $(seq 50); do
    JACK_DEFAULT_SERVER="$server" timeout 5 jack_lsp >/dev/null 2>&1 && break
    sleep 0.2
  done
  # One at a time: in synchronous mode the server stalls its graph for a
  # client that is slow to go, and a test beside it can then miss its wait.
  JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1 \
    ctest --test-dir "$dir" --output-on-failure -j1 --timeout 180 -R 'Jack' -E 'ServerRestart|OwnServer' \
    >>"$log" 2>&1 || status=1
  exit "$status"
fi

dir="${1:-build}"
log="$dir/jack-tests.log"
: >"$log"
# As root a mount namespace alone; as another user, one inside a user
# namespace of its own where the user is root (-r), if the system allows it.
private=()
if unshare --mount --propagation private true 2>/dev/null; then
  private=(unshare --mount --propagation private)
elif unshare -r --mount --propagation private true 2>/dev/null; then
  private=(unshare -r --mount --propagation private)
fi
if [ "${#private[@]}" -gt 0 ]; then
  "${private[@]}" bash "$0" --inside "$dir" "$log"
  status=$?
  cat "$log"
  summary "$log" "" && [ "$status" -eq 0 ]
elif JACK_NO_START_SERVER=1 timeout 5 jack_lsp >/dev/null 2>&1; then
  JACK_NO_START_SERVER=1 ctest --test-dir "$dir" --output-on-failure -j1 --timeout 180 \
    -R 'Jack' >>"$log" 2>&1
  status=$?
  cat "$log"
  summary "$log" "those that start servers of their own: no private mount namespace here, and a \
JACK server of yours runs" && [ "$status" -eq 0 ]
else
  total=$(ctest --test-dir "$dir" -N -R 'Jack' | sed -n 's/^Total Tests: //p')
  echo "JACK tests: 0 ran, ${total:-all} skipped (no private mount namespace can be made here \
(root or unprivileged user namespaces are needed) and no JACK server runs)"
fi
