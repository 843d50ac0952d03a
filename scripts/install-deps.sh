#!/usr/bin/env bash
# Installs the Debian packages wexmidi needs to build, test and run.
set -euo pipefail
packages=(
  g++ cmake make pkg-config ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev valgrind
  nlohmann-json3-dev libcli11-dev
  libjack-jackd2-dev jackd2
  pipewire pipewire-bin pipewire-jack wireplumber dbus-daemon
  libasound2-dev
  libcpp-httplib-dev chromium curl
  liblo-dev liblo-tools
  clang clang-format libclang-rt-14-dev
)
# node and npm build the page; any install of them will do (a newer one may
# have come from elsewhere, and Debian's npm would conflict with it).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
bash "$(dirname "$0")/install-missing.sh" "${packages[@]}"
