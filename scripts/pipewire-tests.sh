#!/usr/bin/env bash
# Runs the JACK tests of one build (default: build) again on PipeWire's JACK
# library (pw-jack), against a headless PipeWire daemon of their own, and ends
# with one line saying how many ran, passed and were skipped, and why.
#
# PipeWire keeps its state in /dev/shm and its socket in XDG_RUNTIME_DIR, so
# the daemon and the tests run in a private mount namespace with a /dev/shm
# and a runtime folder of their own, disturbing no server of the user's. The
# daemon is stopped by its pid whatever happens, and no jackd runs beside it.
#
# PipeWire does not wait for a client that is late in a cycle: what was sent
# to it then is lost. On a loaded machine that can strike any test, so a test
# that fails gets a second try, and the last line names those that needed it.
set -uo pipefail
cd "$(dirname "$0")/.."

# What the verbose ctest log says: a line per test, the output of the failed
# ones, and one summary line with the reasons of the skips.
summary() {  # verbose log
  awk '
    /Test +#[0-9]+: .*(Passed|Skipped|Failed|Exception|Timeout)/ {
      print
      match($0, /#[0-9]+/)
      n = substr($0, RSTART + 1, RLENGTH - 1)
      if ($0 ~ /Passed/) {
        passed++
        if (n in bad) {  # failed, then passed on its second try
          delete bad[n]
          failed--
          match($0, /: [^ ]+/)
          again = again " " substr($0, RSTART + 2, RLENGTH - 2)
          retried++
        }
      }
      else if ($0 ~ /Skipped/) { skipped++; reasons[reason[n]]++ }
      else if (!(n in bad)) { failed++; bad[n] = 1 }
      next
    }
    match($0, /^[0-9]+: /) {
      n = substr($0, 1, RLENGTH - 2)
      output[n] = output[n] "\n" $0
      if (skipAt[n]) { reason[n] = substr($0, RLENGTH + 1); skipAt[n] = 0 }
      if ($0 ~ /: Skipped$/) skipAt[n] = 1
    }
    END {
      for (n in bad) print "---- output of test " n ":" output[n]
      line = sprintf("PipeWire JACK tests: %d ran (%d passed, %d failed), %d skipped",
                     passed + failed, passed, failed, skipped)
      sep = ": "
      for (r in reasons) { line = line sep reasons[r] " because " r; sep = "; " }
      if (retried) line = line sprintf("; %d passed only on a second try:%s", retried, again)
      print line
      exit failed > 0
    }' "$1"
}

if [ "${1:-}" = "--inside" ]; then
  dir="$2" log="$3"
  mount -t tmpfs tmpfs /dev/shm || exit 1
  XDG_RUNTIME_DIR=$(mktemp -d) || exit 1
  export XDG_RUNTIME_DIR PIPEWIRE_RUNTIME_DIR="$XDG_RUNTIME_DIR"
  unset PIPEWIRE_REMOTE JACK_DEFAULT_SERVER DBUS_SESSION_BUS_ADDRESS
  # Under AddressSanitizer: what PipeWire's JACK library keeps to the end.
  export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$PWD/scripts/pipewire-lsan.supp"
  # Under ThreadSanitizer, the program too: what PipeWire's JACK library syncs.
  export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$PWD/scripts/pipewire-tsan.supp"
  # The tests that stop and restart the daemon start it with this config.
  export WEX_PIPEWIRE_CONFIG="$PWD/scripts/pipewire-tests.conf"
  # The tests that run a session manager beside their daemon, as desktops do.
  export WEX_PIPEWIRE_SESSION_CONFIG="$PWD/scripts/pipewire-session-tests.conf"
  export WEX_WIREPLUMBER_CONFIG="$PWD/scripts/wireplumber-tests.conf"
  pipewire_pid=""
  stop_pipewire() {
    [ -n "$pipewire_pid" ] || return 0
    kill "$pipewire_pid" 2>/dev/null
    wait "$pipewire_pid" 2>/dev/null
    pipewire_pid=""
  }
  trap 'stop_pipewire; rm -rf "$XDG_RUNTIME_DIR"' EXIT
  trap 'exit 1' INT TERM HUP
  status=0
  # First the tests that start, kill and restart daemons of their own, with
  # no other daemon up; in a D-Bus session of their own, as a session
  # manager has on a desktop.
  session=()
  command -v dbus-run-session >/dev/null && session=(dbus-run-session --)
  WEX_JACK_OWN_SERVERS=1 JACK_NO_START_SERVER=1 \
    "${session[@]}" pw-jack ctest --test-dir "$dir" -V -j1 --timeout 180 \
    -R 'ServerRestart|OwnServer' --repeat until-pass:2 >>"$log" 2>&1 ||
    status=1
  pipewire -c "$WEX_PIPEWIRE_CONFIG" >>"$dir/pipewire-tests-daemon.log" 2>&1 &
  pipewire_pid=$!
  for _ in $(seq 50); do
    [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && timeout 5 pw-jack jack_lsp >/dev/null 2>&1 && break
    sleep 0.2
  done
  JACK_NO_START_SERVER=1 \
    pw-jack ctest --test-dir "$dir" -V -j1 --timeout 180 -R 'Jack' -E 'ServerRestart|OwnServer' \
    --repeat until-pass:2 >>"$log" 2>&1 || status=1
  exit "$status"
fi

dir="${1:-build}"
log="$dir/pipewire-tests.log"
: >"$log"
# The session manager and the D-Bus session it runs in; without them, the
# tests that need them say so and are skipped.
bash scripts/install-missing.sh wireplumber dbus-daemon >/dev/null 2>&1 ||
  echo "PipeWire JACK tests: wireplumber or dbus-daemon could not be installed"
if ! command -v pipewire >/dev/null || ! command -v pw-jack >/dev/null; then
  echo "PipeWire JACK tests: 0 ran, all skipped (pipewire and pw-jack are not installed)"
elif unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private bash "$0" --inside "$dir" "$log"
  status=$?
  summary "$log" && [ "$status" -eq 0 ]
elif unshare -r --mount --propagation private true 2>/dev/null; then
  # Not root: a user namespace of its own, where the user is root (-r).
  unshare -r --mount --propagation private bash "$0" --inside "$dir" "$log"
  status=$?
  summary "$log" && [ "$status" -eq 0 ]
else
  echo "PipeWire JACK tests: 0 ran, all skipped (no private mount namespace can be made here: \
root or unprivileged user namespaces are needed)"
fi
