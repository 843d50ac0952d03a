#!/usr/bin/env bash
# Installs the Debian packages wexmidi needs to build, test and run.
set -euo pipefail
packages=(
  g++ cmake make pkg-config ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev valgrind
  nlohmann-json3-dev libcli11-dev
  libjack-jackd2-dev jackd2
  pipewire pipewire-bin pipewire-jack
  libasound2-dev
  libcpp-httplib-dev chromium curl
  liblo-dev liblo-tools
  clang clang-format libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# node and npm build the page; any install of them will do (a newer one may
# have come from elsewhere, and Debian's npm would conflict with it).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
