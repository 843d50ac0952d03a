#!/usr/bin/env bash
# Builds the Debian packages with scripts/package.sh (dpkg-buildpackage in
# build-deb/, so that nothing lands beside the checkout), checks them with
# lintian, installs them with apt, uses
# the installed program from its installed paths (--version, its manual page,
# its completion, `serve` answering its page and script), builds
# examples/embed against the installed development package, and removes both
# packages again, checking that nothing of them is left.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
fail() { echo "package-test: $*" >&2; exit 1; }

for p in wexmidi libwexmidi-dev; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    fail "$p is installed already: remove it first (apt-get purge $p)"
  fi
done
# What this test uses besides the packaging tools.
bash scripts/install-missing.sh man-db bash-completion curl

bash scripts/package.sh
version="$(dpkg-parsechangelog -S Version)"
arch="$(dpkg --print-architecture)"
out="build-deb"
debs=("$out/wexmidi_${version}_${arch}.deb" "$out/libwexmidi-dev_${version}_${arch}.deb")
for deb in "${debs[@]}"; do [ -f "$deb" ] || fail "$deb was not built"; done
echo "== lintian"
lintian --fail-on error "$out"/*.changes

# Installed as a user installs them.
$sudo apt-get install -y "./${debs[0]}" "./${debs[1]}"
trap '$sudo apt-get purge -y wexmidi libwexmidi-dev >/dev/null 2>&1 || true' EXIT

[ "$(command -v wexmidi)" = /usr/bin/wexmidi ] || fail "wexmidi is not /usr/bin/wexmidi"
[ "$(wexmidi --version)" = "wexmidi ${version%%-*}" ] || fail "wexmidi --version: $(wexmidi --version)"
man -w wexmidi | grep -q '^/usr/share/man/man1/wexmidi\.1' || fail "man -w wexmidi"
MANWIDTH=80 man wexmidi 2>/dev/null | grep -q "serve" || fail "man wexmidi shows no serve"
words="$(bash -c 'source /usr/share/bash-completion/bash_completion
  _completion_loader wexmidi
  COMP_WORDS=(wexmidi se); COMP_CWORD=1; COMP_LINE="wexmidi se"; COMP_POINT=${#COMP_LINE}
  $(complete -p wexmidi | sed "s/.*-F \([^ ]*\) .*/\1/") wexmidi se wexmidi
  echo "${COMPREPLY[*]}"')"
[[ " $words " == *" send "* && " $words " == *" serve "* ]] || fail "completion of 'se': '$words'"
echo "installed: wexmidi --version, man wexmidi, completion ('se': $words)"
bash scripts/check-installed-serve.sh /usr/bin/wexmidi \
  /usr/share/doc/wexmidi/examples/distributors.wexcomp.json

work="$(mktemp -d)"
trap '$sudo apt-get purge -y wexmidi libwexmidi-dev >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp -r /usr/share/doc/libwexmidi-dev/examples/embed "$work/embed"
cmake -S "$work/embed" -B "$work/embed/build" >/dev/null
cmake --build "$work/embed/build" >/dev/null
output="$("$work/embed/build/embed" /usr/share/doc/wexmidi/examples/distributors.wexcomp.json)"
[ "$output" = "notes.note60 = true" ] || fail "examples/embed printed '$output'"
echo "examples/embed on the installed libwexmidi-dev: $output"

# Removed, and nothing of them left.
files="$(dpkg -L wexmidi libwexmidi-dev | sort -u)"
$sudo apt-get purge -y wexmidi libwexmidi-dev
for p in wexmidi libwexmidi-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "installed" && fail "$p is still installed"
done
left=""
while IFS= read -r path; do
  case "$path" in */wexmidi* | */libwexmidi* | *wexmidi.*) [ -e "$path" ] && left+="$path " ;; esac
done <<<"$files"
[ -z "$left" ] || fail "left after purging: $left"
echo "package test passed: built, lintian without errors, installed, used and purged"
