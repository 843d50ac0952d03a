#!/usr/bin/env bash
# Checks an installed wexmidi's `serve`: PROGRAM --midi embedded serve on a copy
# of a composition answers its page with status 200, and the page's script
# with it. With --no-page, checks instead that a program without its page
# files says so on standard error and still serves the API.
#   check-installed-serve.sh PROGRAM COMPOSITION [--no-page]
set -euo pipefail
program="$1" composition="$2" expect_page=1
[ "${3:-}" = "--no-page" ] && expect_page=0
work="$(mktemp -d)"
server=""
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-installed-serve: $*" >&2; [ -s "$work/err" ] && cat "$work/err" >&2; exit 1; }

cp "$composition" "$work/served.json"
(cd "$work" && exec "$program" --midi embedded serve served.json --listen 127.0.0.1:0 --for 120 \
  </dev/null >"$work/out" 2>"$work/err") &
server=$!
# The address is the first line of standard output once the server listens.
for _ in $(seq 1 300); do
  [ -s "$work/out" ] && break
  kill -0 "$server" 2>/dev/null || fail "serve ended before it listened"
  sleep 0.1
done
url="$(head -n 1 "$work/out")"
case "$url" in http://127.0.0.1:*/) ;; *) fail "no address on standard output: '$url'" ;; esac

status="$(curl -s -o "$work/page.html" -w '%{http_code}' "$url")"
[ "$status" = 200 ] || fail "$url answered $status"
if [ "$expect_page" = 1 ]; then
  script="$(grep -o 'src="[^"]*app\.js"' "$work/page.html" | head -n 1 | sed 's/^src="//; s/"$//')"
  [ -n "$script" ] || fail "the page names no script"
  status="$(curl -s -o "$work/app.js" -w '%{http_code}' "${url}${script#/}")"
  [ "$status" = 200 ] && [ -s "$work/app.js" ] || fail "the page's script ${script} answered $status"
  grep -q "no page files" "$work/err" && fail "serve said it has no page"
  echo "serve: the page and its script answer 200 ($url)"
else
  grep -q "no page files (index.html) in " "$work/err" || fail "serve did not say its page is missing"
  grep -q "page's files were not found" "$work/page.html" || fail "the page does not say it is missing"
  status="$(curl -s -o /dev/null -w '%{http_code}' "${url}api/composition")"
  [ "$status" = 200 ] || fail "the API answered $status"
  echo "serve without its page files: says so, and serves the API ($url)"
fi
