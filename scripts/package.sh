#!/usr/bin/env bash
# Builds the Debian packages wexmidi and libwexmidi-dev with Debian's tools
# (dpkg-buildpackage -us -uc -b) from a copy of the checkout's files, in
# build-deb/, where the .deb files land too (dpkg-buildpackage writes beside
# the folder it builds, so nothing lands beside the checkout). Installs the
# packaging tools and the build dependencies first where they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

bash scripts/install-missing.sh debhelper dpkg-dev fakeroot lintian

out="build-deb"
rm -rf "$out"
mkdir -p "$out/wexmidi"
# The files git knows of, as they are in the working tree.
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents --preserve=timestamps -t "$out/wexmidi"
cd "$out/wexmidi"
dpkg-checkbuilddeps 2>/dev/null || $sudo apt-get build-dep -y --no-install-recommends ./
# Paths in the compiler's command lines relative to the copy, so that ccache
# finds what an earlier package build compiled; the copy's files keep their
# times, and their change times (all new) do not stop ccache from storing.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=include_file_ctime
# debhelper gives the build a HOME of its own inside the copy: keep ccache on
# the user's cache, not on a new one that goes with the copy.
if command -v ccache >/dev/null; then
  CCACHE_DIR="$(ccache -k cache_dir)"
  export CCACHE_DIR
fi
dpkg-buildpackage -us -uc -b -Jauto
cd ..
ls -1 ./*.deb
